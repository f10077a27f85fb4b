#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <set>
#include <vector>

#include "preview_extract.h"
#include "sector_source.h"

using namespace tamberlin;
using namespace tamberlin::results;

namespace {

constexpr int kSectors = 64;

// Every sector filled with its own number, so a shifted sector shows.
std::vector<std::uint8_t> Numbered_Sectors() {
  std::vector<std::uint8_t> bytes(kSectors * 512);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>((i / 512) * 7 + (i % 512));
  return bytes;
}

QByteArray Slice(const std::vector<std::uint8_t>& bytes, quint64 from, quint64 to) {
  if (to <= from) return {};
  return QByteArray(reinterpret_cast<const char*>(bytes.data()) + from * 512,
                    static_cast<qsizetype>((to - from) * 512));
}

QByteArray Read_All(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

using SectorSet = std::set<std::uint64_t>;

}  // namespace

Q_DECLARE_METATYPE(SectorSet)

class PreviewExtractTest : public QObject {
  Q_OBJECT

 private slots:
  void Copies_The_Item_Sectors_data() {
    QTest::addColumn<quint64>("start");
    QTest::addColumn<quint64>("end");
    QTest::addColumn<SectorSet>("unreadable");
    QTest::newRow("from sector 0") << 0ull << 5ull << SectorSet{};
    QTest::newRow("middle") << 17ull << 40ull << SectorSet{};
    QTest::newRow("start equals end") << 9ull << 9ull << SectorSet{};
    QTest::newRow("end below start") << 9ull << 3ull << SectorSet{};
    QTest::newRow("whole medium") << 0ull << quint64(kSectors) << SectorSet{};
    QTest::newRow("unreadable sector inside") << 10ull << 20ull << SectorSet{13};
    QTest::newRow("unreadable first and last") << 10ull << 20ull << SectorSet{10, 19};
    QTest::newRow("runs past the end of the medium") << quint64(kSectors - 2)
                                                     << quint64(kSectors + 3) << SectorSet{};
  }
  // Each sector lands at its own offset; an unreadable one becomes zeros and
  // everything after it stays in place.
  void Copies_The_Item_Sectors() {
    QFETCH(quint64, start);
    QFETCH(quint64, end);
    QFETCH(SectorSet, unreadable);
    const auto bytes = Numbered_Sectors();
    MemorySectorSource source(bytes, unreadable);
    QTemporaryDir dir;
    const QString out = dir.filePath("dprv.doc");
    const ExtractResult result = Extract_Sectors(source, start, end, out);
    QVERIFY(result.file_opened);
    QVERIFY(!result.stopped);
    QVERIFY(!result.write_failed);

    QByteArray expected;
    quint64 zeros = 0;
    for (quint64 s = start; s < end; ++s) {
      if (unreadable.count(s) || s >= kSectors) {
        expected += QByteArray(512, '\0');
        ++zeros;
      } else {
        expected += Slice(bytes, s, s + 1);
      }
    }
    QCOMPARE(Read_All(out), expected);
    QCOMPARE(result.sectors_written, end > start ? end - start : 0);
    QCOMPARE(result.unreadable_sectors, zeros);
  }

  // The stop flag ends the copy at the next sector; what was copied stays.
  void Stop_Ends_The_Copy() {
    MemorySectorSource source(Numbered_Sectors());
    QTemporaryDir dir;
    int asked = 0;
    const ExtractResult result =
        Extract_Sectors(source, 4, 40, dir.filePath("dprv.mov"), [&] { return ++asked > 6; });
    QVERIFY(result.stopped);
    QCOMPARE(result.sectors_written, 6ull);
    QCOMPARE(Read_All(dir.filePath("dprv.mov")), Slice(Numbered_Sectors(), 4, 10));
  }

  void Unwritable_Folder_Is_Reported() {
    MemorySectorSource source(Numbered_Sectors());
    const ExtractResult result = Extract_Sectors(source, 0, 4, "/nonexistent-folder/dprv.doc");
    QVERIFY(!result.file_opened);
    QVERIFY(!result.file_error.isEmpty());
    QCOMPARE(result.sectors_written, 0ull);
  }

  void Preview_File_Names_data() {
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("file");
    QTest::newRow("mov") << "MOV00001.mov" << "/p/dprv.mov";
    QTest::newRow("upper case kept") << "DOC00002.DOC" << "/p/dprv.DOC";
    QTest::newRow("last dot counts") << "a.tar.gz" << "/p/dprv.gz";
    QTest::newRow("no extension") << "README" << "/p/dprv";
    QTest::newRow("folder part ignored") << "x.y/FILE" << "/p/dprv";
    QTest::newRow("no escape from the folder") << "EVIL./../../etc" << "/p/dprv";
  }
  void Preview_File_Names() {
    QFETCH(QString, item);
    QFETCH(QString, file);
    QCOMPARE(Preview_File_Name("/p", item), file);
  }
};

QTEST_MAIN(PreviewExtractTest)
#include "preview_extract_test.moc"
