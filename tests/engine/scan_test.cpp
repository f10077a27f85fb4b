#include "scan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "fake_scan_host.h"

namespace tamberlin {
namespace {

using testing::FakeScanHost;

StringList Rec(const std::string& type, const std::string& size, const std::string& sig,
               const std::string& pos = "1") {
  const std::string first = sig.size() >= 2 ? std::to_string(std::stoi(sig.substr(0, 2), nullptr, 16)) : "";
  return {type, size, sig, pos, "-", "d", first};
}

StringList Join(std::initializer_list<StringList> parts) {
  StringList out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// Logs the sectors a pass asks for, and raises the stop flag while a chosen
// sector is read (the pass then sees it before the next sector).
class ObservedSource : public SectorSource {
 public:
  ObservedSource(std::unique_ptr<SectorSource> inner, std::vector<std::uint64_t>* reads, ScanState* state,
                 std::optional<std::uint64_t> stop_at)
      : inner_(std::move(inner)), reads_(reads), state_(state), stop_at_(stop_at) {}
  const std::uint8_t* Read_Sector(std::uint64_t sector) override {
    reads_->push_back(sector);
    if (stop_at_ == sector) state_->stop_now.store(1);
    return inner_->Read_Sector(sector);
  }

 private:
  std::unique_ptr<SectorSource> inner_;
  std::vector<std::uint64_t>* reads_;
  ScanState* state_;
  std::optional<std::uint64_t> stop_at_;
};

class ScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    job.state = &state;
    job.host = &host;
    job.counts = &host.summary;
    job.settings.disk_identifier = "sdz1";
    job.open_source = [this](const std::string& path, std::string*) -> std::unique_ptr<SectorSource> {
      opened_paths.push_back(path);
      reads.clear();
      return std::make_unique<ObservedSource>(std::make_unique<MemorySectorSource>(medium, unreadable), &reads,
                                              &state, stop_at);
    };
  }

  void Medium(std::uint64_t sectors) { medium.assign(sectors * kSectorSize, 0); }
  void Plant(std::uint64_t sector, std::initializer_list<std::uint8_t> bytes, std::size_t offset = 0) {
    std::copy(bytes.begin(), bytes.end(), medium.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize + offset));
  }
  void Noise(std::uint64_t sector) {
    std::fill_n(medium.begin() + static_cast<std::ptrdiff_t>(sector * kSectorSize), kSectorSize, 0x11);
  }
  void Jpeg(std::uint64_t sector) { Plant(sector, {0xFF, 0xD8, 0xFF, 0xE0}); }
  void Doc(std::uint64_t sector) { Plant(sector, {0xD0, 0xCF, 0x11, 0xE0}); }
  void Zip(std::uint64_t sector, std::uint8_t third = 0x03) { Plant(sector, {0x50, 0x4B, third, 0x04}); }

  void Photo(StringList general, StringList thorough = {}) {
    job.mode = RecoveryMode::Photo;
    job.general_records = std::move(general);
    job.thorough_records = std::move(thorough);
    job.settings.sectors_val = std::to_string(medium.size() / kSectorSize);
  }
  void Raw(StringList general, StringList thorough = {}) {
    Photo(std::move(general), std::move(thorough));
    job.mode = RecoveryMode::RawFile;
    std::set<std::string> types;
    for (const auto* l : {&job.general_records, &job.thorough_records})
      for (std::size_t i = 0; i < l->size(); i += kRecordWidth) types.insert((*l)[i]);
    for (const auto& t : types) host.summary.createSignatureListTableRecord(t, 0, "", "", t);
  }
  void Range(std::uint64_t start, std::uint64_t end) {
    job.settings.entire_disk_rd = job.settings.entire_disk_rd_Sig = false;
    job.settings.sector_range_rd = job.settings.sector_range_rd_Sig = true;
    job.settings.Start_slider_val = job.settings.Start_slider_val_Sig = std::to_string(start);
    job.settings.End_slider_val = job.settings.End_slider_val_Sig = std::to_string(end);
  }

  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (const auto& i : host.items) out.push_back(i.name);
    return out;
  }
  std::vector<std::pair<std::uint64_t, std::uint64_t>> Spans() const {
    std::vector<std::pair<std::uint64_t, std::uint64_t>> out;
    for (const auto& i : host.items) out.emplace_back(i.start, i.end);
    return out;
  }
  using Spans_t = std::vector<std::pair<std::uint64_t, std::uint64_t>>;

  std::vector<std::uint8_t> medium;
  std::set<std::uint64_t> unreadable;
  std::optional<std::uint64_t> stop_at;
  std::vector<std::string> opened_paths;
  std::vector<std::uint64_t> reads;  // sectors the latest pass read
  ScanState state;
  FakeScanHost host;
  ScanJob job;
};

