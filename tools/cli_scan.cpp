// tamberlin-cli scan: runs the same passes as the window over a device or a
// disk image and prints what it finds as CSV.
#include <fcntl.h>
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
#include <sstream>
#include <string>
#include <thread>

#include "engine/catalogue.h"
#include "engine/decimal.h"
#include "tools/cli.h"
#include "recovery/destination.h"
#include "recovery/recover.h"
#include "engine/scan.h"
#include "engine/sector_range.h"
#include "results/summary_records.h"
#include "engine/type_selection.h"

namespace tamberlin::cli {
namespace {

constexpr const char* kScanUsage =
    "usage: tamberlin-cli scan [--mode photo|video|raw] [--types T1,T2,...] [--no-thorough]\n"
    "                          [--range START:END] [--resources DIR] [--quiet] [--recover DIR [--keep-doubtful]]\n"
    "                          SOURCE\n"
    "SOURCE is a device identifier (sdb1 means /dev/sdb1) or the path of a device or disk image.\n"
    "--recover DIR writes every item found into DIR, cut to its real end where the format tells it,\n"
    "with DIR/recovery-report.csv; DIR must not be on SOURCE. Items whose bytes are not their format are\n"
    "not written unless --keep-doubtful, which writes them into DIR/doubtful.\n"
    "exit codes: 0 completed; 1 completed, but sectors could not be read (the count is on stderr)\n"
    "or the medium stopped answering; 2 bad usage; 3 SOURCE cannot be opened, is no disk or disk\n"
    "image, or is empty; 4 recovery refused or stopped; 5 standard output could not be written;\n"
    "130 interrupted.\n";

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

std::string Plain(std::string text) {
  while (!text.empty() && text.front() == '\n') text.erase(text.begin());
  return text;
}

std::string Extension_Of(const std::string& name) {
  const auto dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::stringstream in(s);
  std::string part;
  while (std::getline(in, part, sep)) {
    if (!part.empty()) out.push_back(part);
  }
  return out;
}

// Prints items as they are found and remembers what the summary needs.
class CliHost final : public HeadlessScanHost {
 public:
  explicit CliHost(RecoveryMode mode) : mode_(mode) {}

  void Set_Mode_Label(const std::string& text) override { pass_ = text == kGeneralModeLabel ? "GEN" : "THD"; }
  void Open_Failed(RecoveryMode) override { open_failed_ = true; }
  void Alert(const std::string& message, const std::string& informative) override {
    std::lock_guard l(err_mu);
    std::fprintf(stderr, "%s%s\n", progress_shown ? "\n" : "", Plain(message).c_str());
    if (!informative.empty()) std::fprintf(stderr, "%s\n", informative.c_str());
    progress_shown = false;
    // A read error, or memory running out: the scan did not see everything.
    if (!open_failed_) read_error_ = true;
  }
  void addImageWithData(const std::vector<std::uint8_t>&, const std::string& name, const std::string& uid,
                        std::uint64_t first_sector, std::uint64_t sector_count) override {
    Row(name, uid, first_sector, first_sector + sector_count, sector_count * kSectorSize);
    found.push_back({name, first_sector, first_sector + sector_count});
    auto& t = photo_types_[Extension_Of(name)];
    ++t.first;
    t.second = name;
  }
  void addImageWithData_2(const std::string& name, const std::string& uid, std::uint64_t start,
                          std::uint64_t end) override {
    Row(name, uid, start, end, (end - start) * kSectorSize);
    found.push_back({name, start, end});
    summary.Count_Item(name);
  }

