#include "media/media_list.h"

#include "engine/decimal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QProcess>
#include <QSet>
#include <charconv>

namespace tamberlin::media {
namespace {

QString Text(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  return v.isString() ? v.toString() : QString();
}

// Newer util-linux prints rm/hotplug as JSON booleans, older as "0"/"1".
bool Flag(const QJsonObject& o, const char* key) {
  const QJsonValue v = o.value(QLatin1String(key));
  if (v.isBool()) return v.toBool();
  if (v.isDouble()) return v.toDouble() != 0;
  if (v.isString()) {
    const QString s = v.toString().trimmed();
    return s == QLatin1String("1") || s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0;
  }
  return false;
}

std::uint64_t Size(const QJsonObject& o) {
  const QJsonValue v = o.value(QLatin1String("size"));
  if (v.isDouble()) {
    const double d = v.toDouble();
    return d > 0 ? static_cast<std::uint64_t>(d) : 0;
  }
  if (v.isString()) return Parse_Decimal(v.toString().trimmed().toStdString()).value_or(0);
  return 0;
}

bool Is_Mount_Point(const QJsonValue& v) {
  return v.isString() && !v.toString().isEmpty() && v.toString() != QLatin1String("[SWAP]");
}

bool Mounted(const QJsonObject& o) {
  if (Is_Mount_Point(o.value(QLatin1String("mountpoint")))) return true;
  const QJsonArray points = o.value(QLatin1String("mountpoints")).toArray();
  for (const QJsonValue& p : points) {
    if (Is_Mount_Point(p)) return true;
  }
  return false;
}

QStringList Mount_Points(const QJsonObject& o) {
  QStringList points;
  const QJsonValue single = o.value(QLatin1String("mountpoint"));
  if (single.isString()) points << single.toString();
  for (const QJsonValue& p : o.value(QLatin1String("mountpoints")).toArray()) {
    if (p.isString()) points << p.toString();
  }
  return points;
}

// Where an installed system keeps itself; a card is mounted elsewhere
// (/media, /run/media, /mnt).
bool System_Mount(const QStringList& points) {
  static const char* const kSystem[] = {"/boot", "/home", "/usr", "/var", "/opt", "/srv", "/nix"};
  for (const QString& p : points) {
    if (p == QLatin1String("/") || p == QLatin1String("[SWAP]")) return true;
    for (const char* s : kSystem) {
      const QLatin1String dir(s);
      if (p == dir || (p.startsWith(dir) && p.size() > dir.size() && p[dir.size()] == QLatin1Char('/')))
        return true;
    }
  }
  return false;
}

struct Context {
  bool flagged = false;  // rm, hotplug or usb on this row or above
  bool on_mmc = false;
  bool on_loop = false;
  bool optical = false;
  QString whole_disk;
};

struct Flat_Row {
  BlockDevice dev;
  bool flagged = false;
  bool on_mmc = false;
};

void Flatten(const QJsonArray& rows, const Context& above, std::vector<Flat_Row>& out) {
  for (const QJsonValue& value : rows) {
    if (!value.isObject()) continue;
    const QJsonObject o = value.toObject();
    BlockDevice dev;
    dev.name = Text(o, "name");
    dev.path = Text(o, "path");
    dev.label = Text(o, "label");
    dev.fstype = Text(o, "fstype");
    dev.size = Size(o);
    dev.type = Text(o, "type");
    dev.mounted = Mounted(o);
    dev.system_mount = System_Mount(Mount_Points(o));
    const QString tran = Text(o, "tran");
    const bool flagged =
        above.flagged || Flag(o, "rm") || Flag(o, "hotplug") || tran == QLatin1String("usb");
    const bool on_mmc = above.on_mmc || tran == QLatin1String("mmc");
    dev.removable = flagged || on_mmc;  // an eMMC is sorted out once its disk is known
    dev.on_loop = above.on_loop || dev.type == QLatin1String("loop");
    dev.optical = above.optical || dev.type == QLatin1String("rom");
    dev.whole_disk = above.whole_disk.isEmpty() ? Device_Identifier(dev) : above.whole_disk;
    out.push_back({dev, flagged, on_mmc});
    const Context below{flagged, on_mmc, dev.on_loop, dev.optical, dev.whole_disk};
    Flatten(o.value(QLatin1String("children")).toArray(), below, out);
  }
}

QString Unescape_Shell(const QString& value) {
  QString out;
  out.reserve(value.size());
  for (qsizetype i = 0; i < value.size(); ++i) {
    if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) ++i;
    out += value[i];
  }
  return out;
}

}  // namespace

std::optional<QByteArray> ProcessRunner::Run(const QString& program, const QStringList& args) {
  QProcess process;
  process.setStandardErrorFile(QProcess::nullDevice());
  process.start(program, args, QIODevice::ReadOnly);
  if (!process.waitForStarted(timeout_ms_)) return std::nullopt;
  if (!process.waitForFinished(timeout_ms_)) {
    process.kill();
    process.waitForFinished(1000);
    return std::nullopt;
  }
  if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) return std::nullopt;
  return process.readAllStandardOutput();
}

