// Reading disk images sector by sector; sources that are not disks, media that
// change under a scan, and media that fail: what the opener refuses and what a
// scan reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <set>

#include "fake_scan_host.h"
#include "engine/scan.h"
#include "engine/sector_source.h"

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

// Memory in which chosen sectors, and every sector from `dead_from` on (a
// stick pulled out mid-scan), cannot be read.
class FailingSource final : public SectorSource {
 public:
  FailingSource(const std::vector<std::uint8_t>& bytes, std::set<std::uint64_t> bad, std::uint64_t dead_from,
                std::uint64_t* reads)
      : inner_(bytes, std::move(bad)), dead_from_(dead_from), reads_(reads) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    ++*reads_;
    return sector >= dead_from_ ? nullptr : inner_.Read_Sector(sector);
  }

 private:
  MemorySectorSource inner_;
  std::uint64_t dead_from_;
  std::uint64_t* reads_;
};

std::set<std::uint64_t> Span(std::uint64_t first, std::uint64_t end, std::uint64_t except = 0) {
  std::set<std::uint64_t> out;
  for (std::uint64_t s = first; s < end; ++s) {
    if (s != except) out.insert(s);
  }
  return out;
}

TEST(UnreadableSectorsTest, AreCountedOnceAndAVanishedMediumStopsThePassEarly) {
  constexpr std::uint64_t kNever = ~0ull;
  const struct {
    const char* name;
    RecoveryMode mode;
    std::uint64_t sectors;
    std::set<std::uint64_t> bad;
    std::uint64_t dead_from;
    std::uint64_t reads;  // over both passes
    std::uint64_t unreadable;
  } cases[] = {
      // Both passes meet each bad sector; it counts once.
      {"ScatteredPhoto", RecoveryMode::Photo, 1000, {3, 40, 41, 900}, kNever, 2000, 4},
      {"ScatteredRaw", RecoveryMode::RawFile, 1000, {3, 40, 41, 900}, kNever, 2000, 4},
      // One short of the give-up run, or two runs split by one good sector:
      // a bad patch, not a lost medium.
      {"LongBadPatch", RecoveryMode::Photo, 4000, Span(100, 100 + 2047), kNever, 8000, 2047},
      {"RunsSplitByAGoodSector", RecoveryMode::RawFile, 5000, Span(100, 4000, 2000), kNever, 10000, 3899},
      // Gone at sector 100: the general pass ends one run later, no thorough pass.
      {"VanishedPhoto", RecoveryMode::Photo, 100000, {}, 100, 100 + 2048, 2048},
      {"VanishedRaw", RecoveryMode::RawFile, 100000, {}, 100, 100 + 2048, 2048},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes(c.sectors * kSectorSize, 0);
    bytes[10 * kSectorSize] = 0xFF, bytes[10 * kSectorSize + 1] = 0xD8, bytes[10 * kSectorSize + 2] = 0xFF;
    std::uint64_t reads = 0;
    ScanState state;
    testing::FakeScanHost host;
    ScanJob job;
    job.mode = c.mode;
    job.state = &state;
    job.host = &host;
    job.counts = &host.summary;
    job.settings.disk_identifier = "/scratch/card.img";
    job.settings.sectors_val = c.sectors;
    job.settings.Thro_Mode_Chk = job.settings.Thro_Mode_Chk_SIG = true;
    job.general_records = job.thorough_records = {Make_Record("JPG", "10000000", "FFD8FF", "1", "-", "d", 0xFF)};
    host.summary.createSignatureListTableRecord("JPG", 0, "", "", "JPG");
    job.open_source = [&](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      return std::make_unique<FailingSource>(bytes, c.bad, c.dead_from, &reads);
    };
    c.mode == RecoveryMode::Photo ? Photo_Rec_Thread(job) : Raw_File_Rec_Thread(job);

    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(state.unreadable_sectors.load(), c.unreadable);
    EXPECT_EQ(host.final_screens, 1);
    ASSERT_FALSE(host.items.empty());  // what was found before the fault is kept
    EXPECT_EQ(host.items[0].start, 10u);
    if (c.dead_from == kNever) {
      EXPECT_TRUE(host.alerts.empty());
      continue;
    }
    EXPECT_EQ(host.items[0].end, c.dead_from);  // not padded with the dead run
    ASSERT_EQ(host.alerts.size(), 1u);
    EXPECT_EQ(host.alerts[0], kStorageReadError);
    EXPECT_NE(host.informatives[0].find("from sector 100 "), std::string::npos) << host.informatives[0];
  }
}

}  // namespace
}  // namespace tamberlin
