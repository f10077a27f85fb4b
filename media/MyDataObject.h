// One medium the user can scan: a mounted removable volume or a disk image
// the user added. Six display texts, nothing else.
#pragma once

#include <QString>
#include <QStringView>

namespace tamberlin::media {

struct MyDataObject {
  QString nsStrDiskIdentifier;  // sdb1, mmcblk0p1, mapper/x; an image's absolute path
  QString nsStrVolName;         // label, "Untitled" when there is none
  QString nsStrFileSystem;      // FAT32, exFAT, NTFS, ext4, ... or "Disk Image"
  QString nsStrSize;            // getMPSize of the byte size
  QString nsStrParentDisk;      // whole disk holding the volume; "-" for images
  QString nsStrSectors;         // byte size / 512, decimal

  // True for a row added from a disk-image file (identified by its path).
  bool Is_Image() const { return nsStrDiskIdentifier.startsWith(QLatin1Char('/')); }

  // The text under a drive table column identifier, "Collumn1" to
  // "Collumn6"; any other identifier gives an empty text.
  QString Column_Value(QStringView identifier) const;

  friend bool operator==(const MyDataObject&, const MyDataObject&) = default;
};

inline constexpr int kDriveColumnCount = 6;
// "Collumn1" for column 0, ... "Collumn6" for column 5.
QString Column_Identifier(int column);

}  // namespace tamberlin::media
