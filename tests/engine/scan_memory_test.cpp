// The photo pass under memory pressure: a huge item keeps only its first
// bytes but its whole range, and running out of memory stops the scan with
// an alert instead of a quiet, incomplete success.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <new>

#include "fake_scan_host.h"
#include "scan.h"

namespace tamberlin {
namespace {

using testing::FakeScanHost;

StringList Rec(const std::string& type, const std::string& size, const std::string& sig) {
  return {type, size, sig, "1", "-", "d", std::to_string(std::stoi(sig.substr(0, 2), nullptr, 16))};
}

// A medium made up as it is read, so hundreds of megabytes cost no memory:
// noise everywhere but the chosen header sectors.
class Generated_Source final : public SectorSource {
 public:
  Generated_Source(std::uint64_t sectors, std::map<std::uint64_t, std::vector<std::uint8_t>> headers)
      : sectors_(sectors), headers_(std::move(headers)) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    if (sector >= sectors_) return nullptr;
    std::fill(sector_.begin(), sector_.end(), std::uint8_t{0x11});
    if (const auto it = headers_.find(sector); it != headers_.end()) std::copy(it->second.begin(), it->second.end(), sector_.begin());
    return sector_.data();
  }
  std::uint64_t Sector_Count() override { return sectors_; }

 private:
  std::uint64_t sectors_;
  std::map<std::uint64_t, std::vector<std::uint8_t>> headers_;
  std::vector<std::uint8_t> sector_ = std::vector<std::uint8_t>(kSectorSize);
};

const std::vector<std::uint8_t> kPsbHeader = {'8', 'B', 'P', 'S', 0x00, 0x02};
const std::vector<std::uint8_t> kJpegHeader = {0xFF, 0xD8, 0xFF, 0xE0};
const StringList kPsb = Rec("PSB", "2147483648", "384250530002");
const StringList kJpg = Rec("JPG", "1048576", "FFD8FF");

class ScanMemoryTest : public ::testing::Test {
 protected:
  void Scan(FakeScanHost& host, std::uint64_t sectors, std::map<std::uint64_t, std::vector<std::uint8_t>> headers) {
    StringList records = kPsb;
    records.insert(records.end(), kJpg.begin(), kJpg.end());
    job.mode = RecoveryMode::Photo;
    job.state = &state;
    job.host = &host;
    job.general_records = job.thorough_records = records;
    job.settings.sectors_val = std::to_string(sectors);
    job.open_source = [sectors, headers](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      return std::make_unique<Generated_Source>(sectors, headers);
    };
    Photo_Rec_Thread(job);
  }
  ScanState state;
  ScanJob job;
};

TEST_F(ScanMemoryTest, HugePhotoItemKeepsBoundedBytesAndItsWholeRange) {
  constexpr std::uint64_t kHuge = (std::uint64_t{200} << 20) / kSectorSize;  // 200 MiB after a PSB header
  const struct {
    const char* why;
    std::uint64_t sectors;
    std::map<std::uint64_t, std::vector<std::uint8_t>> headers;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;  // general pass items
    std::vector<std::size_t> bytes;
  } cases[] = {
      {"a stray PSB header before 200 MiB of data", kHuge, {{0, kPsbHeader}}, {{0, kHuge}}, {kPhotoBytesKept}},
      {"a PSB ended by the next header", 3000, {{0, kPsbHeader}, {1000, kJpegHeader}},
       {{0, 1000}, {1000, 3000}}, {1000 * kSectorSize, 2000 * kSectorSize}},
      {"an item ended by its type's maximum", 5000, {{0, kJpegHeader}}, {{0, 2047}}, {2047 * kSectorSize}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    FakeScanHost host;
    job.settings.Thro_Mode_Chk = false;
    Scan(host, c.sectors, c.headers);
    EXPECT_TRUE(host.alerts.empty());
    ASSERT_EQ(host.items.size(), c.spans.size());
    for (std::size_t i = 0; i < c.spans.size(); ++i) {
      EXPECT_EQ(std::make_pair(host.items[i].start, host.items[i].end), c.spans[i]);
      EXPECT_EQ(host.items[i].bytes, c.bytes[i]);
    }
  }
}

// A host whose copy of a photo's bytes fails, as it does under a memory limit.
class Out_Of_Memory_Host final : public FakeScanHost {
 public:
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string&, const std::string&, std::uint64_t,
                        std::uint64_t) override {
    throw std::bad_alloc();
  }
};

TEST_F(ScanMemoryTest, RunningOutOfMemoryStopsTheScanWithAnAlert) {
  const struct {
    const char* why;
    std::map<std::uint64_t, std::vector<std::uint8_t>> headers;
  } cases[] = {
      {"an item ended by the next header", {{0, kJpegHeader}, {10, kJpegHeader}}},
      {"the last item, handed over when the pass ends", {{0, kJpegHeader}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    Out_Of_Memory_Host host;
    job.settings.Thro_Mode_Chk = true;
    Scan(host, 20, c.headers);
    EXPECT_EQ(host.alerts, std::vector<std::string>{kOutOfMemoryAlert});
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0)
        << "no thorough pass after a failed one";
    EXPECT_EQ(host.final_screens, 1);
  }
}

}  // namespace
}  // namespace tamberlin