  void Print_Summary() {
    std::lock_guard l(err_mu);
    std::fprintf(stderr, "%stype\tcount\tlast name\n", progress_shown ? "\n" : "");
    progress_shown = false;
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
  std::mutex err_mu;          // stderr lines from the scan and the progress thread
  bool progress_shown = false;

 private:
  void Row(const std::string& name, const std::string& uid, std::uint64_t start, std::uint64_t end,
           std::uint64_t bytes) {
    std::printf("%s,%s,%s,%s,%llu,%llu,%llu\n", pass_.c_str(), name.c_str(), uid.c_str(), Extension_Of(name).c_str(),
                static_cast<unsigned long long>(start), static_cast<unsigned long long>(end),
                static_cast<unsigned long long>(bytes));
  }

  RecoveryMode mode_;
  std::string pass_ = "GEN";
  bool open_failed_ = false;
  bool read_error_ = false;
  std::map<std::string, std::pair<std::uint64_t, std::string>> photo_types_;
};

struct Options {
  RecoveryMode mode = RecoveryMode::Photo;
  std::optional<std::string> types;
  bool thorough = true;
  std::optional<std::string> range;
  std::filesystem::path resources = Default_Data_Dir();
  bool quiet = false;
  std::optional<std::string> recover;
  bool keep_doubtful = false;
  std::string source;
};

int Usage_Error(const std::string& what) {
  std::fprintf(stderr, "tamberlin-cli scan: %s\n%s", what.c_str(), kScanUsage);
  return kExitUsage;
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
    std::fprintf(stderr, "%s\n", why.c_str());
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

}  // namespace

int Scan_Verb(const Args& args) {
  Options o;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](const char* what) -> std::optional<std::string> {
      if (i + 1 >= args.size()) return std::nullopt;
      (void)what;
      return args[++i];
    };
    if (a == "--mode") {
      const auto v = value("mode");
      if (!v) return Usage_Error("--mode needs photo, video or raw");
      if (*v == "photo") o.mode = RecoveryMode::Photo;
      else if (*v == "video") o.mode = RecoveryMode::Video;
      else if (*v == "raw") o.mode = RecoveryMode::RawFile;
      else return Usage_Error("unknown mode '" + *v + "' (photo, video or raw)");
    } else if (a == "--types") {
      o.types = value("types");
      if (!o.types) return Usage_Error("--types needs a comma-separated list such as JPG,PNG");
    } else if (a == "--no-thorough") {
      o.thorough = false;
    } else if (a == "--range") {
      o.range = value("range");
      if (!o.range) return Usage_Error("--range needs START:END");
    } else if (a == "--resources") {
      const auto v = value("resources");
      if (!v) return Usage_Error("--resources needs a folder");
      o.resources = *v;
    } else if (a == "--recover") {
      o.recover = value("recover");
      if (!o.recover || o.recover->empty()) return Usage_Error("--recover needs a destination folder");
    } else if (a == "--keep-doubtful") {
      o.keep_doubtful = true;
    } else if (a == "--quiet") {
      o.quiet = true;
    } else if (a == "--help" || a == "-h") {
      std::fputs(kScanUsage, stdout);
      return kExitCompleted;
    } else if (!a.empty() && a[0] == '-') {
      return Usage_Error("unknown option '" + a + "'");
    } else if (o.source.empty()) {
      o.source = a;
    } else {
      return Usage_Error("give one SOURCE only");
    }
  }
  if (o.source.empty()) return Usage_Error("no SOURCE given");
  if (o.keep_doubtful && !o.recover) return Usage_Error("--keep-doubtful needs --recover DIR");
  // A path (anything with a slash, or a name that is no device under /dev)
  // is read as it is; a bare name of a device is its identifier.
  {
    std::error_code ec;
    const bool is_path = o.source.find('/') != std::string::npos || !std::filesystem::exists("/dev/" + o.source, ec);
    if (is_path) o.source = std::filesystem::absolute(o.source, ec).lexically_normal().string();
  }

  const Catalogue catalogue = Catalogue::Load(o.resources);
  const CatalogueList& general = catalogue.General(o.mode);
  const CatalogueList& thorough = catalogue.Thorough(o.mode);
  if (general.empty() && thorough.empty()) {
    return Usage_Error("no signatures for this mode in " + o.resources.string() +
                       " (is --resources the folder holding the catalogue files?)");
  }

  // The type selection, applied as the file type screen applies it.
  auto rows = Build_Extension_List(general, thorough);
  if (o.types) {
    std::set<std::string> wanted;
    for (const auto& t : Split(*o.types, ',')) {
      const auto it = std::find_if(rows.begin(), rows.end(), [&](const auto& r) { return r.Extension == t; });
      if (it == rows.end()) {
        std::string known;
        for (const auto& r : rows) known += (known.empty() ? "" : ",") + r.Extension;
        return Usage_Error("unknown type '" + t + "' for this mode (known: " + known + ")");
      }
      wanted.insert(t);
    }
    for (auto& r : rows) r.State = wanted.count(r.Extension) != 0;
  }
  if (!Check_For_One_Extension_Selection(rows)) return Usage_Error(Plain("\nPlease select atleast one extension type."));
  const AppliedSelection applied = Apply_Selection(rows, general, thorough);

  // The medium's identity and size, for the entire-disk range, the range
  // check and every later open.
  const std::string path = Device_Path(o.source);
  MediumIdentity medium;
  {
    std::string why;
    const int fd = Open_Medium(path, &why, &medium);
    if (fd < 0) {
      std::fprintf(stderr, "%s\n", why.c_str());
      return kExitCannotOpen;
    }
    ::close(fd);
  }
  if (medium.size < kSectorSize) {
    std::fprintf(stderr, "%s: %s.\n", path.c_str(), kEmptyMediumMessage);
    return kExitCannotOpen;
  }
  const std::uint64_t sectors = medium.size / kSectorSize;
  const SourceOpener open_medium = Same_Medium_Opener(File_Opener(), medium);

