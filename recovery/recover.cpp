#include "recover.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>

#include "end_finder.h"
#include "destination.h"
#include "hex.h"
#include "item_bytes.h"
#include "sha256.h"

namespace tamberlin::recovery {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kChunk = 1 << 20;  // bytes per write

std::string Upper(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

std::uint64_t Decimal(const std::string& s) {
  std::uint64_t v = 0;
  for (const char c : s) {
    if (c < '0' || c > '9') break;
    if (v > (UINT64_MAX - 9) / 10) return UINT64_MAX;
    v = v * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return v;
}

std::vector<std::uint8_t> Marker_Bytes(const std::string& hex) {
  std::vector<std::uint8_t> out;
  if (hex.size() < 2 || hex.size() % 2 != 0) return out;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    if (!std::isxdigit(static_cast<unsigned char>(hex[i])) || !std::isxdigit(static_cast<unsigned char>(hex[i + 1]))) {
      return {};
    }
    out.push_back(static_cast<std::uint8_t>(hex2dec(hex.substr(i, 1)) * 16 + hex2dec(hex.substr(i + 1, 1))));
  }
  return out;
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
                std::to_string(r.end_sector) + "," + std::to_string(r.bytes_written) + "," + r.end + "," + r.sha256 +
                "," + Csv_Field(r.note));
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
                       const StringList& general, const StringList& thorough) {
  RecoveryItem item;
  item.name = name;
  const auto dot = name.rfind('.');
  item.type = dot == std::string::npos ? std::string() : Upper(name.substr(dot + 1));
  item.first_sector = first_sector;
  item.end_sector = std::max(end_sector, first_sector);
  for (const StringList* list : {&general, &thorough}) {
    for (std::size_t r = 0; r + kRecordWidth <= list->size(); r += kRecordWidth) {
      if ((*list)[r] != item.type) continue;
      item.max_bytes = Decimal((*list)[r + 1]);
      item.end_marker = Marker_Bytes((*list)[r + 4]);
      return item;
    }
  }
  return item;
}

const char* Adjust_Text(EndAdjust adjust) {
  switch (adjust) {
    case EndAdjust::Trimmed: return "trimmed";
    case EndAdjust::Extended: return "extended";
    case EndAdjust::AsFound: break;
  }
  return "as found";
}

ItemPlan Plan_Item(SectorSource& source, const RecoveryItem& item) {
  ItemPlan plan;
  const std::uint64_t range = (item.end_sector - item.first_sector) * kSectorSize;
  plan.length = range;
  ItemBytes bytes(source, item.first_sector, range, std::max(range, item.max_bytes));
  EndFinding finding;
  if (const EndFinder finder = Finder_For_Type(item.type)) {
    finding = finder(bytes);
  } else if (!item.end_marker.empty()) {
    finding = Find_End_Marker(bytes, item.end_marker);
  } else {
    plan.note = "no end check for this type";
    return plan;
  }
  if (!finding.found() || finding.length == 0 || finding.length > bytes.Limit()) {
    plan.note = "end not found (" + (finding.why.empty() ? std::string("length out of bounds") : finding.why) +
                "): written as found";
    return plan;
  }
  plan.length = finding.length;
  plan.adjust = finding.length < range   ? EndAdjust::Trimmed
                : finding.length > range ? EndAdjust::Extended
                                         : EndAdjust::AsFound;
  plan.note = "end checked";
  return plan;
}

std::string Numbered_Name(const std::string& name, unsigned n) {
  if (n == 0) return name;
  const auto dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name + "-" + std::to_string(n);
  return name.substr(0, dot) + "-" + std::to_string(n) + name.substr(dot);
}

RecoveryOutcome Recover_Items(SectorSource& source, const std::vector<RecoveryItem>& items, const fs::path& folder,
                              RecoveryProgress& progress, [[maybe_unused]] const RecoveryOptions& options) {
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

  for (const RecoveryItem& item : items) {
    if (progress.cancel.load()) {
      out.cancelled = true;
      break;
    }
    const ItemPlan plan = Plan_Item(source, item);
    RecoveredFile row;
    row.type = item.type;
    row.start_sector = item.first_sector;
    row.note = plan.note;
    auto fail = [&](const std::string& why) {
      row.file_name = item.name;  // the item's own name: nothing was written
      row.end_sector = item.end_sector;
      row.end = "not written";
      row.note = why;
      out.rows.push_back(row);
      report.Append(row);
    };
    if (progress.cancel.load()) {
      out.cancelled = true;
      break;
    }
    if (const auto same = written_at.find({item.first_sector, plan.length}); same != written_at.end()) {
      const RecoveredFile& first = out.rows[same->second];
      row.file_name = item.name;
      row.end_sector = first.end_sector;
      row.end = "duplicate";
      row.sha256 = first.sha256;
      row.note = "same bytes as " + first.file_name;
      out.rows.push_back(row);
      ++out.duplicates;
      progress.items_done.fetch_add(1);
      if (!report.Append(row)) {
        out.stopped_because = "The report could not be written: " + std::string(std::strerror(errno)) + ".";
        break;
      }
      continue;
    }
    if (const auto free = Free_Bytes(folder); free && *free < plan.length) {
      out.stopped_because = "The destination folder is full: " + item.name + " needs " + Size_Text(plan.length) +
                            " and only " + Size_Text(*free) + " is free.";
      fail("destination full");
      break;
    }

    std::string temp_text = (folder / ("." + item.name + ".part.XXXXXX")).string();
    const int fd = ::mkstemp(temp_text.data());
    if (fd < 0) {
      out.stopped_because = "A file could not be created in the destination folder: " +
                            std::string(std::strerror(errno)) + ".";
      fail(std::strerror(errno));
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
      final_name = Publish(temp, folder, item.name);
      if (final_name.empty()) write_errno = errno;
    }
    if (final_name.empty()) {
      ::unlink(temp.c_str());
      progress.bytes_written.fetch_sub(written);
      if (cancelled) {
        out.cancelled = true;
        break;
      }
      if (Out_Of_Space(write_errno)) {
        out.stopped_because = "The destination folder filled up while " + item.name + " was being written.";
        fail("destination full");
      } else {
        out.stopped_because = "Writing " + item.name + " failed: " + std::strerror(write_errno) + ".";
        fail(std::strerror(write_errno));
      }
      break;
    }

    row.file_name = final_name;
    row.bytes_written = written;
    row.end_sector = item.first_sector + (written + kSectorSize - 1) / kSectorSize;
    row.end = Adjust_Text(plan.adjust);
    row.sha256 = sha.Hex_Digest();
    row.zero_filled_sectors = unreadable;
    if (unreadable != 0) row.note += "; " + std::to_string(unreadable) + " unreadable sectors written as zeros";
    written_at[{item.first_sector, plan.length}] = out.rows.size();
    out.rows.push_back(row);
    ++out.files_written;
    progress.items_done.fetch_add(1);
    if (!report.Append(row)) {
      out.stopped_because = "The report could not be written: " + std::string(std::strerror(errno)) + ".";
      break;
    }
  }
  return out;
}

}  // namespace tamberlin::recovery
