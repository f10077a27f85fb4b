// The catalogue files' text format, the sector test and index built from
// the records, the file type choice over them, and the catalogue files that
// ship in the data folder: whole groups, well-formed records, every record
// reachable by the sector test. The sector range the user types, and the
// decimal readings under it.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sstream>
#include <tuple>

#include "engine/catalogue.h"
#include "engine/decimal.h"
#include "engine/header_index.h"
#include "engine/sector_range.h"
#include "engine/type_selection.h"

namespace tamberlin {
namespace {

std::vector<std::string> Texts(const CatalogueList& list) {
  std::vector<std::string> out;
  for (const auto& r : list) std::ranges::copy(Record_Texts(r), std::back_inserter(out));
  return out;
}

// Catalogue files are read as "Key : value" lines, six to a record; the
// first byte comes from the "Header :" line.
TEST(CatalogueTest, ParsesTheEdgeCasesOfTheTextFormat) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"JpgGroup", "Extension : .jpg\nSize : 20000000\nHeader : FFD8FFE0\nP : 1\nFooter : FFD9\nDescription : JPEG\n",
       {"JPG", "20000000", "FFD8FFE0", "1", "FFD9", "JPEG", "255"}},
      {"HeaderWithoutSpaceIsNoHeaderLine", "E : .a\nS : 1\nHeader: FFD8\nP : 1\nF : -\nD : d\n",
       {"A", "1", "FFD8", "1", "-", "d", ""}},
      {"LowerCaseHeaderTrimmed", "E : x\nS : 1\nHeader :    ffd8   \nP : nn\nF : -\nD : d\n",
       {"x", "1", "ffd8", "nn", "-", "d", "255"}},
      {"DotRuleUpperCasesAfterFirstDot", "E : *.jpg\nS : Version 1.5 format\nHeader : 00\nP : 1\nF : a.b.c\nD : d\n",
       {"JPG", "5", "00", "1", "-", "d", "0"}},
      {"LinesWithoutColonDoNotBreakGroup", "# c\n\nE : .png\nS : 1\nc\nHeader : 89504E47\nP : 1\nF : -\n\nD : P\n",
       {"PNG", "1", "89504E47", "1", "-", "P", "137"}},
      {"WindowsLineEnds", "E : .gif\r\nS : 5\r\nHeader : 474946\r\nP : 1\r\nF : 3B\r\nD : GIF\r\n",
       {"GIF", "5", "474946", "1", "3B", "GIF", "71"}},
      {"OneDigitHeaderGivesNoFirstByte", "E : a\nS : 1\nHeader : F\nP : 1\nF : -\nD : d\n",
       {"a", "1", "F", "1", "-", "d", ""}},
      {"FirstByteResetsBetweenGroups",
       "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\nE : b\nS : 1\nH : 10\nP : 1\nF : -\nD : d\n",
       {"a", "1", "FF", "1", "-", "d", "255", "b", "1", "10", "1", "-", "d", ""}},
      {"TrailingPartialGroupDropped", "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\nE : b\nS : 2\n",
       {"a", "1", "FF", "1", "-", "d", "255"}},
      {"EmptyText", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Texts(Parse_Catalogue_Text(c.text)), c.expected) << c.name;
  EXPECT_TRUE(Load_Catalogue_File("/nonexistent/USBExt2.dll").empty());
}

using Sector = std::array<std::uint8_t, kSectorSize>;

CatalogueRecord Rec(const char* type, const char* sig, const char* pos, std::optional<std::uint8_t> first) {
  return Make_Record(type, "1000", sig, pos, "-", "d", first);
}

Sector With(std::size_t at, std::initializer_list<std::uint8_t> bytes, std::uint8_t fill = 0x11) {
  Sector s;
  s.fill(fill);
  for (auto b : bytes) s[at++] = b;
  return s;
}

