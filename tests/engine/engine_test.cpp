// The catalogue files' text format, the sector test and index built from
// the records, the file type choice over them, and the catalogue files that
// ship in the data folder: whole groups, well-formed records, every record
// reachable by the sector test. The sector range the user types, and the
// decimal readings under it. The scan passes over media in memory: what they read, the items they cut,
// stops, unreadable sectors and memory pressure. Reading disk images sector by
// sector: what the opener refuses (sources that are not disks, media that
// change under a scan). The summary counts a scan keeps.
#include "engine/scan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <new>
#include <random>
#include <set>
#include <stdexcept>
#include <sstream>
#include <thread>
#include <tuple>

#include "results/summary_records.h"
#include "engine/catalogue.h"
#include "engine/decimal.h"
#include "engine/header_index.h"
#include "engine/sector_range.h"
#include "engine/type_selection.h"
#include "observed_source.h"

namespace tamberlin {
namespace {

namespace fs = std::filesystem;
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

// An item counts toward the first row whose key is the text after the last
// full stop of its name, case and all; the row then shows the latest name.
TEST(SummaryRecordsTest, CountsByTheExactExtension) {
  SignatureList summary;
  for (const char* t : {"GZ", "gz", "DOC", "DOC"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  EXPECT_TRUE(summary.Count_Item("TAR00001.TAR.gz"));
  EXPECT_FALSE(summary.Count_Item("ZIP00001.ZIP"));
  for (int i = 1; i <= 10; ++i) summary.Count_Item("DOC" + std::to_string(i) + ".DOC");
  const auto rows = summary.Snapshot();
  ASSERT_EQ(rows.size(), 4u);
  EXPECT_EQ(rows[0].NoOfFile, 0u);
  EXPECT_EQ(rows[1].NoOfFile, 1u);
  EXPECT_EQ(rows[2].NoOfFile, 10u);
  EXPECT_EQ(rows[2].FileName, "DOC10.DOC");
  EXPECT_EQ(rows[3].NoOfFile, 0u);
  EXPECT_FALSE(summary.At(4).has_value());
}

// Regression: a type holding a full stop was never counted, so every item of
// it was named as the first of its type.
TEST(SummaryRecordsTest, TypeWithAFullStopIsCounted) {
  SignatureList summary;
  for (const char* t : {"B.C", "A.B.C"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  EXPECT_TRUE(summary.Count_Item("B.C00001.B.C"));
  EXPECT_TRUE(summary.Count_Item("A.B.C00001.A.B.C"));  // the longest type it ends in
  EXPECT_FALSE(summary.Count_Item("X00001.C"));
  EXPECT_EQ(summary.NoOfFile("B.C"), 1u);
  EXPECT_EQ(summary.NoOfFile("A.B.C"), 1u);
}

// Naming reads the count while the scan thread counts: every count made
// before a read must be visible, and none may be lost.
TEST(SummaryRecordsTest, ConcurrentCountingLosesNothing) {
  SignatureList summary;
  for (const char* t : {"JPG", "PNG"}) summary.createSignatureListTableRecord(t, 0, "", "", t);
  std::thread a([&] {
    for (int i = 0; i < 5000; ++i) summary.Count_Item("JPG00001.JPG");
  });
  for (int i = 0; i < 5000; ++i) {
    summary.Count_Item("PNG00001.PNG");
    (void)summary.Snapshot();
  }
  a.join();
  EXPECT_EQ(summary.NoOfFile("JPG"), 5000u);
  EXPECT_EQ(summary.NoOfFile("PNG"), 5000u);
}

std::vector<std::string> Texts(const CatalogueList& list) {
  std::vector<std::string> out;
  for (const auto& r : list) std::ranges::copy(Record_Texts(r), std::back_inserter(out));
  return out;
}

// Catalogue files are read as "Key : value" lines, six to a record; the
// first byte comes from the "Header :" line.
TEST(CatalogueTest, ParsesTheEdgeCasesOfTheTextFormat) {
  struct Case {
    const char* name;
    const char* text;
    std::vector<std::string> expected;
  };
  const Case cases[] = {
      {"JpgGroup", "Extension : .jpg\nSize : 20000000\nHeader : FFD8FFE0\nP : 1\nFooter : FFD9\nDescription : JPEG\n",
       {"JPG", "20000000", "FFD8FFE0", "1", "FFD9", "JPEG", "255"}},
      {"HeaderWithoutSpaceIsNoHeaderLine", "E : .a\nS : 1\nHeader: FFD8\nP : 1\nF : -\nD : d\n",
       {"A", "1", "FFD8", "1", "-", "d", ""}},
      {"LowerCaseHeaderTrimmed", "E : x\nS : 1\nHeader :    ffd8   \nP : nn\nF : -\nD : d\n",
       {"x", "1", "ffd8", "nn", "-", "d", "255"}},
      {"DotRuleUpperCasesAfterFirstDot", "E : *.jpg\nS : Version 1.5 format\nHeader : 00\nP : 1\nF : a.b.c\nD : d\n",
       {"JPG", "5", "00", "1", "-", "d", "0"}},
      {"LinesWithoutColonDoNotBreakGroup", "# c\n\nE : .png\nS : 1\nc\nHeader : 89504E47\nP : 1\nF : -\n\nD : P\n",
       {"PNG", "1", "89504E47", "1", "-", "P", "137"}},
      {"WindowsLineEnds", "E : .gif\r\nS : 5\r\nHeader : 474946\r\nP : 1\r\nF : 3B\r\nD : GIF\r\n",
       {"GIF", "5", "474946", "1", "3B", "GIF", "71"}},
      {"OneDigitHeaderGivesNoFirstByte", "E : a\nS : 1\nHeader : F\nP : 1\nF : -\nD : d\n",
       {"a", "1", "F", "1", "-", "d", ""}},
      {"FirstByteResetsBetweenGroups",
       "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\nE : b\nS : 1\nH : 10\nP : 1\nF : -\nD : d\n",
       {"a", "1", "FF", "1", "-", "d", "255", "b", "1", "10", "1", "-", "d", ""}},
      {"TrailingPartialGroupDropped", "E : a\nS : 1\nHeader : FF\nP : 1\nF : -\nD : d\nE : b\nS : 2\n",
       {"a", "1", "FF", "1", "-", "d", "255"}},
      {"EmptyText", "", {}},
  };
  for (const Case& c : cases) EXPECT_EQ(Texts(Parse_Catalogue_Text(c.text)), c.expected) << c.name;
  EXPECT_TRUE(Load_Catalogue_File("/nonexistent/USBExt2.dll").empty());
}

using Sector = std::array<std::uint8_t, kSectorSize>;

CatalogueRecord Rec(const char* type, const char* sig, const char* pos, std::optional<std::uint8_t> first) {
  return Make_Record(type, "1000", sig, pos, "-", "d", first);
}

Sector With(std::size_t at, std::initializer_list<std::uint8_t> bytes, std::uint8_t fill = 0x11) {
  Sector s;
  s.fill(fill);
  for (auto b : bytes) s[at++] = b;
  return s;
}

// The sector test at the edges of the positions a record can give: the
// start, a run of repeated first bytes ("nn"), and an offset near the end.
TEST(HeaderTest, MatchesAtTheBoundariesOfEachPosition) {
  struct Case {
    const char* name;
    CatalogueRecord record;
    Sector sector;
    bool matches;
  };
  const Case cases[] = {
      {"StartMatches", Rec("JPG", "FFD8FF", "1", 255), With(0, {0xFF, 0xD8, 0xFF}), true},
      {"StartNeedsByteZero", Rec("JPG", "FFD8FF", "1", 255), With(1, {0xFF, 0xD8, 0xFF}), false},
      {"NoHeaderLineWantsAZero", Rec("X", "FFD8", "1", std::nullopt), With(0, {0xFF, 0xD8}), false},
      {"RunToleratesLeadingRepeats", Rec("JPG", "FFD8FF", "nn", 255), With(0, {0xFF, 0xFF, 0xFF, 0xD8, 0xFF}), true},
      {"RunAcrossTheSectorEnd", Rec("X", "AAAB", "nn", 170), With(0, {}, 0xAA), false},
      {"OffsetNine", Rec("WAV", "57415645", "9", 87), With(8, {'W', 'A', 'V', 'E'}), true},
      {"Offset507TriedAtByte506", Rec("X", "ABCD", "507", 171), With(506, {0xAB, 0xCD}), true},
      {"Offset508NeverMatches", Rec("X", "AB", "508", 171), With(507, {0xAB}), false},
      {"HeaderPastSectorEnd", Rec("X", "ABCDEF", "510", 171), With(509, {0xAB, 0xCD, 0xEF}), false},
      {"OffsetLeadingInteger", Rec("TAR", "7573746172", "258 (ustar)", 117), With(257, {'u', 's', 't', 'a', 'r'}),
       true},
      {"OffsetZeroIsBeforeTheSector", Rec("X", "11", "0", 17), With(0, {}), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Header_Test(c.record, c.sector.data()), c.matches) << c.name;
    EXPECT_EQ(HeaderIndex({c.record}).Find(c.sector.data()) == 0, c.matches) << c.name;
  }
}

// The index must find what the plain rule finds, trying the records in list
// order; small signatures over a four-letter alphabet make many overlaps.
TEST(HeaderIndexTest, AgreesWithTheRuleOnRandomSectors) {
  const HeaderIndex index(CatalogueList({Rec("A", "0102", "1", 1), Rec("B", "0101", "nn", 1), Rec("C", "0203", "3", 2),
                                Rec("D", "01", "1", 1), Rec("E", "0302", "nn", 3), Rec("F", "0100", "2", 1)}));
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> byte(0, 3);
  for (int round = 0; round < 20000; ++round) {
    Sector s;
    for (auto& b : s) b = static_cast<std::uint8_t>(byte(rng));
    std::size_t expected = HeaderIndex::npos;
    for (std::size_t r = 0; r < index.size() && expected == HeaderIndex::npos; ++r)
      if (Header_Test(index[r], s.data())) expected = r;
    ASSERT_EQ(index.Find(s.data()), expected) << "round " << round;
  }
}

// A header opens the matching record and every later record whose signature
// contains it or is contained in it at the same position.
TEST(HeaderIndexTest, FamilyOpensTheRelatedLaterRecords) {
  struct Case {
    const char* name;
    CatalogueList list;
    std::size_t matched;
    std::vector<std::uint32_t> opened;
  };
  const CatalogueRecord zip = Rec("ZIP", "504B", "1", 80), docx = Rec("DOCX", "504B0304", "1", 80);
  const Case cases[] = {
      {"ShortFirstOpensLonger", CatalogueList({zip, docx}), 0, {0, 1}},
      {"LongFirstOpensShorter", CatalogueList({docx, zip}), 0, {0, 1}},
      {"EarlierRecordsNeverOpen", CatalogueList({docx, zip}), 1, {1}},
      {"LongerLaterNeedsSamePosition", CatalogueList({zip, Rec("DOCX", "504B0304", "nn", 80)}), 0, {0}},
  };
  for (const Case& c : cases) EXPECT_EQ(HeaderIndex(c.list).Family(c.matched), c.opened) << c.name;
}

CatalogueList Records(std::initializer_list<std::pair<const char*, const char*>> records) {
  CatalogueList out;
  for (const auto& [type, description] : records) out.push_back(Make_Record(type, "1", "00", "1", "-", description, 0));
  return out;
}

// The file type screen lists each type once, sorted without regard to case,
// with the first description (a star marks types only the thorough pass
// searches); the types left ticked decide the records both
// passes search, in display order.
TEST(TypeSelectionTest, UntickedTypesLeaveBothLists) {
  const auto general = Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}, {"DOC", "d"}});
  const auto thorough = Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}, {"DOC", "d2"}});
  auto rows = Build_Extension_List(general, thorough);
  std::vector<std::string> shown;
  for (const auto& r : rows) shown.push_back(r.Extension + (r.Thoro.empty() ? "" : "*") + " " + r.Description);
  EXPECT_EQ(shown, (std::vector<std::string>{"ARJ* only thorough", "doc lower doc", "DOC d", "ZIP first zip"}));
  for (auto& r : rows) r.State = r.Extension != "DOC";  // case counts: "doc" stays
  const auto applied = Apply_Selection(rows, general, thorough);
  EXPECT_EQ(applied.ticked_types, (std::vector<std::string>{"ARJ", "doc", "ZIP"}));
  EXPECT_EQ(applied.lists.CheckListHeader_Array,
            Records({{"ZIP", "first zip"}, {"doc", "lower doc"}, {"ZIP", "second zip"}}));
  EXPECT_EQ(applied.lists.CheckListHeader_Adv_Array, Records({{"ZIP", "thorough zip"}, {"ARJ", "only thorough"}}));
  for (auto& r : rows) r.State = false;
  EXPECT_FALSE(Check_For_One_Extension_Selection(rows));
  EXPECT_TRUE(Apply_Selection(rows, general, thorough).lists.CheckListHeader_Array.empty());
}

