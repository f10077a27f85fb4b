#include "engine/sector_source.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

namespace tamberlin {

std::string Device_Path(const std::string& identifier) {
  if (!identifier.empty() && identifier.front() == '/') return identifier;
  return "/dev/" + identifier;
}

std::unique_ptr<FileSectorSource> FileSectorSource::Open(const std::string& path, std::string* why) {
  MediumIdentity identity;
  const int fd = Open_Medium(path, why, &identity);
  if (fd < 0) return nullptr;
  ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return std::unique_ptr<FileSectorSource>(new FileSectorSource(fd, std::move(identity)));
}

FileSectorSource::FileSectorSource(int fd, MediumIdentity identity)
    : fd_(fd), identity_(std::move(identity)), block_(kBlockSectors * kSectorSize), single_(kSectorSize) {}

FileSectorSource::~FileSectorSource() { ::close(fd_); }

void FileSectorSource::Fill_Block(std::uint64_t first) {
  block_first_ = first;
  block_loaded_ = true;
  std::size_t got = 0;
  const std::size_t want = block_.size();
  while (got < want) {
    const ssize_t n = ::pread(fd_, block_.data() + got, want - got,
                              static_cast<off_t>(first * kSectorSize + got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  block_valid_ = got / kSectorSize;
  // Past a short block the device either ended or failed; those sectors are
  // tried one by one so a single bad sector does not hide its neighbours.
  retry_end_ = got < want ? first + kBlockSectors : 0;
}

const std::uint8_t* FileSectorSource::Read_Sector(std::uint64_t sector) {
  const bool in_block = block_loaded_ && sector >= block_first_ && sector < block_first_ + kBlockSectors;
  if (!in_block) Fill_Block(sector);
  const std::uint64_t at = sector - block_first_;
  if (at < block_valid_) return block_.data() + at * kSectorSize;
  if (sector >= retry_end_) return nullptr;
  ssize_t n;
  do {
    n = ::pread(fd_, single_.data(), kSectorSize, static_cast<off_t>(sector * kSectorSize));
  } while (n < 0 && errno == EINTR);
  return n == static_cast<ssize_t>(kSectorSize) ? single_.data() : nullptr;
}

std::uint64_t FileSectorSource::Sector_Count() {
  if (sector_count_ == 0) {
    // Works for block devices as well as files; pread does not use the offset.
    const off_t end = ::lseek(fd_, 0, SEEK_END);
    sector_count_ = end >= 0 ? static_cast<std::uint64_t>(end) / kSectorSize : kUnknownSize;
  }
  return sector_count_;
}

MemorySectorSource::MemorySectorSource(std::vector<std::uint8_t> bytes, std::set<std::uint64_t> unreadable)
    : bytes_(std::move(bytes)), unreadable_(std::move(unreadable)) {}

const std::uint8_t* MemorySectorSource::Read_Sector(std::uint64_t sector) {
  reads_.push_back(sector);
  if (unreadable_.count(sector) != 0) return nullptr;
  if (sector >= bytes_.size() / kSectorSize) return nullptr;
  return bytes_.data() + sector * kSectorSize;
}

SourceOpener File_Opener() {
  return [](const std::string& path, std::string* why) -> std::unique_ptr<SectorSource> {
    return FileSectorSource::Open(path, why);
  };
}

SourceOpener Same_Medium_Opener(SourceOpener inner, std::optional<MediumIdentity> expected) {
  return [inner = std::move(inner), expected = std::move(expected)](
             const std::string& path, std::string* why) -> std::unique_ptr<SectorSource> {
    auto source = inner(path, why);
    if (!source || !expected || source->Identity() == nullptr) return source;
    std::string change = Medium_Change(path, *expected, *source->Identity());
    if (change.empty()) return source;
    if (why != nullptr) *why = std::move(change);
    return nullptr;
  };
}

}  // namespace tamberlin
