#include "catalogue.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace tamberlin {
namespace {

struct ParseCase {
  const char* name;
  const char* text;
  StringList expected;
};

class ParseCatalogueTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseCatalogueTest, Parses) {
  EXPECT_EQ(Parse_Catalogue_Text(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ParseCatalogueTest,
    ::testing::Values(
        ParseCase{"JpgGroup",
                  "Extension : .jpg\nSize : 20000000\nHeader : FFD8FFE0\nPosition : 1\n"
                  "Footer : FFD9\nDescription : JPEG picture\n",
                  {"JPG", "20000000", "FFD8FFE0", "1", "FFD9", "JPEG picture", "255"}},
        ParseCase{"HeaderWithoutSpaceIsNoHeaderLine",
                  "E : .a\nS : 1\nHeader: FFD8\nP : 1\nF : -\nD : d\n",
                  {"A", "1", "FFD8", "1", "-", "d", ""}},
        ParseCase{"LowerCaseHeaderTrimmed",
                  "E : x\nS : 1\nHeader :    ffd8   \nP : nn\nF : -\nD : d\n",
                  {"x", "1", "ffd8", "nn", "-", "d", "255"}},
        ParseCase{"DotRuleUpperCasesAfterFirstDot",
                  "E : *.jpg\nS : Version 1.5 format\nHeader : 00\nP : 1\nF : a.b.c\nD : d\n",
                  {"JPG", "5 FORMAT", "00", "1", "B.C", "d", "0"}},
        ParseCase{"LinesWithoutColonDoNotBreakGroup",
                  "# photo types\n\nE : .png\nS : 1\n\ncomment\nHeader : 89504E47\nP : 1\n"
                  "F : -\n\nD : PNG picture\n",
                  {"PNG", "1", "89504E47", "1", "-", "PNG picture", "137"}},
        ParseCase{"WindowsLineEnds",
                  "E : .gif\r\nS : 5\r\nHeader : 474946\r\nP : 1\r\nF : 3B\r\nD : GIF\r\n",
                  {"GIF", "5", "474946", "1", "3B", "GIF", "71"}},
        ParseCase{"CarriageReturnAloneDoesNotSplit", "E : a\rS : b\nS : 1\nH : 2\nP : 1\nF : -\nD : d\n",
                  {"a\rS : b", "1", "2", "1", "-", "d", ""}},
        ParseCase{"KeyEndsAtFirstColon", "E : a:b\nS : 1\nHeader : 0102\nP : 1\nF : -\nD : d\n",
                  {"a:b", "1", "0102", "1", "-", "d", "1"}},
        ParseCase{"ShortHeaderValueGivesEmptyFirstByte",
                  "E : a\nS : 1\nHeader : F\nP : 1\nF : -\nD : d\n",
                  {"a", "1", "F", "1", "-", "d", ""}},
        ParseCase{"FirstByteResetsBetweenGroups",
                  "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\n"
                  "E : b\nS : 1\nH : 10\nP : 1\nF : -\nD : d\n",
                  {"a", "1", "FF", "1", "-", "d", "255", "b", "1", "10", "1", "-", "d", ""}},
        ParseCase{"TrailingPartialGroupDropped",
                  "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\nE : b\nS : 2\n",
                  {"a", "1", "FF", "1", "-", "d", "255"}},
        ParseCase{"EmptyText", "", {}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(LoadCatalogueFileTest, MissingFileGivesEmptyList) {
  EXPECT_TRUE(Load_Catalogue_File("/nonexistent/USBExt2.dll").empty());
}

TEST(LoadCatalogueFileTest, LoadsAllSixListsFromAFolder) {
  const auto dir = std::filesystem::path(::testing::TempDir()) / "catalogue_load";
  std::filesystem::create_directories(dir);
  std::ofstream(dir / kRawCatalogue) << "E : .doc\nS : 1\nHeader : D0CF\nP : 1\nF : -\nD : Word\n";
  const Catalogue c = Catalogue::Load(dir);
  EXPECT_EQ(Record_Count(c.RawFile_Array), 1u);
  EXPECT_TRUE(c.Ext_Array.empty());
  EXPECT_TRUE(c.Video_Array.empty());
  EXPECT_EQ(&c.General(RecoveryMode::RawFile), &c.RawFile_Array);
  EXPECT_EQ(&c.Thorough(RecoveryMode::Video), &c.Adv_Video_Array);
}

StringList Rec(const std::string& type, const std::string& sig) {
  return {type, "1", sig, "1", "-", "d", "0"};
}

StringList Join(std::initializer_list<StringList> parts) {
  StringList out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(CheckListHeadersTest, UncheckedTypeLosesEveryRecordIncludingAdjacentOnes) {
  const StringList general =
      Join({Rec("DOC", "D0"), Rec("PDF", "25"), Rec("PDF", "26"), Rec("PDF", "27"), Rec("ZIP", "50")});
  const StringList thorough = Join({Rec("PDF", "28"), Rec("ZIP", "51")});
  const auto lists = Fill_CheckListHeaders(general, thorough, {"PDF"});
  EXPECT_EQ(lists.CheckListHeader_Array, Join({Rec("DOC", "D0"), Rec("ZIP", "50")}));
  EXPECT_EQ(lists.CheckListHeader_Adv_Array, Rec("ZIP", "51"));
}

TEST(CheckListHeadersTest, EmptyVideoListsStayEmpty) {
  const auto lists = Fill_CheckListHeaders({}, {}, {});
  EXPECT_TRUE(lists.CheckListHeader_Array.empty());
  EXPECT_TRUE(lists.CheckListHeader_Adv_Array.empty());
}

}  // namespace
}  // namespace tamberlin