  // The destination is checked before the scan, so a long scan does not end
  // in a refusal.
  if (o.recover) {
    // A missing folder is made, but only after its nearest existing parent
    // has passed the checks: making it on the medium would write to it.
    std::error_code ec;
    std::filesystem::path existing = std::filesystem::absolute(*o.recover, ec);
    while (!existing.empty() && !std::filesystem::exists(existing, ec) && existing != existing.parent_path()) {
      existing = existing.parent_path();
    }
    if (const auto problem = recovery::Check_Destination(existing, path)) {
      std::fprintf(stderr, "%s\n%s\n", problem->message.c_str(), problem->informative.c_str());
      return kExitRecoveryFailed;
    }
    if (!std::filesystem::exists(*o.recover, ec) && !std::filesystem::create_directories(*o.recover, ec)) {
      std::fprintf(stderr, "The destination folder could not be made: %s\n", ec.message().c_str());
      return kExitRecoveryFailed;
    }
    if (const auto problem = recovery::Check_Destination(*o.recover, path)) {
      std::fprintf(stderr, "%s\n%s\n", problem->message.c_str(), problem->informative.c_str());
      return kExitRecoveryFailed;
    }
  }

  ScanState state;
  CliHost host(o.mode);
  ScanJob job;
  job.mode = o.mode;
  job.state = &state;
  job.host = &host;
  job.counts = &host.summary;
  job.open_source = open_medium;
  job.settings.disk_identifier = o.source;
  job.settings.sectors_val = sectors;
  job.settings.Thro_Mode_Chk = job.settings.Thro_Mode_Chk_SIG = o.thorough;
  if (o.range) {
    const auto colon = o.range->find(':');
    const std::string s = colon == std::string::npos ? *o.range : o.range->substr(0, colon);
    const std::string e = colon == std::string::npos ? "" : o.range->substr(colon + 1);
    if (const auto problem = Validate_Sector_Range(s, e, std::to_string(sectors))) {
      std::string what = "bad --range " + *o.range + ": " + Plain(problem->message);
      if (!problem->informative.empty()) what += " (" + problem->informative + ")";
      what += "; the medium has " + std::to_string(sectors) + " sectors, so 0 <= START < END <= " +
              std::to_string(sectors);
      return Usage_Error(what);
    }
    job.settings.entire_disk_rd = job.settings.entire_disk_rd_Sig = false;
    job.settings.sector_range_rd = job.settings.sector_range_rd_Sig = true;
    job.settings.Start_slider_val = job.settings.Start_slider_val_Sig = Leading_Decimal(s);
    job.settings.End_slider_val = job.settings.End_slider_val_Sig = Leading_Decimal(e);
  }
  if (o.mode == RecoveryMode::Photo) {
    std::set<std::string> unchecked;
    for (const auto& r : rows) {
      if (!r.State) unchecked.insert(r.Extension);
    }
    job.general_records = Without_Types(general, unchecked);
    job.thorough_records = Without_Types(thorough, unchecked);
  } else {
    job.general_records = applied.lists.CheckListHeader_Array;
    job.thorough_records = applied.lists.CheckListHeader_Adv_Array;
    for (const auto& t : applied.ticked_types) host.summary.createSignatureListTableRecord(t, 0, "", "", t);
  }

  std::printf("pass,name,uid,type,start_sector,end_sector,bytes\n");
  g_stop_flag = &state.stop_now;
  Catch_Stop_Signals();

  // Progress on a terminal every half second, from the shared counters.
  std::mutex done_mu;
  std::condition_variable done_cv;
  bool done = false;
  std::thread progress;
  if (!o.quiet && ::isatty(STDERR_FILENO)) {
    progress = std::thread([&] {
      std::unique_lock l(done_mu);
      while (!done_cv.wait_for(l, std::chrono::milliseconds(500), [&] { return done; })) {
        if (const auto v = timerTickSetLabel(state)) {
          std::lock_guard e(host.err_mu);
          std::fprintf(stderr, "\r%s", v->label.c_str());
          host.progress_shown = true;
        }
      }
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
  const int status =
      Recover(recovery::Plan_Recovery(host.found, general, thorough, *o.recover), open_medium, path, *o.recover,
              o.quiet, options);
  return status != kExitCompleted ? status : scan_status;
}

}  // namespace tamberlin::cli
