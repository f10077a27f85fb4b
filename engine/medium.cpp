#include "engine/medium.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace tamberlin {
namespace {

std::string Open_Error(const std::string& path, int err) {
  if ((err == EACCES || err == EPERM) && path.rfind("/dev/", 0) != 0) {
    return "Permission denied opening " + path + ". Your account may not read this disk image file.";
  }
  if (err == EACCES || err == EPERM) {
    return "Permission denied opening " + path +
           ". Reading a device needs administrator rights or membership of the "
           "\"disk\" group: run Tamberlin with sudo, or add yourself to the disk group "
           "and log in again.";
  }
  if (err == ENOENT || err == ENXIO || err == ENODEV) {
    if (path.rfind("/dev/", 0) == 0) {
      return path + " does not exist. The medium may have been removed: plug it in "
             "again and refresh the list.";
    }
    return path + ": file not found.";
  }
  return "Cannot open " + path + ": " + std::strerror(err) + ".";
}

const char* Kind(mode_t mode) {
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISFIFO(mode)) return "a pipe";
  if (S_ISSOCK(mode)) return "a socket";
  return "no file that can be searched";
}

std::uint64_t Size_Of(int fd, const struct stat& st) {
  if (S_ISREG(st.st_mode)) return st.st_size > 0 ? static_cast<std::uint64_t>(st.st_size) : 0;
  std::uint64_t bytes = 0;
  return ::ioctl(fd, BLKGETSIZE64, &bytes) == 0 ? bytes : 0;
}

}  // namespace

int Open_Medium(const std::string& path, std::string* why, MediumIdentity* identity) {
  auto fail = [&](int fd, std::string reason) {
    if (fd >= 0) ::close(fd);
    if (why != nullptr) *why = std::move(reason);
    return -1;
  };
  // Non-blocking only for the open: a FIFO with no writer would wait here
  // forever. The type check below refuses it anyway.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return fail(-1, Open_Error(path, errno));
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail(fd, "Cannot open " + path + ": " + std::strerror(errno) + ".");
  if (S_ISDIR(st.st_mode)) return fail(fd, path + " is a folder, not a disk or disk image.");
  if (!S_ISREG(st.st_mode) && !S_ISBLK(st.st_mode)) {
    return fail(fd, path + " is not a disk or disk image (it is " + Kind(st.st_mode) + ").");
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    return fail(fd, "Cannot open " + path + ": " + std::strerror(errno) + ".");
  }
  if (identity != nullptr) {
    identity->block_device = S_ISBLK(st.st_mode);
    identity->dev = st.st_dev;
    identity->ino = st.st_ino;
    identity->rdev = identity->block_device ? st.st_rdev : 0;
    identity->size = Size_Of(fd, st);
    identity->serial =
        identity->block_device ? Block_Serial("/sys", ::major(st.st_rdev), ::minor(st.st_rdev)) : std::string();
  }
  return fd;
}

std::optional<MediumIdentity> Read_Medium_Identity(const std::string& path, std::string* why) {
  MediumIdentity id;
  const int fd = Open_Medium(path, why, &id);
  if (fd < 0) return std::nullopt;
  ::close(fd);
  return id;
}

std::string Medium_Change(const std::string& path, const MediumIdentity& then, const MediumIdentity& now) {
  std::string what;
  if (then.block_device != now.block_device || then.dev != now.dev || then.ino != now.ino ||
      then.rdev != now.rdev) {
    what = path + (now.block_device ? " is now another device" : " is now another file");
  } else if (then.serial != now.serial) {
    what = "the device at " + path + " has serial number \u201c" + now.serial + "\u201d, not \u201c" + then.serial +
           "\u201d";
  } else if (then.size != now.size) {
    what = path + " was " + std::to_string(then.size) + " bytes long and is now " + std::to_string(now.size);
  } else {
    return {};
  }
  return "The medium has changed since the scan started: " + what + "; scan it again.";
}

std::string Block_Serial(const std::string& sys_root, unsigned major_no, unsigned minor_no) {
  namespace fs = std::filesystem;
  std::error_code ec;
  const fs::path link = fs::path(sys_root) / "dev" / "block" / (std::to_string(major_no) + ":" + std::to_string(minor_no));
  fs::path disk = fs::canonical(link, ec);
  if (ec) return {};
  if (fs::exists(disk / "partition", ec)) disk = disk.parent_path();
  fs::path at = fs::canonical(disk / "device", ec);
  if (ec) return {};
  const fs::path top = fs::weakly_canonical(fs::path(sys_root) / "devices", ec);
  // A USB stick's serial sits on the USB device, four levels above the SCSI
  // device the disk hangs from; a card's sits on the card itself.
  for (int up = 0; up < 8 && at.has_relative_path() && at != top; ++up, at = at.parent_path()) {
    std::ifstream in(at / "serial");
    std::string serial;
    if (!in || !std::getline(in, serial)) continue;
    while (!serial.empty() && std::isspace(static_cast<unsigned char>(serial.back()))) serial.pop_back();
    while (!serial.empty() && std::isspace(static_cast<unsigned char>(serial.front()))) serial.erase(serial.begin());
    if (!serial.empty()) return serial;
  }
  return {};
}

}  // namespace tamberlin
