#include <QFile>
#include <QMediaPlayer>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QTemporaryDir>
#include <QtTest>

#include "movie_fixture.h"
#include "preview_media.h"
#include "test_images.h"

using namespace tamberlin::results;
using namespace tamberlin::results::testing;

namespace {

void Write(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

void Write_Pdf(const QString& path) {
  QPdfWriter pdf(path);
  pdf.setPageSize(QPageSize(QPageSize::A4));
  QPainter painter(&pdf);
  painter.fillRect(QRect(0, 0, 2000, 2000), Qt::black);
  painter.drawText(QPoint(100, 3000), QStringLiteral("Tamberlin"));
}

}  // namespace

class PreviewMediaTest : public QObject {
  Q_OBJECT

 private slots:
  void Thumbnails_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");  // empty: a PDF is written
    QTest::addColumn<bool>("shown");
    QTest::addColumn<QSize>("size");  // when shown
    QTest::newRow("large jpeg") << "dprv.jpg" << Two_Colour_Jpeg(800, 400) << true << QSize(200, 100);
    QTest::newRow("turned jpeg") << "dprv.jpg" << With_Exif_Orientation(Two_Colour_Jpeg(800, 400), 6)
                                 << true << QSize(100, 200);
    QTest::newRow("small png") << "dprv.png" << Transparent_Png(60) << true << QSize(60, 60);
    QTest::newRow("pdf") << "dprv.pdf" << QByteArray() << true << QSize();
    QTest::newRow("garbage named pdf") << "dprv.pdf" << QByteArray(3000, 'q') << false << QSize();
    QTest::newRow("word document") << "dprv.doc" << QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray(600, '\0')
                                   << false << QSize();
    QTest::newRow("empty file") << "dprv.jpg" << QByteArray("") << false << QSize();
  }
  void Thumbnails() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, shown);
    QFETCH(QSize, size);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (name.endsWith(".pdf") && bytes.isEmpty())
      Write_Pdf(path);
    else
      Write(path, bytes);
    const QImage image = Preview_Thumbnail(path);
    QCOMPARE(!image.isNull(), shown);
    if (!shown) return;
    QVERIFY(image.width() <= kPreviewSide && image.height() <= kPreviewSide);
    if (size.isValid()) QCOMPARE(image.size(), size);
    else QCOMPARE(std::max(image.width(), image.height()), kPreviewSide);  // a page fills the box
  }

  void Real_Movie_Loads() {
    QTemporaryDir dir;
    const QString path = dir.filePath("dprv.webm");
    const QString why = Make_Webm(path);
    if (!why.isEmpty()) QSKIP(qPrintable(why));
    QMediaPlayer player;
    QVERIFY(Load_Movie(player, path));
    QVERIFY(player.hasVideo());
    QVERIFY(player.duration() > 0);
    QCOMPARE(player.source(), QUrl::fromLocalFile(path));
  }

  // Stills load as "video" in the player and garbage named like a movie
  // must not hang or pass: neither is a movie.
  void Non_Movies_Are_Refused_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("png") << "dprv.png" << Transparent_Png(50);
    QTest::newRow("garbage named webm") << "dprv.webm" << QByteArray(8192, '\x11');
    QTest::newRow("empty mov") << "dprv.mov" << QByteArray("");
    QTest::newRow("missing file") << "dprv.avi" << QByteArray();
  }
  void Non_Movies_Are_Refused() {
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    if (!bytes.isNull()) Write(path, bytes);
    QMediaPlayer player;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(!Load_Movie(player, path, 5000));
    QVERIFY(clock.elapsed() < 6000);
    QVERIFY(player.source().isEmpty());
  }
};

QTEST_MAIN(PreviewMediaTest)
#include "preview_media_test.moc"
