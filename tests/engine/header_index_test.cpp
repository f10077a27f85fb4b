#include "header_index.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>

namespace tamberlin {
namespace {

using Sector = std::array<std::uint8_t, kSectorSize>;

StringList Rec(const std::string& type, const std::string& sig, const std::string& pos,
               const std::string& first_byte) {
  return {type, "1000", sig, pos, "-", "d", first_byte};
}

Sector With(std::size_t at, std::initializer_list<std::uint8_t> bytes, std::uint8_t fill = 0x11) {
  Sector s;
  s.fill(fill);
  std::size_t i = at;
  for (auto b : bytes) s[i++] = b;
  return s;
}

struct HeaderCase {
  const char* name;
  StringList record;
  Sector sector;
  bool matches;
};

class HeaderTestTable : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTestTable, MatchesLikeTheRule) {
  const auto& c = GetParam();
  EXPECT_EQ(Header_Test(Decode_Record(c.record, 0), c.sector.data()), c.matches);
  EXPECT_EQ(HeaderIndex(c.record).Find(c.sector.data()) == 0, c.matches);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HeaderTestTable,
    ::testing::Values(
        HeaderCase{"StartMatches", Rec("JPG", "FFD8FF", "1", "255"), With(0, {0xFF, 0xD8, 0xFF}), true},
        HeaderCase{"StartNeedsByteZero", Rec("JPG", "FFD8FF", "1", "255"), With(1, {0xFF, 0xD8, 0xFF}), false},
        HeaderCase{"LowerCaseSignature", Rec("JPG", "ffd8ff", "1", "255"), With(0, {0xFF, 0xD8, 0xFF}), true},
        HeaderCase{"FirstByteComesFromElementSix", Rec("X", "FFD8", "1", ""), With(0, {0xFF, 0xD8}), false},
        HeaderCase{"EmptyFirstByteMatchesZero", Rec("X", "00AA", "1", ""), With(0, {0x00, 0xAA}), true},
        HeaderCase{"RunToleratesLeadingRepeats", Rec("JPG", "FFD8FF", "nn", "255"),
                   With(0, {0xFF, 0xFF, 0xFF, 0xD8, 0xFF}), true},
        HeaderCase{"RunStillNeedsFirstByteAtZero", Rec("JPG", "FFD8FF", "nn", "255"),
                   With(1, {0xFF, 0xD8, 0xFF}), false},
        HeaderCase{"RunBreaksOnOtherByte", Rec("JPG", "FFD8FF", "nn", "255"),
                   With(0, {0xFF, 0xD8, 0x00, 0xFF, 0xD8, 0xFF}), false},
        HeaderCase{"RunAcrossTheSectorEnd", Rec("X", "AAAB", "nn", "170"), With(0, {}, 0xAA), false},
        HeaderCase{"RunEmptySignatureMatchesOnFirstByte", Rec("X", "", "nn", "17"), With(0, {}), true},
        HeaderCase{"StartEmptySignatureNeverMatches", Rec("X", "", "1", "17"), With(0, {}), false},
        HeaderCase{"OffsetNine", Rec("WAV", "57415645", "9", "87"), With(8, {'W', 'A', 'V', 'E'}), true},
        HeaderCase{"OffsetNineNotAtEight", Rec("WAV", "57415645", "9", "87"), With(9, {'W', 'A', 'V', 'E'}), false},
        HeaderCase{"Offset507TriedAtByte506", Rec("X", "AB", "507", "171"), With(506, {0xAB}), true},
        HeaderCase{"Offset507NeedsWholeHeaderInside", Rec("X", "ABCD", "507", "171"), With(506, {0xAB, 0xCD}), true},
        HeaderCase{"Offset508NeverMatches", Rec("X", "AB", "508", "171"), With(507, {0xAB}), false},
        HeaderCase{"HeaderPastSectorEnd", Rec("X", "ABCDEF", "510", "171"), With(509, {0xAB, 0xCD, 0xEF}), false},
        HeaderCase{"OffsetLeadingInteger", Rec("TAR", "7573746172", "258 (ustar)", "117"),
                   With(257, {'u', 's', 't', 'a', 'r'}), true},
        HeaderCase{"OffsetWithoutNumberIsBeforeTheSector", Rec("X", "11", "abc", "17"), With(0, {}), false},
        HeaderCase{"OffsetZeroIsBeforeTheSector", Rec("X", "11", "0", "17"), With(0, {}), false},
        HeaderCase{"NonHexDigitCountsAsZero", Rec("X", "G1", "1", "1"), With(0, {0x01}), true}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(HeaderIndexTest, FirstRecordInListOrderWins) {
  StringList list = Rec("A", "5045", "9", "80");  // offset record first
  const auto b = Rec("B", "AA", "1", "170");
  list.insert(list.end(), b.begin(), b.end());
  const HeaderIndex index(list);
  Sector s = With(0, {0xAA});
  EXPECT_EQ(index.Find(s.data()), 1u);
  s[8] = 0x50;
  s[9] = 0x45;
  EXPECT_EQ(index.Find(s.data()), 0u);
}

TEST(HeaderIndexTest, AgreesWithTheRuleOnRandomSectors) {
  StringList list;
  for (const auto& r :
       {Rec("A", "0102", "1", "1"), Rec("B", "0101", "nn", "1"), Rec("C", "0203", "3", "2"),
        Rec("D", "01", "1", "1"), Rec("E", "0302", "nn", "3"), Rec("F", "0100", "2", "1")}) {
    list.insert(list.end(), r.begin(), r.end());
  }
  const HeaderIndex index(list);
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 3);
  for (int round = 0; round < 20000; ++round) {
    Sector s;
    for (auto& b : s) b = static_cast<std::uint8_t>(byte(rng));
    std::size_t expected = HeaderIndex::npos;
    for (std::size_t r = 0; r < index.size(); ++r) {
      if (Header_Test(index[r], s.data())) {
        expected = r;
        break;
      }
    }
    ASSERT_EQ(index.Find(s.data()), expected) << "round " << round;
  }
}

struct FamilyCase {
  const char* name;
  StringList list;
  std::size_t matched;
  std::vector<std::uint32_t> opened;
};

StringList Two(const StringList& a, const StringList& b) {
  StringList out = a;
  out.insert(out.end(), b.begin(), b.end());
  return out;
}

class FamilyTable : public ::testing::TestWithParam<FamilyCase> {};

TEST_P(FamilyTable, OpensTheRelatedLaterRecords) {
  const auto& c = GetParam();
  EXPECT_EQ(HeaderIndex(c.list).Family(c.matched), c.opened);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FamilyTable,
    ::testing::Values(
        FamilyCase{"ShortFirstOpensLonger", Two(Rec("ZIP", "504B", "1", "80"), Rec("DOCX", "504B0304", "1", "80")), 0, {0, 1}},
        FamilyCase{"LongFirstOpensShorter", Two(Rec("DOCX", "504B0304", "1", "80"), Rec("ZIP", "504B", "1", "80")), 0, {0, 1}},
        FamilyCase{"EarlierRecordsNeverOpen", Two(Rec("DOCX", "504B0304", "1", "80"), Rec("ZIP", "504B", "1", "80")), 1, {1}},
        FamilyCase{"LongerLaterNeedsSamePosition", Two(Rec("ZIP", "504B", "1", "80"), Rec("DOCX", "504B0304", "nn", "80")), 0, {0}},
        FamilyCase{"ShorterLaterIgnoresPosition", Two(Rec("DOCX", "504B0304", "1", "80"), Rec("ZIP", "504B", "nn", "80")), 0, {0, 1}},
        FamilyCase{"CaseSensitive", Two(Rec("A", "ffd8", "1", "255"), Rec("B", "FFD8", "1", "255")), 0, {0}},
        FamilyCase{"EmptySignatureContainedInNothing", Two(Rec("A", "FFD8", "1", "255"), Rec("B", "", "1", "255")), 0, {0}}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tamberlin