const StringList kJpg = Rec("JPG", "100000", "FFD8FF");

// ---- photo pass -------------------------------------------------------------

TEST_F(ScanTest, PhotoEntireDiskReadsEverySectorOnceAndEndsAtN) {
  Medium(10);
  Jpeg(0);
  Photo(kJpg);
  EXPECT_TRUE(Photo_Recovey_Mode(job, Pass::General));
  EXPECT_EQ(reads, (std::vector<std::uint64_t>{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  EXPECT_EQ(state.for_index.load(), 10u);
  EXPECT_EQ(opened_paths, std::vector<std::string>{"/dev/sdz1"});
  ASSERT_EQ(host.items.size(), 1u);
  EXPECT_EQ(host.items[0].bytes, 10 * kSectorSize);  // blank sectors are kept inside an item
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(ScanTest, PhotoSectorRangeReadsOnlyTheRange) {
  Medium(300);
  Photo(kJpg);
  Range(100, 200);
  Photo_Recovey_Mode(job, Pass::General);
  ASSERT_EQ(reads.size(), 100u);
  EXPECT_EQ(reads.front(), 100u);
  EXPECT_EQ(reads.back(), 199u);
  EXPECT_EQ(state.total_sector.load(), 100u);
}

struct LimitCase {
  const char* name;
  std::string limit;
  std::size_t expected_sectors;
};

class PhotoLimitTest : public ScanTest, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(PhotoLimitTest, ItemHoldsLargestMultipleOf512BelowItsLimit) {
  Medium(12);
  Jpeg(2);
  for (int s = 3; s < 12; ++s) Noise(static_cast<std::uint64_t>(s));
  Photo(Rec("JPG", GetParam().limit, "FFD8FF"));
  Photo_Recovey_Mode(job, Pass::General);
  ASSERT_EQ(host.items.size(), 1u);
  EXPECT_EQ(host.items[0].bytes, GetParam().expected_sectors * kSectorSize);
  EXPECT_EQ(host.items[0].start, 2u);
}

INSTANTIATE_TEST_SUITE_P(Table, PhotoLimitTest,
                         ::testing::Values(LimitCase{"OneSector", "1024", 1}, LimitCase{"TwoSectors", "1025", 2},
                                           LimitCase{"ExactlyFour", "2048", 3}, LimitCase{"Unreached", "1000000", 10}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST_F(ScanTest, PhotoHeaderAfterHeaderGivesOneSectorItem) {
  Medium(4);
  Jpeg(0);
  Jpeg(1);
  Photo(kJpg);
  Photo_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Names(), (std::vector<std::string>{"GND00001.JPG", "GND00002.JPG"}));
  EXPECT_EQ(host.items[0].bytes, kSectorSize);
  EXPECT_EQ(host.items[0].data[0], 0xFF);
}

TEST_F(ScanTest, PhotoThoroughItemsFollowGeneralOnesAndIdsContinueAcrossScans) {
  Medium(4);
  Jpeg(0);
  Plant(2, {0x89, 0x50, 0x4E, 0x47});
  Photo(kJpg, Rec("PNG", "100000", "89504E47"));
  Photo_Rec_Thread(job);
  EXPECT_EQ(Names(), (std::vector<std::string>{"GND00001.JPG", "THD00001.PNG"}));
  EXPECT_EQ(host.final_screens, 1);

  Photo_Rec_Thread(job);  // a second scan: names restart, ids go on
  EXPECT_EQ(Names(), (std::vector<std::string>{"GND00001.JPG", "THD00001.PNG"}));
  EXPECT_EQ(host.items[0].uid, "GND00002.JPG");
  EXPECT_EQ(host.items[1].uid, "THD00002.PNG");
}

TEST_F(ScanTest, PhotoThoroughBoxOffRunsOnePass) {
  Medium(4);
  Plant(2, {0x89, 0x50, 0x4E, 0x47});
  Photo(kJpg, Rec("PNG", "100000", "89504E47"));
  job.settings.Thro_Mode_Chk = false;
  Photo_Rec_Thread(job);
  EXPECT_TRUE(host.items.empty());
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0);
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, UnreadableSectorAfterHeaderYieldsNoPhantomItem) {
  Medium(12);
  Jpeg(5);
  unreadable = {6};
  Jpeg(8);
  Photo(kJpg);
  EXPECT_TRUE(Photo_Recovey_Mode(job, Pass::General));
  ASSERT_EQ(Spans(), (Spans_t{{5, 8}, {8, 12}}));
  // The unreadable sector stands in the item as zeros, so later bytes keep their place.
  EXPECT_EQ(host.items[0].data[kSectorSize], 0);
  EXPECT_EQ(reads.size(), 12u);
}

TEST_F(ScanTest, PhotoLastReadFailingRaisesTheStorageAlertButKeepsItems) {
  Medium(6);
  Jpeg(1);
  unreadable = {5};
  Photo(kJpg);
  EXPECT_FALSE(Photo_Recovey_Mode(job, Pass::General));
  EXPECT_EQ(host.alerts, std::vector<std::string>{kStorageReadError});
  EXPECT_EQ(host.items.size(), 1u);
}

TEST_F(ScanTest, PhotoEmptyRangeAlertsAndSkipsTheThoroughPass) {
  Medium(6);
  Photo(kJpg, kJpg);
  Range(3, 3);
  Photo_Rec_Thread(job);
  EXPECT_EQ(host.alerts, std::vector<std::string>{kStorageReadError});
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0);
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, ReversedRangeIsEmptyNotHuge) {
  Medium(6);
  Photo(kJpg);
  Range(5, 2);
  EXPECT_FALSE(Photo_Recovey_Mode(job, Pass::General));
  EXPECT_EQ(state.total_sector.load(), 0u);
  EXPECT_TRUE(reads.empty());
}

TEST_F(ScanTest, EmptyRecordListReadsNothingAndSucceeds) {
  Medium(6);
  Photo({});
  EXPECT_TRUE(Photo_Recovey_Mode(job, Pass::General));
  EXPECT_TRUE(reads.empty());
  EXPECT_TRUE(host.alerts.empty());
}

TEST_F(ScanTest, PhotoStopKeepsPartItemAndShowsOneEndScreen) {
  Medium(20);
  Jpeg(2);
  Noise(3);
  stop_at = 4;
  Photo(kJpg, kJpg);
  Photo_Rec_Thread(job);
  ASSERT_EQ(host.items.size(), 1u);
  EXPECT_EQ(host.items[0].bytes, 3 * kSectorSize);  // sectors 2, 3, 4
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_EQ(state.stop_now.load(), 0);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "timer-stopped"), 1);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0);
}

