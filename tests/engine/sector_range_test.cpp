// The sector range the user types, and the decimal readings under it.
#include "engine/sector_range.h"

#include <gtest/gtest.h>

#include <tuple>

#include "engine/decimal.h"

namespace tamberlin {
namespace {

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
