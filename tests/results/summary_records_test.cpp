#include "summary_records.h"

#include <gtest/gtest.h>

#include <thread>

namespace tamberlin {
namespace {

class SummaryRecordsTest : public ::testing::Test {
 protected:
  void Tick(std::initializer_list<const char*> types) {
    for (const char* t : types) summary.createSignatureListTableRecord(t, 0, "", "", t);
  }
  SignatureListRecord Row(std::size_t i) { return summary.At(i).value(); }
  SignatureList summary;
};

TEST_F(SummaryRecordsTest, SetUpGivesZeroRowsInOrder) {
  Tick({"DOC", "PDF"});
  ASSERT_EQ(summary.size(), 2u);
  EXPECT_EQ(Row(0).FileTypes, "DOC");
  EXPECT_EQ(Row(1).FileTypes, "PDF");
  EXPECT_EQ(Row(0).NoOfFile, "0");
  EXPECT_EQ(Row(0).FileName, "");
  EXPECT_EQ(Row(0).FilePath, "");
}

TEST_F(SummaryRecordsTest, CountingReplacesTheRowWithLatestName) {
  Tick({"DOC", "PDF"});
  EXPECT_TRUE(summary.Count_Item("DOC00001.DOC"));
  EXPECT_TRUE(summary.Count_Item("DOC00002.DOC"));
  EXPECT_EQ(Row(0).NoOfFile, "2");
  EXPECT_EQ(Row(0).FileName, "DOC00002.DOC");
  EXPECT_EQ(Row(0).FilePath, "DOC00002.DOC");
  EXPECT_EQ(Row(1).NoOfFile, "0");
}

TEST_F(SummaryRecordsTest, TenthItemHasNoLeadingZeros) {
  Tick({"PDF"});
  for (int i = 0; i < 10; ++i) summary.Count_Item("PDF0000" + std::to_string(i) + ".PDF");
  EXPECT_EQ(Row(0).NoOfFile, "10");
}

TEST_F(SummaryRecordsTest, OnlyTheFirstOfTwoRowsWithOneKeyCounts) {
  Tick({"DOC", "DOC"});
  summary.Count_Item("DOC00001.DOC");
  EXPECT_EQ(Row(0).NoOfFile, "1");
  EXPECT_EQ(Row(1).NoOfFile, "0");
}

TEST_F(SummaryRecordsTest, ExtensionIsTextAfterLastDotCaseSensitive) {
  Tick({"GZ", "gz"});
  EXPECT_TRUE(summary.Count_Item("TAR00001.TAR.gz"));
  EXPECT_FALSE(summary.Count_Item("ZIP00001.ZIP"));
  EXPECT_EQ(Row(0).NoOfFile, "0");
  EXPECT_EQ(Row(1).NoOfFile, "1");
}

TEST_F(SummaryRecordsTest, RowOutsideTheListGivesNothing) {
  Tick({"DOC"});
  EXPECT_FALSE(summary.At(1).has_value());
  EXPECT_FALSE(Row(0).Value("NoSuchColumn").has_value());
  EXPECT_EQ(Row(0).Value("FileTypes_Hidden"), "DOC");
}

// Naming reads the count while the scan thread counts: every count made
// before a read must be visible, and none may be lost.
TEST_F(SummaryRecordsTest, ConcurrentCountingLosesNothing) {
  Tick({"JPG", "PNG"});
  std::thread a([&] { for (int i = 0; i < 5000; ++i) summary.Count_Item("JPG00001.JPG"); });
  std::thread b([&] {
    for (int i = 0; i < 5000; ++i) {
      summary.Count_Item("PNG00001.PNG");
      (void)summary.Snapshot();
    }
  });
  a.join();
  b.join();
  EXPECT_EQ(summary.NoOfFile("JPG"), 5000u);
  EXPECT_EQ(summary.NoOfFile("PNG"), 5000u);
}

}  // namespace
}  // namespace tamberlin
