// The passes under memory pressure: a huge photo item keeps only its first
// bytes but its whole range; running out of memory, or any other failure to
// take an item, is an alert, never a quiet, incomplete success.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>
#include <stdexcept>

#include "fake_scan_host.h"
#include "engine/scan.h"

namespace tamberlin {
namespace {

// A medium made up as it is read, so hundreds of megabytes cost no memory:
// a PSB header at sector 0, a JPEG header at `jpeg_at`, noise elsewhere.
class Generated_Source final : public SectorSource {
 public:
  Generated_Source(std::uint64_t sectors, std::uint64_t jpeg_at) : sectors_(sectors), jpeg_at_(jpeg_at) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    if (sector >= sectors_) return nullptr;
    std::fill(bytes_.begin(), bytes_.end(), std::uint8_t{0x11});
    if (sector == 0) std::copy_n("8BPS\0\2", 6, bytes_.begin());
    if (sector == jpeg_at_) std::copy_n("\xFF\xD8\xFF\xE0", 4, bytes_.begin());
    return bytes_.data();
  }

 private:
  std::uint64_t sectors_, jpeg_at_;
  std::vector<std::uint8_t> bytes_ = std::vector<std::uint8_t>(kSectorSize);
};

// A host whose taking of an item fails: its copy of a photo's bytes under a
// memory limit (std::bad_alloc), or anything else it may throw.
class Failing_Host final : public testing::FakeScanHost {
 public:
  explicit Failing_Host(bool out_of_memory) : out_of_memory_(out_of_memory) {}
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string&, const std::string&, std::uint64_t,
                        std::uint64_t) override {
    Fail();
  }
  void addImageWithData_2(const std::string&, const std::string&, std::uint64_t, std::uint64_t) override { Fail(); }

 private:
  void Fail() {
    if (out_of_memory_) throw std::bad_alloc();
    throw std::runtime_error("the list of found items could not grow");
  }
  bool out_of_memory_;
};

void Scan(testing::FakeScanHost& host, std::uint64_t sectors, std::uint64_t jpeg_at, bool thorough,
          const char* psb_limit = "2147483648", RecoveryMode mode = RecoveryMode::Photo) {
  ScanState state;
  ScanJob job;
  job.mode = mode;
  job.state = &state;
  job.host = &host;
  job.counts = &host.summary;
  job.general_records = job.thorough_records = {Make_Record("PSB", psb_limit, "384250530002", "1", "-", "d", 0x38),
                                                Make_Record("JPG", "1048576", "FFD8FF", "1", "-", "d", 0xFF)};
  job.settings.sectors_val = sectors;
  job.settings.Thro_Mode_Chk = thorough;
  job.open_source = [=](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
    return std::make_unique<Generated_Source>(sectors, jpeg_at);
  };
  if (mode == RecoveryMode::Photo) {
    Photo_Rec_Thread(job);
  } else {
    Raw_File_Rec_Thread(job);
  }
}

TEST(ScanMemoryTest, HugePhotoItemKeepsBoundedBytesAndItsWholeRange) {
  constexpr std::uint64_t kHuge = (std::uint64_t{200} << 20) / kSectorSize;  // 200 MiB after the PSB header
  const struct {
    const char* why;
    const char* psb_limit;
    std::uint64_t sectors, jpeg_at;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    std::vector<std::size_t> bytes;
  } cases[] = {
      {"a stray PSB header before 200 MiB of data", "2147483648", kHuge, kHuge, {{0, kHuge}}, {kPhotoBytesKept}},
      {"a PSB ended by the next header, a JPEG by its type's maximum", "2147483648", 5000, 1000,
       {{0, 1000}, {1000, 3047}}, {512000, 2047 * 512}},
      {"a negative limit is no limit", "-1", kHuge, kHuge, {{0, kHuge}}, {kPhotoBytesKept}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    testing::FakeScanHost host;
    Scan(host, c.sectors, c.jpeg_at, false, c.psb_limit);
    EXPECT_TRUE(host.alerts.empty());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    std::vector<std::size_t> bytes;
    for (const auto& i : host.items) {
      spans.emplace_back(i.start, i.end);
      bytes.push_back(i.bytes);
    }
    EXPECT_EQ(spans, c.spans);
    EXPECT_EQ(bytes, c.bytes);
  }
}

// Regression: the raw pass took any failure (memory included) for a
// complete scan, and the photo pass did so for anything but memory.
TEST(ScanMemoryTest, AFailedPassStopsTheScanWithAnAlert) {
  for (const RecoveryMode mode : {RecoveryMode::Photo, RecoveryMode::RawFile}) {
    for (const bool out_of_memory : {true, false}) {
      for (const std::uint64_t jpeg_at : {10u, 20u}) {  // taken mid-pass, or when the pass ends
        SCOPED_TRACE(::testing::Message() << static_cast<int>(mode) << out_of_memory << jpeg_at);
        Failing_Host host(out_of_memory);
        Scan(host, 20, jpeg_at, true, "2147483648", mode);
        EXPECT_EQ(host.alerts, std::vector<std::string>{out_of_memory ? kOutOfMemoryAlert : kScanFailedAlert});
        EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0)
            << "no thorough pass after a failed one";
        EXPECT_EQ(host.final_screens, 1);
      }
    }
  }
}

}  // namespace
}  // namespace tamberlin