TEST_F(ScanTest, StopDuringThoroughPassKeepsGeneralItems) {
  Medium(20);
  Jpeg(2);
  Photo(kJpg, kJpg);
  Photo_Recovey_Mode(job, Pass::General);
  stop_at = 5;
  EXPECT_FALSE(Photo_Recovey_Mode(job, Pass::Thorough));
  EXPECT_EQ(Names(), (std::vector<std::string>{"GND00001.JPG", "THD00001.JPG"}));
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, StopPendingBetweenPassesStopsThoroughAtItsFirstSector) {
  Medium(8);
  Jpeg(0);
  Photo(kJpg, kJpg);
  EXPECT_TRUE(Photo_Recovey_Mode(job, Pass::General));
  state.stop_now.store(1);
  EXPECT_FALSE(Photo_Recovey_Mode(job, Pass::Thorough));
  EXPECT_TRUE(reads.empty());
  EXPECT_EQ(host.items.size(), 1u);
}

struct OpenFailCase {
  const char* name;
  RecoveryMode mode;
};
class OpenFailureTest : public ScanTest, public ::testing::WithParamInterface<OpenFailCase> {};

TEST_P(OpenFailureTest, AlertWithReasonAndNoEndScreen) {
  Medium(4);
  Raw(Rec("DOC", "1", "D0CF11E0"));
  job.mode = GetParam().mode;
  job.open_source = [](const std::string&, std::string* why) -> std::unique_ptr<SectorSource> {
    *why = "Permission denied";
    return nullptr;
  };
  if (job.mode == RecoveryMode::Photo) Photo_Rec_Thread(job); else Raw_File_Rec_Thread(job);
  EXPECT_EQ(host.alerts, std::vector<std::string>{kStorageReadError});
  EXPECT_EQ(host.informatives, std::vector<std::string>{"Permission denied"});
  EXPECT_EQ(host.final_screens, 0);
  EXPECT_EQ(state.stop_screen_already_show.load(), 1);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "open-failed"), 1);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), "started"), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, OpenFailureTest,
                         ::testing::Values(OpenFailCase{"Photo", RecoveryMode::Photo},
                                           OpenFailCase{"Raw", RecoveryMode::RawFile}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(DevicePathTest, IdentifierUnderDevAbsolutePathAsItIs) {
  EXPECT_EQ(Device_Path("sdb1"), "/dev/sdb1");
  EXPECT_EQ(Device_Path("/home/me/card.img"), "/home/me/card.img");
}

// ---- raw pass ---------------------------------------------------------------

const StringList kDoc = Rec("DOC", "1", "D0CF11E0");

TEST_F(ScanTest, RawHeaderWithoutSuccessorRunsToTheSizeLimit) {
  Medium(36864 + 20);
  Doc(3);
  Raw(kDoc);
  EXPECT_TRUE(Raw_File_Recovey_Mode(job, Pass::General));
  EXPECT_EQ(Spans(), (Spans_t{{3, 3 + 36864}}));
  EXPECT_EQ(Names(), std::vector<std::string>{"DOC00001.DOC"});
}

TEST_F(ScanTest, NewHeaderClosesOpenItemsAtItsOwnSector) {
  Medium(12);
  Doc(2);
  Noise(3);
  Doc(7);
  Raw(kDoc);
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Spans(), (Spans_t{{2, 7}, {7, 12}}));
  EXPECT_EQ(Names(), (std::vector<std::string>{"DOC00001.DOC", "DOC00002.DOC"}));
  EXPECT_EQ(host.summary.NoOfFile("DOC"), 2u);
}

