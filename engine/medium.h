// Opening a medium (block device or disk image) for reading, and telling
// later whether the same medium is still behind its path. Plain functions and
// values: any thread may call them, each call opens and closes its own file.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <optional>
#include <string>

namespace tamberlin {

// What makes a medium this medium and no other. Taken when a scan starts and
// compared at every later open (the thorough pass, a preview, a recovery),
// so an image replaced on disk or a stick swapped for another is noticed.
struct MediumIdentity {
  bool block_device = false;
  dev_t dev = 0;   // the path's own file: the image file or the device node
  ino_t ino = 0;
  dev_t rdev = 0;  // block devices: major and minor number
  std::uint64_t size = 0;  // bytes
  std::string serial;      // block devices: the hardware serial, empty when none is reported

  bool operator==(const MediumIdentity&) const = default;
};

// Opens `path` read-only for scanning. The open itself never blocks (a FIFO
// with no writer would), and anything that is not a regular file or a block
// device is refused before a byte is read. Returns the descriptor (blocking,
// close-on-exec) or -1 with a sentence for the user in `*why`. Fills
// `*identity` when given.
int Open_Medium(const std::string& path, std::string* why, MediumIdentity* identity = nullptr);

// The identity of the medium at `path` now, or nothing (with `*why`).
std::optional<MediumIdentity> Read_Medium_Identity(const std::string& path, std::string* why);

// Empty when `now` is the medium `then` was; otherwise the sentence to show.
std::string Medium_Change(const std::string& path, const MediumIdentity& then, const MediumIdentity& now);

// The hardware serial of block device major:minor as the kernel reports it
// under `sys_root` (normally /sys): the device's own "serial" or that of the
// nearest device above it (the USB device of a stick, the card of a reader
// slot); a partition asks its disk. Empty when there is none.
std::string Block_Serial(const std::string& sys_root, unsigned major_no, unsigned minor_no);

inline constexpr const char* kEmptyMediumMessage = "the medium is empty or its size cannot be read";

}  // namespace tamberlin
