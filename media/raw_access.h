// Whether this program may read block devices such as /dev/sdb1.
//
// Block devices of USB sticks and memory cards belong to root and the "disk"
// group (mode 0660) on Debian, Ubuntu, Fedora and Arch. A user who is neither
// gets EACCES on open, and the media list stays empty or the scan fails on
// its first read; the media screen says so up front instead. Disk image files
// need only ordinary read access and are not affected.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tamberlin::media {

// Who the process runs as: effective user and group, and the supplementary
// groups.
struct Identity {
  uid_t uid = 0;
  gid_t gid = 0;
  std::vector<gid_t> groups;
};

// The identity of this process (geteuid, getegid, getgroups).
Identity Current_Identity();

// The id of the "disk" group, or nothing when the system has none.
std::optional<gid_t> Disk_Group_Id();

// Root may read any device; anyone else needs the disk group as primary or
// supplementary group. Without a disk group on the system only root can.
bool Can_Read_Raw_Devices(const Identity& who, std::optional<gid_t> disk_gid);

// The same for this process.
bool Can_Read_Raw_Devices();

// One line for the media screen telling the user what to do when this
// process cannot read devices; empty when it can.
std::string Raw_Device_Rights_Note();

inline constexpr const char* kRawDeviceRightsNote =
    "Reading USB sticks and cards needs administrator rights: run with sudo, or add yourself "
    "to the disk group (sudo usermod -aG disk $USER) and log in again. Disk images work without.";

}  // namespace tamberlin::media
