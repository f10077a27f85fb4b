// The photo pass under memory pressure: a huge item keeps only its first
// bytes but its whole range; running out of memory is an alert, never a
// quiet, incomplete success.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <new>

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

// A host whose copy of a photo's bytes fails, as it does under a memory limit.
class Out_Of_Memory_Host final : public testing::FakeScanHost {
 public:
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string&, const std::string&, std::uint64_t,
                        std::uint64_t) override {
    throw std::bad_alloc();
  }
};

void Scan(ScanHost& host, std::uint64_t sectors, std::uint64_t jpeg_at, bool thorough,
          const char* psb_limit = "2147483648") {
  ScanState state;
  ScanJob job;
  job.state = &state;
  job.host = &host;
  job.general_records = job.thorough_records = {Make_Record("PSB", psb_limit, "384250530002", "1", "-", "d", 0x38),
                                                Make_Record("JPG", "1048576", "FFD8FF", "1", "-", "d", 0xFF)};
  job.settings.sectors_val = sectors;
  job.settings.Thro_Mode_Chk = thorough;
  job.open_source = [=](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
    return std::make_unique<Generated_Source>(sectors, jpeg_at);
  };
  Photo_Rec_Thread(job);
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

TEST(ScanMemoryTest, RunningOutOfMemoryStopsTheScanWithAnAlert) {
  for (const std::uint64_t jpeg_at : {10u, 20u}) {  // handed over mid-pass, or when the pass ends
    SCOPED_TRACE(jpeg_at);
    Out_Of_Memory_Host host;
    Scan(host, 20, jpeg_at, true);
    EXPECT_EQ(host.alerts, std::vector<std::string>{kOutOfMemoryAlert});
    EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0)
        << "no thorough pass after a failed one";
    EXPECT_EQ(host.final_screens, 1);
  }
}

}  // namespace
}  // namespace tamberlin
