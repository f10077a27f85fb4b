#include "sector_range.h"

#include <gtest/gtest.h>

namespace tamberlin {
namespace {

struct RangeCase {
  const char* name;
  const char* start;
  const char* end;
  const char* count;
  int step;  // 0: valid
};

class SectorRangeTest : public ::testing::TestWithParam<RangeCase> {};

TEST_P(SectorRangeTest, FirstFailingStepWins) {
  const auto& c = GetParam();
  const auto problem = Validate_Sector_Range(c.start, c.end, c.count);
  EXPECT_EQ(problem ? problem->step : 0, c.step);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SectorRangeTest,
    ::testing::Values(
        RangeCase{"WholeMedium", "0", "100", "100", 0},
        RangeCase{"EmptyStart", "", "100", "100", 1},
        RangeCase{"StartTrailingSpace", "12 ", "100", "100", 1},
        RangeCase{"NegativeStart", "-5", "100", "100", 1},
        RangeCase{"ExponentStart", "1e3", "100", "100", 1},
        RangeCase{"StartPaddedWithinLength", "007", "100", "100", 0},
        RangeCase{"StartLongerThanCount", "0007", "100", "100", 2},
        RangeCase{"StartAboveCount", "101", "100", "100", 3},
        RangeCase{"BadEnd", "0", "1x", "100", 4},
        RangeCase{"EmptyEnd", "0", "", "100", 4},
        RangeCase{"EndLongerThanCount", "0", "0100", "100", 5},
        RangeCase{"EndAboveCount", "0", "101", "100", 6},
        RangeCase{"EndEqualsStart", "50", "50", "100", 7},
        RangeCase{"EndBeforeStart", "60", "050", "100", 7},
        // Beyond 2^31 and 2^53 sectors the comparison stays exact.
        RangeCase{"LargeMediumValid", "3000000000", "3900000000", "3907029168", 0},
        RangeCase{"LargeEndJustAbove", "0", "9007199254740993", "9007199254740992", 6},
        RangeCase{"LargeEndAfterStartByOne", "9007199254740992", "9007199254740993", "9007199254740993", 0}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(SectorRangeMessagesTest, TextsAndFocus) {
  const auto start = Validate_Sector_Range("0007", "1", "100").value();
  EXPECT_EQ(start.message, "\nMaximum sector range exceeded");
  EXPECT_EQ(start.informative, "Please enter valid Start Sector value.");
  EXPECT_EQ(start.focus, RangeProblem::Field::Start);
  const auto order = Validate_Sector_Range("5", "5", "100").value();
  EXPECT_EQ(order.message, "\nEnd Sector should be greater than Start Sector.");
  EXPECT_EQ(order.informative, "");
  EXPECT_EQ(order.focus, RangeProblem::Field::End);
  EXPECT_EQ(Validate_Sector_Range("", "5", "100")->message, "\nPlease enter valid Start Sector value.");
  EXPECT_EQ(Validate_Sector_Range("1", "a", "100")->message, "\nPlease enter valid End Sector value.");
}

TEST(SectorRangeDigitsTest, CheckAndParse) {
  EXPECT_TRUE(Check_For_Valid_Sec(""));
  EXPECT_TRUE(Check_For_Valid_Sec("0123"));
  EXPECT_FALSE(Check_For_Valid_Sec("12 "));
  EXPECT_EQ(Parse_Sector("18446744073709551615"), UINT64_MAX);
  EXPECT_EQ(Parse_Sector("99999999999999999999999"), UINT64_MAX);
  EXPECT_EQ(Parse_Sector("42"), 42u);
}

}  // namespace
}  // namespace tamberlin
