#include <QFile>
#include <QMap>
#include <QTemporaryDir>
#include <QtTest>

#include "drive_table_model.h"
#include "media_list.h"

using namespace tamberlin::media;

namespace {

// "identifier|volume|file system|size|parent|sectors"
QString Row(const MyDataObject& r) {
  return QStringList{r.nsStrDiskIdentifier, r.nsStrVolName, r.nsStrFileSystem,
                     r.nsStrSize,           r.nsStrParentDisk, r.nsStrSectors}
      .join(QLatin1Char('|'));
}

QStringList Rows(const std::vector<MyDataObject>& records) {
  QStringList rows;
  for (const auto& r : records) rows << Row(r);
  return rows;
}

// blkid answers by device path, as `blkid -o export` would print them.
BlkidProbe Canned_Blkid(QMap<QString, QByteArray> answers) {
  return [answers](const QString& path) { return Parse_Blkid_Export(answers.value(path)); };
}

class FakeRunner final : public CommandRunner {
 public:
  // Answers per program; a missing key means the program fails.
  QMap<QString, QList<std::optional<QByteArray>>> answers;
  QStringList calls;
  std::optional<QByteArray> Run(const QString& program, const QStringList& args) override {
    calls << program + QLatin1Char(' ') + args.join(QLatin1Char(' '));
    auto& queue = answers[program];
    if (queue.isEmpty()) return std::nullopt;
    return queue.size() == 1 ? queue.front() : queue.takeFirst();
  }
};

// lsblk 2.38 prints a stick with two partitions like this.
const char* const kUsbStick = R"({"blockdevices": [
  {"name":"sda","path":"/dev/sda","label":null,"fstype":null,"size":256060514304,"pkname":null,
   "tran":"sata","type":"disk","rm":false,"hotplug":false,"ro":false,"mountpoint":null,"mountpoints":[null],
   "children":[{"name":"sda1","path":"/dev/sda1","label":"root","fstype":"ext4","size":256059465728,
     "pkname":"sda","tran":null,"type":"part","rm":false,"hotplug":false,"ro":false,
     "mountpoint":"/","mountpoints":["/"]}]},
  {"name":"sdb","path":"/dev/sdb","label":null,"fstype":null,"size":8019509248,"pkname":null,
   "tran":"usb","type":"disk","rm":true,"hotplug":true,"ro":false,"model":"Cruzer","vendor":"SanDisk",
   "mountpoint":null,"mountpoints":[null],
   "children":[
     {"name":"sdb1","path":"/dev/sdb1","label":"PHOTOS","fstype":"vfat","size":4009754624,"pkname":"sdb",
      "tran":null,"type":"part","rm":true,"hotplug":true,"ro":false,"mountpoint":"/media/u/PHOTOS",
      "mountpoints":["/media/u/PHOTOS"]},
     {"name":"sdb2","path":"/dev/sdb2","label":"Backup Disk","fstype":"exfat","size":1000000000,
      "pkname":"sdb","tran":null,"type":"part","rm":true,"hotplug":true,"ro":false,
      "mountpoint":"/media/u/Backup Disk","mountpoints":["/media/u/Backup Disk"]}]}
]})";

// An SD card in the built-in reader: not flagged removable, but on mmc.
const char* const kSdCard = R"({"blockdevices": [
  {"name":"mmcblk0","path":"/dev/mmcblk0","label":null,"fstype":null,"size":31914983424,"pkname":null,
   "tran":"mmc","type":"disk","rm":false,"hotplug":false,"ro":false,"mountpoints":[null],
   "children":[{"name":"mmcblk0p1","path":"/dev/mmcblk0p1","label":"CAMERA","fstype":"exfat",
     "size":31910789120,"pkname":"mmcblk0","tran":null,"type":"part","rm":false,"hotplug":false,
     "ro":false,"mountpoint":"/media/u/CAMERA","mountpoints":["/media/u/CAMERA"]}]}
]})";

