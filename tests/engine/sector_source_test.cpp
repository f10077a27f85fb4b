// Reading disk images sector by sector: what the opener refuses (sources that
// are not disks, media that change under a scan).
#include "engine/sector_source.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>

namespace tamberlin {
namespace {

namespace fs = std::filesystem;

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("source_faults_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir / "folder");
  }
  void TearDown() override { fs::remove_all(dir); }
  static void Write(const fs::path& p, std::size_t sectors, char fill = 'a') {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << std::string(sectors * kSectorSize, fill);
  }
  fs::path dir;
};

// Sector s holds the byte (s % 251) + 1 throughout, so any misplaced read shows.
TEST_F(ScratchTest, ReadsAcrossBlocksAndNotPastTheLastWholeSector) {
  const std::uint64_t n = FileSectorSource::kBlockSectors * 2 + 5;
  const fs::path image = dir / "card.img";
  {
    std::ofstream out(image, std::ios::binary | std::ios::trunc);
    for (std::uint64_t s = 0; s < n; ++s) out << std::string(kSectorSize, static_cast<char>(s % 251 + 1));
    out << std::string(100, '\x7f');
  }
  fs::permissions(image, fs::perms::owner_read);  // read-only is enough
  std::string why;
  auto src = FileSectorSource::Open(image, &why);
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
}

TEST_F(ScratchTest, OnlyRegularFilesAndBlockDevicesOpenAndNothingWaits) {
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: a blocking open never returns
  Write(dir / "card.img", 4);
  const struct {
    std::string path, in_why;  // in_why empty: opens
  } cases[] = {
      {(dir / "card.img").string(), ""},
      {(dir / "folder").string(), "is a folder, not a disk or disk image"},
      {(dir / "fifo").string(), "is not a disk or disk image"},
      {"/dev/zero", "is not a disk or disk image"},
      {(dir / "missing.img").string(), "file not found"},
      {"/dev/tamberlin-no-such-disk", "does not exist"},
  };
  for (const auto& c : cases) {
    std::string why;
    auto source = FileSectorSource::Open(c.path, &why);
    EXPECT_EQ(source == nullptr, !c.in_why.empty()) << c.path;
    EXPECT_NE(why.find(c.in_why), std::string::npos) << c.path << ": " << why;
    // The non-blocking open must not leak into the reads.
    if (source) {
      EXPECT_NE(source->Read_Sector(3), nullptr);
    }
  }
}

TEST_F(ScratchTest, ALaterOpenRefusesAMediumThatChangedSinceTheScanStarted) {
  const fs::path image = dir / "card.img";
  const struct {
    const char* name;
    std::function<void()> change;
    bool refused;
  } cases[] = {
      {"Untouched", [] {}, false},
      {"ReplacedByRename", [&] {
         Write(dir / "other.img", 8, 'b');
         fs::rename(dir / "other.img", image);
       }, true},
      {"Grown", [&] { std::ofstream(image, std::ios::binary | std::ios::app) << std::string(512, 'c'); }, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Write(image, 8);
    std::string why;
    const SourceOpener open = Same_Medium_Opener(File_Opener(), Read_Medium_Identity(image.string(), &why));
    ASSERT_TRUE(open(image.string(), &why)) << why;
    c.change();
    EXPECT_EQ(open(image.string(), &why) == nullptr, c.refused);
    if (c.refused) {
      EXPECT_NE(why.find("has changed since the scan started"), std::string::npos) << why;
    }
  }
}

}  // namespace
}  // namespace tamberlin
