// Who may read block devices.
#include "media/raw_access.h"

#include <QtTest>

using namespace tamberlin::media;

class RawAccessTest : public QObject {
  Q_OBJECT

 private slots:
  // Root or the disk group may read block devices; the note on the media
  // screen follows this.
  void raw_access() {
    constexpr gid_t kDisk = 6;
    const std::tuple<Identity, std::optional<gid_t>, bool> cases[] = {
        {{0, 0, {0}}, kDisk, true},
        {{0, 0, {}}, std::nullopt, true},                       // root, and no disk group on the system
        {{1000, 1000, {1000, 24, 27}}, kDisk, false},           // a plain user
        {{1000, 1000, {4, 20, 24, 27, 46, kDisk}}, kDisk, true},  // the disk group last of many
        {{1000, kDisk, {}}, kDisk, true},                       // the disk group as the primary group
        {{kDisk, 1000, {1000}}, kDisk, false},                  // a user id equal to the group id gives nothing
        {{1000, 1000, {1000, kDisk}}, std::nullopt, false}};
    for (const auto& [who, disk_gid, can_read] : cases) QCOMPARE(Can_Read_Raw_Devices(who, disk_gid), can_read);
  }
};

QTEST_MAIN(RawAccessTest)
#include "raw_access_test.moc"