// A mounted image, even a "hot-pluggable" one, is a loop device: never listed.
const char* const kLoop = R"({"blockdevices": [
  {"name":"loop0","path":"/dev/loop0","label":"IMG","fstype":"vfat","size":67108864,"pkname":null,
   "tran":null,"type":"loop","rm":false,"hotplug":true,"ro":true,"mountpoint":"/mnt/img",
   "mountpoints":["/mnt/img"]},
  {"name":"loop1","path":"/dev/loop1","label":null,"fstype":null,"size":67108864,"pkname":null,
   "tran":null,"type":"loop","rm":true,"hotplug":false,"ro":false,"mountpoints":[null],
   "children":[{"name":"loop1p1","path":"/dev/loop1p1","label":"P","fstype":"vfat","size":66060288,
     "pkname":"loop1","tran":null,"type":"part","rm":true,"hotplug":false,"ro":false,
     "mountpoints":["/mnt/p"]}]}
]})";

// Optical drives: a CD (700 MB) is left out, a DVD (4.7 GB) is listed.
const char* const kOptical = R"({"blockdevices": [
  {"name":"sr0","path":"/dev/sr0","label":"AUDIO_CD","fstype":"iso9660","size":734003200,"pkname":null,
   "tran":"sata","type":"rom","rm":true,"hotplug":false,"ro":false,"mountpoint":"/media/u/AUDIO_CD",
   "mountpoints":["/media/u/AUDIO_CD"]},
  {"name":"sr1","path":"/dev/sr1","label":"HOLIDAY_DVD","fstype":"udf","size":4700372992,"pkname":null,
   "tran":"usb","type":"rom","rm":true,"hotplug":true,"ro":false,"mountpoint":"/media/u/HOLIDAY_DVD",
   "mountpoints":["/media/u/HOLIDAY_DVD"]}
]})";

// No udev: label and file system are null, blkid knows them (or not).
const char* const kNoLabel = R"({"blockdevices": [
  {"name":"sdc","path":"/dev/sdc","label":null,"fstype":null,"size":2013265920,"pkname":null,
   "tran":"usb","type":"disk","rm":true,"hotplug":true,"ro":false,"mountpoints":[null],
   "children":[
     {"name":"sdc1","path":"/dev/sdc1","label":null,"fstype":null,"size":1006632960,"pkname":"sdc",
      "tran":null,"type":"part","rm":true,"hotplug":true,"ro":false,"mountpoints":["/media/a",null]},
     {"name":"sdc2","path":"/dev/sdc2","label":null,"fstype":null,"size":1006632960,"pkname":"sdc",
      "tran":null,"type":"part","rm":true,"hotplug":true,"ro":false,"mountpoints":["/media/b"]}]}
]})";

// util-linux 2.3x: flags as "0"/"1" strings, sizes as strings, no PATH or
// MOUNTPOINTS columns.
const char* const kOldStyle = R"({"blockdevices": [
  {"name":"sdd","size":"15931539456","type":"disk","rm":"1","hotplug":"1","tran":"usb",
   "mountpoint":null,"children":[
     {"name":"sdd1","label":"OLD","fstype":"vfat","size":"15930490880","type":"part","rm":"1",
      "hotplug":"1","mountpoint":"/media/OLD"}]},
  {"name":"sde","size":"500107862016","type":"disk","rm":"0","hotplug":"0","tran":"sata",
   "mountpoint":null,"children":[
     {"name":"sde1","label":"DATA","fstype":"ntfs","size":"500106813440","type":"part","rm":"0",
      "hotplug":"0","mountpoint":"/data"}]}
]})";

