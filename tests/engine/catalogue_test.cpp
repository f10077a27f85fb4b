// The catalogue files' text format.
#include "engine/catalogue.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>

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

}  // namespace
}  // namespace tamberlin
