// The photo pass, the raw pass (video and raw-file modes) and the scan-thread
// bodies that sequence them. A scan reads only through a SectorSource and
// reaches the window only through ScanHost; everything it shares with other
// threads sits in ScanState as atomics, so the sector loop takes no lock.
// The photo pass holds one item's first kPhotoBytesKept bytes at most (for
// its thumbnail), however large the type allows; running out of memory stops
// the pass with an alert.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/catalogue.h"
#include "engine/naming.h"
#include "engine/sector_source.h"

namespace tamberlin {

enum class Pass { General, Thorough };  // "GEN", "THD"

// Shared between the window (UI thread), the scan thread and whatever shows
// progress. Owned by the window; must outlive every scan it is handed to.
struct ScanState {
  std::atomic<int> stop_now{0};                  // 1 asks the running pass to stop
  std::atomic<int> stop_screen_already_show{0};  // end-of-scan screen shown for this scan
  std::atomic<std::uint64_t> start_sector{0};
  std::atomic<std::uint64_t> end_sector{0};
  std::atomic<std::uint64_t> total_sector{0};
  std::atomic<std::uint64_t> for_index{0};       // next sector to be read
  // Photo items found by general / thorough passes since start-up; they
  // number the photo ids and are never reset between scans.
  std::atomic<std::uint64_t> GND_Image_number{0};
  std::atomic<std::uint64_t> THD_Image_number{0};
  // Sectors that could not be read and stood in as zeros: the most any one
  // pass of the scan met (both passes read the same sectors). Written by the
  // scan thread, reset when the thread body starts; read once the scan ended.
  std::atomic<std::uint64_t> unreadable_sectors{0};
};

// The set-up widgets' values, read on the UI thread when the scan is
// launched (sector numbers as the fields' leading numbers, Leading_Decimal).
// Photo mode reads the plain set, video and raw-file mode the _Sig set.
struct ScanSettings {
  std::string disk_identifier;   // identifier or absolute path of the medium
  std::uint64_t sectors_val = 0;  // the medium's sector count
  bool entire_disk_rd = true;
  bool sector_range_rd = false;
  std::uint64_t Start_slider_val = 0, End_slider_val = 0;
  bool entire_disk_rd_Sig = true;
  bool sector_range_rd_Sig = false;
  std::uint64_t Start_slider_val_Sig = 0, End_slider_val_Sig = 0;
  bool Thro_Mode_Chk = true;       // photo thorough box
  bool Thro_Mode_Chk_SIG = false;  // video / raw-file thorough box
};

// What a scan does to the window. Calls come from the scan thread. Every call
// except Alert and Final_or_Stop_Screen must return without waiting for the
// UI thread; those two return once the user has dismissed them.
class ScanHost {
 public:
  virtual ~ScanHost() = default;

  virtual void Set_Mode_Label(const std::string& text) = 0;    // _Mode_label
  virtual void Set_Sector_Label(const std::string& text) = 0;  // _sector_label
  virtual void Set_Progress_Range(double maximum) = 0;         // _Progress_Horz, minimum 0
  virtual void Set_Progress_Value(double value) = 0;
  virtual void Set_Help_Info(const std::string& text) = 0;     // _help_info
  // A general pass begins: empty the found-item list (photo: also reset the
  // browser zoom; video/raw: Prev_Index to none, reload the file browser).
  virtual void Clear_Found_Items(RecoveryMode mode) = 0;
  // The device is open and the loop starts: photo disables the thorough box
  // and the browse button; video/raw resets the preview box title.
  virtual void Scan_Started(RecoveryMode mode) = 0;
  // The device could not be opened: one screen back (range screen in photo
  // mode, file type screen otherwise), found-item counter to 0.
  virtual void Open_Failed(RecoveryMode mode) = 0;
  virtual void Stop_Progress_Timer() = 0;
  virtual void Alert(const std::string& message, const std::string& informative) = 0;
  virtual void Final_or_Stop_Screen() = 0;
  // A photo item: its first bytes (header sector first, at most
  // kPhotoBytesKept, enough for a thumbnail), name, id, and where it lies:
  // `sector_count` covers the whole item, however many bytes were kept. The
  // bytes are only valid during the call: copy what you keep. May throw
  // std::bad_alloc, which stops the pass with kOutOfMemoryAlert (any other
  // exception stops it with kScanFailedAlert).
  virtual void addImageWithData(const std::vector<std::uint8_t>& bytes, const std::string& name,
                                const std::string& uid, std::uint64_t first_sector,
                                std::uint64_t sector_count) = 0;
  // A video or raw item: sectors [start, end). The host counts it by name in
  // the summary that `counts` (see ScanJob) reads.
  virtual void addImageWithData_2(const std::string& name, const std::string& uid,
                                  std::uint64_t start_sector, std::uint64_t end_sector) = 0;
  // A video or raw-file scan has completed. When a preview extraction holds
  // its modal session, the preview takes the end-of-scan screen over (it
  // shows it when it closes) and this returns true; otherwise false, and the
  // scan shows it. The host decides in one step against the preview closing,
  // so exactly one of the two shows the screen.
  virtual bool Hand_End_To_Preview() = 0;
};

// A host with no window: shows nothing, keeps nothing. Front ends without a
// window (the command line, the benchmark) override only what they use.
class HeadlessScanHost : public ScanHost {
 public:
  void Set_Mode_Label(const std::string&) override {}
  void Set_Sector_Label(const std::string&) override {}
  void Set_Progress_Range(double) override {}
  void Set_Progress_Value(double) override {}
  void Set_Help_Info(const std::string&) override {}
  void Clear_Found_Items(RecoveryMode) override {}
  void Scan_Started(RecoveryMode) override {}
  void Open_Failed(RecoveryMode) override {}
  void Stop_Progress_Timer() override {}
  void Alert(const std::string&, const std::string&) override {}
  void Final_or_Stop_Screen() override {}
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string&, const std::string&, std::uint64_t,
                        std::uint64_t) override {}
  void addImageWithData_2(const std::string&, const std::string&, std::uint64_t, std::uint64_t) override {}
  bool Hand_End_To_Preview() override { return false; }
};

