// The scan passes over media in memory: what they read, the items they cut,
// stops, unreadable sectors and memory pressure.
#include "engine/scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>

#include "observed_source.h"
#include "results/summary_records.h"

namespace tamberlin {
namespace {

using testing::ObservedSource;

// A ScanHost that records what a scan does.
struct FoundItem {
  std::string name, uid;
  std::uint64_t start = 0, end = 0;  // photo: first sector, first + sector count
  std::size_t bytes = 0;
  std::vector<std::uint8_t> data;
};

class FakeScanHost : public ScanHost {
 public:
  void Set_Mode_Label(const std::string& text) override { Log("mode:" + text); }
  void Set_Sector_Label(const std::string& text) override { Log("sector:" + text); }
  void Set_Progress_Range(double maximum) override { Log("range:" + std::to_string(static_cast<long long>(maximum))); }
  void Set_Progress_Value(double) override {}
  void Set_Help_Info(const std::string& text) override { Log("help:" + text); }
  void Clear_Found_Items(RecoveryMode) override {
    std::lock_guard l(mu);
    items.clear();
    log.push_back("clear");
  }
  void Scan_Started(RecoveryMode) override { Log("started"); }
  void Open_Failed(RecoveryMode) override { Log("open-failed"); }
  void Stop_Progress_Timer() override { Log("timer-stopped"); }
  void Alert(const std::string& message, const std::string& informative) override {
    std::lock_guard l(mu);
    alerts.push_back(message);
    informatives.push_back(informative);
  }
  void Final_or_Stop_Screen() override {
    {
      std::lock_guard l(mu);
      ++final_screens;
    }
    if (on_final) on_final();
  }
  void addImageWithData(const std::vector<std::uint8_t>& bytes, const std::string& name, const std::string& uid,
                        std::uint64_t first_sector, std::uint64_t sector_count) override {
    std::lock_guard l(mu);
    items.push_back({name, uid, first_sector, first_sector + sector_count, bytes.size(), bytes});
    if (on_item) on_item(items.size());
  }
  void addImageWithData_2(const std::string& name, const std::string& uid, std::uint64_t start,
                          std::uint64_t end) override {
    std::lock_guard l(mu);
    items.push_back({name, uid, start, end, 0, {}});
    summary.Count_Item(name);
    if (on_item) on_item(items.size());
  }
  bool Hand_End_To_Preview() override { return false; }

  void Log(std::string s) {
    std::lock_guard l(mu);
    log.push_back(std::move(s));
  }

