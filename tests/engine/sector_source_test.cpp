#include "engine/sector_source.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tamberlin {
namespace {

// Sector s holds the byte (s % 251) + 1 throughout, so any misplaced read shows.
std::filesystem::path Image(std::uint64_t sectors, std::size_t tail_bytes) {
  const auto path = std::filesystem::path(::testing::TempDir()) / ("source_" + std::to_string(::getpid()) + ".img");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  for (std::uint64_t s = 0; s < sectors; ++s) out << std::string(kSectorSize, static_cast<char>(s % 251 + 1));
  out << std::string(tail_bytes, '\x7f');
  return path;
}

TEST(FileSectorSourceTest, ReadsAcrossBlocksAndNotPastTheLastWholeSector) {
  const std::uint64_t n = FileSectorSource::kBlockSectors * 2 + 5;
  const auto path = Image(n, 100);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);  // read-only is enough
  std::string why;
  auto src = FileSectorSource::Open(path, &why);
  ASSERT_TRUE(src) << why;
  for (std::uint64_t s : {std::uint64_t{0}, FileSectorSource::kBlockSectors - 1, FileSectorSource::kBlockSectors, n - 1,
                          std::uint64_t{3}}) {
    const std::uint8_t* p = src->Read_Sector(s);
    ASSERT_NE(p, nullptr) << s;
    EXPECT_EQ(p[0], s % 251 + 1) << s;
    EXPECT_EQ(p[kSectorSize - 1], s % 251 + 1) << s;
  }
  EXPECT_EQ(src->Read_Sector(n), nullptr) << "the partial last sector";
  EXPECT_EQ(src->Read_Sector(std::uint64_t{1} << 40), nullptr);
  std::filesystem::remove(path);
}

TEST(FileSectorSourceTest, MissingDeviceSaysSo) {
  std::string why;
  EXPECT_FALSE(FileSectorSource::Open("/dev/tamberlin-no-such-disk", &why));
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
}

}  // namespace
}  // namespace tamberlin