// The most bytes of one photo item held in memory and handed to the host
// (a PSB may be 2 GB long; its thumbnail needs far less). The window's
// thumbnail queue bounds what waits in total.
inline constexpr std::size_t kPhotoBytesKept = std::size_t{64} << 20;

// Everything one scan needs, assembled on the UI thread at launch and then
// used by the scan thread alone (state and host are shared, see above).
struct ScanJob {
  RecoveryMode mode = RecoveryMode::Photo;
  ScanSettings settings;
  // Photo: Ext_Array / Adv_Ext_Array. Video and raw file:
  // CheckListHeader_Array / CheckListHeader_Adv_Array.
  CatalogueList general_records;
  CatalogueList thorough_records;
  ScanState* state = nullptr;
  ScanHost* host = nullptr;
  const TypeCounts* counts = nullptr;  // the summary records, for raw names
  SourceOpener open_source = File_Opener();
  // How many of a photo item's first bytes the pass keeps for the host; a
  // front end that shows no thumbnails sets 0 and saves copying every sector.
  std::size_t photo_bytes_kept = kPhotoBytesKept;
};

inline constexpr const char* kStorageReadError = "\nError in storage media reading.";
inline constexpr const char* kGeneralModeLabel =
    "( Currently performing Search based on: Korvel General Recovery Procedure )";
inline constexpr const char* kThoroughModeLabel =
    "( Currently performing Search based on: Korvel Thorough Scanning Alogrithm )";
inline constexpr const char* kStopHelp =
    "\nTo stop recovery, click on \u2018Stop\u2019 Button or please wait for the process to be completed.";
inline constexpr std::uint64_t kRawItemLimit = 18874368;  // bytes, 36864 sectors
// Unreadable sectors in a row after which a pass takes the medium for gone
// (pulled out, or a reader that lost its card) and stops with the storage
// error instead of failing every sector left. 1 MiB: far longer than a bad
// patch on a stick that is still there, short enough to end within seconds.
inline constexpr std::uint64_t kVanishedRun = 2048;

inline constexpr const char* kOutOfMemoryAlert = "\nThe scan stopped: the computer ran out of memory.";
inline constexpr const char* kScanFailedAlert = "\nThe scan stopped because of an error.";

// One pass each. True when the pass completed and its last read returned a
// whole sector, or there was nothing to search for; false when the device
// could not be opened, the user stopped, the range was empty, the last read
// failed, kVanishedRun reads in a row failed or memory ran out. Scan thread
// only.
bool Photo_Recovey_Mode(ScanJob& job, Pass pass);
bool Raw_File_Recovey_Mode(ScanJob& job, Pass pass);

// Thread bodies: the general pass, the thorough pass when the mode's rule
// allows it, then the end-of-scan screen unless already shown.
void Photo_Rec_Thread(ScanJob& job);
void Raw_File_Rec_Thread(ScanJob& job);

// The progress display at one moment: label text and bar value. Nothing
// when for_index is past end_sector. A zero-sector range shows 0%.
struct ProgressView {
  std::string label;
  double value = 0;
};
std::optional<ProgressView> timerTickSetLabel(const ScanState& state);
std::string Sector_Label_Text(std::uint64_t for_index, std::uint64_t start, std::uint64_t end);

// Runs one scan at a time on its own thread. The owner keeps the job alive
// (it is moved in) and the state and host it points to until Join returns.
class ScanRunner {
 public:
  ScanRunner() = default;
  ~ScanRunner() { Join(); }
  ScanRunner(const ScanRunner&) = delete;
  ScanRunner& operator=(const ScanRunner&) = delete;

  // Starts the scan thread for the job's mode; joins a finished earlier scan
  // first. Precondition: no scan is running (Running() is false).
  void Start(ScanJob job);
  bool Running() const { return running_.load(); }
  void Join();

 private:
  ScanJob job_;
  std::thread thread_;
  std::atomic<bool> running_{false};
};

}  // namespace tamberlin
