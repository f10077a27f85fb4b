#include "recovery/recover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "recovery/content_type.h"
#include "recovery/destination.h"
#include "recovery/end_finder.h"
#include "recovery/item_bytes.h"
#include "recovery/sha256.h"

namespace tamberlin::recovery {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 1 << 20;  // bytes per write

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Writes all of `size` bytes; false with errno set on failure.
bool Write_All(int fd, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string Csv_Field(const std::string& s) {
  if (s.find_first_of(",\"\n\r") == std::string::npos) return s;
  std::string out = "\"";
  for (const char c : s) {
    if (c == '"') out += '"';
    out += c;
  }
  return out + "\"";
}

// The report, written row by row so it tells what was done even when the
// recovery stops half way.
class Report {
 public:
  ~Report() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Open(const fs::path& folder) {
    for (unsigned n = 0; n < 10000 && fd_ < 0; ++n) {
      const fs::path p = folder / Numbered_Name("recovery-report.csv", n);
      fd_ = ::open(p.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
      if (fd_ >= 0) path_ = p;
      if (fd_ < 0 && errno != EEXIST) return false;
    }
    return fd_ >= 0 && Line("name,type,start_sector,end_sector,bytes_written,end,sha256,note");
  }
  bool Append(const RecoveredFile& r) {
    return Line(Csv_Field(r.file_name) + "," + Csv_Field(r.type) + "," + std::to_string(r.start_sector) + "," +
                std::to_string(r.end_sector) + "," + std::to_string(r.bytes_written) + "," + End_Text(r.kind) + "," +
                r.sha256 + "," + Csv_Field(r.note));
  }
  const fs::path& path() const { return path_; }

 private:
  bool Line(const std::string& text) {
    const std::string line = text + "\n";
    return fd_ >= 0 && Write_All(fd_, reinterpret_cast<const std::uint8_t*>(line.data()), line.size());
  }
  int fd_ = -1;
  fs::path path_;
};

// Moves the finished temporary file to the first free numbered name,
// never replacing a file. Returns the name used, or "" with errno set.
std::string Publish(const fs::path& temp, const fs::path& folder, const std::string& name) {
  for (unsigned n = 0; n < 10000; ++n) {
    const std::string candidate = Numbered_Name(name, n);
    const fs::path target = folder / candidate;
    if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) return candidate;
    if (errno == EEXIST) continue;
    if (errno != EINVAL && errno != ENOSYS) return "";
    // The file system cannot refuse to replace: look first. Nothing else
    // writes these names while a recovery runs, so the gap does not matter.
    struct stat st {};
    if (::lstat(target.c_str(), &st) == 0) continue;
    if (::rename(temp.c_str(), target.c_str()) == 0) return candidate;
    return "";
  }
  errno = EEXIST;
  return "";
}

bool Out_Of_Space(int err) { return err == ENOSPC || err == EDQUOT || err == EFBIG; }

}  // namespace

RecoveryItem Make_Item(const std::string& name, std::uint64_t first_sector, std::uint64_t end_sector,
                       const CatalogueList& general, const CatalogueList& thorough) {
  RecoveryItem item;
  item.name = name;
  const auto dot = name.rfind('.');
  item.type = dot == std::string::npos ? std::string() : Upper(name.substr(dot + 1));
  item.first_sector = first_sector;
  item.end_sector = std::max(end_sector, first_sector);
  if (const CatalogueRecord* record = Find_Record(item.type, general, thorough)) {
    item.max_bytes = record->size_limit;
    item.end_marker = record->end_marker;
  }
  return item;
}

RecoveryPlan Plan_Recovery(const std::vector<FoundRange>& found, const CatalogueList& general,
                           const CatalogueList& thorough, const fs::path& folder) {
  RecoveryPlan plan;
  plan.items.reserve(found.size());
  for (const FoundRange& f : found) {
    plan.items.push_back(Make_Item(f.name, f.first_sector, f.end_sector, general, thorough));
    plan.bytes_needed += (plan.items.back().end_sector - plan.items.back().first_sector) * kSectorSize;
  }
  if (const auto free = Free_Bytes(folder)) plan.space_warning = Space_Problem(plan.bytes_needed, *free);
  return plan;
}

std::uint64_t RecoveryOutcome::Count(ItemEnd kind) const {
  return static_cast<std::uint64_t>(
      std::count_if(rows.begin(), rows.end(), [kind](const RecoveredFile& r) { return r.kind == kind; }));
}

const char* End_Text(ItemEnd end) {
  switch (end) {
    case ItemEnd::Trimmed: return "trimmed";
    case ItemEnd::Extended: return "extended";
    case ItemEnd::AsFound: return "as found";
    case ItemEnd::Doubtful: return "doubtful";
    case ItemEnd::Duplicate: return "duplicate";
    case ItemEnd::Inside: return "inside";
    case ItemEnd::NotWritten: break;
  }
  return "not written";
}

ItemPlan Plan_Item(SectorSource& source, const RecoveryItem& item) {
  ItemPlan plan;
  plan.type = item.type;
  const std::uint64_t range = (item.end_sector - item.first_sector) * kSectorSize;
  plan.length = range;
  ItemBytes bytes(source, item.first_sector, range, std::max(range, item.max_bytes));
  EndFinding finding;
  bool checked = true;
  if (const EndFinder finder = Finder_For_Type(item.type)) {
    finding = finder(bytes);
  } else if (!item.end_marker.empty()) {
    finding = Find_End_Marker(bytes, item.end_marker);
  } else {
    checked = false;
  }
  if (finding.not_this_format()) {
    plan.end = ItemEnd::NotWritten;
    plan.note = "not a " + item.type + " file: " + finding.why;
    return plan;
  }
  const std::string why = finding.why.empty() ? std::string("length out of bounds") : finding.why;
  if (!finding.found() && finding.structure_end != 0 && finding.structure_end < range) {
    // The end is gone, but the structure says where the file's whole parts
    // stop: what follows is another file's or old data.
    plan.length = finding.structure_end;
    plan.end = ItemEnd::Trimmed;
    plan.note = "end not found (" + why + "): cut where its structure ends";
  } else if (!finding.found() || finding.length == 0 || finding.length > bytes.Limit()) {
    plan.note = !checked ? "no end check for this type" : "end not found (" + why + "): written as found";
  } else {
    plan.length = finding.length;
    plan.end_checked = true;
    plan.end = finding.length < range   ? ItemEnd::Trimmed
               : finding.length > range ? ItemEnd::Extended
                                        : ItemEnd::AsFound;
    plan.note = "end checked";
  }
  plan.type = Type_From_Content(bytes, item.type, plan.length);
  if (plan.type != item.type) plan.note += "; type from content: " + plan.type;
  return plan;
}

std::string Numbered_Name(const std::string& name, unsigned n) {
  if (n == 0) return name;
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "-" + std::to_string(n);
  return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

namespace {

// Files written so far by where they lie on the medium, to tell an item that
// lies wholly inside one of them (a thumbnail in a raw picture, a zip member).
class WrittenSpans {
 public:
  void Add(std::uint64_t first, std::uint64_t length, std::size_t row) {
    spans_.emplace(first, Span{first + length, row});
    longest_ = std::max(longest_, length);
  }
  // The row of a file holding all of [first, first + length), or nothing.
  std::optional<std::size_t> Holding(std::uint64_t first, std::uint64_t length) const {
    const std::uint64_t end = first + length;
    for (auto it = spans_.upper_bound(first); it != spans_.begin();) {
      --it;
      if (it->second.end >= end) return it->second.row;
      if (end - it->first > longest_) break;  // no file starting this early is long enough
    }
    return std::nullopt;
  }

 private:
  struct Span {
    std::uint64_t end;
    std::size_t row;
  };
  std::multimap<std::uint64_t, Span> spans_;
  std::uint64_t longest_ = 0;
};

// The folder for doubtful items, made when the first one comes: "doubtful",
// or "doubtful-1"... when a file already has that name. Empty with errno set
// when none could be made.
fs::path Doubtful_Folder(const fs::path& folder) {
  for (unsigned n = 0; n < 100; ++n) {
    const fs::path p = folder / Numbered_Name("doubtful", n);
    if (::mkdir(p.c_str(), 0755) == 0) return p;
    if (errno != EEXIST) return {};
    std::error_code ec;
    if (fs::is_directory(fs::symlink_status(p, ec))) return p;
  }
  errno = EEXIST;
  return {};
}

}  // namespace

RecoveryOutcome Recover_Items(SectorSource& source, const std::vector<RecoveryItem>& items, const fs::path& folder,
                              RecoveryProgress& progress, const RecoveryOptions& options) {
  RecoveryOutcome out;
  out.stale_parts_removed = Remove_Stale_Parts(folder, std::chrono::system_clock::now());
  progress.items_total.store(items.size());
  Report report;
  if (!report.Open(folder)) {
    out.stopped_because = "The report could not be created in the destination folder: " +
                          std::string(std::strerror(errno)) + ".";
    return out;
  }
  out.report_path = report.path();
  std::vector<std::uint8_t> buffer(kChunk);
  // (first sector, length) of every file written, to the row that tells it.
  std::map<std::pair<std::uint64_t, std::uint64_t>, std::size_t> written_at;
  WrittenSpans spans;  // files written with their end checked, in bytes on the medium
  fs::path doubtful;
  bool report_failed = false;
  std::size_t next = 0;
  std::string stop_note;  // the report's note for the item the recovery stopped at

  // Adds a row to the outcome and the report; false when the report failed.
  auto add_row = [&](const RecoveredFile& row) {
    out.rows.push_back(row);
    if (report.Append(row)) return true;
    out.stopped_because = "The report could not be written: " + std::string(std::strerror(errno)) + ".";
    report_failed = true;
    return false;
  };

  for (; next < items.size(); ++next) {
    const RecoveryItem& item = items[next];
    if (progress.cancel.load()) {
      out.cancelled = true;
      break;
    }
    const ItemPlan plan = Plan_Item(source, item);
    if (progress.cancel.load()) {
      out.cancelled = true;
      break;
    }
    RecoveredFile row;
    row.type = plan.type;
    row.start_sector = item.first_sector;
    row.file_name = item.name;
    row.end_sector = item.end_sector;
    row.note = plan.note;
    auto not_written = [&](ItemEnd kind, const std::string& note) {
      row.kind = kind;
      row.note = note;
      progress.items_done.fetch_add(1);
      return add_row(row);
    };
    // A doubtful file does not stand in for an item whose bytes pass their checks.
    if (const auto same = written_at.find({item.first_sector, plan.length});
        same != written_at.end() &&
        (out.rows[same->second].kind != ItemEnd::Doubtful || plan.end == ItemEnd::NotWritten)) {
      const RecoveredFile& first = out.rows[same->second];
      row.end_sector = first.end_sector;
      row.sha256 = first.sha256;
      ++out.duplicates;
      if (!not_written(ItemEnd::Duplicate, "same bytes as " + first.file_name)) break;
      continue;
    }
    if (const auto holder = spans.Holding(item.first_sector * kSectorSize, plan.length)) {
      const RecoveredFile& outer = out.rows[*holder];
      ++out.inside;
      const std::uint64_t at = (item.first_sector - outer.start_sector) * kSectorSize;
      if (!not_written(ItemEnd::Inside, "inside " + outer.file_name + " at byte " + std::to_string(at))) break;
      continue;
    }
    fs::path target = folder;
    if (plan.end == ItemEnd::NotWritten) {
      ++out.not_this_format;
      if (!options.keep_doubtful) {
        if (!not_written(ItemEnd::NotWritten, plan.note)) break;
        continue;
      }
      if (doubtful.empty()) doubtful = Doubtful_Folder(folder);
      if (doubtful.empty()) {
        stop_note = std::strerror(errno);
        out.stopped_because = "The folder for doubtful items could not be made: " + stop_note + ".";
        break;
      }
      target = doubtful;
    }
    if (const auto free = Free_Bytes(folder); free && *free < plan.length) {
      out.stopped_because = "The destination folder is full: " + item.name + " needs " + Size_Text(plan.length) +
                            " and only " + Size_Text(*free) + " is free.";
      stop_note = "destination full";
      break;  // this item and every one after it get a row below
    }

    // The item's stem with the extension its content shows.
    std::string name = item.name;
    if (plan.type != item.type) {
      const auto dot = name.rfind('.');
      name = (dot == std::string::npos ? name : name.substr(0, dot)) + "." + plan.type;
    }
    std::string temp_text = (target / ("." + name + ".part.XXXXXX")).string();
    const int fd = ::mkstemp(temp_text.data());
    if (fd < 0) {
      stop_note = Out_Of_Space(errno) ? "destination full" : std::strerror(errno);
      out.stopped_because = "A file could not be created in the destination folder: " +
                            std::string(std::strerror(errno)) + ".";
      break;
    }
    const fs::path temp = temp_text;
    ::fchmod(fd, 0644);
    Sha256 sha;
    std::uint64_t written = 0;
    std::uint64_t unreadable = 0;
    int write_errno = 0;
    bool cancelled = false;
    std::uint64_t sector = item.first_sector;
    while (written < plan.length) {
      if (progress.cancel.load()) {
        cancelled = true;
        break;
      }
      std::size_t fill = 0;
      const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(kChunk, plan.length - written));
      while (fill < want) {
        const std::uint8_t* bytes = source.Read_Sector(sector++);
        const std::size_t take = std::min<std::size_t>(kSectorSize, want - fill);
        if (bytes == nullptr) {
          ++unreadable;
          std::memset(buffer.data() + fill, 0, take);
        } else {
          std::memcpy(buffer.data() + fill, bytes, take);
        }
        fill += take;
      }
      if (!Write_All(fd, buffer.data(), fill)) {
        write_errno = errno;
        break;
      }
      sha.Update(buffer.data(), fill);
      written += fill;
      progress.bytes_written.fetch_add(fill);
    }
    if (write_errno == 0 && !cancelled && ::fsync(fd) != 0) write_errno = errno;
    if (::close(fd) != 0 && write_errno == 0 && !cancelled) write_errno = errno;

    std::string final_name;
    if (write_errno == 0 && !cancelled) {
      final_name = Publish(temp, target, name);
      if (final_name.empty()) write_errno = errno;
    }
    if (final_name.empty()) {
      ::unlink(temp.c_str());
      progress.bytes_written.fetch_sub(written);
      if (cancelled) {
        out.cancelled = true;
        break;
      }
      stop_note = Out_Of_Space(write_errno) ? "destination full" : std::strerror(write_errno);
      out.stopped_because = Out_Of_Space(write_errno)
                                ? "The destination folder filled up while " + item.name + " was being written."
                                : "Writing " + item.name + " failed: " + std::strerror(write_errno) + ".";
      break;
    }

    row.file_name = target == folder ? final_name : (target.filename() / final_name).string();
    row.bytes_written = written;
    row.end_sector = item.first_sector + (written + kSectorSize - 1) / kSectorSize;
    row.kind = plan.end == ItemEnd::NotWritten ? ItemEnd::Doubtful : plan.end;
    row.sha256 = sha.Hex_Digest();
    row.zero_filled_sectors = unreadable;
    if (unreadable != 0) row.note += "; " + std::to_string(unreadable) + " unreadable sectors written as zeros";
    written_at[{item.first_sector, plan.length}] = out.rows.size();
    // Only a file whose end its format states can hold others: one written as
    // found may run on over the files after it.
    if (target == folder && plan.end_checked) spans.Add(item.first_sector * kSectorSize, plan.length, out.rows.size());
    ++out.files_written;
    progress.items_done.fetch_add(1);
    if (!add_row(row)) break;
  }

  // A stop other than a cancel leaves the remaining items listed, so the
  // report shows what is missing.
  if (!stop_note.empty() && !report_failed) {
    const bool full = stop_note == "destination full";  // then every item left needs room
    for (; next < items.size(); ++next) {
      RecoveredFile row;
      row.file_name = items[next].name;
      row.type = items[next].type;
      row.start_sector = items[next].first_sector;
      row.end_sector = items[next].end_sector;
      row.note = stop_note;
      if (!full) stop_note = "recovery stopped before this item";
      if (!add_row(row)) break;
    }
  }
  return out;
}

}  // namespace tamberlin::recovery
