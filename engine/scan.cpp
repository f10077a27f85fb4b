#include "engine/scan.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>
#include <memory>
#include <new>

#include "engine/header_index.h"

namespace tamberlin {
namespace {

constexpr std::uint8_t kBlank[kSectorSize] = {};

bool Is_Blank(const std::uint8_t* sector) { return std::memcmp(sector, kBlank, kSectorSize) == 0; }

void Call_Final_or_Stop_Screen(ScanJob& job) {
  job.state->stop_screen_already_show.store(1);
  job.host->Final_or_Stop_Screen();
}

// Set-up shared by both passes, up to and including the device open. Returns
// the open source, or null after taking the open-failure path.
std::unique_ptr<SectorSource> Begin_Pass(ScanJob& job, Pass pass) {
  ScanState& st = *job.state;
  ScanHost& host = *job.host;
  if (pass == Pass::General) host.Clear_Found_Items(job.mode);
  host.Set_Mode_Label(pass == Pass::General ? kGeneralModeLabel : kThoroughModeLabel);

  const ScanSettings& s = job.settings;
  const bool photo = job.mode == RecoveryMode::Photo;
  const bool entire = photo ? s.entire_disk_rd : s.entire_disk_rd_Sig;
  const bool ranged = photo ? s.sector_range_rd : s.sector_range_rd_Sig;
  std::uint64_t start = 0;
  std::uint64_t end = 0;
  if (entire && !ranged) {
    end = s.sectors_val;
  } else if (!entire && ranged) {
    start = photo ? s.Start_slider_val : s.Start_slider_val_Sig;
    end = photo ? s.End_slider_val : s.End_slider_val_Sig;
  }
  // A reversed range is an empty one; it must not wrap into a huge total.
  if (end < start) end = start;
  st.start_sector.store(start);
  st.end_sector.store(end);
  st.total_sector.store(end - start);

  host.Set_Progress_Range(static_cast<double>(end - start));
  st.for_index.store(start);
  host.Set_Sector_Label(Sector_Label_Text(start, start, end));

  std::string why;
  auto source = job.open_source(Device_Path(s.disk_identifier), &why);
  if (!source) {
    host.Stop_Progress_Timer();
    host.Open_Failed(job.mode);
    st.stop_now.store(0);
    st.stop_screen_already_show.store(1);
    host.Alert(kStorageReadError, why);
    return nullptr;
  }

  host.Scan_Started(job.mode);
  host.Set_Progress_Value(0.0);
  host.Set_Help_Info(kStopHelp);
  host.Set_Sector_Label(Sector_Label_Text(start, start, end));
  return source;
}

// The end-of-pass alert: only the last read decides it.
bool Finish_Pass(ScanJob& job, bool last_read_ok, const std::string& informative = "") {
  if (!last_read_ok) {
    job.host->Alert(kStorageReadError, informative);
    return false;
  }
  return true;
}

std::string Vanished_Text(std::uint64_t first_failed) {
  return "The medium stopped answering: " + std::to_string(kVanishedRun) + " sectors in a row from sector " +
         std::to_string(first_failed) +
         " could not be read, so the search ended there. Check that it is still plugged in; what was found "
         "before is kept.";
}

// Stop requested: clear the request, stop the progress timer.
void Honour_Stop(ScanJob& job) {
  job.state->stop_now.store(0);
  job.host->Stop_Progress_Timer();
}

// The photo item being collected.
struct PhotoItem {
  bool open = false;
  std::vector<std::uint8_t> data;  // the item's first sectors, up to kPhotoBytesKept
  std::uint64_t sectors = 0;       // the item's sectors, kept in `data` or not
  std::uint64_t size = 0;   // bytes counted, a multiple of 512
  std::uint64_t limit = 0;
  std::uint64_t first_sector = 0;
  std::string name, uid;
};

// Hands the item over; the buffer keeps its capacity for the next item, so
// a pass does not allocate (and fault in) fresh memory for every photo.
void Record_Photo(ScanJob& job, PhotoItem& item) {
  const std::uint64_t sectors = item.sectors;
  item.sectors = 0;
  if (sectors != 0) job.host->addImageWithData(item.data, item.name, item.uid, item.first_sector, sectors);
  item.data.clear();
}

// Adds one sector (the sector buffer, or zeros for a blank or unreadable one)
// to the open item; closes the item when it reaches its limit. The sector
// that reaches the limit is not kept.
void Size_Step(ScanJob& job, PhotoItem& item, const std::uint8_t* sector) {
  item.size += kSectorSize;
  if (item.size < item.limit) {
    ++item.sectors;
    if (item.data.size() < job.photo_bytes_kept) item.data.insert(item.data.end(), sector, sector + kSectorSize);
    return;
  }
  Record_Photo(job, item);
  item.size = 0;
  item.open = false;
}

}  // namespace

std::string Sector_Label_Text(std::uint64_t for_index, std::uint64_t start, std::uint64_t end) {
  const std::uint64_t total = end > start ? end - start : 0;
  const std::uint64_t done = for_index > start ? for_index - start : 0;
  std::uint64_t pct = 0;
  if (total != 0) pct = (done / total) * 100 + (done % total) * 100 / total;
  return "Sectors " + std::to_string(for_index) + " of " + std::to_string(end) +
         "   ( Completed " + std::to_string(pct) + "% )";
}

std::optional<ProgressView> timerTickSetLabel(const ScanState& state) {
  const std::uint64_t for_index = state.for_index.load(std::memory_order_relaxed);
  const std::uint64_t start = state.start_sector.load(std::memory_order_relaxed);
  const std::uint64_t end = state.end_sector.load(std::memory_order_relaxed);
  if (for_index > end) return std::nullopt;
  ProgressView v;
  v.label = Sector_Label_Text(for_index, start, end);
  v.value = static_cast<double>(for_index > start ? for_index - start : 0);
  return v;
}

namespace {

enum class LoopEnd { Completed, Stopped, Vanished };

// Memory ran out (a huge item, or the host's copy of one) or the host
// failed: say so and stop, so a scan that missed the rest of the medium
// never looks complete. Items recorded so far stay listed.
void Pass_Broke(ScanJob& job, const std::exception& e) {
  const std::string at = std::to_string(job.state->for_index.load());
  if (dynamic_cast<const std::bad_alloc*>(&e) != nullptr) {
    job.host->Alert(kOutOfMemoryAlert, "Items found before sector " + at +
                                           " are listed. Close other programs and scan again, or scan from "
                                           "sector " + at + " on with a sector range.");
    return;
  }
  job.host->Alert(kScanFailedAlert, std::string(e.what()) + ". Items found before sector " + at +
                                        " are listed; scan again from sector " + at + " on with a sector range.");
}

// The sector loop both passes share: one sector after another over the
// range, the stop flag tested before each read, an unreadable sector handed
// on as blank (the next read still takes the next sector) and counted,
// `for_index` published for the progress display. `on_sector(sector_no,
// bytes)` does the pass's own work. After a stop the request is cleared and
// the timer stopped; after kVanishedRun failed reads in a row the loop ends
// without handing on the last one.
template <class OnSector>
LoopEnd Sector_Loop(ScanJob& job, const HeaderIndex& index, SectorSource& source, bool& last_read_ok,
                    OnSector&& on_sector) {
  ScanState& st = *job.state;
  const std::uint64_t end = st.end_sector.load();
  std::uint64_t for_index = st.start_sector.load();
  std::uint64_t failed_in_pass = 0;
  std::uint64_t failed_in_row = 0;
  while (for_index < end) {
    if (index.empty()) {
      last_read_ok = true;  // nothing to search for is no read error
      break;
    }
    if (st.stop_now.load(std::memory_order_relaxed) == 1) {
      Honour_Stop(job);
      return LoopEnd::Stopped;
    }
    const std::uint64_t sector_no = for_index;
    const std::uint8_t* sector = source.Read_Sector(sector_no);
    last_read_ok = sector != nullptr;
    st.for_index.store(++for_index, std::memory_order_relaxed);
    if (sector == nullptr) {
      if (++failed_in_pass > st.unreadable_sectors.load(std::memory_order_relaxed)) {
        st.unreadable_sectors.store(failed_in_pass, std::memory_order_relaxed);
      }
      if (++failed_in_row >= kVanishedRun) return LoopEnd::Vanished;
      sector = kBlank;
    } else {
      failed_in_row = 0;
    }
    on_sector(sector_no, sector);
  }
  return LoopEnd::Completed;
}

}  // namespace

bool Photo_Recovey_Mode(ScanJob& job, Pass pass) {
  ScanState& st = *job.state;
  auto source = Begin_Pass(job, pass);
  if (!source) return false;

  const HeaderIndex index(pass == Pass::General ? job.general_records : job.thorough_records);
  const bool thorough = pass == Pass::Thorough;
  bool last_read_ok = false;
  PhotoItem item;
  std::uint64_t items_in_pass = 0;
  std::string vanished;  // the alert's informative text when the medium went

  try {
    const LoopEnd how = Sector_Loop(job, index, *source, last_read_ok, [&](std::uint64_t sector_no,
                                                                           const std::uint8_t* sector) {
      if (Is_Blank(sector)) {
        if (item.open) Size_Step(job, item, sector);
        return;
      }
      const std::size_t hit = index.Find(sector);
      if (hit != HeaderIndex::npos) {
        const CatalogueRecord& rec = index[hit];
        if (item.open) Record_Photo(job, item);
        item.open = true;
        item.size = 0;
        item.limit = rec.size_limit;
        item.first_sector = sector_no;
        ++items_in_pass;
        auto& counter = thorough ? st.THD_Image_number : st.GND_Image_number;
        const std::uint64_t id_number = counter.fetch_add(1) + 1;
        item.name = Generate_File_Name(items_in_pass, thorough ? "THD" : "GND", rec.key);
        item.uid = Generate_File_UID_Num(id_number, thorough, rec.key);
      }
      if (item.open) Size_Step(job, item, sector);
    });
    if (how == LoopEnd::Stopped) {
      source.reset();
      Record_Photo(job, item);  // the partly collected item is kept
      Call_Final_or_Stop_Screen(job);
      return false;
    }
    if (how == LoopEnd::Vanished) {
      // The open item ends where the medium stopped answering, not after
      // the run of zeros that stood in for it.
      const std::uint64_t first_failed = st.for_index.load() - kVanishedRun;
      if (item.open && first_failed > item.first_sector) {
        const std::uint64_t kept = first_failed - item.first_sector;
        item.sectors = std::min(item.sectors, kept);
        item.data.resize(std::min<std::uint64_t>(item.data.size(), kept * kSectorSize));
      }
      vanished = Vanished_Text(first_failed);
    }
    Record_Photo(job, item);
  } catch (const std::exception& e) {
    std::vector<std::uint8_t>().swap(item.data);
    source.reset();
    Pass_Broke(job, e);
    return false;
  }
  source.reset();
  return Finish_Pass(job, last_read_ok, vanished);
}

bool Raw_File_Recovey_Mode(ScanJob& job, Pass pass) {
  ScanState& st = *job.state;
  auto source = Begin_Pass(job, pass);
  if (!source) return false;

  const HeaderIndex index(pass == Pass::General ? job.general_records : job.thorough_records);
  bool last_read_ok = false;
  bool in_file = false;
  std::uint64_t start_sector = 0;  // sector of the most recent header
  std::uint64_t bytes = 0;         // counted since that header, its sector included
  std::uint64_t candidates_opened = 0;
  std::vector<std::string> open;   // names (also the uids); all share start_sector and bytes

  auto close_all = [&](std::uint64_t end_sector) {
    for (const auto& name : open) job.host->addImageWithData_2(name, name, start_sector, end_sector);
    open.clear();
  };

  try {
    const LoopEnd how = Sector_Loop(job, index, *source, last_read_ok, [&](std::uint64_t sector_no,
                                                                           const std::uint8_t* sector) {
      const std::size_t hit = Is_Blank(sector) ? HeaderIndex::npos : index.Find(sector);
      if (hit != HeaderIndex::npos) {
        // A new header ends every open item just before its own sector.
        if (in_file) close_all(sector_no);
        if (open.empty()) bytes = 0;
        start_sector = sector_no;
        for (const std::uint32_t j : index.Family(hit)) {
          const std::string& type = index[j].key;
          ++candidates_opened;
          open.push_back(Generate_File_Name(candidates_opened, type, type, job.mode, job.counts));
        }
        in_file = true;
      } else if (!in_file) {
        return;  // nothing found yet in this pass
      }
      bytes += kSectorSize;
      // Every candidate shares the byte counter, so they reach the limit together.
      if (!open.empty() && bytes >= kRawItemLimit) close_all(sector_no + 1);
      if (open.empty()) {
        bytes = 0;
        start_sector = 0;
      }
    });
    if (how == LoopEnd::Stopped) {
      source.reset();
      close_all(st.for_index.load());  // open items end at the next sector to be read
      Call_Final_or_Stop_Screen(job);
      return false;
    }
    if (how == LoopEnd::Vanished) {
      // Open items end where the medium stopped answering.
      const std::uint64_t first_failed = st.for_index.load() - kVanishedRun;
      close_all(std::max(first_failed, start_sector + 1));
      source.reset();
      return Finish_Pass(job, false, Vanished_Text(first_failed));
    }
    close_all(st.for_index.load());
  } catch (const std::exception& e) {
    open.clear();  // an aborted pass records no half-made items
    source.reset();
    Pass_Broke(job, e);
    return false;
  }
  source.reset();
  return Finish_Pass(job, last_read_ok);
}

void Photo_Rec_Thread(ScanJob& job) {
  ScanState& st = *job.state;
  st.stop_screen_already_show.store(0);
  st.unreadable_sectors.store(0);
  const bool ok = Photo_Recovey_Mode(job, Pass::General);
  if (ok && job.settings.Thro_Mode_Chk && st.stop_screen_already_show.load() == 0) {
    Photo_Recovey_Mode(job, Pass::Thorough);
  }
  if (st.stop_screen_already_show.load() == 0) Call_Final_or_Stop_Screen(job);
}

void Raw_File_Rec_Thread(ScanJob& job) {
  ScanState& st = *job.state;
  st.stop_screen_already_show.store(0);
  st.unreadable_sectors.store(0);
  if (!Raw_File_Recovey_Mode(job, Pass::General)) {
    if (st.stop_screen_already_show.load() == 0) Call_Final_or_Stop_Screen(job);
    return;
  }
  // In these modes the thorough pass also runs with the box off whenever the
  // chosen types have thorough records.
  if (st.stop_screen_already_show.load() == 0 &&
      (job.settings.Thro_Mode_Chk_SIG || !job.thorough_records.empty())) {
    Raw_File_Recovey_Mode(job, Pass::Thorough);
  }
  // A pass that was stopped has shown the end-of-scan screen already.
  if (st.stop_screen_already_show.load() != 0) return;
  if (job.host->Hand_End_To_Preview()) return;
  Call_Final_or_Stop_Screen(job);
}

void ScanRunner::Start(ScanJob job) {
  Join();
  job_ = std::move(job);
  running_.store(true);
  thread_ = std::thread([this] {
    if (job_.mode == RecoveryMode::Photo) {
      Photo_Rec_Thread(job_);
    } else {
      Raw_File_Rec_Thread(job_);
    }
    running_.store(false);
  });
}

void ScanRunner::Join() {
  if (thread_.joinable()) thread_.join();
}

}  // namespace tamberlin
