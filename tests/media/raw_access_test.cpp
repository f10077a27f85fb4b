// Who may read block devices, as the media screen decides it.
#include "raw_access.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace tamberlin::media {
namespace {

constexpr gid_t kDisk = 6;

struct AccessCase {
  const char* name;
  Identity who;
  std::optional<gid_t> disk_gid;
  bool can_read;
};

void PrintTo(const AccessCase& c, std::ostream* os) { *os << c.name; }

class RawAccessTest : public ::testing::TestWithParam<AccessCase> {};

TEST_P(RawAccessTest, Decision) {
  EXPECT_EQ(Can_Read_Raw_Devices(GetParam().who, GetParam().disk_gid), GetParam().can_read);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RawAccessTest,
    ::testing::Values(
        AccessCase{"Root", {0, 0, {0}}, kDisk, true},
        AccessCase{"RootWithoutDiskGroupOnTheSystem", {0, 0, {}}, std::nullopt, true},
        AccessCase{"PlainUser", {1000, 1000, {1000, 24, 27}}, kDisk, false},
        AccessCase{"SupplementaryDiskGroup", {1000, 1000, {1000, 24, kDisk, 27}}, kDisk, true},
        AccessCase{"DiskGroupLastOfMany", {1000, 1000, {4, 20, 24, 27, 46, kDisk}}, kDisk, true},
        AccessCase{"PrimaryDiskGroup", {1000, kDisk, {}}, kDisk, true},
        AccessCase{"NoSupplementaryGroups", {1000, 1000, {}}, kDisk, false},
        // A user id that happens to equal the disk group id gives no rights.
        AccessCase{"UidEqualToDiskGid", {kDisk, 1000, {1000}}, kDisk, false},
        AccessCase{"NoDiskGroupOnTheSystem", {1000, 1000, {1000, kDisk}}, std::nullopt, false}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(RawAccess, ThisProcessAgreesWithItsIdentity) {
  const Identity who = Current_Identity();
  EXPECT_EQ(who.uid, ::geteuid());
  EXPECT_EQ(who.gid, ::getegid());
  EXPECT_EQ(Can_Read_Raw_Devices(), Can_Read_Raw_Devices(who, Disk_Group_Id()));
  // The note is there exactly when the rights are not, and tells the user what to do.
  const std::string note = Raw_Device_Rights_Note();
  EXPECT_EQ(note.empty(), Can_Read_Raw_Devices());
  if (!note.empty()) {
    EXPECT_NE(note.find("usermod -aG disk"), std::string::npos);
    EXPECT_EQ(note.find('\n'), std::string::npos) << "the note is one line";
  }
  if (::geteuid() == 0) {
    EXPECT_TRUE(Can_Read_Raw_Devices());
  }
}

}  // namespace
}  // namespace tamberlin::media
