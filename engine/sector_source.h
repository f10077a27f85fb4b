// Where the scans read sectors from: a device or disk image opened read-only
// (FileSectorSource), or bytes in memory with chosen unreadable sectors for
// tests (MemorySectorSource). One source belongs to one pass on one thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/header_index.h"
#include "engine/medium.h"

namespace tamberlin {

class SectorSource {
 public:
  virtual ~SectorSource() = default;
  // The 512 bytes of sector `sector`, or null when that sector cannot be read
  // whole (an I/O error, or past the end). The pointer stays valid until the
  // next call. Reads are cheapest in ascending order.
  virtual const std::uint8_t* Read_Sector(std::uint64_t sector) = 0;
  // Which medium this is, taken when it was opened; null for sources that
  // are not files (memory).
  virtual const MediumIdentity* Identity() const { return nullptr; }
  // How many sectors the medium holds, or kUnknownSize when the source
  // cannot tell. Only this ends the medium: a failed read below it is a bad
  // sector, not the end.
  static constexpr std::uint64_t kUnknownSize = ~std::uint64_t{0};
  virtual std::uint64_t Sector_Count() { return kUnknownSize; }
};

// The path a medium is read from: "/dev/" + identifier (sdb1 -> /dev/sdb1);
// an absolute path (a device node or a disk image) is used as it is.
std::string Device_Path(const std::string& identifier);

// Reads a block device or image file through large block reads, falling back
// to single sectors around a failed block so one bad sector costs only itself.
// Opened with O_RDONLY: nothing is ever written to the medium.
class FileSectorSource final : public SectorSource {
 public:
  // Opens `path` read-only (see Open_Medium: only regular files and block
  // devices, and the open never waits). On failure returns null and puts a
  // sentence a user can act on in `*why` (e.g. that raw devices need the
  // disk group, or that a folder is no disk image).
  static std::unique_ptr<FileSectorSource> Open(const std::string& path, std::string* why);
  ~FileSectorSource() override;
  FileSectorSource(const FileSectorSource&) = delete;
  FileSectorSource& operator=(const FileSectorSource&) = delete;

  const std::uint8_t* Read_Sector(std::uint64_t sector) override;
  const MediumIdentity* Identity() const override { return &identity_; }
  std::uint64_t Sector_Count() override;

  static constexpr std::size_t kBlockSectors = 256;  // 128 KiB per read

 private:
  FileSectorSource(int fd, MediumIdentity identity);
  void Fill_Block(std::uint64_t first);

  int fd_;
  MediumIdentity identity_;
  std::vector<std::uint8_t> block_;
  std::uint64_t block_first_ = 0;
  std::size_t block_valid_ = 0;     // whole sectors read at block_first_
  bool block_loaded_ = false;
  std::uint64_t retry_end_ = 0;     // sectors below this are read one by one
  std::vector<std::uint8_t> single_;
  std::uint64_t sector_count_ = 0;  // 0 until asked
};

// Sectors in memory; sectors listed in `unreadable` and sectors past the end
// fail. Shares nothing, so tests may build one per pass.
class MemorySectorSource final : public SectorSource {
 public:
  explicit MemorySectorSource(std::vector<std::uint8_t> bytes, std::set<std::uint64_t> unreadable = {});
  const std::uint8_t* Read_Sector(std::uint64_t sector) override;
  std::uint64_t Sector_Count() override { return bytes_.size() / kSectorSize; }
  // Sectors asked for, in order (lets tests check what a pass read).
  const std::vector<std::uint64_t>& Reads() const { return reads_; }

 private:
  std::vector<std::uint8_t> bytes_;
  std::set<std::uint64_t> unreadable_;
  std::vector<std::uint64_t> reads_;
};

// How a pass opens its medium: path in, source out, or null with the reason.
using SourceOpener =
    std::function<std::unique_ptr<SectorSource>(const std::string& path, std::string* why)>;
SourceOpener File_Opener();

// `inner`, refusing a source whose identity differs from `expected` with the
// sentence Medium_Change gives. Sources without an identity pass, and so does
// everything when `expected` is empty (the identity could not be taken).
SourceOpener Same_Medium_Opener(SourceOpener inner, std::optional<MediumIdentity> expected);

}  // namespace tamberlin
