#include "recovery/item_bytes.h"

#include <algorithm>
#include <cstring>

namespace tamberlin::recovery {

ItemBytes::ItemBytes(SectorSource& source, std::uint64_t first_sector, std::uint64_t range, std::uint64_t limit)
    : source_(source), first_sector_(first_sector), range_(range), limit_(std::max(range, limit)),
      medium_sectors_(source.Sector_Count()), block_(kBlockBytes) {}

bool ItemBytes::Load(std::uint64_t offset) {
  if (offset >= limit_) return false;
  if (block_offset_ != npos && offset >= block_offset_ && offset < block_offset_ + block_size_) return true;
  const std::uint64_t start = offset - offset % kBlockBytes;
  const std::uint64_t want = std::min<std::uint64_t>(kBlockBytes, limit_ - start);
  std::size_t got = 0;
  while (got < want) {
    const std::uint64_t sector = first_sector_ + (start + got) / kSectorSize;
    if (sector >= medium_sectors_) break;  // the medium's end ends the item
    const std::uint8_t* bytes = source_.Read_Sector(sector);
    if (bytes == nullptr) {
      // A bad sector, or a run of them, reads as zeros, as the copy writes it.
      zero_filled_.insert(sector - first_sector_);
      std::memset(block_.data() + got, 0, kSectorSize);
    } else {
      std::memcpy(block_.data() + got, bytes, kSectorSize);
    }
    got += kSectorSize;
  }
  block_offset_ = start;
  block_size_ = static_cast<std::size_t>(std::min<std::uint64_t>(got, want));
  return offset < block_offset_ + block_size_;
}

std::span<const std::uint8_t> ItemBytes::View(std::uint64_t offset) {
  if (!Load(offset)) return {};
  const std::size_t at = static_cast<std::size_t>(offset - block_offset_);
  return {block_.data() + at, block_size_ - at};
}

std::size_t ItemBytes::Read(std::uint64_t offset, std::uint8_t* out, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const auto v = View(offset + done);
    if (v.empty()) break;
    const std::size_t take = std::min(v.size(), n - done);
    std::memcpy(out + done, v.data(), take);
    done += take;
  }
  return done;
}

bool ItemBytes::Has(std::uint64_t offset, std::size_t n) {
  if (offset > limit_ || n > limit_ - offset) return false;
  if (n == 0) return true;
  return !View(offset + n - 1).empty();
}

namespace {
template <std::size_t N>
std::uint64_t Field(ItemBytes& b, std::uint64_t offset, bool little) {
  std::uint8_t raw[N] = {};
  b.Read(offset, raw, N);
  std::uint64_t v = 0;
  for (std::size_t i = 0; i < N; ++i) v = (v << 8) | raw[little ? N - 1 - i : i];
  return v;
}
}  // namespace

std::uint16_t ItemBytes::U16le(std::uint64_t o) { return static_cast<std::uint16_t>(Field<2>(*this, o, true)); }
std::uint32_t ItemBytes::U32le(std::uint64_t o) { return static_cast<std::uint32_t>(Field<4>(*this, o, true)); }
std::uint64_t ItemBytes::U64le(std::uint64_t o) { return Field<8>(*this, o, true); }
std::uint16_t ItemBytes::U16be(std::uint64_t o) { return static_cast<std::uint16_t>(Field<2>(*this, o, false)); }
std::uint32_t ItemBytes::U32be(std::uint64_t o) { return static_cast<std::uint32_t>(Field<4>(*this, o, false)); }
std::uint64_t ItemBytes::U64be(std::uint64_t o) { return Field<8>(*this, o, false); }

bool ItemBytes::Matches(std::uint64_t offset, std::string_view text) {
  if (!Has(offset, text.size())) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto v = View(offset + i);
    if (v.empty() || v[0] != static_cast<std::uint8_t>(text[i])) return false;
  }
  return true;
}

std::uint64_t ItemBytes::Search(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to,
                                bool want_last) {
  if (pattern.empty()) return npos;
  const std::size_t len = pattern.size();
  std::uint64_t last = npos;
  std::uint64_t at = from;
  while (at < to) {
    const auto v = View(at);
    if (v.empty()) break;
    const std::size_t span_len = static_cast<std::size_t>(std::min<std::uint64_t>(v.size(), to - at));
    // Matches inside the cached block, searched in place.
    const auto begin = v.begin();
    const auto end = begin + static_cast<std::ptrdiff_t>(span_len);
    // memmem rather than std::search: this runs over whole archives when
    // an end record is looked for, and the library's search is many times
    // faster than a byte-by-byte compare.
    for (const std::uint8_t* it = v.data();;) {
      const std::size_t left = static_cast<std::size_t>(v.data() + span_len - it);
      const void* hit = ::memmem(it, left, pattern.data(), len);
      if (hit == nullptr) break;
      const auto* found = static_cast<const std::uint8_t*>(hit);
      const std::uint64_t pos = at + static_cast<std::uint64_t>(found - v.data());
      if (!want_last) return pos;
      last = pos;
      it = found + 1;
    }
    // Matches that start in the block's last bytes and run into the next
    // one: the seam is copied, since reading on replaces the block.
    std::uint8_t seam[128];
    const std::size_t keep = std::min({len - 1, sizeof seam / 2, span_len});
    std::copy(end - static_cast<std::ptrdiff_t>(keep), end, seam);
    const std::size_t got = Read(at + span_len, seam + keep, std::min(len - 1, sizeof seam / 2));
    for (std::size_t i = 0; i < keep; ++i) {
      if (i + len <= keep || i + len > keep + got) continue;
      if (!std::equal(pattern.begin(), pattern.end(), seam + i)) continue;
      const std::uint64_t pos = at + span_len - keep + i;
      if (!want_last) return pos;
      last = pos;
    }
    at += span_len;
  }
  return last;
}

std::uint64_t ItemBytes::Find(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to) {
  return Search(pattern, from, to, false);
}

std::uint64_t ItemBytes::Find_Last(std::span<const std::uint8_t> pattern, std::uint64_t from, std::uint64_t to) {
  return Search(pattern, from, to, true);
}

std::uint64_t ItemBytes::Find(std::string_view pattern, std::uint64_t from, std::uint64_t to) {
  return Find(std::span(reinterpret_cast<const std::uint8_t*>(pattern.data()), pattern.size()), from, to);
}


}  // namespace tamberlin::recovery