// TAMBERLIN_DATA_DIR when set, otherwise share/tamberlin beside the bin
// folder the test runs from (the build tree's layout); empty when neither.
inline std::filesystem::path Data_Dir() {
  if (const char* dir = std::getenv("TAMBERLIN_DATA_DIR"); dir != nullptr && *dir != '\0') return dir;
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  auto dir = (exe.parent_path() / ".." / "share" / "tamberlin").lexically_normal();
  return std::filesystem::is_directory(dir) ? dir : std::filesystem::path();
}

std::string Read_Shipped(const char* name) {
  std::ifstream in(Data_Dir() / name, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::set<std::string> Keys(const CatalogueList& list) {
  std::set<std::string> out;
  for (const auto& r : list) out.insert(r.key + " " + r.signature_hex + " @" + Record_Texts(r)[3]);
  return out;
}

TEST(ShippedCatalogueTest, EveryRecordIsWholeWellFormedAndReachable) {
  ASSERT_FALSE(Data_Dir().empty()) << "no data folder found; set TAMBERLIN_DATA_DIR";
  // The photo scan names an item after the first matching record only; the
  // raw and video scans open every record of the match's family, so there a
  // header must open exactly one item (a shared header is one record whose
  // type comes from content at recovery).
  const std::pair<const char*, const char*> modes[] = {{kPhotoCatalogue, kPhotoThoroughCatalogue},
                                                       {kRawCatalogue, kRawThoroughCatalogue},
                                                       {kVideoCatalogue, kVideoThoroughCatalogue}};
  for (const auto& [general, thorough] : modes) {
    for (const char* name : {general, thorough}) {
      SCOPED_TRACE(name);
      const std::string text = Read_Shipped(name);
      const CatalogueList list = Parse_Catalogue_Text(text);
      ASSERT_GT(list.size(), 0u);
      // A line that loses its colon shifts every later record, so the text is
      // checked too: as many keyed lines as the records hold.
      EXPECT_EQ(static_cast<std::size_t>(std::count(text.begin(), text.end(), ':')), list.size() * 6);
      EXPECT_EQ(Keys(list).size(), list.size()) << "a record is repeated";
      const HeaderIndex index(list);
      for (std::size_t r = 0; r < index.size(); ++r) {
        const CatalogueRecord& h = index[r];
        SCOPED_TRACE(h.key + " " + h.signature_hex);
        const auto all_of = [](const std::string& t, const char* set) {
          return !t.empty() && t.find_first_not_of(set) == std::string::npos;
        };
        EXPECT_TRUE(all_of(h.key, "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"));
        EXPECT_TRUE(all_of(h.signature_hex, "0123456789ABCDEF") && h.signature_hex.size() % 2 == 0);
        EXPECT_GE(h.size_limit, kSectorSize) << "a limit below one sector keeps nothing";
        std::array<std::uint8_t, kSectorSize> sector{};
        const bool offset = h.position == CatalogueRecord::Position::Offset;
        const std::size_t at = offset ? static_cast<std::size_t>(h.offset - 1) : 0;
        ASSERT_LE(at + h.signature.size(), sector.size());
        std::copy(h.signature.begin(), h.signature.end(), sector.begin() + static_cast<std::ptrdiff_t>(at));
        const std::size_t found = index.Find(sector.data());
        ASSERT_NE(found, HeaderIndex::npos) << "matches nothing";
        std::multiset<std::string> opened;
        for (auto m : index.Family(found)) opened.insert(index[m].key);
        const bool photo = std::string(name) == kPhotoCatalogue || std::string(name) == kPhotoThoroughCatalogue;
        EXPECT_TRUE(photo ? index[found].key == h.key : opened.size() == 1)
            << "shadowed by " << index[found].signature_hex << (photo ? "" : ", or one header opens two items");
      }
    }
    // The thorough pass reads the same sectors again: a record it shares with
    // the general list would only find every item twice.
    const auto in_general = Keys(Parse_Catalogue_Text(Read_Shipped(general)));
    for (const std::string& key : Keys(Parse_Catalogue_Text(Read_Shipped(thorough))))
      EXPECT_EQ(in_general.count(key), 0u) << key << " is in " << general << " too";
  }
}

// The checks run in order; the first that fails is reported, with its text
// and the field to put the focus in.
TEST(SectorRangeTest, FirstFailingCheckWins) {
  struct Case {
    const char* start;
    const char* end;
    const char* count;
    int step;  // 0: valid
  };
  const Case cases[] = {
      {"0", "100", "100", 0},      {"", "100", "100", 1},     {"12 ", "100", "100", 1}, {"-5", "100", "100", 1},
      {"1e3", "100", "100", 1},    {"007", "100", "100", 0},  {"0007", "100", "100", 2}, {"101", "100", "100", 3},
      {"0", "1x", "100", 4},       {"0", "", "100", 4},       {"0", "0100", "100", 5},  {"0", "101", "100", 6},
      {"50", "50", "100", 7},      {"60", "050", "100", 7},
      // Beyond 2^31 and 2^53 sectors the comparison stays exact.
      {"3000000000", "3900000000", "3907029168", 0},
      {"0", "9007199254740993", "9007199254740992", 6},
      {"9007199254740992", "9007199254740993", "9007199254740993", 0},
      {"0", "99999999999999999999999", "18446744073709551615", 5},
  };
  for (const Case& c : cases) {
    const auto problem = Validate_Sector_Range(c.start, c.end, c.count);
    EXPECT_EQ(problem ? problem->step : 0, c.step) << "'" << c.start << "' to '" << c.end << "' of " << c.count;
    if (problem) {
      EXPECT_EQ(problem->focus, c.step <= 3 ? RangeProblem::Field::Start : RangeProblem::Field::End);
    }
  }
}

// Numbers at the edges of 64 bits, and the lenient reading of typed and
// catalogue fields (a negative number wraps: "-1" is the largest limit).
TEST(DecimalTest, StrictAndLeadingReadingsAtTheirEdges) {
  const std::tuple<const char*, std::optional<std::uint64_t>, std::uint64_t> cases[] = {
      {"18446744073709551615", UINT64_MAX, UINT64_MAX}, {"18446744073709551616", std::nullopt, UINT64_MAX},
      {"007", 7, 7}, {"", std::nullopt, 0}, {"+5", std::nullopt, 5}, {"-1", std::nullopt, UINT64_MAX},
      {"  12 MB", std::nullopt, 12}, {"x1", std::nullopt, 0}};
  for (const auto& [text, strict, leading] : cases) {
    EXPECT_EQ(Parse_Decimal(text), strict) << text;
    EXPECT_EQ(Leading_Decimal(text), leading) << text;
  }
}

}  // namespace
}  // namespace tamberlin
