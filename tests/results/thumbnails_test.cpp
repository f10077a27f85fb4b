#include <QImage>
#include <QtTest>
#include <atomic>
#include <thread>

#include "test_images.h"
#include "thumbnails.h"

using namespace tamberlin::results;
using namespace tamberlin::results::testing;

class ThumbnailsTest : public QObject {
  Q_OBJECT

 private slots:
  void Thumbnail_Size_And_Orientation_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<QColor>("top_left");      // sampled a few pixels in
    QTest::addColumn<QColor>("bottom_right");

    const QByteArray wide = Two_Colour_Jpeg(400, 200);
    QTest::newRow("landscape jpeg") << wide << QSize(100, 50) << QColor(Qt::red) << QColor(Qt::blue);
    // Stored wide, shown tall: the red left half ends up on top.
    QTest::newRow("exif orientation 6") << With_Exif_Orientation(wide, 6) << QSize(50, 100)
                                        << QColor(Qt::red) << QColor(Qt::blue);
    QTest::newRow("exif orientation 3") << With_Exif_Orientation(wide, 3) << QSize(100, 50)
                                        << QColor(Qt::blue) << QColor(Qt::red);
    QTest::newRow("small jpeg is not enlarged") << Two_Colour_Jpeg(40, 30) << QSize(40, 30)
                                                << QColor(Qt::red) << QColor(Qt::blue);
    // Transparent parts become white, not black.
    QTest::newRow("transparent png") << Transparent_Png(300) << QSize(100, 100)
                                     << QColor(Qt::white) << QColor(Qt::white);
  }
  void Thumbnail_Size_And_Orientation() {
    QFETCH(QByteArray, bytes);
    QFETCH(QSize, size);
    QFETCH(QColor, top_left);
    QFETCH(QColor, bottom_right);
    const QByteArray thumbnail = Make_Thumbnail(bytes);
    QVERIFY(!thumbnail.isEmpty());
    QVERIFY2(thumbnail.startsWith("\xFF\xD8"), "thumbnail is not a JPEG");
    const QImage image = QImage::fromData(thumbnail);
    QCOMPARE(image.size(), size);
    QVERIFY2(Near(image.pixelColor(3, 3), top_left),
             qPrintable(image.pixelColor(3, 3).name()));
    const QColor far = image.pixelColor(image.width() - 4, image.height() - 4);
    QVERIFY2(Near(far, bottom_right), qPrintable(far.name()));
  }

  void Undecodable_Bytes_Give_No_Thumbnail_data() {
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("garbage") << QByteArray(4096, '\x5A');
    QTest::newRow("jpeg header only") << QByteArray::fromHex("FFD8FFE000104A464946000101");
  }
  void Undecodable_Bytes_Give_No_Thumbnail() {
    QFETCH(QByteArray, bytes);
    QVERIFY(Make_Thumbnail(bytes).isEmpty());
  }

  void Worker_Runs_Every_Job_Once() {
    ThumbnailWorker worker(3);
    constexpr int kJobs = 40;
    std::atomic<int> done[kJobs] = {};
    std::atomic<int> decoded{0};
    const QByteArray jpeg = Two_Colour_Jpeg(120, 90);
    for (int i = 0; i < kJobs; ++i) {
      worker.Submit(i % 2 ? jpeg : QByteArray("not a picture"), [&, i](const QByteArray& t) {
        ++done[i];
        if (!t.isEmpty()) ++decoded;
      });
    }
    worker.Wait_Idle();
    for (int i = 0; i < kJobs; ++i) QCOMPARE(done[i].load(), 1);
    QCOMPARE(decoded.load(), kJobs / 2);
  }

  // A full queue holds the caller back instead of growing without bound, and
  // lets it go as soon as there is room.
  void Worker_Bounds_The_Bytes_Waiting() {
    ThumbnailWorker worker(1, 1000);
    std::atomic<bool> release{false};
    std::atomic<int> finished{0};
    worker.Submit(QByteArray(10, 'x'), [&](const QByteArray&) {
      while (!release) std::this_thread::yield();
      ++finished;
    });
    // The first job runs (and blocks); these two fill the queue to 1000 bytes.
    worker.Submit(QByteArray(600, 'x'), [&](const QByteArray&) { ++finished; });
    std::atomic<bool> third_queued{false};
    std::thread producer([&] {
      worker.Submit(QByteArray(600, 'x'), [&](const QByteArray&) { ++finished; });
      third_queued = true;
    });
    QTest::qWait(100);
    QVERIFY(!third_queued.load());
    release = true;
    producer.join();
    worker.Wait_Idle();
    QCOMPARE(finished.load(), 3);
  }

  void Dropped_Jobs_Are_Not_Run() {
    ThumbnailWorker worker(1);
    std::atomic<bool> release{false};
    std::atomic<int> ran{0};
    worker.Submit(QByteArray("a"), [&](const QByteArray&) {
      while (!release) std::this_thread::yield();
      ++ran;
    });
    QTest::qWait(20);  // the first job is running
    for (int i = 0; i < 5; ++i) worker.Submit(QByteArray("b"), [&](const QByteArray&) { ++ran; });
    worker.Drop_Pending();
    release = true;
    worker.Wait_Idle();
    QCOMPARE(ran.load(), 1);
  }
};

QTEST_MAIN(ThumbnailsTest)
#include "thumbnails_test.moc"
