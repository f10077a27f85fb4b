#include "sector_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace tamberlin {
namespace {

class FileSectorSourceTest : public ::testing::Test {
 protected:
  // Sector s holds the byte (s % 251) + 1 throughout, so any misplaced read shows.
  void Image(std::uint64_t sectors, std::size_t tail_bytes = 0) {
    path = std::filesystem::path(::testing::TempDir()) / ("source_" + std::to_string(::getpid()) + ".img");
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::uint64_t s = 0; s < sectors; ++s) {
      const std::string sector(kSectorSize, static_cast<char>(s % 251 + 1));
      out << sector;
    }
    out << std::string(tail_bytes, '\x7f');
  }
  void TearDown() override { std::filesystem::remove(path); }
  static int Byte(std::uint64_t s) { return static_cast<int>(s % 251 + 1); }

  std::filesystem::path path;
};

TEST_F(FileSectorSourceTest, ReadsEverySectorAcrossBlockBoundariesInAnyOrder) {
  const std::uint64_t n = FileSectorSource::kBlockSectors * 2 + 5;
  Image(n);
  std::string why;
  auto src = FileSectorSource::Open(path, &why);
  ASSERT_TRUE(src) << why;
  for (std::uint64_t s : {std::uint64_t{0}, std::uint64_t{1}, FileSectorSource::kBlockSectors - 1,
                          FileSectorSource::kBlockSectors, n - 1, std::uint64_t{3}}) {
    const std::uint8_t* p = src->Read_Sector(s);
    ASSERT_NE(p, nullptr) << s;
    EXPECT_EQ(p[0], Byte(s)) << s;
    EXPECT_EQ(p[kSectorSize - 1], Byte(s)) << s;
  }
}

TEST_F(FileSectorSourceTest, PartialLastSectorAndBeyondTheEndAreUnreadable) {
  Image(3, 100);
  auto src = FileSectorSource::Open(path, nullptr);
  ASSERT_TRUE(src);
  EXPECT_NE(src->Read_Sector(2), nullptr);
  EXPECT_EQ(src->Read_Sector(3), nullptr);
  EXPECT_EQ(src->Read_Sector(4), nullptr);
  EXPECT_EQ(src->Read_Sector(1u << 30), nullptr);
  EXPECT_EQ(src->Read_Sector(0)[0], Byte(0));
}

TEST_F(FileSectorSourceTest, OpensAReadOnlyFile) {
  Image(2);
  std::filesystem::permissions(path, std::filesystem::perms::owner_read);
  auto src = FileSectorSource::Open(path, nullptr);
  ASSERT_TRUE(src);
  EXPECT_EQ(src->Read_Sector(1)[0], Byte(1));
}

TEST_F(FileSectorSourceTest, MissingFileSaysWhatToDo) {
  std::string why;
  EXPECT_FALSE(FileSectorSource::Open("/dev/tamberlin-no-such-disk", &why));
  EXPECT_NE(why.find("does not exist"), std::string::npos) << why;
}

TEST_F(FileSectorSourceTest, UnreadableForUserMentionsTheDiskGroup) {
  if (::geteuid() == 0) GTEST_SKIP() << "root can read anything";
  Image(2);
  std::filesystem::permissions(path, std::filesystem::perms::none);
  std::string why;
  EXPECT_FALSE(FileSectorSource::Open(path, &why));
  EXPECT_NE(why.find("disk"), std::string::npos) << why;
}

TEST(MemorySectorSourceTest, ChosenSectorsAndPastTheEndFail) {
  MemorySectorSource src(std::vector<std::uint8_t>(3 * kSectorSize, 1), {1});
  EXPECT_NE(src.Read_Sector(0), nullptr);
  EXPECT_EQ(src.Read_Sector(1), nullptr);
  EXPECT_NE(src.Read_Sector(2), nullptr);
  EXPECT_EQ(src.Read_Sector(3), nullptr);
}

}  // namespace
}  // namespace tamberlin
