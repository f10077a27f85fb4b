// The copy of an item's sectors a preview shows.
#include "results/qt/preview_extract.h"
#include "ui/window_fixture.h"

using namespace tamberlin;
using namespace tamberlin::results;
using namespace tamberlin::ui::testing;

constexpr quint64 kSectors = 64;  // of the medium the preview copies read

class PreviewExtractTest : public QObject {
  Q_OBJECT

  // Every sector filled with its own number, so a shifted sector shows.
  std::vector<std::uint8_t> bytes_ = [] {
    std::vector<std::uint8_t> bytes(kSectors * 512);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + (i % 512));
    return bytes;
  }();
  QByteArray Sector(quint64 s) const { return QByteArray(reinterpret_cast<const char*>(&bytes_[s * 512]), 512); }
 private slots:
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

QTEST_MAIN(PreviewExtractTest)
#include "preview_extract_test.moc"
