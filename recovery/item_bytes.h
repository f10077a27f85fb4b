// A found item's bytes as the end finders see them: read from the medium
// through a SectorSource, counted from the item's first byte, with a small
// block cache so finders may read byte by byte without a call per byte.
// One ItemBytes belongs to one item on one thread; it never writes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <span>
#include <string_view>
#include <vector>

#include "engine/sector_source.h"

namespace tamberlin::recovery {

class ItemBytes {
 public:
  // The item starts at `first_sector` of `source` (which must outlive this
  // object). `range` is how many bytes the scan gave the item; `limit` is
  // the most a finder may read (at least `range`; the type's maximum size
  // when that is larger). Reads past the medium's end (the source's
  // Sector_Count) come back short; unreadable sectors before it read as zeros.
  ItemBytes(SectorSource& source, std::uint64_t first_sector, std::uint64_t range, std::uint64_t limit);

  std::uint64_t Range() const { return range_; }
  std::uint64_t Limit() const { return limit_; }
  // Distinct sectors read so far that could not be read and were given as zeros.
  std::uint64_t Zero_Filled_Sectors() const { return zero_filled_.size(); }

  // Up to `n` bytes from `offset` into `out`; fewer only at the limit or at
  // the medium's end. An unreadable sector reads as zeros (as it is written),
  // however many follow it.
  std::size_t Read(std::uint64_t offset, std::uint8_t* out, std::size_t n);
  // True when all `n` bytes at `offset` exist (below the limit, on the medium).
  bool Has(std::uint64_t offset, std::size_t n);
  // The longest run of cached bytes starting at `offset`, empty at the end.
  // Valid until the next call on this object.
  std::span<const std::uint8_t> View(std::uint64_t offset);

  // Little- and big-endian fields; nothing is read past the limit: callers
  // check Has() first, a missing byte reads as 0.
  std::uint16_t U16le(std::uint64_t offset);
  std::uint32_t U32le(std::uint64_t offset);
  std::uint64_t U64le(std::uint64_t offset);
  std::uint16_t U16be(std::uint64_t offset);
  std::uint32_t U32be(std::uint64_t offset);
  std::uint64_t U64be(std::uint64_t offset);
  // True when the bytes at `offset` equal `text`.
  bool Matches(std::uint64_t offset, std::string_view text);

  // The offset of the first (Find) or last (Find_Last) occurrence of
  // `pattern` that starts in [from, to) and ends at or below the limit,
  // or `npos`.
  static constexpr std::uint64_t npos = ~std::uint64_t{0};
  std::uint64_t Find(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to);
  std::uint64_t Find(std::string_view pattern, std::uint64_t from, std::uint64_t to);
  std::uint64_t Find_Last(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to);

 private:
  bool Load(std::uint64_t offset);  // makes the block holding `offset` current
  std::uint64_t Search(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to, bool want_last);

  SectorSource& source_;
  std::uint64_t first_sector_;
  std::uint64_t range_;
  std::uint64_t limit_;
  std::uint64_t medium_sectors_;          // the source's Sector_Count
  std::set<std::uint64_t> zero_filled_;   // item-relative sector numbers
  static constexpr std::size_t kBlockBytes = 64 * 1024;
  std::vector<std::uint8_t> block_;
  std::uint64_t block_offset_ = npos;  // item offset of block_[0]
  std::size_t block_size_ = 0;         // valid bytes in block_
};

}  // namespace tamberlin::recovery