BlkidInfo Parse_Blkid_Export(const QByteArray& text) {
  BlkidInfo info;
  const QStringList lines = QString::fromUtf8(text).split(QLatin1Char('\n'));
  for (const QString& line : lines) {
    const qsizetype eq = line.indexOf(QLatin1Char('='));
    if (eq <= 0) continue;
    const QString key = line.left(eq).trimmed();
    const QString value = Unescape_Shell(line.mid(eq + 1).trimmed());
    if (key == QLatin1String("LABEL")) info.label = value;
    else if (key == QLatin1String("TYPE")) info.type = value;
    else if (key == QLatin1String("VERSION")) info.version = value;
  }
  return info;
}

BlkidProbe Blkid_Probe(CommandRunner& runner) {
  return [&runner](const QString& device_path) {
    const auto out = runner.Run(QStringLiteral("blkid"),
                                {QStringLiteral("-o"), QStringLiteral("export"), device_path});
    return out ? Parse_Blkid_Export(*out) : BlkidInfo{};
  };
}

QStringList Lsblk_Arguments() {
  return {QStringLiteral("-J"), QStringLiteral("-b"), QStringLiteral("-o"),
          QStringLiteral("NAME,PATH,LABEL,FSTYPE,SIZE,PKNAME,TRAN,TYPE,RM,HOTPLUG,RO,MODEL,"
                         "VENDOR,MOUNTPOINT,MOUNTPOINTS")};
}

QStringList Lsblk_Basic_Arguments() {
  return {QStringLiteral("-J"), QStringLiteral("-b"), QStringLiteral("-o"),
          QStringLiteral("NAME,LABEL,FSTYPE,SIZE,TRAN,TYPE,RM,HOTPLUG,MOUNTPOINT")};
}

std::vector<BlockDevice> Flatten_Lsblk(const QByteArray& json, QString* error) {
  std::vector<BlockDevice> out;
  QJsonParseError parse_error{};
  const QJsonDocument doc = QJsonDocument::fromJson(json, &parse_error);
  if (parse_error.error != QJsonParseError::NoError || !doc.isObject()) {
    if (error) *error = QStringLiteral("lsblk printed no JSON: %1").arg(parse_error.errorString());
    return out;
  }
  const QJsonValue devices = doc.object().value(QLatin1String("blockdevices"));
  if (!devices.isArray()) {
    if (error) *error = QStringLiteral("lsblk printed no list of block devices");
    return out;
  }
  std::vector<Flat_Row> rows;
  Flatten(devices.toArray(), Context{}, rows);
  // An mmc disk that is not flagged removable and holds the system is the
  // built-in eMMC, with every volume on it.
  QSet<QString> system_disks;
  for (const Flat_Row& r : rows) {
    if (r.dev.system_mount) system_disks.insert(r.dev.whole_disk);
  }
  out.reserve(rows.size());
  for (Flat_Row& r : rows) {
    if (!r.flagged && r.on_mmc && system_disks.contains(r.dev.whole_disk)) r.dev.removable = false;
    out.push_back(std::move(r.dev));
  }
  return out;
}

QString Device_Identifier(const BlockDevice& dev) {
  static const QString dev_prefix = QStringLiteral("/dev/");
  if (dev.path.startsWith(dev_prefix) && dev.path.size() > dev_prefix.size())
    return dev.path.mid(dev_prefix.size());
  return dev.name;
}

QString File_System_Name(const QString& type, const QString& version) {
  const QString t = type.toLower();
  if (t.isEmpty()) return {};
  if (t == QLatin1String("vfat") || t == QLatin1String("msdos")) {
    if (version.startsWith(QLatin1String("FAT"), Qt::CaseInsensitive)) return version.toUpper();
    return QStringLiteral("FAT");
  }
  struct Name {
    const char* type;
    const char* shown;
  };
  static constexpr Name kNames[] = {
      {"exfat", "exFAT"},   {"ntfs", "NTFS"},        {"ntfs3", "NTFS"},     {"hfsplus", "HFS+"},
      {"hfs", "HFS"},       {"apfs", "APFS"},        {"btrfs", "Btrfs"},    {"xfs", "XFS"},
      {"f2fs", "F2FS"},     {"iso9660", "ISO 9660"}, {"udf", "UDF"},        {"jfs", "JFS"},
      {"squashfs", "SquashFS"}, {"crypto_luks", "LUKS (encrypted)"},        {"swap", "Swap"},
  };
  for (const Name& n : kNames) {
    if (t == QLatin1String(n.type)) return QLatin1String(n.shown);
  }
  return t;  // ext2, ext3, ext4 and the rest read well as they are
}

