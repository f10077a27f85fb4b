// Recover_Items end to end over a medium in memory: what lands in the
// folder, the report's rows and checksums, which items are left out and why,
// names that are already taken, and that a cancel or a full disk leaves no
// half file under a final name.
#include "recovery/recover.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <QTemporaryDir>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "engine/observed_source.h"
#include "recovery/item_fixture.h"
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

}  // namespace
}  // namespace tamberlin::recovery