// The sector test at the edges of the positions a record can give: the
// start, a run of repeated first bytes ("nn"), and an offset near the end.
TEST(HeaderTest, MatchesAtTheBoundariesOfEachPosition) {
  struct Case {
    const char* name;
    CatalogueRecord record;
    Sector sector;
    bool matches;
  };
  const Case cases[] = {
      {"StartMatches", Rec("JPG", "FFD8FF", "1", 255), With(0, {0xFF, 0xD8, 0xFF}), true},
      {"StartNeedsByteZero", Rec("JPG", "FFD8FF", "1", 255), With(1, {0xFF, 0xD8, 0xFF}), false},
      {"NoHeaderLineWantsAZero", Rec("X", "FFD8", "1", std::nullopt), With(0, {0xFF, 0xD8}), false},
      {"RunToleratesLeadingRepeats", Rec("JPG", "FFD8FF", "nn", 255), With(0, {0xFF, 0xFF, 0xFF, 0xD8, 0xFF}), true},
      {"RunAcrossTheSectorEnd", Rec("X", "AAAB", "nn", 170), With(0, {}, 0xAA), false},
      {"OffsetNine", Rec("WAV", "57415645", "9", 87), With(8, {'W', 'A', 'V', 'E'}), true},
      {"Offset507TriedAtByte506", Rec("X", "ABCD", "507", 171), With(506, {0xAB, 0xCD}), true},
      {"Offset508NeverMatches", Rec("X", "AB", "508", 171), With(507, {0xAB}), false},
      {"HeaderPastSectorEnd", Rec("X", "ABCDEF", "510", 171), With(509, {0xAB, 0xCD, 0xEF}), false},
      {"OffsetLeadingInteger", Rec("TAR", "7573746172", "258 (ustar)", 117), With(257, {'u', 's', 't', 'a', 'r'}),
       true},
      {"OffsetZeroIsBeforeTheSector", Rec("X", "11", "0", 17), With(0, {}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Header_Test(c.record, c.sector.data()), c.matches) << c.name;
    EXPECT_EQ(HeaderIndex({c.record}).Find(c.sector.data()) == 0, c.matches) << c.name;
  }
}

// The index must find what the plain rule finds, trying the records in list
// order; small signatures over a four-letter alphabet make many overlaps.
TEST(HeaderIndexTest, AgreesWithTheRuleOnRandomSectors) {
  const HeaderIndex index(CatalogueList({Rec("A", "0102", "1", 1), Rec("B", "0101", "nn", 1), Rec("C", "0203", "3", 2),
                                Rec("D", "01", "1", 1), Rec("E", "0302", "nn", 3), Rec("F", "0100", "2", 1)}));
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 3);
  for (int round = 0; round < 20000; ++round) {
    Sector s;
    for (auto& b : s) b = static_cast<std::uint8_t>(byte(rng));
    std::size_t expected = HeaderIndex::npos;
    for (std::size_t r = 0; r < index.size() && expected == HeaderIndex::npos; ++r)
      if (Header_Test(index[r], s.data())) expected = r;
    ASSERT_EQ(index.Find(s.data()), expected) << "round " << round;
  }
}