QString getMPSize(const QString& bytes_text) {
  const QByteArray text = bytes_text.trimmed().toLatin1();
  float v = 0;
  const char* first = text.constData();
  if (!text.isEmpty() && *first == '+') ++first;
  if (std::from_chars(first, text.constData() + text.size(), v).ec != std::errc()) v = 0;
  const char* unit = "bytes";
  if (v > 1024) {
    v /= 1024;
    unit = " KB";
    if (v > 1024) {
      v /= 1024;
      unit = " MB";
    }
    if (v > 1024) {
      v /= 1024;
      unit = " GB";
    }
    if (v > 1024) {
      v /= 1024;
      unit = " TB";
    }
  }
  return QString::number(static_cast<double>(v), 'f', 2) + QLatin1Char(' ') +
         QLatin1String(unit) + QLatin1Char(' ');
}

std::optional<MyDataObject> find_disk_info(const BlockDevice& dev, const BlkidProbe& probe) {
  if (dev.on_loop || !dev.mounted || !dev.removable) return std::nullopt;
  if (dev.optical && dev.size <= kLargestCdBytes) return std::nullopt;
  const QString identifier = Device_Identifier(dev);
  if (identifier.isEmpty()) return std::nullopt;

  QString label = dev.label;
  QString type = dev.fstype;
  QString version;
  const bool fat = type == QLatin1String("vfat");
  if (probe && (label.isEmpty() || type.isEmpty() || fat)) {
    const BlkidInfo info =
        probe(dev.path.isEmpty() ? QStringLiteral("/dev/") + identifier : dev.path);
    if (label.isEmpty()) label = info.label;
    if (type.isEmpty()) type = info.type;
    version = info.version;
  }
  QString file_system = File_System_Name(type, version);
  if (file_system.isEmpty()) file_system = QStringLiteral("Unknown");

  MyDataObject record;
  record.nsStrDiskIdentifier = identifier;
  record.nsStrVolName = label.isEmpty() ? QStringLiteral("Untitled") : label;
  record.nsStrFileSystem = file_system;
  record.nsStrSize = getMPSize(QString::number(dev.size));
  record.nsStrParentDisk = dev.whole_disk;
  record.nsStrSectors = QString::number(dev.size / 512);
  return record;
}

std::vector<MyDataObject> Parse_Lsblk(const QByteArray& json, const BlkidProbe& probe,
                                      QString* error) {
  std::vector<MyDataObject> records;
  for (const BlockDevice& dev : Flatten_Lsblk(json, error)) {
    if (auto record = find_disk_info(dev, probe)) records.push_back(*record);
  }
  return records;
}

std::vector<MyDataObject> getVolumeToFSGetInfo(CommandRunner& runner, QString* error) {
  auto out = runner.Run(QStringLiteral("lsblk"), Lsblk_Arguments());
  // util-linux before 2.37 rejects the whole call over one unknown column
  // (MOUNTPOINTS, PATH): ask again with the columns every version knows.
  if (!out) out = runner.Run(QStringLiteral("lsblk"), Lsblk_Basic_Arguments());
  if (!out) {
    if (error) *error = QStringLiteral("lsblk could not be run or failed");
    return {};
  }
  return Parse_Lsblk(*out, Blkid_Probe(runner), error);
}

std::optional<MyDataObject> Image_Record(const QString& path, const BlkidProbe& probe,
                                         QString* why) {
  auto fail = [why](const QString& reason) -> std::optional<MyDataObject> {
    if (why) *why = reason;
    return std::nullopt;
  };
  const QFileInfo info(path);
  const QString shown = QDir::toNativeSeparators(path);
  if (path.isEmpty() || !info.exists())
    return fail(QStringLiteral("The disk image \u201c%1\u201d does not exist.").arg(shown));
  if (info.isDir())
    return fail(QStringLiteral("\u201c%1\u201d is a folder, not a disk or disk image.").arg(shown));
  // Only stat so far: a pipe with no writer must be refused, not opened.
  if (!info.isFile())
    return fail(QStringLiteral("\u201c%1\u201d is not a disk or disk image: it is not a regular file. "
                               "Only disk image files (.img, .dd, .iso) can be added.")
                    .arg(shown));
  QFile file(info.absoluteFilePath());
  if (!file.open(QIODevice::ReadOnly))
    return fail(QStringLiteral("The disk image \u201c%1\u201d cannot be read: %2.")
                    .arg(shown, file.errorString()));
  const auto bytes = static_cast<std::uint64_t>(file.size());
  file.close();
  if (bytes < 512)
    return fail(QStringLiteral("The disk image \u201c%1\u201d is smaller than one sector "
                               "(512 bytes) and holds nothing to search.")
                    .arg(shown));

  QString file_system;
  if (probe) {
    const BlkidInfo blkid = probe(info.absoluteFilePath());
    file_system = File_System_Name(blkid.type, blkid.version);
  }
  MyDataObject record;
  record.nsStrDiskIdentifier = info.absoluteFilePath();
  record.nsStrVolName = info.fileName();
  record.nsStrFileSystem = file_system.isEmpty() ? QStringLiteral("Disk Image") : file_system;
  record.nsStrSize = getMPSize(QString::number(bytes));
  record.nsStrParentDisk = QStringLiteral("-");
  record.nsStrSectors = QString::number(bytes / 512);
  return record;
}

}  // namespace tamberlin::media
