// Checks on the folder found items are recovered into, made before anything
// is written: it must exist, take new files, have room, and must not lie on
// the medium being read (writing there would overwrite what is being
// recovered). Pure functions over the file system; any thread.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace tamberlin::recovery {

// A refusal or warning the user must see: a short message and what to do.
struct DestinationProblem {
  std::string message;
  std::string informative;
};

// Whether block devices `a` and `b` share storage: the same device, one a
// partition of the other, or one stacked on the other (device mapper, RAID)
// as /sys/dev/block tells. Devices sysfs does not know never overlap.
bool Devices_Overlap(dev_t a, dev_t b, const std::filesystem::path& sys_root = "/sys");

// Whether `device`'s storage is the file `file` through a loop device: the
// loop device itself, a partition of it, or a device stacked on either (as
// /sys/block/loop*/loop tells, matched by the file's device and inode).
bool File_Backs_Device(const std::filesystem::path& file, dev_t device,
                       const std::filesystem::path& sys_root = "/sys");

// The block device holding `folder`'s file system: its st_dev, or for file
// systems with anonymous device numbers (btrfs) the device named as the mount
// source in `mountinfo`. Nothing when there is none (tmpfs, network).
std::optional<dev_t> Folder_Device(const std::filesystem::path& folder,
                                   const std::filesystem::path& sys_root = "/sys",
                                   const std::filesystem::path& mountinfo = "/proc/self/mountinfo");

// Everything that forbids writing into `folder` when reading `source_path`
// (a block device or a disk image): the folder is missing or not writable,
// or lies on the medium. For a disk image that is a folder on a file system
// mounted from the image itself (through a loop device).
std::optional<DestinationProblem> Check_Destination(const std::filesystem::path& folder,
                                                    const std::string& source_path,
                                                    const std::filesystem::path& sys_root = "/sys");

// Removes the unfinished copies a recovery stopped by a signal or a crash
// left in `folder`: regular files named like this program's temporary files
// (".NAME.part.XXXXXX") last changed before `since`. Returns how many went.
std::uint64_t Remove_Stale_Parts(const std::filesystem::path& folder,
                                 std::chrono::system_clock::time_point since);

// Bytes a non-root user may still write in `folder`'s file system; nothing
// when the file system cannot tell.
std::optional<std::uint64_t> Free_Bytes(const std::filesystem::path& folder);

// The warning when `needed` bytes may not fit into `free` bytes (nothing
// when they fit).
std::optional<DestinationProblem> Space_Problem(std::uint64_t needed, std::uint64_t free);

// "12.3 MB"-style sizes for messages (decimal units, as file managers show).
std::string Size_Text(std::uint64_t bytes);

}  // namespace tamberlin::recovery