// What the list leaves out and how nesting and odd layouts come out.
const char* const kMixed = R"({"blockdevices": [
  {"name":"sdf","path":"/dev/sdf","label":"SUPERFLOPPY","fstype":"vfat","size":1048576,"pkname":null,
   "tran":"usb","type":"disk","rm":true,"hotplug":true,"ro":false,"mountpoints":["/media/sf"]},
  {"name":"sdg","path":"/dev/sdg","label":null,"fstype":null,"size":4000000000,"pkname":null,
   "tran":"usb","type":"disk","rm":false,"hotplug":true,"ro":false,"mountpoints":[null],
   "children":[
     {"name":"sdg1","path":"/dev/sdg1","label":"NOTMOUNTED","fstype":"ext4","size":1000000000,
      "pkname":"sdg","type":"part","rm":false,"hotplug":true,"mountpoints":[null]},
     {"name":"sdg2","path":"/dev/sdg2","label":null,"fstype":"crypto_LUKS","size":2000000000,
      "pkname":"sdg","type":"part","rm":false,"hotplug":true,"mountpoints":[null],
      "children":[{"name":"luks-1","path":"/dev/mapper/luks-1","label":"SECRET","fstype":"ext4",
        "size":1998000000,"pkname":"sdg2","type":"crypt","rm":false,"hotplug":false,
        "mountpoints":["/media/secret"]}]},
     {"name":"sdg3","path":"/dev/sdg3","label":null,"fstype":"swap","size":512,
      "pkname":"sdg","type":"part","rm":false,"hotplug":true,"mountpoints":["[SWAP]"]}]}
]})";

}  // namespace

class MediaListTest : public QObject {
  Q_OBJECT

 private slots:
  void getMPSize_data() {
    QTest::addColumn<QString>("bytes");
    QTest::addColumn<QString>("shown");
    QTest::newRow("512") << "512" << "512.00 bytes ";
    QTest::newRow("1024 stays bytes") << "1024" << "1024.00 bytes ";
    QTest::newRow("1025") << "1025" << "1.00  KB ";
    QTest::newRow("1536") << "1536" << "1.50  KB ";
    QTest::newRow("1 MiB stays KB") << "1048576" << "1024.00  KB ";
    QTest::newRow("1e9") << "1000000000" << "953.67  MB ";
    QTest::newRow("4 GB stick") << "4009754624" << "3.73  GB ";
    QTest::newRow("2 TB disk") << "2000398934016" << "1.82  TB ";
    QTest::newRow("zero") << "0" << "0.00 bytes ";
    QTest::newRow("empty") << "" << "0.00 bytes ";
    QTest::newRow("garbage") << "abc" << "0.00 bytes ";
  }
  void getMPSize() {
    QFETCH(QString, bytes);
    QFETCH(QString, shown);
    QCOMPARE(tamberlin::media::getMPSize(bytes), shown);
  }

  void getMPSize_ignores_locale() {
    // The window runs with the user's locale; sizes keep their full stop.
    const QByteArray old = setlocale(LC_NUMERIC, nullptr);
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8")) QSKIP("no German locale installed");
    const QString shown = tamberlin::media::getMPSize(QStringLiteral("1536"));
    setlocale(LC_NUMERIC, old.constData());
    QCOMPARE(shown, QStringLiteral("1.50  KB "));
  }

