// The sector test and the index built from the catalogue records.
#include "engine/header_index.h"

#include <gtest/gtest.h>

#include <array>
#include <random>

namespace tamberlin {
namespace {

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

}  // namespace
}  // namespace tamberlin
