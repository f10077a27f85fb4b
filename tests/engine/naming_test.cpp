#include "naming.h"

#include <gtest/gtest.h>

#include "summary_records.h"

namespace tamberlin {
namespace {

struct NameCase {
  std::uint64_t number;
  const char* expected;
};

class FileNameTable : public ::testing::TestWithParam<NameCase> {};

TEST_P(FileNameTable, PadsToFiveDigitsNeverCuts) {
  EXPECT_EQ(Generate_File_Name(GetParam().number, "GND", "JPG"), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, FileNameTable,
                         ::testing::Values(NameCase{0, "GND00000.JPG"}, NameCase{9, "GND00009.JPG"},
                                           NameCase{10, "GND00010.JPG"}, NameCase{999, "GND00999.JPG"},
                                           NameCase{1000, "GND01000.JPG"},
                                           NameCase{99999, "GND99999.JPG"},
                                           NameCase{100000, "GND100000.JPG"},
                                           NameCase{18446744073709551615ull, "GND18446744073709551615.JPG"}),
                         [](const auto& p) { return "N" + std::to_string(p.param.number); });

TEST(FileUidTest, ThoroughAndGeneralPrefixes) {
  EXPECT_EQ(Generate_File_UID_Num(12, true, "PNG"), "THD00012.PNG");
  EXPECT_EQ(Generate_File_UID_Num(12, false, "PNG"), "GND00012.PNG");
  EXPECT_EQ(Generate_File_UID_Num(123456, false, "PNG"), "GND123456.PNG");
}

TEST(FileNameTest, EmptyExtensionEndsInFullStop) {
  EXPECT_EQ(Generate_File_Name(1, "GND", ""), "GND00001.");
}

class RawNamingTest : public ::testing::Test {
 protected:
  void SetUp() override { summary.createSignatureListTableRecord("JPG", 0, "", "", "JPG"); }
  void Record(const std::string& name) { summary.Count_Item(name); }
  SignatureList summary;
};

TEST_F(RawNamingTest, NumbersFromTheTypeCount) {
  Record("JPG00001.JPG");
  Record("JPG00002.JPG");
  EXPECT_EQ(Generate_File_Name(77, "JPG", "JPG", RecoveryMode::RawFile, &summary), "JPG00003.JPG");
  EXPECT_EQ(Generate_File_Name(77, "JPG", "JPG", RecoveryMode::Video, &summary), "JPG00003.JPG");
}

TEST_F(RawNamingTest, UnknownTypeKeepsTheNumberArgument) {
  EXPECT_EQ(Generate_File_Name(7, "DOC", "DOC", RecoveryMode::RawFile, &summary), "DOC00007.DOC");
}

TEST_F(RawNamingTest, PhotoModeNeverConsultsTheCounts) {
  Record("JPG00001.JPG");
  EXPECT_EQ(Generate_File_Name(5, "JPG", "JPG", RecoveryMode::Photo, &summary), "JPG00005.JPG");
}

TEST_F(RawNamingTest, SixDigitsPastTheFiveDigitCount) {
  summary.Clear();
  summary.createSignatureListTableRecord("JPG", 99999, "", "", "JPG");
  EXPECT_EQ(Generate_File_Name(1, "JPG", "JPG", RecoveryMode::RawFile, &summary), "JPG100000.JPG");
}

}  // namespace
}  // namespace tamberlin
