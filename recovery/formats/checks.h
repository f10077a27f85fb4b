// Small helpers the format finders share: CRC-32 over an item's bytes and
// bounded reads. Header-only, stateless; any thread may call.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>

#include "recovery/item_bytes.h"

namespace tamberlin::recovery::checks {

// CRC-32 with the same polynomial taken most significant bit first, no
// reflection (MPEG sections, Ogg pages): one byte at a time.
constexpr std::array<std::uint32_t, 256> Crc32_Msb_Table() {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t i = 0; i < 256; ++i) {
    std::uint32_t r = i << 24;
    for (int k = 0; k < 8; ++k) r = (r & 0x80000000u) != 0 ? (r << 1) ^ 0x04C11DB7u : r << 1;
    t[i] = r;
  }
  return t;
}
inline constexpr auto kCrc32MsbTable = Crc32_Msb_Table();
inline std::uint32_t Crc32_Msb_Step(std::uint32_t crc, std::uint8_t c) {
  return (crc << 8) ^ kCrc32MsbTable[(crc >> 24) ^ c];
}

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
