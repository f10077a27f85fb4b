// Recover_Items end to end over a medium in memory: what lands in the
// folder, the report's rows and checksums, which items are left out and why,
// names that are already taken, and that a cancel or a full disk leaves no
// half file under a final name. The item's bytes over unreadable sectors and
// searches that straddle blocks; end markers of catalogue footers. The
// destination checks: which devices share storage (a fake /sys tree shaped
// like a USB stick with two partitions and a mapped volume), the real
// folder-on-the-scanned-device refusal, and the plain refusals.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <QTemporaryDir>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "engine/observed_source.h"
#include "recovery/destination.h"
#include "recovery/item_fixture.h"
#include "recovery/recover.h"
#include "recovery/sha256.h"
#include "tools/sample_files/sample_files.h"

namespace tamberlin::recovery {
namespace {
namespace fs = std::filesystem;

// A list in catalogue form: "TXT" ends with "END"; "RAW" has no end check;
// "GIF" and "ZIP" have their formats' end finders.
const CatalogueList kList = {Make_Record("TXT", "4096", "5458", "1", "454E44", "text", 84),
                             Make_Record("RAW", "1000", "5241", "1", "-", "raw", 82),
                             Make_Record("GIF", "1000", "4749", "1", "-", "gif", 71),
                             Make_Record("ZIP", "100000", "504B", "1", "-", "zip", 80)};

std::string Sha(const std::string& s) {
  Sha256 h;
  h.Update(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
  return h.Hex_Digest();
}

std::string Slurp(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

class RecoverTest : public ::testing::Test {
 protected:
  // Puts `text` at `sector` on the medium.
  void Plant(std::uint64_t sector, const std::string& text) {
    const std::size_t at = sector * kSectorSize;
    if (medium_.size() < at + text.size()) medium_.resize((at + text.size() + 511) / 512 * 512, 'z');
    std::copy(text.begin(), text.end(), medium_.begin() + static_cast<std::ptrdiff_t>(at));
  }
  RecoveryOutcome Recover(const std::vector<RecoveryItem>& items, int cancel_after_reads = 0,
                          std::set<std::uint64_t> unreadable = {}, RecoveryOptions options = {}) {
    // A cancel asked for once so many reads have been made, the way a user's Cancel arrives mid-copy.
    tamberlin::testing::ObservedSource source(std::make_unique<MemorySectorSource>(medium_, std::move(unreadable)),
                                   [this, left = cancel_after_reads](std::uint64_t) mutable {
                                     if (--left == 0) progress_.cancel.store(true);
                                   });
    return Recover_Items(source, items, dir(), progress_, options);
  }
  fs::path dir() const { return folder_.path().toStdString(); }
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& e : fs::recursive_directory_iterator(dir())) {
      if (!e.is_directory()) out.push_back(fs::relative(e.path(), dir()));
    }
    std::sort(out.begin(), out.end());
    return out;
  }
  std::string Report() const { return Slurp(dir() / "recovery-report.csv"); }

  std::vector<std::uint8_t> medium_;
  RecoveryProgress progress_;
  QTemporaryDir folder_;
};

TEST_F(RecoverTest, ItemsAreCutAtTheirEndAndReportedWithChecksums) {
  const std::string note = "TXT: a note that stops at END";
  Plant(0, note);  // the rest of its two sectors is slack ('z')
  Plant(2, "RA raw bytes");
  const std::string long_note = "TXT" + std::string(1500, '.') + "END";
  Plant(3, long_note);
  const std::vector items = {Make_Item("TXT00001.TXT", 0, 2, kList, {}), Make_Item("RAW00001.RAW", 2, 3, kList, {}),
                             Make_Item("TXT00002.TXT", 3, 4, kList, {})};  // the scan kept one sector of three
  ASSERT_EQ(items[0].max_bytes, 4096u);
  ASSERT_EQ(items[0].end_marker, (std::vector<std::uint8_t>{'E', 'N', 'D'}));

  const auto out = Recover(items);
  ASSERT_FALSE(out.stopped_because) << *out.stopped_because;
  EXPECT_EQ(out.files_written, 3u);
  EXPECT_EQ(Slurp(dir() / "TXT00001.TXT"), note);
  EXPECT_EQ(Slurp(dir() / "TXT00002.TXT"), long_note);
  const std::string raw = Slurp(dir() / "RAW00001.RAW");
  EXPECT_EQ(raw.size(), 512u);  // no end check: the sector as found
  EXPECT_EQ(Report(), "name,type,start_sector,end_sector,bytes_written,end,sha256,note\n"
                      "TXT00001.TXT,TXT,0,1," + std::to_string(note.size()) + ",trimmed," + Sha(note) +
                          ",end checked\n"
                          "RAW00001.RAW,RAW,2,3,512,as found," + Sha(raw) + ",no end check for this type\n"
                          "TXT00002.TXT,TXT,3,6,1506,extended," + Sha(long_note) + ",end checked\n");
  EXPECT_EQ(progress_.items_done.load(), 3u);
  EXPECT_EQ(progress_.bytes_written.load(), note.size() + 512 + long_note.size());
}

// Which items become files, and what the rows say about the others.
struct FateCase {
  const char* name;
  std::vector<std::pair<std::uint64_t, std::string>> planted;  // sector, bytes
  std::vector<RecoveryItem> items;
  bool keep_doubtful;
  const char* taken;               // a file made in the folder first, or null
  std::vector<std::string> files;  // what the folder holds afterwards, besides the report
  std::vector<std::string> rows;   // "end: note" per row
  std::uint64_t written, not_this_format, inside, duplicates;
};
void PrintTo(const FateCase& c, std::ostream* os) { *os << c.name; }

const std::string kGarbageGif = "GI" + std::string(600, 'x');  // the signature, then no GIF header
const std::string kLongText = "TXT" + std::string(1500, '.') + "END";  // sectors 0-2, 1506 bytes
RecoveryItem Item(const char* name, std::uint64_t first, std::uint64_t end) { return Make_Item(name, first, end, kList, {}); }

class ItemFates : public RecoverTest, public ::testing::WithParamInterface<FateCase> {};

TEST_P(ItemFates, OnlyRealFilesAreWrittenAndEveryRowSaysWhy) {
  const FateCase& c = GetParam();
  for (const auto& [sector, bytes] : c.planted) Plant(sector, bytes);
  if (c.taken != nullptr) std::ofstream(dir() / c.taken) << "keep me";
  const auto out = Recover(c.items, 0, {}, RecoveryOptions{c.keep_doubtful});
  ASSERT_FALSE(out.stopped_because) << *out.stopped_because;
  std::vector<std::string> files = c.files, rows;
  files.push_back("recovery-report.csv");
  if (c.taken != nullptr) files.push_back(c.taken);
  std::sort(files.begin(), files.end());
  EXPECT_EQ(Names(), files);
  for (const auto& r : out.rows) rows.push_back(std::string(End_Text(r.kind)) + ": " + r.note);
  EXPECT_EQ(rows, c.rows);
  EXPECT_EQ(std::vector<std::uint64_t>({out.files_written, out.not_this_format, out.inside, out.duplicates}),
            std::vector<std::uint64_t>({c.written, c.not_this_format, c.inside, c.duplicates}));
  EXPECT_EQ(progress_.items_done.load(), c.items.size());
}

const char* const kNoCheck = "as found: no end check for this type";
INSTANTIATE_TEST_SUITE_P(
    Cases, ItemFates,
    ::testing::Values(
        FateCase{"FoundByBothPassesWrittenOnce", {{0, "TXT found twice END"}},
                 {Item("GND00001.TXT", 0, 1), Item("THD00001.TXT", 0, 1)}, false, nullptr, {"GND00001.TXT"},
                 {"trimmed: end checked", "duplicate: same bytes as GND00001.TXT"}, 1, 0, 0, 1},
        FateCase{"NotItsFormatIsNotWritten", {{0, kGarbageGif}, {2, "RA"}},
                 {Item("GIF00001.GIF", 0, 2), Item("RAW00001.RAW", 2, 3)}, false, nullptr, {"RAW00001.RAW"},
                 {"not written: not a GIF file: no GIF header", kNoCheck}, 1, 1, 0, 0},
        FateCase{"DoubtfulKeptInItsOwnFolderAndHoldsNothing", {{0, kGarbageGif}, {1, "RA"}},
                 {Item("GIF00001.GIF", 0, 2), Item("RAW00001.RAW", 1, 2)}, true, nullptr,
                 {"doubtful/GIF00001.GIF", "RAW00001.RAW"}, {"doubtful: not a GIF file: no GIF header", kNoCheck},
                 2, 1, 0, 0},
        FateCase{"DoubtfulFileIsNoDuplicateOfAnItemThatPasses", {{0, kGarbageGif}}, {Item("GIF00001.GIF", 0, 2),
                 Item("RAW00001.RAW", 0, 2)}, true, nullptr, {"doubtful/GIF00001.GIF", "RAW00001.RAW"},
                 {"doubtful: not a GIF file: no GIF header", kNoCheck}, 2, 1, 0, 0},
        FateCase{"FileWrittenAsFoundHoldsNothing", {{0, "RA"}, {1, "TXT END"}, {2, "z"}},
                 {Item("RAW00001.RAW", 0, 3), Item("TXT00001.TXT", 1, 2)}, false, nullptr,
                 {"RAW00001.RAW", "TXT00001.TXT"}, {kNoCheck, "trimmed: end checked"}, 2, 0, 0, 0},
        FateCase{"DoubtfulFolderNameTakenByAFile", {{0, kGarbageGif}}, {Item("GIF00001.GIF", 0, 2)}, true,
                 "doubtful", {"doubtful-1/GIF00001.GIF"}, {"doubtful: not a GIF file: no GIF header"}, 1, 1, 0, 0},
        FateCase{"InsideAWrittenFileIsNotWrittenAgain", {{0, kLongText}, {1, "RA"}},
                 {Item("TXT00001.TXT", 0, 1), Item("RAW00001.RAW", 1, 2), Item("THD00001.RAW", 0, 1)}, false,
                 nullptr, {"TXT00001.TXT"},
                 {"extended: end checked", "inside: inside TXT00001.TXT at byte 512",
                  "inside: inside TXT00001.TXT at byte 0"}, 1, 0, 2, 0},
        FateCase{"EndingWhereAFileEndsIsInside", {{0, "TXT" + std::string(1018, '.') + "END"}, {1, "RA"}},
                 {Item("TXT00001.TXT", 0, 1), Item("RAW00001.RAW", 1, 2)}, false, nullptr, {"TXT00001.TXT"},
                 {"extended: end checked", "inside: inside TXT00001.TXT at byte 512"}, 1, 0, 1, 0},
        FateCase{"ReachingOneBytePastAFileIsNotInside", {{0, "TXT" + std::string(1017, '.') + "END"}, {1, "RA"}},
                 {Item("TXT00001.TXT", 0, 1), Item("RAW00001.RAW", 1, 2)}, false, nullptr,
                 {"RAW00001.RAW", "TXT00001.TXT"}, {"extended: end checked", kNoCheck}, 2, 0, 0, 0},
        FateCase{"ZipWrittenAsTheTypeItsMembersShow", {{0, samples::Make_Docx(3).toStdString()}},
                 {Item("ZIP00001.ZIP", 0, 1)}, false, nullptr, {"ZIP00001.DOCX"},
                 {"extended: end checked; type from content: DOCX"}, 1, 0, 0, 0},
        // Its central directory overwritten: cut after the last whole member,
        // not written on to the 20 KB the scan gave it.
        FateCase{"ZipWhoseEndIsGoneIsCutAfterItsLastWholeMember", {{0, [] {
                   const QByteArray zip = samples::Make_Docx(3);
                   return zip.left(zip.indexOf("PK\x01\x02")).toStdString();
                 }()}}, {Item("ZIP00001.ZIP", 0, 40)}, false, nullptr, {"ZIP00001.DOCX"},
                 {"trimmed: end not found (no end of central directory for this archive): cut where its structure "
                  "ends; type from content: DOCX"}, 1, 0, 0, 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(RecoverTest, TakenNamesGetANumberAndNothingIsReplaced) {
  Plant(0, "RA one");
  std::ofstream(dir() / "RAW00001.RAW") << "keep me";
  std::ofstream(dir() / "RAW00001-1.RAW") << "keep me too";
  std::ofstream(dir() / "recovery-report.csv") << "an older report";
  const auto out = Recover({Make_Item("RAW00001.RAW", 0, 1, kList, {})});
  EXPECT_EQ(out.rows.at(0).file_name, "RAW00001-2.RAW");
  EXPECT_EQ(Slurp(dir() / "RAW00001.RAW"), "keep me");
  EXPECT_EQ(Slurp(dir() / "RAW00001-1.RAW"), "keep me too");
  EXPECT_EQ(Report(), "an older report");
  EXPECT_EQ(out.report_path.filename(), "recovery-report-1.csv");
  EXPECT_EQ(Numbered_Name("NOEXT", 3), "NOEXT-3");
}

TEST_F(RecoverTest, CancelMidCopyLeavesNoFileUnderAFinalName) {
  Plant(0, "RA first");
  Plant(1, "RA second, long");
  Plant(5000, "end");  // the second item spans 2.5 MB, several writes
  const std::vector items = {Make_Item("RAW00001.RAW", 0, 1, kList, {}),
                             Make_Item("RAW00002.RAW", 1, 5001, kList, {})};
  const auto out = Recover(items, /*cancel_after_reads=*/2500);
  EXPECT_TRUE(out.cancelled);
  EXPECT_EQ(out.files_written, 1u);
  // The finished item stays, the cut one is gone, and no temporary file is left.
  EXPECT_EQ(Names(), (std::vector<std::string>{"RAW00001.RAW", "recovery-report.csv"}));
}

TEST_F(RecoverTest, FullDestinationStopsCleanlyAndListsEveryItemLeft) {
  Plant(0, "RA small");
  Plant(1, "RA big");
  Plant(400, "end");
  Plant(401, "RA after");
  // A file size limit makes writes fail as on a full disk (EFBIG).
  struct rlimit old {};
  ::getrlimit(RLIMIT_FSIZE, &old);
  const auto old_handler = ::signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = old;
  small.rlim_cur = 64 * 1024;
  ::setrlimit(RLIMIT_FSIZE, &small);
  const auto out = Recover({Make_Item("RAW00001.RAW", 0, 1, kList, {}), Make_Item("RAW00002.RAW", 1, 401, kList, {}),
                            Make_Item("RAW00003.RAW", 401, 402, kList, {})});
  ::setrlimit(RLIMIT_FSIZE, &old);
  ::signal(SIGXFSZ, old_handler);

  ASSERT_TRUE(out.stopped_because);
  EXPECT_NE(out.stopped_because->find("filled up"), std::string::npos) << *out.stopped_because;
  EXPECT_EQ(Names(), (std::vector<std::string>{"RAW00001.RAW", "recovery-report.csv"}));
  ASSERT_EQ(out.rows.size(), 3u);
  EXPECT_EQ(out.rows[1].kind, ItemEnd::NotWritten);
  EXPECT_NE(Report().find("\nRAW00002.RAW,RAW,1,401,0,not written,,destination full\n"
                          "RAW00003.RAW,RAW,401,402,0,not written,,destination full\n"),
            std::string::npos)
      << Report();
}

TEST_F(RecoverTest, UnreadableSectorsAreWrittenAsZerosAndNoted) {
  Plant(0, "RA");
  Plant(2, "tail");
  const auto out = Recover({Make_Item("RAW00001.RAW", 0, 3, kList, {})}, 0, {1});
  const std::string bytes = Slurp(dir() / "RAW00001.RAW");
  ASSERT_EQ(bytes.size(), 1536u);
  EXPECT_EQ(bytes.substr(512, 512), std::string(512, '\0'));
  EXPECT_EQ(bytes.substr(1024, 4), "tail");
  EXPECT_NE(out.rows.at(0).note.find("1 unreadable sectors"), std::string::npos);
}

// A PDF of about 43 KB saved twice: the first revision's %%EOF lies near
// its start, as incremental saves leave it.
QByteArray Pdf_Saved_Twice() {
  QByteArray pdf = "%PDF-1.4\n" + QByteArray(1000, 'r') + "\n%%EOF\n";
  while (pdf.size() < 43000) pdf += "a line of page text in the second revision\n";
  return pdf + "%%EOF\n";
}

std::set<std::uint64_t> Sectors(std::uint64_t first, std::uint64_t count) {
  std::set<std::uint64_t> out;
  for (std::uint64_t s = first; s < first + count; ++s) out.insert(s);
  return out;
}

TEST(ItemBytesTest, RunsOfUnreadableSectorsAreZerosAndOnlyTheMediumsSizeEndsTheItem) {
  const QByteArray pdf = Pdf_Saved_Twice();
  const std::uint64_t medium = (pdf.size() + 4096 + 511) / 512 * 512;
  const struct {
    const char* why;
    std::set<std::uint64_t> bad;
  } cases[] = {
      {"one bad sector", {4}},
      {"two in a row", Sectors(4, 2)},
      {"a long run", Sectors(10, 40)},
      {"a run up to the medium's last sector", Sectors(medium / 512 - 3, 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::Item item(pdf, testing::Garbage(4096), 0, 0, c.bad);
    EXPECT_EQ(Find_Pdf_End(item.bytes()).length, static_cast<std::uint64_t>(pdf.size()));
    std::vector<std::uint8_t> buf(4096);
    EXPECT_EQ(item.bytes().Read(medium - 10, buf.data(), buf.size()), 10u);
    EXPECT_EQ(item.bytes().Zero_Filled_Sectors(), c.bad.size());
    EXPECT_EQ(item.bytes().Read(*c.bad.begin() * 512 + 255, buf.data(), 2), 2u);
    EXPECT_EQ(buf[0] | buf[1], 0) << "an unreadable sector reads as zeros";
  }
}

TEST(ItemBytesTest, TwoUnreadableSectorsInARowDoNotCutARecoveredPdf) {
  const QByteArray pdf = Pdf_Saved_Twice();
  std::vector<std::uint8_t> medium(pdf.begin(), pdf.end());
  const std::uint64_t pdf_size = medium.size();
  medium.resize((medium.size() / 512 + 8) * 512, 'g');
  MemorySectorSource source(medium, {4, 5});
  RecoveryItem item;
  item.name = "GND00001.PDF";
  item.type = "PDF";
  item.end_sector = medium.size() / 512;
  QTemporaryDir folder;
  RecoveryProgress progress;
  const auto out = Recover_Items(source, {item}, folder.path().toStdString(), progress);
  ASSERT_EQ(out.rows.size(), 1u);
  EXPECT_EQ(out.rows[0].bytes_written, pdf_size);
  EXPECT_EQ(out.rows[0].zero_filled_sectors, 2u);
  EXPECT_NE(out.rows[0].note.find("2 unreadable sectors written as zeros"), std::string::npos) << out.rows[0].note;
}

// A pattern at every offset across the first block edge, and a second one further on.
TEST(ItemBytesTest, PatternsThatStraddleBlocksAreFoundFirstAndLast) {
  const std::string_view pat = "%%EOF";
  const std::span p(reinterpret_cast<const std::uint8_t*>(pat.data()), pat.size());
  for (std::uint64_t at = 65536 - 6; at <= 65536 + 1; ++at) {
    SCOPED_TRACE(at);
    QByteArray file(300000, '.');
    file.replace(static_cast<int>(at), 5, "%%EOF").replace(200000, 5, "%%EOF");
    testing::Item item(file);
    EXPECT_EQ(item.bytes().Find(pat, 0, item.bytes().Range()), at);
    EXPECT_EQ(item.bytes().Find_Last(p, 0, item.bytes().Range()), 200000u);
    EXPECT_EQ(item.bytes().Find_Last(p, 0, 200000), at);  // must start below `to`
    EXPECT_EQ(item.bytes().Find(pat, 0, at), ItemBytes::npos);
    EXPECT_EQ(item.bytes().Find(pat, at + 1, 199999), ItemBytes::npos);
  }
}

TEST(EndMarkerTest, LastMarkerInsideTheRangeElseFirstAfterIt) {
  const std::uint8_t marker[] = {0x00, 0x00, 0x01, 0xB9};
  QByteArray file(4096, 'm');
  file.replace(1000, 4, QByteArray::fromHex("000001B9"));
  file.replace(3000, 4, QByteArray::fromHex("000001B9"));
  testing::Item in_range(file, {}, 4096);
  EXPECT_EQ(Find_End_Marker(in_range.bytes(), marker).length, 3004u);

  testing::Item beyond(file, {}, 512, 8192);  // the range holds no marker
  EXPECT_EQ(Find_End_Marker(beyond.bytes(), marker).length, 1004u);

  testing::Item none(QByteArray(2048, 'm'), {}, 512, 2048);
  EXPECT_FALSE(Find_End_Marker(none.bytes(), marker).found());
}

TEST(EndMarkerTest, TextMarkerKeepsItsLineEndingBinaryMarkerDoesNot) {
  const std::uint8_t brace[] = {'}'};
  const std::uint8_t binary[] = {0x00, 0x00, 0x01, 0xB9};
  const struct {
    QByteArray file;
    std::span<const std::uint8_t> marker;
    std::uint64_t length;
  } cases[] = {
      {"{\\rtf1 text}\n", brace, 13},
      {"{\\rtf1 text}\r\n", brace, 14},
      {"{\\rtf1 text}\r", brace, 13},
      {"{\\rtf1 text}", brace, 12},
      {QByteArray::fromHex("000001BA11000001B90A"), binary, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    testing::Item item(c.file, {}, 512);
    EXPECT_EQ(Find_End_Marker(item.bytes(), c.marker).length, c.length);
  }
}

class FakeSys {
 public:
  FakeSys() {
    Device("8:16", "devices/pci0/usb1/host6/block/sdb");
    Device("8:17", "devices/pci0/usb1/host6/block/sdb/sdb1");
    Device("8:18", "devices/pci0/usb1/host6/block/sdb/sdb2");
    Device("8:0", "devices/pci0/ata1/host0/block/sda");
    Device("253:0", "devices/virtual/block/dm-0");
    Slave("devices/virtual/block/dm-0", "devices/pci0/usb1/host6/block/sdb/sdb1");
    // Loop devices over two images: loop0 (partitioned, a mapped volume on
    // its first partition) and loop2 read stick.img, loop1 reads other.img.
    std::ofstream(root_ / "stick.img") << "stick";
    std::ofstream(root_ / "other.img") << "other";
    Loop("7:0", "loop0", "backing_file", (root_ / "stick.img").string());
    Device("259:0", "devices/virtual/block/loop0/loop0p1");
    Device("253:1", "devices/virtual/block/dm-1");
    Slave("devices/virtual/block/dm-1", "devices/virtual/block/loop0/loop0p1");
    Loop("7:1", "loop1", "backing_file", (root_ / "other.img").string() + " (deleted)");
    struct stat st {};
    ::stat((root_ / "stick.img").c_str(), &st);
    Loop("7:2", "loop2", "backing_inode", std::to_string(st.st_ino));
    std::ofstream(root_ / "devices/virtual/block/loop2/loop/backing_dev")
        << major(st.st_dev) << ":" << minor(st.st_dev) << "\n";
  }
  const fs::path& root() const { return root_; }

 private:
  void Device(const std::string& majmin, const std::string& dir) {
    fs::create_directories(root_ / dir);
    fs::create_directories(root_ / "dev/block");
    fs::create_symlink(fs::path("../..") / dir, root_ / "dev/block" / majmin);
  }
  void Loop(const std::string& majmin, const std::string& name, const std::string& file, const std::string& text) {
    const std::string dir = "devices/virtual/block/" + name;
    Device(majmin, dir);
    fs::create_directories(root_ / dir / "loop");
    fs::create_directories(root_ / "block");
    fs::create_symlink(fs::path("..") / dir, root_ / "block" / name);
    std::ofstream(root_ / dir / "dev") << majmin << "\n";
    std::ofstream(root_ / dir / "loop" / file) << text << "\n";
  }
  void Slave(const std::string& dir, const std::string& slave) {
    fs::create_directories(root_ / dir / "slaves");
    fs::create_symlink(root_ / slave, root_ / dir / "slaves" / fs::path(slave).filename());
  }
  QTemporaryDir tmp_;
  fs::path root_ = tmp_.path().toStdString();
};

TEST(DestinationTest, DevicesOverlapWhenTheyShareStorage) {
  FakeSys sys;
  const struct {
    dev_t a, b;
    bool overlap;
    const char* why;
  } cases[] = {
      {makedev(8, 17), makedev(8, 17), true, "same partition"},
      {makedev(8, 17), makedev(8, 16), true, "folder on a partition of the scanned disk"},
      {makedev(8, 16), makedev(8, 17), true, "folder on the disk whose partition is scanned"},
      {makedev(8, 18), makedev(8, 17), false, "sibling partition"},
      {makedev(253, 0), makedev(8, 17), true, "mapped volume stacked on the scanned partition"},
      {makedev(253, 0), makedev(8, 16), true, "mapped volume on the scanned disk"},
      {makedev(253, 0), makedev(8, 18), false, "mapped volume on another partition"},
      {makedev(8, 0), makedev(8, 16), false, "another disk"},
      {makedev(9, 9), makedev(8, 16), false, "device sysfs does not know"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(Devices_Overlap(c.a, c.b, sys.root()), c.overlap);
  }
}

TEST(DestinationTest, FileBacksTheDevicesStackedOnItsLoopDevice) {
  FakeSys sys;
  const fs::path stick = sys.root() / "stick.img", other = sys.root() / "other.img";
  const struct {
    dev_t device;
    fs::path file;
    bool backs;
    const char* why;
  } cases[] = {
      {makedev(7, 0), stick, true, "the loop device reading the image"},
      {makedev(259, 0), stick, true, "a partition of that loop device"},
      {makedev(253, 1), stick, true, "a mapped volume on that partition"},
      {makedev(7, 2), stick, true, "a loop device telling the image's device and inode"},
      {makedev(7, 1), stick, false, "a loop device reading another image"},
      {makedev(7, 1), other, true, "an image deleted while its loop device reads it"},
      {makedev(7, 0), other, false, "another image"},
      {makedev(8, 16), stick, false, "a disk"},
      {makedev(7, 0), sys.root() / "missing.img", false, "no such file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(File_Backs_Device(c.file, c.device, sys.root()), c.backs);
  }
}

// Runs `command` through the shell; true when it succeeded.
bool Shell(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

TEST(DestinationTest, RefusesAFolderOnAFileSystemMountedFromTheScannedImage) {
  QTemporaryDir tmp;
  const std::string image = tmp.filePath("stick.img").toStdString();
  const std::string mount = tmp.filePath("mnt").toStdString();
  fs::create_directory(mount);
  // FAT as on a stick; ext2 where the kernel has no FAT driver.
  bool mounted = false;
  for (const char* mkfs : {"mkfs.vfat", "mkfs.ext2 -q -F"}) {
    mounted = Shell("truncate -s 8M '" + image + "' && " + mkfs + " '" + image + "' && mount -o loop '" + image +
                    "' '" + mount + "'");
    if (mounted) break;
  }
  if (!mounted) GTEST_SKIP() << "loop mounts are not permitted here (or no mkfs.vfat / mkfs.ext2)";
  struct Unmount {
    std::string at;
    ~Unmount() { Shell("umount '" + at + "'"); }  // the loop device goes with it (autoclear)
  } unmount{mount};
  const std::string folder = mount + "/recovered";
  ASSERT_TRUE(fs::create_directory(folder));
  const auto problem = Check_Destination(folder, image);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The destination folder is inside the disk image being recovered.");
  EXPECT_FALSE(Check_Destination(tmp.path().toStdString(), image));  // beside the image is fine
}

TEST(DestinationTest, RefusesAFolderOnTheScannedBlockDevice) {
  QTemporaryDir folder;
  const auto dev = Folder_Device(folder.path().toStdString());
  if (!dev) GTEST_SKIP() << "the temporary folder is on no block device";
  // Find the device node of the temporary folder's file system.
  std::string node;
  for (const auto& e : fs::directory_iterator("/dev")) {
    struct stat st {};
    if (::stat(e.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == *dev) node = e.path();
  }
  if (node.empty()) GTEST_SKIP() << "no /dev node for the temporary folder's device";
  const auto problem = Check_Destination(folder.path().toStdString(), node);
  ASSERT_TRUE(problem);
  EXPECT_EQ(problem->message, "The destination folder is on the medium being recovered.");
  // A disk image on that same device is another matter: it is never written.
  const std::string image = folder.filePath("stick.img").toStdString();
  std::ofstream(image) << std::string(4096, '\0');
  EXPECT_FALSE(Check_Destination(folder.path().toStdString(), image));
}

TEST(DestinationTest, RefusesMissingFoldersAndFiles) {
  QTemporaryDir folder;
  const std::string file = folder.filePath("not-a-folder").toStdString();
  std::ofstream(file) << "x";
  const struct {
    std::string path;
    const char* message;
  } cases[] = {
      {folder.filePath("missing").toStdString(), "The destination folder does not exist."},
      {file, "The destination is not a folder."},
      {"", "The destination folder does not exist."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.path);
    const auto problem = Check_Destination(c.path, file);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->message, c.message);
  }
}

TEST(DestinationTest, OnlyThisProgramsUnfinishedFilesFromBeforeTheRunAreRemoved) {
  QTemporaryDir folder;
  const fs::path dir = folder.path().toStdString();
  const auto now = std::chrono::system_clock::now();
  const struct {
    std::string name;
    bool folder;
    int age_seconds;  // negative: changed after the run started
    bool removed;
  } cases[] = {
      {".GND00001.JPG.part.Ab12Cd", false, 3600, true},
      {".a.part.999999", false, 1, true},
      {".GND00002.JPG.part.Ab12Cd", false, -60, false},  // another recovery is writing it
      {"GND00003.JPG.part.Ab12Cd", false, 3600, false},  // no leading dot
      {".GND00004.JPG.part.Ab-12C", false, 3600, false},
      {".part.Ab12Cd", false, 3600, false},              // no name
      {".GND00005.JPG.part.Xy98Zw", true, 3600, false},  // a folder
      {"doubtful-2/.ZIP00001.ZIP.part.Ab12Cd", false, 3600, true},
      {"photos/.GND00006.JPG.part.Ab12Cd", false, 3600, false},  // only the doubtful folders are looked into
  };
  for (const auto& c : cases) {
    const fs::path p = dir / c.name;
    fs::create_directories(p.parent_path());
    if (c.folder) {
      fs::create_directory(p);
    } else {
      std::ofstream(p) << "part";
    }
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::seconds(c.age_seconds));
  }
  std::uint64_t expected = 0;
  for (const auto& c : cases) expected += c.removed;
  EXPECT_EQ(Remove_Stale_Parts(dir, now), expected);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(fs::exists(dir / c.name), !c.removed);
  }
}

TEST(DestinationTest, SpaceWarningOnlyWhenTheItemsMayNotFit) {
  EXPECT_FALSE(Space_Problem(1000, 1000));
  const auto p = Space_Problem(18'874'368, 5'000'000);
  ASSERT_TRUE(p);
  EXPECT_NE(p->informative.find("18.9 MB"), std::string::npos);
  EXPECT_NE(p->informative.find("5.0 MB"), std::string::npos);
  EXPECT_EQ(Size_Text(999), "999 bytes");
}

}  // namespace
}  // namespace tamberlin::recovery