  void lsblk_data() {
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QStringList>("blkid");  // "path=export text" pairs
    QTest::addColumn<QStringList>("rows");
    QTest::newRow("usb stick, two partitions")
        << QByteArray(kUsbStick) << QStringList{}
        << QStringList{"sdb1|PHOTOS|FAT|3.73  GB |sdb|7831552",
                       "sdb2|Backup Disk|exFAT|953.67  MB |sdb|1953125"};
    QTest::newRow("blkid names the FAT version")
        << QByteArray(kUsbStick) << QStringList{"/dev/sdb1=TYPE=vfat\nVERSION=FAT32\n"}
        << QStringList{"sdb1|PHOTOS|FAT32|3.73  GB |sdb|7831552",
                       "sdb2|Backup Disk|exFAT|953.67  MB |sdb|1953125"};
    QTest::newRow("sd card on mmc")
        << QByteArray(kSdCard) << QStringList{}
        << QStringList{"mmcblk0p1|CAMERA|exFAT|29.72  GB |mmcblk0|62325760"};
    QTest::newRow("loop devices") << QByteArray(kLoop) << QStringList{} << QStringList{};
    QTest::newRow("cd left out, dvd listed")
        << QByteArray(kOptical) << QStringList{}
        << QStringList{"sr1|HOLIDAY_DVD|UDF|4.38  GB |sr1|9180416"};
    QTest::newRow("no label, no blkid")
        << QByteArray(kNoLabel) << QStringList{}
        << QStringList{"sdc1|Untitled|Unknown|960.00  MB |sdc|1966080",
                       "sdc2|Untitled|Unknown|960.00  MB |sdc|1966080"};
    QTest::newRow("no label, blkid fills in")
        << QByteArray(kNoLabel)
        << QStringList{"/dev/sdc1=DEVNAME=/dev/sdc1\nLABEL=My\\ Card\nTYPE=vfat\nVERSION=FAT16\n",
                       "/dev/sdc2=TYPE=ext4\n"}
        << QStringList{"sdc1|My Card|FAT16|960.00  MB |sdc|1966080",
                       "sdc2|Untitled|ext4|960.00  MB |sdc|1966080"};
    QTest::newRow("old-style flags")
        << QByteArray(kOldStyle) << QStringList{}
        << QStringList{"sdd1|OLD|FAT|14.84  GB |sdd|31114240"};
    QTest::newRow("superfloppy, crypt, unmounted, swap")
        << QByteArray(kMixed) << QStringList{}
        << QStringList{"sdf|SUPERFLOPPY|FAT|1024.00  KB |sdf|2048",
                       "mapper/luks-1|SECRET|ext4|1.86  GB |sdg|3902343"};
    QTest::newRow("nothing removable")
        << QByteArray(R"({"blockdevices":[]})") << QStringList{} << QStringList{};
  }
  void lsblk() {
    QFETCH(QByteArray, json);
    QFETCH(QStringList, blkid);
    QFETCH(QStringList, rows);
    QMap<QString, QByteArray> answers;
    for (const QString& pair : blkid) {
      const auto eq = pair.indexOf(QLatin1Char('='));
      answers.insert(pair.left(eq), pair.mid(eq + 1).toUtf8());
    }
    QString error;
    QCOMPARE(Rows(Parse_Lsblk(json, Canned_Blkid(answers), &error)), rows);
    QVERIFY2(error.isEmpty(), qPrintable(error));
  }

  void lsblk_garbage_data() {
    QTest::addColumn<QByteArray>("output");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not json") << QByteArray("lsblk: unknown column: MOUNTPOINTS\n");
    QTest::newRow("truncated") << QByteArray(kUsbStick).left(300);
    QTest::newRow("array") << QByteArray("[1,2,3]");
    QTest::newRow("no devices key") << QByteArray(R"({"devices":[]})");
    QTest::newRow("devices not a list") << QByteArray(R"({"blockdevices":5})");
    QTest::newRow("rows not objects") << QByteArray(R"({"blockdevices":[1,"sdb",null,[]]})");
  }
  void lsblk_garbage() {
    QFETCH(QByteArray, output);
    QString error;
    QVERIFY(Parse_Lsblk(output, Canned_Blkid({}), &error).empty());
  }

  void enumeration_runs_lsblk_and_survives_failure() {
    {  // lsblk missing or failing: empty list and a reason
      FakeRunner runner;
      QString error;
      QVERIFY(getVolumeToFSGetInfo(runner, &error).empty());
      QVERIFY(!error.isEmpty());
      QCOMPARE(runner.calls.size(), 2);  // full columns, then the basic set
    }
    {  // an old lsblk rejects the full column set, the basic set works
      FakeRunner runner;
      runner.answers[QStringLiteral("lsblk")] = {std::nullopt, QByteArray(kOldStyle)};
      QString error;
      QCOMPARE(Rows(getVolumeToFSGetInfo(runner, &error)),
               QStringList{"sdd1|OLD|FAT|14.84  GB |sdd|31114240"});
      QVERIFY(runner.calls.contains("blkid -o export /dev/sdd1"));
    }
    {  // garbage
      FakeRunner runner;
      runner.answers[QStringLiteral("lsblk")] = {QByteArray("\x01\x02garbage")};
      QString error;
      QVERIFY(getVolumeToFSGetInfo(runner, &error).empty());
      QVERIFY(!error.isEmpty());
    }
  }

