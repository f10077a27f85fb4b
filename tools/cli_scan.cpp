// tamberlin-cli scan: runs the same passes as the window over a device or a
// disk image and prints what it finds as CSV.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <variant>

#include "engine/catalogue.h"
#include "engine/decimal.h"
#include "engine/scan.h"
#include "engine/sector_range.h"
#include "engine/type_selection.h"
#include "recovery/destination.h"
#include "recovery/recover.h"
#include "results/summary_records.h"
#include "tools/cli.h"
#include "tools/cli_args.h"
#include "tools/cli_progress.h"
#include "tools/cli_scan_options.h"
#include "tools/cli_text.h"

namespace tamberlin::cli {
namespace {

constexpr int kExitCompleted = 0;
constexpr int kExitReadError = 1;
constexpr int kExitUsage = 2;
constexpr int kExitCannotOpen = 3;
constexpr int kExitRecoveryFailed = 4;

std::atomic<int>* g_stop_flag = nullptr;
std::atomic<int> g_interrupted{0};  // the signal that stopped the run, 0 when none
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the interrupt handler needs lock-free atomics");

std::atomic<bool>* g_recover_cancel = nullptr;

// Ctrl-C, kill (SIGTERM) and a closed terminal (SIGHUP) all stop the scan or
// the recovery cleanly: no unfinished file is left behind.
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void On_Interrupt(int sig) {
  g_interrupted.store(sig);
  if (g_stop_flag != nullptr) g_stop_flag->store(1);
  if (g_recover_cancel != nullptr) g_recover_cancel->store(true);
  ::signal(sig, SIG_DFL);  // a second one ends the program at once
}

void Catch_Stop_Signals() {
  struct sigaction sa {};
  sa.sa_handler = On_Interrupt;
  for (const int sig : kStopSignals) ::sigaction(sig, &sa, nullptr);
}

void Default_Stop_Signals() {
  for (const int sig : kStopSignals) ::signal(sig, SIG_DFL);
}

// 128 + the signal, as shells report a program the signal ended (130 for Ctrl-C).
int Exit_Interrupted() { return 128 + g_interrupted.load(); }

// Prints items as they are found, keeps the progress line, and remembers
// what the summary needs.
class CliHost final : public HeadlessScanHost {
 public:
  CliHost(RecoveryMode mode, std::set<std::string> types, const ScanState& state, bool show_progress)
      : mode_(mode), types_(std::move(types)), state_(state), show_progress_(show_progress) {}

  void Set_Mode_Label(const std::string& text) override {
    std::lock_guard l(err_mu_);
    // The next pass runs only when the last one went to its end.
    if (pass_running_) End_Pass_Line(true);
    pass_ = text == kGeneralModeLabel ? "GEN" : "THD";
    pass_running_ = true;
    meter_.Add(Seconds(), 0);
    alert_in_pass_ = false;
  }
  void Open_Failed(RecoveryMode) override {
    std::lock_guard l(err_mu_);
    open_failed_ = true;
    pass_running_ = false;
  }
  void Alert(const std::string& message, const std::string& informative) override {
    std::lock_guard l(err_mu_);
    std::fprintf(stderr, "%s%s\n", progress_shown_ ? "\n" : "", Terminal_Text(message).c_str());
    if (!informative.empty()) std::fprintf(stderr, "%s\n", Terminal_Text(informative).c_str());
    progress_shown_ = false;
    alert_in_pass_ = true;
    // A read error, or memory running out: the scan did not see everything.
    if (!open_failed_) read_error_ = true;
  }
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string& name, const std::string& uid,
                        std::uint64_t first_sector, std::uint64_t sector_count) override {
    Row(name, uid, first_sector, first_sector + sector_count, sector_count * kSectorSize);
    found.push_back({name, first_sector, first_sector + sector_count});
    auto& t = photo_types_[Type_Of(name, types_)];
    ++t.first;
    t.second = name;
  }
  void addImageWithData_2(const std::string& name, const std::string& uid, std::uint64_t start,
                          std::uint64_t end) override {
    Row(name, uid, start, end, (end - start) * kSectorSize);
    found.push_back({name, start, end});
    summary.Count_Item(name);
  }