  std::mutex mu;
  std::vector<std::string> log;
  std::vector<FoundItem> items;
  std::vector<std::string> alerts, informatives;
  int final_screens = 0;
  std::function<void(std::size_t)> on_item;  // called with the item count, under the lock
  std::function<void()> on_final;
  SignatureList summary;
};
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
                                                ++total_reads;
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
  std::uint64_t total_reads = 0;     // by every pass
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

std::set<std::uint64_t> Span(std::uint64_t first, std::uint64_t end, std::uint64_t except = 0) {
  std::set<std::uint64_t> out;
  for (std::uint64_t s = first; s < end; ++s) {
    if (s != except) out.insert(s);
  }
  return out;
}

constexpr std::uint64_t kNever = ~0ull;
struct UnreadableCase {
  const char* name;
  RecoveryMode mode;
  std::uint64_t sectors;
  std::set<std::uint64_t> bad;
  std::uint64_t dead_from;
  std::uint64_t reads;  // over both passes
  std::uint64_t unreadable;
};
void PrintTo(const UnreadableCase& c, std::ostream* os) { *os << c.name; }
class UnreadableSectors : public ScanTest, public ::testing::WithParamInterface<UnreadableCase> {};

// A bad sector counts once however many passes meet it; a run of them as long
// as the give-up run means the medium is gone (a stick pulled out mid-scan).
TEST_P(UnreadableSectors, AreCountedOnceAndAVanishedMediumStopsThePassEarly) {
  const UnreadableCase& c = GetParam();
  const CatalogueList jpg = Rec("JPG", "10000000", "FFD8FF");
  Medium(c.sectors);
  Jpeg(10);
  unreadable = c.dead_from == kNever ? c.bad : Span(c.dead_from, c.sectors);
  c.mode == RecoveryMode::Photo ? Photo(jpg, jpg) : Raw(jpg, jpg);
  job.settings.Thro_Mode_Chk = job.settings.Thro_Mode_Chk_SIG = true;
  c.mode == RecoveryMode::Photo ? Photo_Rec_Thread(job) : Raw_File_Rec_Thread(job);

  EXPECT_EQ(total_reads, c.reads);
  EXPECT_EQ(state.unreadable_sectors.load(), c.unreadable);
  EXPECT_EQ(host.final_screens, 1);
  ASSERT_FALSE(host.items.empty());  // what was found before the fault is kept
  EXPECT_EQ(host.items[0].start, 10u);
  if (c.dead_from == kNever) {
    EXPECT_TRUE(host.alerts.empty());
    return;
  }
  EXPECT_EQ(host.items[0].end, c.dead_from);  // not padded with the dead run
  ASSERT_EQ(host.alerts.size(), 1u);
  EXPECT_EQ(host.alerts[0], kStorageReadError);
  EXPECT_NE(host.informatives[0].find("from sector 100 "), std::string::npos) << host.informatives[0];
}

INSTANTIATE_TEST_SUITE_P(
    Cases, UnreadableSectors,
    ::testing::Values(
        // Both passes meet each bad sector; it counts once.
        UnreadableCase{"ScatteredPhoto", RecoveryMode::Photo, 1000, {3, 40, 41, 900}, kNever, 2000, 4},
        UnreadableCase{"ScatteredRaw", RecoveryMode::RawFile, 1000, {3, 40, 41, 900}, kNever, 2000, 4},
        // One short of the give-up run, or two runs split by one good sector:
        // a bad patch, not a lost medium.
        UnreadableCase{"LongBadPatch", RecoveryMode::Photo, 4000, Span(100, 100 + 2047), kNever, 8000, 2047},
        UnreadableCase{"RunsSplitByAGoodSector", RecoveryMode::RawFile, 5000, Span(100, 4000, 2000), kNever, 10000,
                       3899},
        // Gone at sector 100: the general pass ends one run later, no thorough pass.
        UnreadableCase{"VanishedPhoto", RecoveryMode::Photo, 100000, {}, 100, 100 + 2048, 2048},
        UnreadableCase{"VanishedRaw", RecoveryMode::RawFile, 100000, {}, 100, 100 + 2048, 2048}),
    [](const auto& p) { return std::string(p.param.name); });

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
class Failing_Host final : public FakeScanHost {
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

// The passes under memory pressure: a huge photo item keeps only its first
// bytes but its whole range; running out of memory, or any other failure to
// take an item, is an alert, never a quiet, incomplete success.
class ScanMemoryTest : public ScanTest {
 protected:
  void Scan(FakeScanHost& h, std::uint64_t sectors, std::uint64_t jpeg_at, bool thorough,
            const char* psb_limit = "2147483648", RecoveryMode mode = RecoveryMode::Photo) {
    const CatalogueList records = {Make_Record("PSB", psb_limit, "384250530002", "1", "-", "d", 0x38),
                                   Make_Record("JPG", "1048576", "FFD8FF", "1", "-", "d", 0xFF)};
    Photo(records, records);
    job.mode = mode;
    job.host = &h;
    job.counts = &h.summary;
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
};

TEST_F(ScanMemoryTest, HugePhotoItemKeepsBoundedBytesAndItsWholeRange) {
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
    FakeScanHost h;
    Scan(h, c.sectors, c.jpeg_at, false, c.psb_limit);
    EXPECT_TRUE(h.alerts.empty());
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans;
    std::vector<std::size_t> bytes;
    for (const auto& i : h.items) {
      spans.emplace_back(i.start, i.end);
      bytes.push_back(i.bytes);
    }
    EXPECT_EQ(spans, c.spans);
    EXPECT_EQ(bytes, c.bytes);
  }
}

// Regression: the raw pass took any failure (memory included) for a
// complete scan, and the photo pass did so for anything but memory.
TEST_F(ScanMemoryTest, AFailedPassStopsTheScanWithAnAlert) {
  for (const RecoveryMode mode : {RecoveryMode::Photo, RecoveryMode::RawFile}) {
    for (const bool out_of_memory : {true, false}) {
      for (const std::uint64_t jpeg_at : {10u, 20u}) {  // taken mid-pass, or when the pass ends
        SCOPED_TRACE(::testing::Message() << static_cast<int>(mode) << out_of_memory << jpeg_at);
        Failing_Host h(out_of_memory);
        Scan(h, 20, jpeg_at, true, "2147483648", mode);
        EXPECT_EQ(h.alerts, std::vector<std::string>{out_of_memory ? kOutOfMemoryAlert : kScanFailedAlert});
        EXPECT_EQ(std::count(h.log.begin(), h.log.end(), std::string("mode:") + kThoroughModeLabel), 0)
            << "no thorough pass after a failed one";
        EXPECT_EQ(h.final_screens, 1);
      }
    }
  }
}

}  // namespace
}  // namespace tamberlin
