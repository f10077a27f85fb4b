// Sources that are not disks, media that change under a scan, and media that
// fail: what the opener refuses and what a scan reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <set>

#include "fake_scan_host.h"
#include "scan.h"
#include "sector_source.h"

namespace tamberlin {
namespace {

namespace fs = std::filesystem;

class ScratchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::path(::testing::TempDir()) / ("source_faults_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
  }
  void TearDown() override { fs::remove_all(dir); }
  void Write(const fs::path& p, std::size_t bytes, char fill = 'a') {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << std::string(bytes, fill);
  }
  static fs::path Mkdirs(const fs::path& p) {
    fs::create_directories(p);
    return p;
  }
  fs::path dir;
};

// ---- what may be opened as a medium ------------------------------------------

TEST_F(ScratchTest, OnlyRegularFilesAndBlockDevicesOpenAndNothingWaits) {
  fs::create_directory(dir / "folder");
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);  // no writer: a blocking open would never return
  Write(dir / "card.img", 4 * kSectorSize);
  struct Case {
    std::string path;
    bool opens;
    std::string in_why;
  };
  const std::vector<Case> cases = {
      {(dir / "card.img").string(), true, ""},
      {(dir / "folder").string(), false, "is a folder, not a disk or disk image"},
      {(dir / "fifo").string(), false, "is not a disk or disk image"},
      {"/dev/zero", false, "is not a disk or disk image"},
      {"/dev/null", false, "is not a disk or disk image"},
      {(dir / "missing.img").string(), false, "file not found"},
      {"/dev/tamberlin-no-such-disk", false, "does not exist"},
  };
  for (const Case& c : cases) {
    std::string why;
    auto source = FileSectorSource::Open(c.path, &why);
    EXPECT_EQ(source != nullptr, c.opens) << c.path;
    EXPECT_NE(why.find(c.in_why), std::string::npos) << c.path << ": " << why;
    // An opened medium reads normally: the non-blocking open must not leak
    // into the reads.
    if (source) {
      EXPECT_NE(source->Read_Sector(3), nullptr) << c.path;
    }
  }
}

// ---- the medium must stay the one the scan started on ---------------------------

TEST_F(ScratchTest, ALaterOpenRefusesAMediumThatChangedSinceTheScanStarted) {
  struct Case {
    const char* name;
    std::function<void(const fs::path&)> change;
    std::string refusal;  // empty: the open goes ahead
  };
  const std::vector<Case> cases = {
      {"Untouched", [](const fs::path&) {}, ""},
      // Content is not part of the identity: a medium is not checksummed.
      {"RewrittenInPlace", [this](const fs::path& p) {
         std::fstream(p, std::ios::in | std::ios::out | std::ios::binary).write("zz", 2);
       }, ""},
      {"ReplacedByRename", [this](const fs::path& p) {
         Write(dir / "other.img", 8 * kSectorSize, 'b');
         fs::rename(dir / "other.img", p);
       }, "has changed since the scan started"},
      {"Grown", [](const fs::path& p) { std::ofstream(p, std::ios::binary | std::ios::app) << std::string(512, 'c'); },
       "has changed since the scan started"},
      {"Removed", [](const fs::path& p) { fs::remove(p); }, "file not found"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const fs::path image = dir / "card.img";
    Write(image, 8 * kSectorSize);
    std::string why;
    const auto identity = Read_Medium_Identity(image.string(), &why);
    ASSERT_TRUE(identity) << why;
    const SourceOpener open = Same_Medium_Opener(File_Opener(), identity);
    ASSERT_TRUE(open(image.string(), &why)) << why;  // the thorough pass, before any change
    c.change(image);
    auto later = open(image.string(), &why);
    EXPECT_EQ(later == nullptr, !c.refusal.empty());
    if (!c.refusal.empty()) {
      EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
    }
  }
}

TEST_F(ScratchTest, BlockSerialIsTheNearestSerialAboveTheDisk) {
  // A sysfs tree as the kernel lays it out: /sys/dev/block/M:m links to the
  // disk or partition, the disk's "device" links to the device it hangs from.
  const fs::path sys = dir / "sys";
  auto disk = [&](const std::string& majmin, const fs::path& device, const std::string& name) {
    const fs::path block = device / "block" / name;
    fs::create_directories(block);
    fs::create_directories(sys / "dev" / "block");
    fs::create_directory_symlink(block, sys / "dev" / "block" / majmin);
    fs::create_directory_symlink(device, block / "device");
    return block;
  };
  auto partition = [&](const std::string& majmin, const fs::path& block, const std::string& name) {
    fs::create_directories(block / name);
    std::ofstream(block / name / "partition") << "1\n";
    fs::create_directory_symlink(block / name, sys / "dev" / "block" / majmin);
  };
  const fs::path usb = sys / "devices" / "pci0" / "usb1" / "1-1";
  std::ofstream(Mkdirs(usb) / "serial") << "4C530001230\n";
  const fs::path sdb = disk("8:16", usb / "1-1:1.0" / "host6" / "target6:0:0" / "6:0:0:0", "sdb");
  partition("8:17", sdb, "sdb1");
  const fs::path card = sys / "devices" / "mmc_host" / "mmc0" / "mmc0:aaaa";
  std::ofstream(Mkdirs(card) / "serial") << "0x1bd3a07e\n";
  disk("179:0", card, "mmcblk0");
  disk("7:0", Mkdirs(sys / "devices" / "virtual" / "loop0"), "loop0");
  const struct {
    unsigned major_no, minor_no;
    const char* serial;
  } cases[] = {{8, 16, "4C530001230"}, {8, 17, "4C530001230"}, {179, 0, "0x1bd3a07e"}, {7, 0, ""}, {8, 32, ""}};
  for (const auto& c : cases) {
    EXPECT_EQ(Block_Serial(sys.string(), c.major_no, c.minor_no), c.serial) << c.major_no << ":" << c.minor_no;
  }
}

// ---- unreadable sectors during a scan -----------------------------------------

StringList Rec(const std::string& type, const std::string& sig) {
  return {type, "100000", sig, "1", "-", "d", std::to_string(std::stoi(sig.substr(0, 2), nullptr, 16))};
}

// Memory with chosen unreadable sectors, and every sector from `dead_from` on
// unreadable too, as a stick pulled out mid-scan.
class FailingSource final : public SectorSource {
 public:
  FailingSource(const std::vector<std::uint8_t>& bytes, std::set<std::uint64_t> bad,
                std::optional<std::uint64_t> dead_from, std::uint64_t* reads)
      : inner_(bytes, std::move(bad)), dead_from_(dead_from), reads_(reads) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    ++*reads_;
    if (dead_from_ && sector >= *dead_from_) return nullptr;
    return inner_.Read_Sector(sector);
  }

 private:
  MemorySectorSource inner_;
  std::optional<std::uint64_t> dead_from_;
  std::uint64_t* reads_;
};

