// The item's bytes over unreadable sectors and searches that straddle blocks.
#include "recovery/item_bytes.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <span>
#include <string_view>

#include "recovery/item_fixture.h"
#include "recovery/recover.h"

namespace tamberlin::recovery {
namespace {

// A PDF of about 43 KB saved twice: the first revision's %%EOF lies near
// its start, as incremental saves leave it.
QByteArray Pdf_Saved_Twice() {
  QByteArray pdf = "%PDF-1.4\n" + QByteArray(1000, 'r') + "\n%%EOF\n";
  while (pdf.size() < 43000) pdf += "a line of page text in the second revision\n";
  return pdf + "%%EOF\n";
}

std::set<std::uint64_t> Sectors(std::uint64_t first, std::uint64_t count) {
  std::set<std::uint64_t> out;
  for (std::uint64_t s = first; s < first + count; ++s) out.insert(s);
  return out;
}

TEST(ItemBytesTest, RunsOfUnreadableSectorsAreZerosAndOnlyTheMediumsSizeEndsTheItem) {
  const QByteArray pdf = Pdf_Saved_Twice();
  const std::uint64_t medium = (pdf.size() + 4096 + 511) / 512 * 512;
  const struct {
    const char* why;
    std::set<std::uint64_t> bad;
  } cases[] = {
      {"one bad sector", {4}},
      {"two in a row", Sectors(4, 2)},
      {"a long run", Sectors(10, 40)},
      {"a run up to the medium's last sector", Sectors(medium / 512 - 3, 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::Item item(pdf, testing::Garbage(4096), 0, 0, c.bad);
    EXPECT_EQ(Find_Pdf_End(item.bytes()).length, static_cast<std::uint64_t>(pdf.size()));
    std::vector<std::uint8_t> buf(4096);
    EXPECT_EQ(item.bytes().Read(medium - 10, buf.data(), buf.size()), 10u);
    EXPECT_EQ(item.bytes().Zero_Filled_Sectors(), c.bad.size());
    EXPECT_EQ(item.bytes().Read(*c.bad.begin() * 512 + 255, buf.data(), 2), 2u);
    EXPECT_EQ(buf[0] | buf[1], 0) << "an unreadable sector reads as zeros";
  }
}

TEST(ItemBytesTest, TwoUnreadableSectorsInARowDoNotCutARecoveredPdf) {
  const QByteArray pdf = Pdf_Saved_Twice();
  std::vector<std::uint8_t> medium(pdf.begin(), pdf.end());
  const std::uint64_t pdf_size = medium.size();
  medium.resize((medium.size() / 512 + 8) * 512, 'g');
  MemorySectorSource source(medium, {4, 5});
  RecoveryItem item;
  item.name = "GND00001.PDF";
  item.type = "PDF";
  item.end_sector = medium.size() / 512;
  QTemporaryDir folder;
  RecoveryProgress progress;
  const auto out = Recover_Items(source, {item}, folder.path().toStdString(), progress);
  ASSERT_EQ(out.rows.size(), 1u);
  EXPECT_EQ(out.rows[0].bytes_written, pdf_size);
  EXPECT_EQ(out.rows[0].zero_filled_sectors, 2u);
  EXPECT_NE(out.rows[0].note.find("2 unreadable sectors written as zeros"), std::string::npos) << out.rows[0].note;
}

// A pattern at every offset across the first block edge, and a second one further on.
TEST(ItemBytesTest, PatternsThatStraddleBlocksAreFoundFirstAndLast) {
  const std::string_view pat = "%%EOF";
  const std::span p(reinterpret_cast<const std::uint8_t*>(pat.data()), pat.size());
  for (std::uint64_t at = 65536 - 6; at <= 65536 + 1; ++at) {
    SCOPED_TRACE(at);
    QByteArray file(300000, '.');
    file.replace(static_cast<int>(at), 5, "%%EOF").replace(200000, 5, "%%EOF");
    testing::Item item(file);
    EXPECT_EQ(item.bytes().Find(pat, 0, item.bytes().Range()), at);
    EXPECT_EQ(item.bytes().Find_Last(p, 0, item.bytes().Range()), 200000u);
    EXPECT_EQ(item.bytes().Find_Last(p, 0, 200000), at);  // must start below `to`
    EXPECT_EQ(item.bytes().Find(pat, 0, at), ItemBytes::npos);
    EXPECT_EQ(item.bytes().Find(pat, at + 1, 199999), ItemBytes::npos);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
