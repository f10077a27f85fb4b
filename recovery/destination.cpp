#include "recovery/destination.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <vector>

#include "engine/decimal.h"

namespace tamberlin::recovery {
namespace fs = std::filesystem;

namespace {

// The device's directory under /sys/devices, resolved; empty when unknown.
fs::path Sys_Path(dev_t dev, const fs::path& sys_root) {
  std::error_code ec;
  const fs::path link =
      sys_root / "dev" / "block" / (std::to_string(major(dev)) + ":" + std::to_string(minor(dev)));
  fs::path real = fs::canonical(link, ec);
  return ec ? fs::path() : real;
}

// `dir` and every device it is stacked on (its slaves, recursively).
void Collect_Stack(const fs::path& dir, std::set<fs::path>& out, int depth = 0) {
  if (dir.empty() || depth > 16 || !out.insert(dir).second) return;
  std::error_code ec;
  for (fs::directory_iterator it(dir / "slaves", ec), end; !ec && it != end; it.increment(ec)) {
    std::error_code ec2;
    const fs::path slave = fs::canonical(it->path(), ec2);
    if (!ec2) Collect_Stack(slave, out, depth + 1);
  }
}

// One directory lies within the other (a disk and its partition).
bool Nested(const fs::path& a, const fs::path& b) {
  auto ai = a.begin(), bi = b.begin();
  for (; ai != a.end() && bi != b.end(); ++ai, ++bi) {
    if (*ai != *bi) return false;
  }
  return true;
}

// Undoes mountinfo's octal escapes ("\040" for a space).
std::string Unescape(const std::string& s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\\' && i + 3 < s.size()) {
      const std::string oct = s.substr(i + 1, 3);
      if (oct.find_first_not_of("01234567") == std::string::npos) {
        out += static_cast<char>(std::stoi(oct, nullptr, 8));
        i += 3;
        continue;
      }
    }
    out += s[i];
  }
  return out;
}

// The first line of a small /sys file, empty when there is none.
std::string Sys_Line(const fs::path& p) {
  std::ifstream in(p);
  std::string line;
  std::getline(in, line);
  return line;
}

// "7:0" (or a bare device number) as a dev_t; nothing when unreadable.
std::optional<dev_t> Parse_Dev(const std::string& text) {
  const auto colon = text.find(':');
  if (colon == std::string::npos) {
    const auto number = Parse_Decimal(text);
    return number ? std::optional<dev_t>(static_cast<dev_t>(*number)) : std::nullopt;
  }
  const auto maj = Parse_Decimal(std::string_view(text).substr(0, colon));
  const auto min = Parse_Decimal(std::string_view(text).substr(colon + 1));
  if (!maj || !min || *maj > UINT32_MAX || *min > UINT32_MAX) return std::nullopt;
  return makedev(static_cast<unsigned>(*maj), static_cast<unsigned>(*min));
}

// Whether the loop device described by `loop_dir` (/sys/block/loopN/loop)
// reads from the file `file` is.
bool Loop_Reads(const fs::path& loop_dir, const struct stat& file) {
  // Newer kernels give the backing file's device and inode directly.
  const auto dev = Parse_Dev(Sys_Line(loop_dir / "backing_dev"));
  const auto ino = Parse_Decimal(Sys_Line(loop_dir / "backing_inode"));
  if (dev && ino) return *dev == file.st_dev && *ino == file.st_ino;
  std::string path = Sys_Line(loop_dir / "backing_file");
  const std::string deleted = " (deleted)";
  if (path.size() > deleted.size() && path.ends_with(deleted)) path.resize(path.size() - deleted.size());
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && st.st_dev == file.st_dev && st.st_ino == file.st_ino;
}

}  // namespace

bool File_Backs_Device(const fs::path& file, dev_t device, const fs::path& sys_root) {
  struct stat st {};
  if (::stat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  std::error_code ec;
  for (fs::directory_iterator it(sys_root / "block", ec), end; !ec && it != end; it.increment(ec)) {
    if (!it->path().filename().string().starts_with("loop")) continue;
    if (!Loop_Reads(it->path() / "loop", st)) continue;
    const auto loop = Parse_Dev(Sys_Line(it->path() / "dev"));
    if (loop && Devices_Overlap(device, *loop, sys_root)) return true;
  }
  return false;
}

bool Devices_Overlap(dev_t a, dev_t b, const fs::path& sys_root) {
  if (a == b) return true;
  std::set<fs::path> stack_a, stack_b;
  Collect_Stack(Sys_Path(a, sys_root), stack_a);
  Collect_Stack(Sys_Path(b, sys_root), stack_b);
  for (const auto& x : stack_a) {
    for (const auto& y : stack_b) {
      if (Nested(x, y) || Nested(y, x)) return true;
    }
  }
  return false;
}

std::optional<dev_t> Folder_Device(const fs::path& folder, const fs::path& sys_root, const fs::path& mountinfo) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return std::nullopt;
  if (major(st.st_dev) != 0 && !Sys_Path(st.st_dev, sys_root).empty()) return st.st_dev;
  // Anonymous device numbers: find the mount whose device number this is
  // (mountinfo's third field) and take its source when that is a device.
  std::ifstream in(mountinfo);
  const std::string want = std::to_string(major(st.st_dev)) + ":" + std::to_string(minor(st.st_dev));
  for (std::string line; std::getline(in, line);) {
    std::istringstream fields(line);
    std::string id, parent, majmin;
    fields >> id >> parent >> majmin;
    if (majmin != want) continue;
    const auto dash = line.find(" - ");
    if (dash == std::string::npos) continue;
    std::istringstream tail(line.substr(dash + 3));
    std::string type, source;
    tail >> type >> source;
    struct stat dev {};
    if (::stat(Unescape(source).c_str(), &dev) == 0 && S_ISBLK(dev.st_mode)) return dev.st_rdev;
  }
  return major(st.st_dev) != 0 ? std::optional<dev_t>(st.st_dev) : std::nullopt;
}