  // The progress line now.
  void Tick() {
    std::lock_guard l(err_mu_);
    const std::uint64_t start = state_.start_sector.load(), end = state_.end_sector.load();
    const std::uint64_t at = state_.for_index.load();
    if (!pass_running_ || at > end || at < start) return;
    meter_.Add(Seconds(), (at - start) * kSectorSize);
    std::fprintf(stderr, "\r%s\033[K",
                 Progress_Line(pass_, at, start, end, Rate_Text(meter_, (end - start) * kSectorSize)).c_str());
    progress_shown_ = true;
  }

  // The last progress line of the scan: 100% when the pass went to its end.
  void Scan_Ended(bool stopped) {
    std::lock_guard l(err_mu_);
    if (pass_running_) End_Pass_Line(!stopped && !alert_in_pass_);
    pass_running_ = false;
  }

  void Print_Summary() {
    std::lock_guard l(err_mu_);
    std::fprintf(stderr, "%stype\tcount\tlast name\n", progress_shown_ ? "\n" : "");
    progress_shown_ = false;
    if (mode_ == RecoveryMode::Photo) {
      for (const auto& [type, t] : photo_types_) {
        std::fprintf(stderr, "%s\t%llu\t%s\n", type.c_str(), static_cast<unsigned long long>(t.first), t.second.c_str());
      }
      return;
    }
    // Types with nothing found are left out: the full list can run to dozens.
    for (const auto& r : summary.Snapshot()) {
      if (r.NoOfFile == 0) continue;
      std::fprintf(stderr, "%s\t%llu\t%s\n", r.FileTypes.c_str(), static_cast<unsigned long long>(r.NoOfFile),
                   r.FileName.c_str());
    }
  }

  bool open_failed() const { return open_failed_; }
  bool read_error() const { return read_error_; }

  std::vector<recovery::FoundRange> found;  // in the order found (general pass first)
  SignatureList summary;

 private:
  void Row(const std::string& name, const std::string& uid, std::uint64_t start, std::uint64_t end,
           std::uint64_t bytes) {
    std::lock_guard l(err_mu_);
    // Rows on the same terminal take the progress line's place; the next tick
    // shows it again below them.
    if (progress_shown_ && rows_on_terminal_) {
      std::fputs("\r\033[K", stderr);
      progress_shown_ = false;
    }
    std::printf("%s,%s,%s,%s,%llu,%llu,%llu\n", pass_.c_str(), Csv_Field(name).c_str(), Csv_Field(uid).c_str(),
                Csv_Field(Type_Of(name, types_)).c_str(), static_cast<unsigned long long>(start),
                static_cast<unsigned long long>(end), static_cast<unsigned long long>(bytes));
  }

  // Caller holds err_mu_. The pass's state is still in place: the next pass
  // resets it only after announcing itself.
  void End_Pass_Line(bool to_the_end) {
    if (show_progress_ && !open_failed_) {
      const std::uint64_t start = state_.start_sector.load(), end = state_.end_sector.load();
      const std::uint64_t at = to_the_end ? end : std::clamp(state_.for_index.load(), start, end);
      meter_.Add(Seconds(), (at - start) * kSectorSize);
      std::fprintf(stderr, "\r%s\033[K\n", Progress_Line(pass_, at, start, end, Rate_Text(meter_, std::nullopt)).c_str());
    }
    progress_shown_ = false;
    meter_.Reset();
  }

  double Seconds() const {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
  }

  RecoveryMode mode_;
  std::set<std::string> types_;  // the catalogue's type keys, for the type column
  const ScanState& state_;
  bool show_progress_;
  const bool rows_on_terminal_ = ::isatty(STDOUT_FILENO) != 0;
  std::string pass_ = "GEN";
  bool open_failed_ = false;
  bool read_error_ = false;
  std::map<std::string, std::pair<std::uint64_t, std::string>> photo_types_;