// A header opens the matching record and every later record whose signature
// contains it or is contained in it at the same position.
TEST(HeaderIndexTest, FamilyOpensTheRelatedLaterRecords) {
  struct Case {
    const char* name;
    CatalogueList list;
    std::size_t matched;
    std::vector<std::uint32_t> opened;
  };
  const CatalogueRecord zip = Rec("ZIP", "504B", "1", 80), docx = Rec("DOCX", "504B0304", "1", 80);
  const Case cases[] = {
      {"ShortFirstOpensLonger", CatalogueList({zip, docx}), 0, {0, 1}},
      {"LongFirstOpensShorter", CatalogueList({docx, zip}), 0, {0, 1}},
      {"EarlierRecordsNeverOpen", CatalogueList({docx, zip}), 1, {1}},
      {"LongerLaterNeedsSamePosition", CatalogueList({zip, Rec("DOCX", "504B0304", "nn", 80)}), 0, {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderIndex(c.list).Family(c.matched), c.opened) << c.name;
}

CatalogueList Records(std::initializer_list<std::pair<const char*, const char*>> records) {
  CatalogueList out;
  for (const auto& [type, description] : records) out.push_back(Make_Record(type, "1", "00", "1", "-", description, 0));
  return out;
}

// The file type screen lists each type once, sorted without regard to case,
// with the first description (a star marks types only the thorough pass
// searches); the types left ticked decide the records both
// passes search, in display order.
TEST(TypeSelectionTest, UntickedTypesLeaveBothLists) {
  const auto general = Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}, {"DOC", "d"}});
  const auto thorough = Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}, {"DOC", "d2"}});
  auto rows = Build_Extension_List(general, thorough);
  std::vector<std::string> shown;
  for (const auto& r : rows) shown.push_back(r.Extension + (r.Thoro.empty() ? "" : "*") + " " + r.Description);
  EXPECT_EQ(shown, (std::vector<std::string>{"ARJ* only thorough", "doc lower doc", "DOC d", "ZIP first zip"}));
  for (auto& r : rows) r.State = r.Extension != "DOC";  // case counts: "doc" stays
  const auto applied = Apply_Selection(rows, general, thorough);
  EXPECT_EQ(applied.ticked_types, (std::vector<std::string>{"ARJ", "doc", "ZIP"}));
  EXPECT_EQ(applied.lists.CheckListHeader_Array,
            Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}}));
  EXPECT_EQ(applied.lists.CheckListHeader_Adv_Array, Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}}));
  for (auto& r : rows) r.State = false;
  EXPECT_FALSE(Check_For_One_Extension_Selection(rows));
  EXPECT_TRUE(Apply_Selection(rows, general, thorough).lists.CheckListHeader_Array.empty());
}