struct FamilyScanCase {
  const char* name;
  StringList list;
  std::uint8_t third_byte;
  std::vector<std::string> expected;
};
class RawFamilyTest : public ScanTest, public ::testing::WithParamInterface<FamilyScanCase> {};

TEST_P(RawFamilyTest, OneHeaderOpensTheRelatedCandidates) {
  Medium(4);
  Zip(1, GetParam().third_byte);
  Raw(GetParam().list);
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Names(), GetParam().expected);
  EXPECT_EQ(Spans(), Spans_t(GetParam().expected.size(), {1, 4}));
}

const StringList kShortFirst = Join({Rec("ZIP", "1", "504B"), Rec("DOCX", "1", "504B0304")});
const StringList kLongFirst = Join({Rec("DOCX", "1", "504B0304"), Rec("ZIP", "1", "504B")});
INSTANTIATE_TEST_SUITE_P(
    Table, RawFamilyTest,
    ::testing::Values(
        FamilyScanCase{"ShortFirstLocalHeader", kShortFirst, 0x03, {"ZIP00001.ZIP", "DOCX00001.DOCX"}},
        FamilyScanCase{"ShortFirstOtherRecordStillOpensLonger", kShortFirst, 0x05, {"ZIP00001.ZIP", "DOCX00001.DOCX"}},
        FamilyScanCase{"LongFirstLocalHeader", kLongFirst, 0x03, {"DOCX00001.DOCX", "ZIP00001.ZIP"}},
        FamilyScanCase{"LongFirstOtherRecordOpensOnlyShort", kLongFirst, 0x05, {"ZIP00001.ZIP"}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(ScanTest, TwoRecordsOfOneTypeOpenTwoItemsWithOneName) {
  Medium(4);
  Doc(1);
  Raw(Join({Rec("DOC", "1", "D0CF"), Rec("DOC", "1", "D0CF11")}));
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Names(), (std::vector<std::string>{"DOC00001.DOC", "DOC00001.DOC"}));
  EXPECT_EQ(host.summary.NoOfFile("DOC"), 2u);
}

TEST_F(ScanTest, RawHeaderAtRangeStartEndsWithTheRange) {
  Medium(20);
  Doc(10);
  Raw(kDoc);
  Range(10, 12);
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Spans(), (Spans_t{{10, 12}}));
}

TEST_F(ScanTest, RawStopRightAfterHeaderEndsItemAtTheNextSector) {
  Medium(20);
  Doc(4);
  stop_at = 4;
  Raw(kDoc, kDoc);
  Raw_File_Rec_Thread(job);
  EXPECT_EQ(Spans(), (Spans_t{{4, 5}}));
  EXPECT_EQ(host.final_screens, 1);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 0);
}

