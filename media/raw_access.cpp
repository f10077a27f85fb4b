#include "media/raw_access.h"

#include <grp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

namespace tamberlin::media {

Identity Current_Identity() {
  Identity who;
  who.uid = ::geteuid();
  who.gid = ::getegid();
  const int n = ::getgroups(0, nullptr);
  if (n > 0) {
    who.groups.resize(static_cast<std::size_t>(n));
    const int got = ::getgroups(n, who.groups.data());
    who.groups.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  return who;
}

std::optional<gid_t> Disk_Group_Id() {
  // getgrnam_r with a buffer that grows: a group with many members can need
  // more than sysconf's suggestion.
  const long suggested = ::sysconf(_SC_GETGR_R_SIZE_MAX);
  std::vector<char> buf(suggested > 0 ? static_cast<std::size_t>(suggested) : 4096);
  for (int tries = 0; tries < 6; ++tries) {
    group entry{};
    group* found = nullptr;
    const int rc = ::getgrnam_r("disk", &entry, buf.data(), buf.size(), &found);
    if (rc == ERANGE) {
      buf.resize(buf.size() * 4);
      continue;
    }
    if (rc != 0 || found == nullptr) return std::nullopt;
    return found->gr_gid;
  }
  return std::nullopt;
}

bool Can_Read_Raw_Devices(const Identity& who, std::optional<gid_t> disk_gid) {
  if (who.uid == 0) return true;
  if (!disk_gid) return false;
  return who.gid == *disk_gid ||
         std::find(who.groups.begin(), who.groups.end(), *disk_gid) != who.groups.end();
}

bool Can_Read_Raw_Devices() { return Can_Read_Raw_Devices(Current_Identity(), Disk_Group_Id()); }

std::string Raw_Device_Rights_Note() { return Can_Read_Raw_Devices() ? std::string() : kRawDeviceRightsNote; }

}  // namespace tamberlin::media
