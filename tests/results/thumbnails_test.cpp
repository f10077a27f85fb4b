// Thumbnails and their worker, and the found-item list they land in.
#include <atomic>
#include <thread>

#include "results/qt/found_items.h"
#include "results/qt/thumbnails.h"
#include "ui/window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::results;
using namespace tamberlin::ui::testing;

namespace {

// `jpeg` with an Exif block saying the picture is stored turned: orientation
// 6 means "rotate 90 degrees clockwise to show".
inline QByteArray With_Exif_Orientation(const QByteArray& jpeg, quint8 orientation) {
  // Big-endian TIFF, IFD0 at 8 with one entry: Orientation, SHORT, one value.
  const QByteArray tiff = QByteArray::fromHex("4D4D002A000000080001011200030000000100") + char(orientation) +
                          QByteArray::fromHex("000000000000");
  const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
  const QByteArray app1 = QByteArray::fromHex("FFE100") + char(payload.size() + 2) + payload;
  return jpeg.left(2) + app1 + jpeg.mid(2);
}

// A PNG with a transparent background and an opaque black square in the middle.
inline QByteArray Transparent_Png(int side) {
  QImage image(side, side, QImage::Format_ARGB32);
  image.fill(Qt::transparent);
  QPainter(&image).fillRect(side / 4, side / 4, side / 2, side / 2, Qt::black);
  return samples::Encode(image, "png");
}

inline bool Near(QColor a, QColor b) {
  return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue()) <= 60;
}

}  // namespace

class ThumbnailsTest : public QObject {
  Q_OBJECT

 private slots:
  void Thumbnail_Size_And_Orientation_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");  // empty: no thumbnail
    QTest::addColumn<QColor>("top_left");
    const QByteArray wide = Two_Colour_Jpeg(400, 200);
    QTest::newRow("landscape jpeg") << wide << QSize(100, 50) << QColor(Qt::red);
    // Stored wide, shown tall: the red left half ends up on top.
    QTest::newRow("exif orientation 6") << With_Exif_Orientation(wide, 6) << QSize(50, 100) << QColor(Qt::red);
    // Transparent parts become white, not black.
    QTest::newRow("transparent png") << Transparent_Png(300) << QSize(100, 100) << QColor(Qt::white);
    QTest::newRow("garbage") << QByteArray(4096, '\x5A') << QSize() << QColor();
  }
  void Thumbnail_Size_And_Orientation() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QColor, top_left);
    const QByteArray thumbnail = Make_Thumbnail(bytes);
    QCOMPARE(thumbnail.isEmpty(), size.isEmpty());
    if (size.isEmpty()) return;
    QVERIFY2(thumbnail.startsWith("\xFF\xD8"), "thumbnail is not a JPEG");
    const QImage image = QImage::fromData(thumbnail);
    QCOMPARE(image.size(), size);
    QVERIFY2(Near(image.pixelColor(3, 3), top_left), qPrintable(image.pixelColor(3, 3).name()));
  }

  // A new scan drops the thumbnails still waiting; the one running finishes.
  void Dropped_Jobs_Are_Not_Run() {
    ThumbnailWorker worker(1);
    std::atomic<bool> started{false}, release{false};
    std::atomic<int> ran{0};
    worker.Submit(QByteArray("a"), [&](const QByteArray&) {
      started = true;
      while (!release) std::this_thread::yield();
      ++ran;
    });
    while (!started) std::this_thread::yield();
    for (int i = 0; i < 5; ++i) worker.Submit(QByteArray("b"), [&](const QByteArray&) { ++ran; });
    worker.Drop_Pending();
    release = true;
    worker.Wait_Idle();
    QCOMPARE(ran.load(), 1);
  }

  // A thumbnail finished after the list was emptied must not land on the
  // item that now has that row.
  void Late_Thumbnail_After_Clear_Is_Dropped() {
    FoundItemList list;
    const auto old_slot = list.Append(MyImageObject::initWithImage_data({}, "OLD.JPG", "old"));
    list.Clear();
    list.Append(MyImageObject::initWithImage_data({}, "NEW.JPG", "new"));
    QVERIFY(!list.Set_Image_Data(old_slot, QByteArray("stale")));
    QVERIFY(list.At(0)->imageData.isEmpty());
    QVERIFY(list.Set_Image_Data({0, list.Generation()}, QByteArray("fresh")));
    QCOMPARE(list.At(0)->imageData, QByteArray("fresh"));
  }
};

QTEST_MAIN(ThumbnailsTest)
#include "thumbnails_test.moc"
