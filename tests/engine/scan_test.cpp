#include "engine/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <functional>
#include <thread>

#include "fake_scan_host.h"
#include "observed_source.h"

namespace tamberlin {
namespace {

using testing::FakeScanHost, testing::ObservedSource;
using Spans = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

CatalogueList Rec(const std::string& type, const std::string& size, const std::string& sig) {
  const auto first = static_cast<std::uint8_t>(std::stoi(sig.substr(0, 2), nullptr, 16));
  return {Make_Record(type, size, sig, "1", "-", "d", first)};
}

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job.state = &state;
    job.host = &host;
    job.counts = &host.summary;
    job.settings.disk_identifier = "sdz1";
    job.open_source = [this](const std::string&, std::string*) -> std::unique_ptr<SectorSource> {
      reads.clear();
      // Logs the sectors a pass asks for, and raises the stop flag while a
      // chosen sector is read (the pass then sees it before the next sector).
      return std::make_unique<ObservedSource>(std::make_unique<MemorySectorSource>(medium, unreadable),
                                              [this](std::uint64_t s) {
                                                reads.push_back(s);
                                                if (stop_at == s) state.stop_now.store(1);
                                              });
    };
  }

  void Medium(std::uint64_t sectors) { medium.assign(sectors * kSectorSize, 0); }
  void Noise(std::uint64_t from, std::uint64_t to) {
    std::fill(medium.begin() + static_cast<std::ptrdiff_t>(from * kSectorSize),
              medium.begin() + static_cast<std::ptrdiff_t>(to * kSectorSize), 0x11);
  }
  void Plant(std::uint64_t sector, std::initializer_list<std::uint8_t> bytes) {
    std::copy(bytes.begin(), bytes.end(), medium.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize));
  }
  void Jpeg(std::uint64_t sector) { Plant(sector, {0xFF, 0xD8, 0xFF, 0xE0}); }
  void Doc(std::uint64_t sector) { Plant(sector, {0xD0, 0xCF, 0x11, 0xE0}); }

  void Photo(CatalogueList general, CatalogueList thorough = {}) {
    job.mode = RecoveryMode::Photo;
    job.general_records = std::move(general);
    job.thorough_records = std::move(thorough);
    job.settings.sectors_val = medium.size() / kSectorSize;
  }
  void Raw(const CatalogueList& general, const CatalogueList& thorough = {}) {
    Photo(general, thorough);
    job.mode = RecoveryMode::RawFile;
    host.summary.createSignatureListTableRecord(general[0].key, 0, "", "", general[0].key);
  }
  void Range(std::uint64_t start, std::uint64_t end) {
    job.settings.entire_disk_rd = job.settings.entire_disk_rd_Sig = false;
    job.settings.sector_range_rd = job.settings.sector_range_rd_Sig = true;
    job.settings.Start_slider_val = job.settings.Start_slider_val_Sig = start;
    job.settings.End_slider_val = job.settings.End_slider_val_Sig = end;
  }

  Spans Items() const {
    Spans out;
    for (const auto& i : host.items) out.emplace_back(i.start, i.end);
    return out;
  }
  bool Thorough_Pass_Ran() const {
    return std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel) > 0;
  }

  std::vector<std::uint8_t> medium;
  std::set<std::uint64_t> unreadable;
  std::optional<std::uint64_t> stop_at;
  std::vector<std::uint64_t> reads;  // sectors the latest pass read
  ScanState state;
  FakeScanHost host;
  ScanJob job;
};

const CatalogueList kJpg = Rec("JPG", "100000", "FFD8FF");
const CatalogueList kDoc = Rec("DOC", "1", "D0CF11E0");

TEST_F(ScanTest, PhotoPassReadsEachSectorOfTheRangeOnce) {
  Medium(300);
  Jpeg(100);
  Photo(kJpg);
  Range(100, 200);
  EXPECT_TRUE(Photo_Recovey_Mode(job, Pass::General));
  ASSERT_EQ(reads.size(), 100u);
  EXPECT_EQ(reads.front(), 100u);
  EXPECT_EQ(reads.back(), 199u);
  EXPECT_EQ(state.for_index.load(), 200u);
  EXPECT_EQ(Items(), (Spans{{100, 200}}));  // blank sectors stay inside an item
}

