// The summary counts a scan keeps.
#include "results/summary_records.h"

#include <gtest/gtest.h>

#include <thread>

namespace tamberlin {
namespace {

// An item counts toward the first row whose key is the text after the last
// full stop of its name, case and all; the row then shows the latest name.
TEST(SummaryRecordsTest, CountsByTheExactExtension) {
  SignatureList summary;
  for (const char* t : {"GZ", "gz", "DOC", "DOC"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  EXPECT_TRUE(summary.Count_Item("TAR00001.TAR.gz"));
  EXPECT_FALSE(summary.Count_Item("ZIP00001.ZIP"));
  for (int i = 1; i <= 10; ++i) summary.Count_Item("DOC" + std::to_string(i) + ".DOC");
  const auto rows = summary.Snapshot();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].NoOfFile, 0u);
  EXPECT_EQ(rows[1].NoOfFile, 1u);
  EXPECT_EQ(rows[2].NoOfFile, 10u);
  EXPECT_EQ(rows[2].FileName, "DOC10.DOC");
  EXPECT_EQ(rows[3].NoOfFile, 0u);
  EXPECT_FALSE(summary.At(4).has_value());
}

// Regression: a type holding a full stop was never counted, so every item of
// it was named as the first of its type.
TEST(SummaryRecordsTest, TypeWithAFullStopIsCounted) {
  SignatureList summary;
  for (const char* t : {"B.C", "A.B.C"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  EXPECT_TRUE(summary.Count_Item("B.C00001.B.C"));
  EXPECT_TRUE(summary.Count_Item("A.B.C00001.A.B.C"));  // the longest type it ends in
  EXPECT_FALSE(summary.Count_Item("X00001.C"));
  EXPECT_EQ(summary.NoOfFile("B.C"), 1u);
  EXPECT_EQ(summary.NoOfFile("A.B.C"), 1u);
}

// Naming reads the count while the scan thread counts: every count made
// before a read must be visible, and none may be lost.
TEST(SummaryRecordsTest, ConcurrentCountingLosesNothing) {
  SignatureList summary;
  for (const char* t : {"JPG", "PNG"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  std::thread a([&] {
    for (int i = 0; i < 5000; ++i) summary.Count_Item("JPG00001.JPG");
  });
  for (int i = 0; i < 5000; ++i) {
    summary.Count_Item("PNG00001.PNG");
    (void)summary.Snapshot();
  }
  a.join();
  EXPECT_EQ(summary.NoOfFile("JPG"), 5000u);
  EXPECT_EQ(summary.NoOfFile("PNG"), 5000u);
}

}  // namespace
}  // namespace tamberlin