std::optional<DestinationProblem> Check_Destination(const fs::path& folder, const std::string& source_path,
                                                    const fs::path& sys_root) {
  std::error_code ec;
  if (folder.empty() || !fs::exists(folder, ec)) {
    return DestinationProblem{"The destination folder does not exist.",
                              "\u201c" + folder.string() + "\u201d could not be found. Please choose another folder."};
  }
  if (!fs::is_directory(folder, ec)) {
    return DestinationProblem{"The destination is not a folder.",
                              "\u201c" + folder.string() + "\u201d is a file. Please choose a folder."};
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return DestinationProblem{"Tamberlin cannot write into the destination folder.",
                              "You do not have permission to create files in \u201c" + folder.string() +
                                  "\u201d. Please choose another folder."};
  }
  struct stat src {};
  if (::stat(source_path.c_str(), &src) == 0 && S_ISBLK(src.st_mode)) {
    const auto dest = Folder_Device(folder, sys_root);
    if (dest && Devices_Overlap(*dest, src.st_rdev, sys_root)) {
      return DestinationProblem{
          "The destination folder is on the medium being recovered.",
          "Writing there would overwrite the very files you are trying to recover. Please choose a folder on "
          "another disk."};
    }
  } else if (S_ISREG(src.st_mode)) {
    const auto dest = Folder_Device(folder, sys_root);
    if (dest && File_Backs_Device(source_path, *dest, sys_root)) {
      return DestinationProblem{
          "The destination folder is inside the disk image being recovered.",
          "It lies on a file system mounted from \u201c" + source_path +
              "\u201d. Writing there would overwrite the very files you are trying to recover. Please choose a "
              "folder on another disk."};
    }
  }
  return std::nullopt;
}

namespace {

// ".NAME.part.XXXXXX", the six characters as mkstemp makes them.
bool Is_Part_Name(const std::string& name) {
  static const std::string kPart = ".part.";
  constexpr std::size_t kRandom = 6;
  if (name.size() < 1 + 1 + kPart.size() + kRandom || name[0] != '.') return false;
  const std::size_t at = name.size() - kRandom - kPart.size();
  if (name.compare(at, kPart.size(), kPart) != 0) return false;
  return std::all_of(name.end() - kRandom, name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)); });
}

// "doubtful" or "doubtful-N", the names the folder for doubtful items takes.
bool Is_Doubtful_Folder_Name(const std::string& name) {
  static const std::string kStem = "doubtful";
  if (name.compare(0, kStem.size(), kStem) != 0) return false;
  if (name.size() == kStem.size()) return true;
  return name.size() > kStem.size() + 1 && name[kStem.size()] == '-' &&
         std::all_of(name.begin() + static_cast<std::ptrdiff_t>(kStem.size()) + 1, name.end(),
                     [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

}  // namespace

std::uint64_t Remove_Stale_Parts(const fs::path& folder, std::chrono::system_clock::time_point since) {
  std::uint64_t removed = 0;
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    struct stat st {};
    // Doubtful items are written into a subfolder of their own.
    if (Is_Doubtful_Folder_Name(name) && ::lstat(it->path().c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
      removed += Remove_Stale_Parts(it->path(), since);
      continue;
    }
    if (!Is_Part_Name(name)) continue;
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    const auto changed = std::chrono::system_clock::time_point(
        std::chrono::duration_cast<std::chrono::system_clock::duration>(std::chrono::seconds(st.st_mtim.tv_sec) +
                                                                        std::chrono::nanoseconds(st.st_mtim.tv_nsec)));
    if (changed >= since) continue;  // another recovery may be writing it now
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

std::optional<std::uint64_t> Free_Bytes(const fs::path& folder) {
  struct statvfs v {};
  if (::statvfs(folder.c_str(), &v) != 0) return std::nullopt;
  return static_cast<std::uint64_t>(v.f_bavail) * v.f_frsize;
}

std::string Size_Text(std::uint64_t bytes) {
  static const char* const kUnits[] = {"bytes", "KB", "MB", "GB", "TB", "PB"};
  if (bytes < 1000) return std::to_string(bytes) + " bytes";
  double v = static_cast<double>(bytes);
  int unit = 0;
  while (v >= 1000 && unit < 5) {
    v /= 1000;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", v, kUnits[unit]);
  return text;
}

std::optional<DestinationProblem> Space_Problem(std::uint64_t needed, std::uint64_t free) {
  if (needed <= free) return std::nullopt;
  return DestinationProblem{"The destination folder may not have room for every item.",
                            "The items take up to " + Size_Text(needed) + " as found; the folder has " +
                                Size_Text(free) +
                                " free. Files cut to their real end are often smaller. Recovery stops cleanly if "
                                "the folder fills up."};
}

}  // namespace tamberlin::recovery
