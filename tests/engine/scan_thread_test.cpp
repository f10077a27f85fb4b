// The scan thread against a host that reads progress and stops from other
// threads, as the window does. Meant to run clean under the thread sanitizer.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <thread>

#include "fake_scan_host.h"
#include "scan.h"

namespace tamberlin {
namespace {

using namespace std::chrono_literals;

class ScanThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // A medium with a document header every 64 sectors and noise between.
    medium.assign(kSectors * kSectorSize, 0x11);
    for (std::uint64_t s = 0; s < kSectors; s += 64) {
      const std::uint8_t doc[] = {0xD0, 0xCF, 0x11, 0xE0};
      std::copy(std::begin(doc), std::end(doc), medium.begin() + static_cast<std::ptrdiff_t>(s * kSectorSize));
    }
    job.mode = RecoveryMode::RawFile;
    job.general_records = {"DOC", "1", "D0CF11E0", "1", "-", "d", "208"};
    job.thorough_records = job.general_records;
    job.settings.sectors_val = std::to_string(kSectors);
    job.settings.disk_identifier = "mem";
    job.state = &state;
    job.host = &host;
    job.counts = &host.summary;
    job.open_source = [this](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      return std::make_unique<MemorySectorSource>(medium);
    };
    host.summary.createSignatureListTableRecord("DOC", 0, "", "", "DOC");
    host.on_final = [this] {
      std::lock_guard l(m);
      ended = true;
      cv.notify_all();
    };
  }

  bool Wait_For_End(std::chrono::seconds limit) {
    std::unique_lock l(m);
    return cv.wait_for(l, limit, [this] { return ended; });
  }

  static constexpr std::uint64_t kSectors = 1 << 16;
  std::vector<std::uint8_t> medium;
  ScanState state;
  testing::FakeScanHost host;
  ScanJob job;
  std::mutex m;
  std::condition_variable cv;
  bool ended = false;
};

TEST_F(ScanThreadTest, StopFromAnotherThreadEndsWithOneEndScreen) {
  std::atomic<bool> seen_items{false};
  host.on_item = [&](std::size_t n) {
    if (n == 10) seen_items = true;
  };
  ScanRunner runner;
  runner.Start(job);
  // Progress is polled while the pass writes it.
  while (!seen_items) {
    (void)timerTickSetLabel(state);
    std::this_thread::sleep_for(1ms);
  }
  state.stop_now.store(1);
  ASSERT_TRUE(Wait_For_End(30s));
  runner.Join();
  EXPECT_FALSE(runner.Running());
  std::lock_guard l(host.mu);
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_LT(host.items.size(), kSectors / 64 * 2);  // stopped before the thorough pass finished
  EXPECT_EQ(host.summary.NoOfFile("DOC"), host.items.size());
}

TEST_F(ScanThreadTest, CompleteScanRunsBothPassesAndCountsEveryItem) {
  ScanRunner runner;
  runner.Start(job);
  ASSERT_TRUE(Wait_For_End(60s));
  runner.Join();
  std::lock_guard l(host.mu);
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_EQ(host.items.size(), kSectors / 64 * 2);
  EXPECT_EQ(host.items.back().name, "DOC02048.DOC");
  const auto tick = timerTickSetLabel(state);
  ASSERT_TRUE(tick);
  EXPECT_EQ(tick->label, "Sectors 65536 of 65536   ( Completed 100% )");
}

}  // namespace
}  // namespace tamberlin
