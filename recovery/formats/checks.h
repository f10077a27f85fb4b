// Small helpers the format finders share: CRC-32 over an item's bytes and
// bounded reads. Header-only, stateless; any thread may call.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>

#include "item_bytes.h"

namespace tamberlin::recovery::checks {

// CRC-32 (zlib's polynomial) of bytes [from, to); nothing when they do not all exist.
inline std::optional<std::uint32_t> Crc32(ItemBytes& bytes, std::uint64_t from, std::uint64_t to) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (from < to) {
    const auto v = bytes.View(from);
    if (v.empty()) return std::nullopt;
    const auto n = static_cast<uInt>(std::min<std::uint64_t>({v.size(), to - from, 1u << 30}));
    crc = crc32(crc, v.data(), n);
    from += n;
  }
  return static_cast<std::uint32_t>(crc);
}

// One byte; nothing past the limit or the medium's end.
inline std::optional<std::uint8_t> Byte(ItemBytes& bytes, std::uint64_t at) {
  std::uint8_t b = 0;
  if (bytes.Read(at, &b, 1) != 1) return std::nullopt;
  return b;
}

// `a + b`, or nothing when it overflows or passes `limit`.
inline std::optional<std::uint64_t> Add_Within(std::uint64_t a, std::uint64_t b, std::uint64_t limit) {
  if (a > limit || b > limit - a) return std::nullopt;
  return a + b;
}

}  // namespace tamberlin::recovery::checks
