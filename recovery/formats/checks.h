// Small helpers the format finders share: CRC-32 over an item's bytes,
// bounded reads, line ends, box types and trailing tags. Header-only, stateless; any thread may call.
#pragma once

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

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

// `at` is just past a closing marker; CR, LF or CRLF there belongs to the file.
inline std::uint64_t With_Line_End(ItemBytes& bytes, std::uint64_t at) {
  std::uint8_t eol[2] = {};
  const std::size_t got = bytes.Read(at, eol, 2);
  if (got >= 1 && eol[0] == '\r') return at + (got == 2 && eol[1] == '\n' ? 2 : 1);
  if (got >= 1 && eol[0] == '\n') return at + 1;
  return at;
}

// The four-character type of the box (size, type, ...) at `at`, as the
// ISO-style containers (JPEG 2000, JPEG XL) lay it out, when it is one of `known`.
inline std::optional<std::string> Known_Box_Type(ItemBytes& bytes, std::uint64_t at,
                                                 std::span<const std::string_view> known) {
  char raw[4] = {};
  if (bytes.Read(at + 4, reinterpret_cast<std::uint8_t*>(raw), 4) != 4) return std::nullopt;
  const std::string_view type(raw, 4);
  if (std::find(known.begin(), known.end(), type) == known.end()) return std::nullopt;
  return std::string(type);
}

// Where an audio stream that ends at `at` really ends: past an APEv2 tag
// (with a header that names its size, or only a footer whose size reaches
// back to `at`) and an ID3v1 tag.
inline std::uint64_t After_Audio_Tags(ItemBytes& b, std::uint64_t at) {
  if (b.Matches(at, "APETAGEX") && b.Has(at, 32) && (b.U32le(at + 20) & (1u << 29)) != 0) {
    const std::uint64_t end = at + 32 + b.U32le(at + 12);
    if (b.Has(end - 32, 32) && b.Matches(end - 32, "APETAGEX")) at = end;
  } else {
    const std::uint64_t footer = b.Find("APETAGEX", at, std::min(b.Limit(), at + (1u << 20)));
    if (footer != ItemBytes::npos && b.Has(footer, 32) && footer + 32 - at == b.U32le(footer + 12)) at = footer + 32;
  }
  if (b.Matches(at, "TAG") && b.Has(at, 128)) at += 128;
  return at;
}

}  // namespace tamberlin::recovery::checks
