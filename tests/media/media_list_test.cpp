#include <QtTest>
#include <tuple>

#include "media/media_list.h"
#include "media/raw_access.h"

using namespace tamberlin::media;

namespace {

// "identifier|volume|file system|size|parent|sectors"
QStringList Rows(const std::vector<MyDataObject>& records) {
  QStringList rows;
  for (const auto& r : records)
    rows << QStringList{r.nsStrDiskIdentifier, r.nsStrVolName, r.nsStrFileSystem, r.nsStrSize, r.nsStrParentDisk,
                        r.nsStrSectors}
                .join(QLatin1Char('|'));
  return rows;
}

// lsblk -J output: the fields a row needs, and what util-linux really prints
// around them (a system disk, null labels, nested children).
QByteArray Device(const char* name, const char* type, const char* tran, bool rm, const char* label,
                  const char* fstype, quint64 size, const char* mount, const QByteArray& children = {}) {
  auto text = [](const char* s) { return s ? QByteArray("\"") + s + "\"" : QByteArray("null"); };
  QByteArray out = QByteArray("{\"name\":\"") + name + "\",\"path\":\"/dev/" + name + "\",\"type\":\"" + type +
                   "\",\"tran\":" + text(tran) + ",\"rm\":" + (rm ? "true" : "false") + ",\"hotplug\":" +
                   (rm ? "true" : "false") + ",\"label\":" + text(label) + ",\"fstype\":" + text(fstype) +
                   ",\"size\":" + QByteArray::number(size) + ",\"mountpoints\":[" + text(mount) + "]";
  if (!children.isEmpty()) out += ",\"children\":[" + children + "]";
  return out + "}";
}
QByteArray Lsblk(const QByteArray& devices) { return "{\"blockdevices\":[" + devices + "]}"; }

class FakeRunner final : public CommandRunner {
 public:
  QList<std::optional<QByteArray>> lsblk;  // answers in turn; the last one repeats
  std::optional<QByteArray> Run(const QString& program, const QStringList&) override {
    if (program != QLatin1String("lsblk") || lsblk.isEmpty()) return std::nullopt;
    return lsblk.size() == 1 ? lsblk.front() : lsblk.takeFirst();
  }
};

}  // namespace

class MediaListTest : public QObject {
  Q_OBJECT

 private slots:
  void lsblk_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QByteArray>("blkid");  // what blkid says of every partition
    QTest::addColumn<QStringList>("rows");
    const QByteArray system = Device("sda", "disk", "sata", false, nullptr, nullptr, 256060514304, nullptr,
                                     Device("sda1", "part", nullptr, false, "root", "ext4", 256059465728, "/"));
    const QByteArray stick =
        Device("sdb", "disk", "usb", true, nullptr, nullptr, 8019509248, nullptr,
               Device("sdb1", "part", nullptr, true, "PHOTOS", "vfat", 4009754624, "/media/P") + "," +
                   Device("sdb2", "part", nullptr, true, nullptr, nullptr, 1006632960, "/m"));
    QTest::newRow("system disk left out, stick listed")
        << Lsblk(system + "," + stick) << QByteArray()
        << QStringList{"sdb1|PHOTOS|FAT|3.73  GB |sdb|7831552", "sdb2|Untitled|Unknown|960.00  MB |sdb|1966080"};
    QTest::newRow("blkid fills in the label and file system")
        << Lsblk(stick) << QByteArray("LABEL=My\\ Card\nTYPE=vfat\nVERSION=FAT16\n")
        << QStringList{"sdb1|PHOTOS|FAT16|3.73  GB |sdb|7831552", "sdb2|My Card|FAT16|960.00  MB |sdb|1966080"};
    // An SD card in a built-in reader is not flagged removable, but is on mmc;
    // so is the eMMC beside it, which holds the system and is left out whole.
    QTest::newRow("sd card on mmc, internal emmc left out")
        << Lsblk(Device("mmcblk1", "disk", "mmc", false, nullptr, nullptr, 62537072640, nullptr,
                        Device("mmcblk1p1", "part", nullptr, false, "EFI", "vfat", 536870912, "/boot/efi") + "," +
                            Device("mmcblk1p2", "part", nullptr, false, "DATA", "ext4", 5770398924, "/m/D")) + "," +
                 Device("mmcblk0", "disk", "mmc", false, nullptr, nullptr, 31914983424, nullptr,
                        Device("mmcblk0p1", "part", nullptr, false, "CAMERA", "exfat", 31910789120, "/media/C")))
        << QByteArray() << QStringList{"mmcblk0p1|CAMERA|exFAT|29.72  GB |mmcblk0|62325760"};
    QTest::newRow("loop devices never listed")
        << Lsblk(Device("loop0", "loop", nullptr, true, "IMG", "vfat", 67108864, "/mnt/img")) << QByteArray()
        << QStringList{};
    // util-linux 2.3x: flags and sizes as strings, no PATH or MOUNTPOINTS columns.
    QTest::newRow("old-style flags")
        << QByteArray(R"({"blockdevices":[{"name":"sdd","size":"15931539456","type":"disk","rm":"1","hotplug":"1",)"
                      R"("tran":"usb","mountpoint":null,"children":[{"name":"sdd1","label":"OLD","fstype":"vfat",)"
                      R"("size":"15930490880","type":"part","rm":"1","hotplug":"1","mountpoint":"/media/OLD"}]}]})")
        << QByteArray() << QStringList{"sdd1|OLD|FAT|14.84  GB |sdd|31114240"};
    for (const char* garbage : {"", "lsblk: unknown column\n", "[1,2,3]", R"({"blockdevices":5})",
                                R"({"blockdevices":[1,"sdb",null,[]]})", R"({"blockdevices":[{"name":"sdb")"})
      QTest::newRow(qPrintable(QStringLiteral("garbage: ") + garbage)) << QByteArray(garbage) << QByteArray()
                                                                       << QStringList{};
  }
  void lsblk() {
    QFETCH(QByteArray, json);
    QFETCH(QByteArray, blkid);
    QFETCH(QStringList, rows);
    QString error;
    QCOMPARE(Rows(Parse_Lsblk(json, [&](const QString&) { return Parse_Blkid_Export(blkid); }, &error)), rows);
  }

  // An old lsblk rejects the full column set: the basic set is tried; when
  // lsblk fails altogether the list is empty with a reason.
  void enumeration_survives_lsblk_failure() {
    FakeRunner old_lsblk;
    old_lsblk.lsblk = {std::nullopt, Lsblk(Device("sdd", "disk", "usb", true, "OLD", "vfat", 1048576, "/m"))};
    QString error;
    QCOMPARE(Rows(getVolumeToFSGetInfo(old_lsblk, &error)), QStringList{"sdd|OLD|FAT|1024.00  KB |sdd|2048"});
    FakeRunner no_lsblk;
    QVERIFY(getVolumeToFSGetInfo(no_lsblk, &error).empty());
    QVERIFY(!error.isEmpty());
  }


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

QTEST_GUILESS_MAIN(MediaListTest)
#include "media_list_test.moc"
