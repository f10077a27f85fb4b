// A FAT32 stick image made at test time, holding real files that are then
// deleted, as on a card whose owner erased the pictures by mistake.
//
// The image is made with mkfs.vfat -C, the files are copied in with mcopy
// and deleted with mdel (mtools works on the image file; nothing is
// mounted). Before the files are deleted, mshowfat tells which clusters
// each file holds and the boot sector where the clusters lie.
// Deleting on FAT only marks the directory entries and frees the clusters,
// so the files' bytes stay where they were.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <utility>
#include <vector>

namespace tamberlin::e2e {

inline constexpr std::uint64_t kSectorBytes = 512;

// One file planted on the stick.
struct PlantedFile {
  QString name;     // upper case, as written to the root folder ("MINUTES.DOCX")
  QString type;     // the catalogue key a scan should report (JPG, PDF, ...)
  QByteArray bytes;
  std::uint64_t first_sector = 0;  // where the file's data starts in the image
  bool contiguous = false;  // its clusters follow one another
};

// The geometry mkfs.vfat chose, from the boot sector.
struct FatLayout {
  std::uint32_t bytes_per_sector = 0;
  std::uint32_t sectors_per_cluster = 0;
  std::uint32_t reserved_sectors = 0;
  std::uint32_t fat_count = 0;
  std::uint32_t fat_sectors = 0;  // per FAT
  std::uint32_t root_cluster = 0;
  std::uint64_t total_sectors = 0;

  std::uint64_t First_Data_Sector() const { return reserved_sectors + std::uint64_t{fat_count} * fat_sectors; }
  std::uint64_t Cluster_Sector(std::uint32_t cluster) const {
    return First_Data_Sector() + std::uint64_t{cluster - 2} * sectors_per_cluster;
  }
};

// Reads a FAT32 boot sector; nothing (and a reason) when it is not one.
std::optional<FatLayout> Read_Fat_Layout(const QByteArray& image, QString* why = nullptr);

// The cluster chains of these root-folder files, by name (mshowfat); nothing,
// and the reason in `error`, when one is missing.
using Chains = std::map<QString, std::vector<std::uint32_t>>;
std::optional<Chains> Cluster_Chains(const QString& path, const QStringList& names, QString* error);

// (type, first sector) of found items; what a scan is checked by.
using Found = std::multiset<std::pair<QString, quint64>>;

struct FatImage {
  QString path;
  FatLayout layout;
  std::vector<PlantedFile> files;  // in the order they were copied
  QByteArray Read_All() const;
  QByteArray Sha256() const;  // of the image file: a scan must leave it unchanged
  // The planted files of these types, as the general pass reports them. A
  // header that several types share opens one item per type: by its first
  // bytes a Word document cannot be told from a workbook or a slide show.
  Found Planted(const QStringList& types) const;
};

// mkfs.vfat, mcopy, mdel and mshowfat, or a sentence naming what is missing.
std::optional<QString> Missing_Fat_Tools();

// Makes a FAT32 image of size_kib KiB (at least 33 MiB for FAT32) at `path`,
// copies `files` into its root folder in order, records where each starts,
// then deletes them all. Nothing, with the reason in `error`, on any failure.
std::optional<FatImage> Build_Fat_Image(const QString& path, std::uint32_t size_kib,
                                        std::vector<PlantedFile> files, QString* error);

// The usual set of planted files: a JPEG, a PNG, a GIF, a PDF, a DOCX, a
// ZIP, a WAV and a text file no catalogue knows.
std::vector<PlantedFile> Standard_Files();

// ------------------------------------------------------------ step by step
// A stick image built one operation at a time, for the recovery benchmark:
// files copied in, deleted, and new ones copied into the freed clusters.

// An empty FAT32 image of size_kib KiB; sectors_per_cluster 0 lets mkfs.vfat choose.
bool Format_Fat_Image(const QString& path, std::uint32_t size_kib, std::uint32_t sectors_per_cluster,
                      QString* error);
// Copies `bytes` into the root folder as `name` (mcopy).
bool Copy_Into_Fat_Image(const QString& path, const QString& name, const QByteArray& bytes, QString* error);
// Deletes these root-folder files (one mdel).
bool Delete_From_Fat_Image(const QString& path, const QStringList& names, QString* error);
// Makes the next copy start at the first free cluster from `cluster` on, as
// a driver does once its allocation cursor has come round to a freed hole.
// mtools searches from the cluster after the FSInfo next-free hint, so the
// hint is set to the cluster before (or to unknown, from cluster 2).
bool Allocate_From_Cluster(const QString& path, std::uint32_t cluster, QString* error);

}  // namespace tamberlin::e2e