  void image_rows_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("bytes");
    QTest::addColumn<QByteArray>("blkid");
    QTest::addColumn<QString>("row");  // with PATH for the absolute path; empty = rejected
    QTest::newRow("raw image") << "card.img" << qint64(1536) << QByteArray()
                               << "PATH|card.img|Disk Image|1.50  KB |-|3";
    QTest::newRow("fat image") << "stick.dd" << qint64(1048576)
                               << QByteArray("TYPE=vfat\nVERSION=FAT12\n")
                               << "PATH|stick.dd|FAT12|1024.00  KB |-|2048";
    QTest::newRow("partial last sector") << "odd.iso" << qint64(1000) << QByteArray()
                                         << "PATH|odd.iso|Disk Image|1000.00 bytes |-|1";
    QTest::newRow("empty file") << "empty.img" << qint64(0) << QByteArray() << QString();
    QTest::newRow("under a sector") << "tiny.img" << qint64(511) << QByteArray() << QString();
  }
  void image_rows() {
    QFETCH(QString, name);
    QFETCH(qint64, bytes);
    QFETCH(QByteArray, blkid);
    QFETCH(QString, row);
    QTemporaryDir dir;
    const QString path = dir.filePath(name);
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(bytes));
    f.close();
    QString asked;
    const BlkidProbe probe = [&](const QString& p) {
      asked = p;
      return Parse_Blkid_Export(blkid);
    };
    QString why;
    const auto record = Image_Record(path, probe, &why);
    if (row.isEmpty()) {
      QVERIFY(!record);
      QVERIFY(why.contains(name));
      return;
    }
    QVERIFY2(record, qPrintable(why));
    QCOMPARE(Row(*record), QString(row).replace(QStringLiteral("PATH"), path));
    QVERIFY(record->Is_Image());
    QCOMPARE(asked, path);
  }

  void image_row_rejects_what_is_no_image() {
    QTemporaryDir dir;
    QString why;
    QVERIFY(!Image_Record(dir.filePath("missing.img"), {}, &why));
    QVERIFY(why.contains("does not exist"));
    QVERIFY(!Image_Record(dir.path(), {}, &why));
    QVERIFY(why.contains("folder"));
    QVERIFY(!Image_Record(QStringLiteral("/dev/null"), {}, &why));
    QVERIFY(why.contains("not a regular file"));
    QVERIFY(!Image_Record(QString(), {}, &why));
  }

  void image_row_from_relative_path_is_absolute() {
    QTemporaryDir dir;
    QFile f(dir.filePath("rel.img"));
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(4096));
    f.close();
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    const auto record = Image_Record(QStringLiteral("rel.img"), {});
    QDir::setCurrent(old);
    QVERIFY(record);
    QCOMPARE(record->nsStrDiskIdentifier, QDir(dir.path()).absoluteFilePath("rel.img"));
  }

  void drive_table_columns() {
    DriveTableModel model;
    model.Set_Records({MyDataObject{"sdb1", "PHOTOS", "FAT32", "3.73  GB ", "sdb", "7831552"}});
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.columnCount(), 6);
    const QStringList values{"sdb1", "PHOTOS", "FAT32", "3.73  GB ", "sdb", "7831552"};
    for (int c = 0; c < 6; ++c) {
      const QString id = model.headerData(c, Qt::Horizontal, DriveTableModel::kColumnIdentifierRole)
                             .toString();
      QCOMPARE(id, QStringLiteral("Collumn%1").arg(c + 1));
      QCOMPARE(model.data(model.index(0, c)).toString(), values[c]);
      QCOMPARE(model.Records()[0].Column_Value(id), values[c]);
    }
    QCOMPARE(model.headerData(4, Qt::Horizontal).toString(), QStringLiteral("Parent Disk"));
    QVERIFY(model.Records()[0].Column_Value(u"Collumn7").isEmpty());
    QVERIFY(!model.data(model.index(1, 0)).isValid());
    QVERIFY(model.Record(-1) == nullptr);
    QVERIFY(model.Record(1) == nullptr);
  }
};

QTEST_GUILESS_MAIN(MediaListTest)
#include "media_list_test.moc"