// A photo item holds the largest whole number of sectors below its size limit.
TEST_F(ScanTest, PhotoItemEndsBelowItsSizeLimit) {
  for (const auto& [limit, sectors] : std::vector<std::pair<std::string, std::uint64_t>>{
           {"1024", 1}, {"1025", 2}, {"2048", 3}, {"1000000", 10}}) {
    host.items.clear();
    Medium(12);
    Jpeg(2);
    Noise(3, 12);
    Photo(Rec("JPG", limit, "FFD8FF"));
    Photo_Recovey_Mode(job, Pass::General);
    EXPECT_EQ(Items(), (Spans{{2, 2 + sectors}})) << "limit " << limit;
  }
}

// An unreadable sector stands in the item as zeros, so later bytes keep their
// place; when the last sector cannot be read the pass reports the medium.
TEST_F(ScanTest, UnreadableSectorsYieldNoPhantomItemAndTheLastRaisesTheAlert) {
  Medium(12);
  Jpeg(5);
  Jpeg(8);
  unreadable = {6, 11};
  Photo(kJpg);
  EXPECT_FALSE(Photo_Recovey_Mode(job, Pass::General));
  ASSERT_EQ(Items(), (Spans{{5, 8}, {8, 12}}));
  EXPECT_EQ(host.items[0].data[kSectorSize], 0);
  EXPECT_EQ(reads.size(), 12u);
  EXPECT_EQ(host.alerts, std::vector<std::string>{kStorageReadError});
}

TEST_F(ScanTest, ReversedRangeIsEmptyNotHuge) {
  Medium(6);
  Photo(kJpg, kJpg);
  Range(5, 2);
  Photo_Rec_Thread(job);
  EXPECT_EQ(state.total_sector.load(), 0u);
  EXPECT_TRUE(reads.empty());
  EXPECT_EQ(host.alerts, std::vector<std::string>{kStorageReadError});
  EXPECT_FALSE(Thorough_Pass_Ran());
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, StopKeepsThePartItemSkipsTheThoroughPassAndShowsOneEndScreen) {
  Medium(20);
  Jpeg(2);
  Noise(3, 4);
  stop_at = 4;
  Photo(kJpg, kJpg);
  Photo_Rec_Thread(job);
  EXPECT_EQ(Items(), (Spans{{2, 5}}));  // sectors 2, 3, 4
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_EQ(state.stop_now.load(), 0);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "timer-stopped"), 1);
  EXPECT_FALSE(Thorough_Pass_Ran());
}

// A raw item runs to the next header, the range's end or its size limit
// (a limit of 1 means 36864 sectors), whichever comes first.
TEST_F(ScanTest, RawItemEndsAtTheNextHeaderTheRangeEndOrItsLimit) {
  Medium(36864 + 40);
  Doc(2);
  Noise(3, 4);
  Doc(7);
  Raw(kDoc);
  Range(0, 12);
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Items(), (Spans{{2, 7}, {7, 12}}));
  EXPECT_EQ(host.items[1].name, "DOC00002.DOC");
  EXPECT_EQ(host.summary.NoOfFile("DOC"), 2u);

  host.items.clear();
  Medium(36864 + 40);
  Doc(30);  // the blank sectors before the header do not count toward its limit
  job.settings.entire_disk_rd_Sig = true;
  job.settings.sector_range_rd_Sig = false;
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Items(), (Spans{{30, 30 + 36864}}));
}

// The scan thread against a progress reader and a stop from other threads, as
// the window does. Meant to run clean under the thread sanitizer.
TEST_F(ScanTest, StopFromAnotherThreadEndsTheScanThreadWithOneEndScreen) {
  constexpr std::uint64_t kSectors = 1 << 16;
  Medium(kSectors);
  for (std::uint64_t s = 0; s < kSectors; s += 64) Doc(s);
  Raw(kDoc, kDoc);
  std::mutex m;
  std::condition_variable cv;
  bool ten_items = false, ended = false;
  auto signal = [&](bool& flag) {
    std::lock_guard l(m);
    flag = true;
    cv.notify_all();
  };
  host.on_item = [&](std::size_t n) {
    if (n == 10) signal(ten_items);
  };
  host.on_final = [&] { signal(ended); };
  std::atomic<bool> polling{true};
  std::thread progress([&] {  // the window's progress timer
    while (polling) (void)timerTickSetLabel(state);
  });
  ScanRunner runner;
  runner.Start(job);
  std::unique_lock l(m);
  cv.wait(l, [&] { return ten_items; });
  state.stop_now.store(1);
  cv.wait(l, [&] { return ended; });
  l.unlock();
  runner.Join();
  polling = false;
  progress.join();
  std::lock_guard items(host.mu);
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_LT(host.items.size(), kSectors / 64 * 2);  // stopped before the thorough pass finished
  EXPECT_EQ(host.summary.NoOfFile("DOC"), host.items.size());
}

}  // namespace
}  // namespace tamberlin
