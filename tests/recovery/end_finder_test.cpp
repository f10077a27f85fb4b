// End markers of catalogue footers.
#include "recovery/end_finder.h"

#include <gtest/gtest.h>

#include <span>

#include "recovery/item_fixture.h"

namespace tamberlin::recovery {
namespace {

TEST(EndMarkerTest, LastMarkerInsideTheRangeElseFirstAfterIt) {
  const std::uint8_t marker[] = {0x00, 0x00, 0x01, 0xB9};
  QByteArray file(4096, 'm');
  file.replace(1000, 4, QByteArray::fromHex("000001B9"));
  file.replace(3000, 4, QByteArray::fromHex("000001B9"));
  testing::Item in_range(file, {}, 4096);
  EXPECT_EQ(Find_End_Marker(in_range.bytes(), marker).length, 3004u);

  testing::Item beyond(file, {}, 512, 8192);  // the range holds no marker
  EXPECT_EQ(Find_End_Marker(beyond.bytes(), marker).length, 1004u);

  testing::Item none(QByteArray(2048, 'm'), {}, 512, 2048);
  EXPECT_FALSE(Find_End_Marker(none.bytes(), marker).found());
}

TEST(EndMarkerTest, TextMarkerKeepsItsLineEndingBinaryMarkerDoesNot) {
  const std::uint8_t brace[] = {'}'};
  const std::uint8_t binary[] = {0x00, 0x00, 0x01, 0xB9};
  const struct {
    QByteArray file;
    std::span<const std::uint8_t> marker;
    std::uint64_t length;
  } cases[] = {
      {"{\\rtf1 text}\n", brace, 13},
      {"{\\rtf1 text}\r\n", brace, 14},
      {"{\\rtf1 text}\r", brace, 13},
      {"{\\rtf1 text}", brace, 12},
      {QByteArray::fromHex("000001BA11000001B90A"), binary, 9},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.file.toStdString());
    testing::Item item(c.file, {}, 512);
    EXPECT_EQ(Find_End_Marker(item.bytes(), c.marker).length, c.length);
  }
}

}  // namespace
}  // namespace tamberlin::recovery
