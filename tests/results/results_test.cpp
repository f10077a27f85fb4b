// The Qt side of the results: thumbnails and their worker, the found-item
// list, and the copy of an item's sectors a preview shows.
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <set>
#include <thread>
#include <tuple>

#include "results/qt/found_items.h"
#include "results/qt/preview_extract.h"
#include "engine/sector_source.h"
#include "test_images.h"
#include "results/qt/thumbnails.h"

using namespace tamberlin;
using namespace tamberlin::results;
using namespace tamberlin::results::testing;

namespace {

constexpr quint64 kSectors = 64;

QByteArray Read_All(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

}  // namespace

class ResultsTest : public QObject {
  Q_OBJECT

  // Every sector filled with its own number, so a shifted sector shows.
  std::vector<std::uint8_t> bytes_ = [] {
    std::vector<std::uint8_t> bytes(kSectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + (i % 512));
    return bytes;
  }();
  QByteArray Sector(quint64 s) const { return QByteArray(reinterpret_cast<const char*>(&bytes_[s * 512]), 512); }

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

  // Each sector lands at its own offset; an unreadable one, or one past the
  // medium's end, becomes zeros and everything after it stays in place.
  void Copies_The_Item_Sectors() {
    const std::tuple<quint64, quint64, std::set<std::uint64_t>> cases[] = {
        {0, 5, {}}, {9, 9, {}}, {9, 3, {}}, {10, 20, {10, 13, 19}}, {kSectors - 2, kSectors + 3, {}}};
    for (const auto& [start, end, unreadable] : cases) {
      MemorySectorSource source(bytes_, unreadable);
      QTemporaryDir dir;
      const ExtractResult result = Extract_Sectors(source, start, end, dir.filePath("dprv.doc"));
      QVERIFY(result.file_opened && !result.stopped && !result.write_failed);
      QByteArray expected;
      quint64 zeros = 0;
      for (quint64 s = start; s < end; ++s) {
        const bool lost = unreadable.count(s) || s >= kSectors;
        expected += lost ? QByteArray(512, '\0') : Sector(s);
        zeros += lost;
      }
      QCOMPARE(Read_All(dir.filePath("dprv.doc")), expected);
      QCOMPARE(result.sectors_written, end > start ? end - start : 0);
      QCOMPARE(result.unreadable_sectors, zeros);
    }
  }

  // The stop flag ends the copy at the next sector; what was copied stays.
  void Stop_Ends_The_Copy() {
    MemorySectorSource source(bytes_);
    QTemporaryDir dir;
    int asked = 0;
    const ExtractResult result = Extract_Sectors(source, 4, 40, dir.filePath("dprv.mov"), [&] { return ++asked > 2; });
    QVERIFY(result.stopped);
    QCOMPARE(result.sectors_written, 2ull);
    QCOMPARE(Read_All(dir.filePath("dprv.mov")), Sector(4) + Sector(5));
    QVERIFY(!Extract_Sectors(source, 0, 4, "/nonexistent-folder/dprv.doc").file_opened);
  }

  // The preview file is named after the item's extension and never leaves its folder.
  void Preview_File_Names() {
    QCOMPARE(Preview_File_Name("/p", "DOC00002.DOC"), QString("/p/dprv.DOC"));
    QCOMPARE(Preview_File_Name("/p", "a.tar.gz"), QString("/p/dprv.gz"));
    QCOMPARE(Preview_File_Name("/p", "EVIL./../../etc"), QString("/p/dprv"));
  }
};

QTEST_MAIN(ResultsTest)
#include "results_test.moc"
