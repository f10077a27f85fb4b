#include "hex.h"

#include <gtest/gtest.h>

namespace tamberlin {
namespace {

struct HexCase {
  const char* text;
  std::int32_t value;
};

class Hex2IntTest : public ::testing::TestWithParam<HexCase> {};

TEST_P(Hex2IntTest, Converts) { EXPECT_EQ(hex2int(GetParam().text), GetParam().value); }

INSTANTIATE_TEST_SUITE_P(
    Table, Hex2IntTest,
    ::testing::Values(HexCase{"FF", 255}, HexCase{"ff", 255}, HexCase{"fF", 255},
                      HexCase{"0A", 10}, HexCase{"", 0}, HexCase{"G1", 1}, HexCase{" 1", 1},
                      HexCase{"1G", 16}, HexCase{"7FFFFFFF", 2147483647},
                      HexCase{"FFFFFFFF", -1}, HexCase{"80000000", INT32_MIN},
                      HexCase{"504B", 0x504B}, HexCase{"00", 0}));

TEST(Hex2DecTest, OnlyTheFirstCharacterCounts) {
  EXPECT_EQ(hex2dec("9zz"), 9);
  EXPECT_EQ(hex2dec("a"), 10);
  EXPECT_EQ(hex2dec("F"), 15);
  for (const char* zero : {"G", " ", "z", "0", "", "-"}) EXPECT_EQ(hex2dec(zero), 0) << zero;
}

}  // namespace
}  // namespace tamberlin