  std::mutex err_mu_;  // stderr lines from the scan and the progress thread, and what follows
  bool progress_shown_ = false;  // a progress line waits for its line break
  bool pass_running_ = false;
  bool alert_in_pass_ = false;
  ProgressRate meter_;
  const std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
};

int Usage_Error(const std::string& what) {
  std::fprintf(stderr, "tamberlin-cli scan: %s\n%s", what.c_str(),
               "usage: tamberlin-cli scan [OPTIONS] SOURCE (tamberlin-cli scan --help lists the options)\n");
  return kExitUsage;
}

void Print_Problem(const std::string& message, const std::string& informative = {}) {
  std::fprintf(stderr, "%s\n", Terminal_Text(message).c_str());
  if (!informative.empty()) std::fprintf(stderr, "%s\n", Terminal_Text(informative).c_str());
}

// Why a range is refused, in the terms of --range.
std::string Range_Problem_Text(const RangeProblem& problem) {
  switch (problem.step) {
    case 1: return "START is not a sector number";
    case 2:
    case 3: return "START lies past the end of the medium";
    case 4: return "END is not a sector number";
    case 5:
    case 6: return "END lies past the end of the medium";
    default: return "END must be greater than START";
  }
}

// Everything the run needs once the arguments, the catalogue, the medium and
// the destination have been checked.
struct ScanPlan {
  std::string path;  // the medium as opened
  std::uint64_t sectors = 0;
  SourceOpener open_medium;
  CatalogueList general, thorough;  // the mode's whole lists
  std::vector<ExtensionListRecord> rows;
  AppliedSelection applied;
  std::optional<std::pair<std::string, std::string>> range;  // start and end text
};

// Checks the source, the types, the range and the destination before a
// sector is read, so a long scan does not end in a refusal. Prints why and
// gives the exit code when something is refused.
std::variant<ScanPlan, int> Check_Source(ScanOptions& o) {
  ScanPlan plan;
  // A path (anything with a slash, or a name that is no device under /dev)
  // is read as it is; a bare name of a device is its identifier.
  {
    std::error_code ec;
    const bool is_path = o.source.find('/') != std::string::npos || !std::filesystem::exists("/dev/" + o.source, ec);
    if (is_path) o.source = std::filesystem::absolute(o.source, ec).lexically_normal().string();
  }
  if (o.resources.empty()) o.resources = Default_Data_Dir();

  const Catalogue catalogue = Catalogue::Load(o.resources);
  plan.general = catalogue.General(o.mode);
  plan.thorough = catalogue.Thorough(o.mode);
  if (plan.general.empty() && plan.thorough.empty()) {
    return Usage_Error("no signatures for this mode in " + o.resources.string() +
                       " (is --resources the folder holding the catalogue files?)");
  }

  // The type selection, applied as the file type screen applies it.
  plan.rows = Build_Extension_List(plan.general, plan.thorough);
  if (o.types) {
    std::set<std::string> wanted;
    for (const auto& t : *o.types) {
      const auto it = std::find_if(plan.rows.begin(), plan.rows.end(), [&](const auto& r) { return r.Extension == t; });
      if (it == plan.rows.end()) {
        std::string known;
        for (const auto& r : plan.rows) known += (known.empty() ? "" : ",") + r.Extension;
        return Usage_Error("unknown type '" + t + "' for this mode (known: " + known + ")");
      }
      wanted.insert(t);
    }
    for (auto& r : plan.rows) r.State = wanted.count(r.Extension) != 0;
  }
  if (!Check_For_One_Extension_Selection(plan.rows)) {
    return Usage_Error(Terminal_Text("\nPlease select atleast one extension type."));
  }
  plan.applied = Apply_Selection(plan.rows, plan.general, plan.thorough);

  // The medium's identity and size, for the entire-disk range, the range
  // check and every later open.
  plan.path = Device_Path(o.source);
  MediumIdentity medium;
  {
    std::string why;
    const int fd = Open_Medium(plan.path, &why, &medium);
    if (fd < 0) {
      Print_Problem(why);
      return kExitCannotOpen;
    }
    ::close(fd);
  }
  if (medium.size < kSectorSize) {
    std::fprintf(stderr, "%s: %s.\n", plan.path.c_str(), kEmptyMediumMessage);
    return kExitCannotOpen;
  }
  plan.sectors = medium.size / kSectorSize;
  plan.open_medium = Same_Medium_Opener(File_Opener(), medium);

  if (o.range) {
    const auto colon = o.range->find(':');
    const std::string s = colon == std::string::npos ? *o.range : o.range->substr(0, colon);
    const std::string e = colon == std::string::npos ? "" : o.range->substr(colon + 1);
    const std::string count = std::to_string(plan.sectors);
    if (const auto problem = Validate_Sector_Range(s, e, count)) {
      return Usage_Error("bad --range " + *o.range + ": " + Range_Problem_Text(*problem) + "; the medium has " +
                         count + " sectors, so 0 <= START < END <= " + count);
    }
    plan.range.emplace(s, e);
  }

  if (o.recover) {
    // A missing folder is made, but only after its nearest existing parent
    // has passed the checks: making it on the medium would write to it.
    std::error_code ec;
    std::filesystem::path existing = std::filesystem::absolute(*o.recover, ec);
    while (!existing.empty() && !std::filesystem::exists(existing, ec) && existing != existing.parent_path()) {
      existing = existing.parent_path();
    }
    if (const auto problem = recovery::Check_Destination(existing, plan.path)) {
      Print_Problem(problem->message, problem->informative);
      return kExitRecoveryFailed;
    }
    if (!std::filesystem::exists(*o.recover, ec) && !std::filesystem::create_directories(*o.recover, ec)) {
      std::fprintf(stderr, "The destination folder could not be made: %s\n", ec.message().c_str());
      return kExitRecoveryFailed;
    }
    if (const auto problem = recovery::Check_Destination(*o.recover, plan.path)) {
      Print_Problem(problem->message, problem->informative);
      return kExitRecoveryFailed;
    }
  }
  return plan;
}

// Writes the plan's items into `folder`, with a progress line on a terminal.
int Recover(const recovery::RecoveryPlan& plan, const SourceOpener& open, const std::string& path,
            const std::string& folder, bool quiet, const recovery::RecoveryOptions& options) {
  const std::vector<recovery::RecoveryItem>& items = plan.items;
  if (const auto& problem = plan.space_warning) {
    std::fprintf(stderr, "%s\n%s\n", problem->message.c_str(), problem->informative.c_str());
  }
  std::string why;
  auto source = open(path, &why);  // refused when the medium changed since the scan started
  if (!source) {
    Print_Problem(why);
    return kExitCannotOpen;
  }
  recovery::RecoveryProgress progress;
  g_recover_cancel = &progress.cancel;
  Catch_Stop_Signals();
  std::atomic<bool> done{false};
  std::thread meter;
  if (!quiet && ::isatty(STDERR_FILENO)) {
    meter = std::thread([&] {
      while (!done.load()) {
        std::fprintf(stderr, "\rRecovering: %llu of %llu items, %s", 
                     static_cast<unsigned long long>(progress.items_done.load()),
                     static_cast<unsigned long long>(progress.items_total.load()),
                     recovery::Size_Text(progress.bytes_written.load()).c_str());
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
      }
      std::fputs("\n", stderr);
    });
  }
  const auto outcome = recovery::Recover_Items(*source, items, folder, progress, options);
  done.store(true);
  if (meter.joinable()) meter.join();
  Default_Stop_Signals();
  g_recover_cancel = nullptr;
  if (outcome.stale_parts_removed != 0) {
    std::fprintf(stderr, "Removed %llu unfinished files left in %s by an earlier recovery that was stopped.\n",
                 static_cast<unsigned long long>(outcome.stale_parts_removed), folder.c_str());
  }

  const std::uint64_t doubtful = outcome.Count(recovery::ItemEnd::Doubtful);
  const auto n = [](std::uint64_t v) { return static_cast<unsigned long long>(v); };
  std::fprintf(stderr, "Recovered %llu of %zu items into %s (%llu cut to their real end, %llu extended).\n",
               n(outcome.files_written - doubtful), items.size(), folder.c_str(),
               n(outcome.Count(recovery::ItemEnd::Trimmed)), n(outcome.Count(recovery::ItemEnd::Extended)));
  std::fprintf(stderr,
               "Not their format: %llu (%llu not written, %llu kept in doubtful/); inside other files: %llu; "
               "duplicates: %llu.\n",
               n(outcome.not_this_format), n(outcome.not_this_format - doubtful), n(doubtful), n(outcome.inside),
               n(outcome.duplicates));
  if (!outcome.report_path.empty()) std::fprintf(stderr, "Report: %s\n", outcome.report_path.c_str());
  if (outcome.cancelled) {
    std::fputs("Recovery stopped: no partial file was left.\n", stderr);
    return Exit_Interrupted();
  }
  if (outcome.stopped_because) {
    std::fprintf(stderr, "%s\n", outcome.stopped_because->c_str());
    return kExitRecoveryFailed;
  }
  return kExitCompleted;
}

// The scan itself, then the recovery when asked for.
int Run_Scan(const ScanOptions& o, const ScanPlan& plan) {
  std::set<std::string> types;
  for (const CatalogueList* list : {&plan.general, &plan.thorough}) {
    for (const CatalogueRecord& r : *list) types.insert(r.key);
  }
  const bool show_progress = !o.quiet && ::isatty(STDERR_FILENO);
  ScanState state;
  CliHost host(o.mode, std::move(types), state, show_progress);
  ScanJob job;
  job.mode = o.mode;
  job.state = &state;
  job.host = &host;
  job.photo_bytes_kept = 0;  // the command line shows no thumbnails
  job.counts = &host.summary;
  job.open_source = plan.open_medium;
  job.settings.disk_identifier = o.source;
  job.settings.sectors_val = plan.sectors;
  job.settings.Thro_Mode_Chk = job.settings.Thro_Mode_Chk_SIG = o.thorough;
  if (plan.range) {
    job.settings.entire_disk_rd = job.settings.entire_disk_rd_Sig = false;
    job.settings.sector_range_rd = job.settings.sector_range_rd_Sig = true;
    job.settings.Start_slider_val = job.settings.Start_slider_val_Sig = Leading_Decimal(plan.range->first);
    job.settings.End_slider_val = job.settings.End_slider_val_Sig = Leading_Decimal(plan.range->second);
  }
  if (o.mode == RecoveryMode::Photo) {
    std::set<std::string> unchecked;
    for (const auto& r : plan.rows) {
      if (!r.State) unchecked.insert(r.Extension);
    }
    job.general_records = Without_Types(plan.general, unchecked);
    job.thorough_records = Without_Types(plan.thorough, unchecked);
  } else {
    job.general_records = plan.applied.lists.CheckListHeader_Array;
    job.thorough_records = plan.applied.lists.CheckListHeader_Adv_Array;
    for (const auto& t : plan.applied.ticked_types) host.summary.createSignatureListTableRecord(t, 0, "", "", t);
  }

  std::printf("pass,name,uid,type,start_sector,end_sector,bytes\n");
  g_stop_flag = &state.stop_now;
  Catch_Stop_Signals();

  // Progress on a terminal every half second, from the shared counters.
  std::mutex done_mu;
  std::condition_variable done_cv;
  bool done = false;
  std::thread progress;
  if (show_progress) {
    progress = std::thread([&] {
      std::unique_lock l(done_mu);
      while (!done_cv.wait_for(l, std::chrono::milliseconds(500), [&] { return done; })) host.Tick();
    });
  }

  if (o.mode == RecoveryMode::Photo) {
    Photo_Rec_Thread(job);
  } else {
    Raw_File_Rec_Thread(job);
  }
  Default_Stop_Signals();
  {
    std::lock_guard l(done_mu);
    done = true;
  }
  done_cv.notify_all();
  if (progress.joinable()) progress.join();
  g_stop_flag = nullptr;
  host.Scan_Ended(g_interrupted.load() != 0);
  std::fflush(stdout);

  host.Print_Summary();
  if (host.open_failed()) return kExitCannotOpen;
  if (g_interrupted.load() != 0) {
    std::fputs("Stopped: the items above were found before the stop.\n", stderr);
    if (o.recover) std::fputs("Nothing was recovered.\n", stderr);
    return Exit_Interrupted();
  }
  const std::uint64_t unreadable = state.unreadable_sectors.load();
  if (unreadable != 0) {
    std::fprintf(stderr, "%llu unreadable sector%s skipped (searched as zeros).\n",
                 static_cast<unsigned long long>(unreadable), unreadable == 1 ? " was" : "s were");
  }
  const int scan_status = host.read_error() || unreadable != 0 ? kExitReadError : kExitCompleted;
  if (!o.recover) return scan_status;
  recovery::RecoveryOptions options;
  options.keep_doubtful = o.keep_doubtful;
  const int status = Recover(recovery::Plan_Recovery(host.found, plan.general, plan.thorough, *o.recover),
                             plan.open_medium, plan.path, *o.recover, o.quiet, options);
  return status != kExitCompleted ? status : scan_status;
}

}  // namespace

int Scan_Verb(const Args& args) {
  auto parsed = Parse_Scan_Options(args);
  if (const auto* error = std::get_if<std::string>(&parsed)) return Usage_Error(*error);
  ScanOptions& o = std::get<ScanOptions>(parsed);
  if (o.help) {
    std::fputs(Verb_Help(kScanVerb).c_str(), stdout);
    return kExitCompleted;
  }
  auto checked = Check_Source(o);
  if (const int* status = std::get_if<int>(&checked)) return *status;
  return Run_Scan(o, std::get<ScanPlan>(checked));
}

}  // namespace tamberlin::cli
