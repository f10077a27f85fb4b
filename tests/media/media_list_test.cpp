// The media list read from lsblk.
#include "media/media_list.h"
#include "ui/window_fixture.h"

using namespace tamberlin::media;
using namespace tamberlin::ui::testing;

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
};

QTEST_MAIN(MediaListTest)
#include "media_list_test.moc"
