// The list of media the user can scan.
//
// Removable volumes come from `lsblk -J -b -o ...` (JSON, sizes in bytes).
// A volume is listed when it is mounted and it, or a device above it, is
// removable: rm or hotplug set, or on a "usb" or "mmc" transport. Left out:
//  - an internal eMMC: on "mmc" but neither rm nor hotplug, with a volume of
//    the same disk mounted where the system lives (/, /boot, /home, swap,
//    ...). A card in a built-in reader has no such mount and stays listed;
//  - loop devices and everything on them (disk images are added by path);
//  - CD media in optical drives. lsblk cannot tell a CD from a DVD, so an
//    optical ("rom") medium of at most kLargestCdBytes is taken for a CD and
//    left out; a larger one (DVD, Blu-ray) is listed.
// Where lsblk has no label or file system (no udev, e.g. in containers)
// `blkid -o export DEVICE` fills them in; blkid also tells FAT12/16/32 apart.
//
// Everything is parsed from strings so that canned outputs can be tested; the
// programs themselves run through a CommandRunner.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "media/MyDataObject.h"

namespace tamberlin::media {

// A CD holds at most about 870 MB (99 minutes); anything larger is a DVD or
// better.
inline constexpr std::uint64_t kLargestCdBytes = 900ull * 1000 * 1000;

// Runs a program and returns its standard output, or nothing when it could
// not be started, timed out, crashed or exited with a non-zero code.
class CommandRunner {
 public:
  virtual ~CommandRunner() = default;
  virtual std::optional<QByteArray> Run(const QString& program, const QStringList& args) = 0;
};

// QProcess with a time limit, so a hanging lsblk cannot freeze the window
// for long.
class ProcessRunner final : public CommandRunner {
 public:
  explicit ProcessRunner(int timeout_ms = 10000) : timeout_ms_(timeout_ms) {}
  std::optional<QByteArray> Run(const QString& program, const QStringList& args) override;

 private:
  int timeout_ms_;
};

// What blkid says about one device or image.
struct BlkidInfo {
  QString label;    // LABEL
  QString type;     // TYPE (vfat, ext4, ...)
  QString version;  // VERSION (FAT32, 1.0, ...)
};
// Parses `blkid -o export` output (KEY=value lines, shell-escaped values).
BlkidInfo Parse_Blkid_Export(const QByteArray& text);

// Asks blkid about a device path or image file; empty when blkid knows nothing.
using BlkidProbe = std::function<BlkidInfo(const QString& device_path)>;
BlkidProbe Blkid_Probe(CommandRunner& runner);

// One row of lsblk's tree, with what the rows above it contribute.
struct BlockDevice {
  QString name;        // sdb1
  QString path;        // /dev/sdb1
  QString label;       // empty when lsblk has none
  QString fstype;
  std::uint64_t size = 0;
  QString type;        // disk, part, loop, rom, crypt, ...
  bool mounted = false;
  bool removable = false;  // this row or a row above it is removable
  bool system_mount = false;  // mounted where the system lives, or swap
  bool on_loop = false;    // this row is a loop device or lies on one
  bool optical = false;    // this row is an optical drive or lies on one
  QString whole_disk;  // identifier of the top-level disk holding it
};

// The arguments lsblk is run with; the basic set is the fallback for old
// util-linux versions that do not know every column of the full set.
QStringList Lsblk_Arguments();
QStringList Lsblk_Basic_Arguments();

// Flattens lsblk's JSON into one BlockDevice per row, parents before their
// children. Garbage gives nothing and, when `error` is given, a reason.
std::vector<BlockDevice> Flatten_Lsblk(const QByteArray& json, QString* error = nullptr);

// The identifier of a device: its path below /dev ("sdb1", "mapper/usb"),
// or its name when the path is not under /dev.
QString Device_Identifier(const BlockDevice& dev);

// A readable file system name: vfat -> FAT32/FAT16/FAT12 (by blkid's
// version) or FAT, exfat -> exFAT, ntfs -> NTFS, ext4 -> ext4, ...; an empty
// type gives an empty text.
QString File_System_Name(const QString& type, const QString& version = {});

// The display size: "%.2f %s " of the byte count as a float and its unit,
// stepping through " KB", " MB", " GB" and " TB" while the value is strictly
// greater than 1024. "512.00 bytes ", "1.50  KB ".
QString getMPSize(const QString& bytes_text);

// One device: the record to list, or nothing when it is not a mounted
// removable volume (or is a loop device or a CD).
std::optional<MyDataObject> find_disk_info(const BlockDevice& dev, const BlkidProbe& probe);

// All records of one lsblk output, in lsblk's order.
std::vector<MyDataObject> Parse_Lsblk(const QByteArray& json, const BlkidProbe& probe,
                                      QString* error = nullptr);

// Runs lsblk (and blkid where needed). When lsblk is missing, fails or
// prints garbage the list is empty and `error` says why.
std::vector<MyDataObject> getVolumeToFSGetInfo(CommandRunner& runner, QString* error = nullptr);

// The row of a disk-image file: identifier = absolute path, volume name =
// file name, file system from blkid or "Disk Image", parent disk "-".
// Nothing, with a sentence for the user in `why`, when the path is not a
// readable regular file of at least one sector. `probe` may be empty.
std::optional<MyDataObject> Image_Record(const QString& path, const BlkidProbe& probe,
                                         QString* why = nullptr);

}  // namespace tamberlin::media