TEST_F(ScanTest, RawThoroughPassNumbersAfterTheGeneralPass) {
  Medium(12);
  Doc(1);
  Doc(4);
  Plant(8, {0xDB, 0xA5});
  Raw(kDoc, Rec("DOC", "1", "DBA5"));
  Raw_File_Rec_Thread(job);
  EXPECT_EQ(Names(), (std::vector<std::string>{"DOC00001.DOC", "DOC00002.DOC", "DOC00003.DOC"}));
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, RawThoroughRunsWithBoxOffWhenTypesHaveThoroughRecords) {
  Medium(6);
  Raw(kDoc, kDoc);
  job.settings.Thro_Mode_Chk_SIG = false;
  Raw_File_Rec_Thread(job);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 1);
}

TEST_F(ScanTest, RawThoroughWithBoxOnAndNoRecordsReadsNothing) {
  Medium(6);
  Raw(kDoc);
  job.settings.Thro_Mode_Chk_SIG = true;
  Raw_File_Rec_Thread(job);
  EXPECT_EQ(std::count(host.log.begin(), host.log.end(), std::string("mode:") + kThoroughModeLabel), 1);
  EXPECT_TRUE(reads.empty());
  EXPECT_TRUE(host.alerts.empty());
  EXPECT_EQ(host.final_screens, 1);
}

TEST_F(ScanTest, RawScanEndingDuringPreviewLeavesTheEndScreenToThePreview) {
  Medium(6);
  Raw(kDoc);
  host.preview_open = true;
  Raw_File_Rec_Thread(job);
  EXPECT_EQ(host.final_screens, 0);
  EXPECT_EQ(state.stop_now.load(), 1);
}

TEST_F(ScanTest, RawBlankRunOutsideAnItemIsNotCounted) {
  Medium(36864 + 40);
  Doc(30);  // thirty blank sectors before the header do not count toward its limit
  Raw(kDoc);
  Raw_File_Recovey_Mode(job, Pass::General);
  EXPECT_EQ(Spans(), (Spans_t{{30, 30 + 36864}}));
}

// ---- progress ---------------------------------------------------------------

struct TickCase {
  const char* name;
  std::uint64_t for_index, start, end;
  std::optional<std::string> label;
};
class TickTest : public ::testing::TestWithParam<TickCase> {};

TEST_P(TickTest, LabelFromTheCounters) {
  ScanState s;
  s.for_index = GetParam().for_index;
  s.start_sector = GetParam().start;
  s.end_sector = GetParam().end;
  const auto v = timerTickSetLabel(s);
  ASSERT_EQ(v.has_value(), GetParam().label.has_value());
  if (v) {
    EXPECT_EQ(v->label, *GetParam().label);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, TickTest,
    ::testing::Values(TickCase{"ThreeQuarters", 1536, 0, 2048, "Sectors 1536 of 2048   ( Completed 75% )"},
                      TickCase{"FromRangeStart", 150, 100, 200, "Sectors 150 of 200   ( Completed 50% )"},
                      TickCase{"ZeroRangeShowsZero", 7, 7, 7, "Sectors 7 of 7   ( Completed 0% )"},
                      TickCase{"Complete", 2048, 0, 2048, "Sectors 2048 of 2048   ( Completed 100% )"},
                      TickCase{"HugeMedium", 3900000000ull, 0, 7800000000ull,
                               "Sectors 3900000000 of 7800000000   ( Completed 50% )"},
                      TickCase{"PastTheEndShowsNothing", 9, 0, 8, std::nullopt}),
    [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace tamberlin