// TAMBERLIN_DATA_DIR when set, otherwise share/tamberlin beside the bin
// folder the test runs from (the build tree's layout); empty when neither.
inline std::filesystem::path Data_Dir() {
  if (const char* dir = std::getenv("TAMBERLIN_DATA_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  auto dir = (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

std::string Read_Shipped(const char* name) {
  std::ifstream in(Data_Dir() / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Keys(const CatalogueList& list) {
  std::set<std::string> out;
  for (const auto& r : list) out.insert(r.key + " " + r.signature_hex + " @" + Record_Texts(r)[3]);
  return out;
}

TEST(ShippedCatalogueTest, EveryRecordIsWholeWellFormedAndReachable) {
  ASSERT_FALSE(Data_Dir().empty()) << "no data folder found; set TAMBERLIN_DATA_DIR";
  // The photo scan names an item after the first matching record only; the
  // raw and video scans open every record of the match's family, so there a
  // header must open exactly one item (a shared header is one record whose
  // type comes from content at recovery).
  const std::pair<const char*, const char*> modes[] = {{kPhotoCatalogue, kPhotoThoroughCatalogue},
                                                       {kRawCatalogue, kRawThoroughCatalogue},
                                                       {kVideoCatalogue, kVideoThoroughCatalogue}};
  for (const auto& [general, thorough] : modes) {
    for (const char* name : {general, thorough}) {
      SCOPED_TRACE(name);
      const std::string text = Read_Shipped(name);
      const CatalogueList list = Parse_Catalogue_Text(text);
      ASSERT_GT(list.size(), 0u);
      // A line that loses its colon shifts every later record, so the text is
      // checked too: as many keyed lines as the records hold.
      EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), ':')), list.size() * 6);
      EXPECT_EQ(Keys(list).size(), list.size()) << "a record is repeated";
      const HeaderIndex index(list);
      for (std::size_t r = 0; r < index.size(); ++r) {
        const CatalogueRecord& h = index[r];
        SCOPED_TRACE(h.key + " " + h.signature_hex);
        const auto all_of = [](const std::string& t, const char* set) {
          return !t.empty() && t.find_first_not_of(set) == std::string::npos;
        };
        EXPECT_TRUE(all_of(h.key, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
        EXPECT_TRUE(all_of(h.signature_hex, "0123456789ABCDEF") && h.signature_hex.size() % 2 == 0);
        EXPECT_GE(h.size_limit, kSectorSize) << "a limit below one sector keeps nothing";
        std::array<std::uint8_t, kSectorSize> sector{};
        const bool offset = h.position == CatalogueRecord::Position::Offset;
        const std::size_t at = offset ? static_cast<std::size_t>(h.offset - 1) : 0;
        ASSERT_LE(at + h.signature.size(), sector.size());
        std::copy(h.signature.begin(), h.signature.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t found = index.Find(sector.data());
        ASSERT_NE(found, HeaderIndex::npos) << "matches nothing";
        std::multiset<std::string> opened;
        for (auto m : index.Family(found)) opened.insert(index[m].key);
        const bool photo = std::string(name) == kPhotoCatalogue || std::string(name) == kPhotoThoroughCatalogue;
        EXPECT_TRUE(photo ? index[found].key == h.key : opened.size() == 1)
            << "shadowed by " << index[found].signature_hex << (photo ? "" : ", or one header opens two items");
      }
    }
    // The thorough pass reads the same sectors again: a record it shares with
    // the general list would only find every item twice.
    const auto in_general = Keys(Parse_Catalogue_Text(Read_Shipped(general)));
    for (const std::string& key : Keys(Parse_Catalogue_Text(Read_Shipped(thorough))))
      EXPECT_EQ(in_general.count(key), 0u) << key << " is in " << general << " too";
  }
}

// The checks run in order; the first that fails is reported, with its text
// and the field to put the focus in.
TEST(SectorRangeTest, FirstFailingCheckWins) {
  struct Case {
    const char* start;
    const char* end;
    const char* count;
    int step;  // 0: valid
  };
  const Case cases[] = {
      {"0", "100", "100", 0},      {"", "100", "100", 1},     {"12 ", "100", "100", 1}, {"-5", "100", "100", 1},
      {"1e3", "100", "100", 1},    {"007", "100", "100", 0},  {"0007", "100", "100", 2}, {"101", "100", "100", 3},
      {"0", "1x", "100", 4},       {"0", "", "100", 4},       {"0", "0100", "100", 5},  {"0", "101", "100", 6},
      {"50", "50", "100", 7},      {"60", "050", "100", 7},
      // Beyond 2^31 and 2^53 sectors the comparison stays exact.
      {"3000000000", "3900000000", "3907029168", 0},
      {"0", "9007199254740993", "9007199254740992", 6},
      {"9007199254740992", "9007199254740993", "9007199254740993", 0},
      {"0", "99999999999999999999999", "18446744073709551615", 5},
  };
  for (const Case& c : cases) {
    const auto problem = Validate_Sector_Range(c.start, c.end, c.count);
    EXPECT_EQ(problem ? problem->step : 0, c.step) << "'" << c.start << "' to '" << c.end << "' of " << c.count;
    if (problem) {
      EXPECT_EQ(problem->focus, c.step <= 3 ? RangeProblem::Field::Start : RangeProblem::Field::End);
    }
  }
}

// Numbers at the edges of 64 bits, and the lenient reading of typed and
// catalogue fields (a negative number wraps: "-1" is the largest limit).
TEST(DecimalTest, StrictAndLeadingReadingsAtTheirEdges) {
  const std::tuple<const char*, std::optional<std::uint64_t>, std::uint64_t> cases[] = {
      {"18446744073709551615", UINT64_MAX, UINT64_MAX}, {"18446744073709551616", std::nullopt, UINT64_MAX},
      {"007", 7, 7}, {"", std::nullopt, 0}, {"+5", std::nullopt, 5}, {"-1", std::nullopt, UINT64_MAX},
      {"  12 MB", std::nullopt, 12}, {"x1", std::nullopt, 0}};
  for (const auto& [text, strict, leading] : cases) {
    EXPECT_EQ(Parse_Decimal(text), strict) << text;
    EXPECT_EQ(Leading_Decimal(text), leading) << text;
  }
}

}  // namespace
}  // namespace tamberlin