std::set<std::uint64_t> Range(std::uint64_t first, std::uint64_t end) {
  std::set<std::uint64_t> out;
  for (std::uint64_t s = first; s < end; ++s) out.insert(s);
  return out;
}

std::set<std::uint64_t> Without(std::set<std::uint64_t> s, std::uint64_t sector) {
  s.erase(sector);
  return s;
}

struct BadSectorCase {
  const char* name;
  RecoveryMode mode;
  std::uint64_t sectors;
  std::set<std::uint64_t> bad;
  std::optional<std::uint64_t> dead_from;
  std::uint64_t reads;  // over both passes
  std::uint64_t unreadable;
  bool storage_alert;
};

TEST(UnreadableSectorsTest, AreCountedAndAVanishedMediumStopsEarly) {
  const std::vector<BadSectorCase> cases = {
      // Both passes read every sector; the scan completes without an alert.
      // Each bad sector counts once, though both passes meet it.
      {"ScatteredPhoto", RecoveryMode::Photo, 1000, {3, 40, 41, 900}, std::nullopt, 2000, 4, false},
      {"ScatteredRaw", RecoveryMode::RawFile, 1000, {3, 40, 41, 900}, std::nullopt, 2000, 4, false},
      // One short of the give-up run: still a bad patch, not a lost medium.
      {"LongBadPatchIsNotTheEnd", RecoveryMode::Photo, 4000, Range(100, 100 + 2047), std::nullopt, 8000, 2047, false},
      // Runs split by one good sector do not add up to a lost medium.
      {"BadRunsSplitByAGoodSector", RecoveryMode::RawFile, 5000, Without(Range(100, 4000), 2000), std::nullopt,
       10000, 3899, false},
      // Gone at sector 100: the general pass stops one run later, no thorough pass.
      {"VanishedPhoto", RecoveryMode::Photo, 100000, {}, 100, 100 + 2048, 2048, true},
      {"VanishedRaw", RecoveryMode::RawFile, 100000, {}, 100, 100 + 2048, 2048, true},
  };
  for (const BadSectorCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::uint8_t> bytes(c.sectors * kSectorSize, 0);
    const std::uint8_t jpeg[] = {0xFF, 0xD8, 0xFF, 0xE0};
    std::copy(std::begin(jpeg), std::end(jpeg), bytes.begin() + 10 * kSectorSize);
    std::uint64_t reads = 0;
    ScanState state;
    testing::FakeScanHost host;
    ScanJob job;
    job.mode = c.mode;
    job.state = &state;
    job.host = &host;
    job.counts = &host.summary;
    job.settings.disk_identifier = "/scratch/card.img";
    job.settings.sectors_val = std::to_string(c.sectors);
    job.settings.Thro_Mode_Chk = job.settings.Thro_Mode_Chk_SIG = true;
    job.general_records = job.thorough_records = Rec("JPG", "FFD8FF");
    host.summary.createSignatureListTableRecord("JPG", 0, "", "", "JPG");
    job.open_source = [&](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      return std::make_unique<FailingSource>(bytes, c.bad, c.dead_from, &reads);
    };
    if (c.mode == RecoveryMode::Photo) {
      Photo_Rec_Thread(job);
    } else {
      Raw_File_Rec_Thread(job);
    }
    EXPECT_EQ(reads, c.reads);
    EXPECT_EQ(state.unreadable_sectors.load(), c.unreadable);
    EXPECT_EQ(host.final_screens, 1);
    EXPECT_EQ(host.alerts.size(), c.storage_alert ? 1u : 0u);
    if (c.storage_alert && !host.alerts.empty()) {
      EXPECT_EQ(host.alerts[0], kStorageReadError);
      EXPECT_NE(host.informatives[0].find("from sector 100 "), std::string::npos) << host.informatives[0];
    }
    ASSERT_FALSE(host.items.empty());  // what was found before the fault is kept
    EXPECT_EQ(host.items[0].start, 10u);
  }
}

}  // namespace
}  // namespace tamberlin
