// The catalogue files' text format, the sector test and index built from
// the records, and the file type choice over them.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <random>

#include "engine/catalogue.h"
#include "engine/header_index.h"
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

}  // namespace
}  // namespace tamberlin
