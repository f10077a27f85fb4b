// xz: a stream ends with a 12-byte footer ("YZ" last, 4-byte aligned) whose
// CRC, flags and backward size must agree with the header and the index it
// points at. Streams joined by zero padding are followed.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::array<std::uint32_t, 256> kCrcTable = [] {
  std::array<std::uint32_t, 256> t{};
  for (std::uint32_t n = 0; n < 256; ++n) {
    std::uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[n] = c;
  }
  return t;
}();

// CRC-32 of bytes [from, to); nothing when they do not all exist.
std::optional<std::uint32_t> Crc32(ItemBytes& bytes, std::uint64_t from, std::uint64_t to) {
  std::uint32_t c = 0xFFFFFFFFu;
  while (from < to) {
    const auto v = bytes.View(from);
    if (v.empty()) return std::nullopt;
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(v.size(), to - from));
    for (std::size_t i = 0; i < n; ++i) c = kCrcTable[(c ^ v[i]) & 0xFF] ^ (c >> 8);
    from += n;
  }
  return c ^ 0xFFFFFFFFu;
}

constexpr std::string_view kMagic{"\xFD" "7zXZ\0", 6};
constexpr std::uint64_t kHeaderBytes = 12, kFooterBytes = 12;
constexpr std::uint64_t kMinIndexBytes = 8;  // indicator, count, padding, CRC

// The stream flags when a valid stream header starts at `at`.
std::optional<std::uint16_t> Header_Flags(ItemBytes& bytes, std::uint64_t at) {
  if (!bytes.Matches(at, kMagic) || !bytes.Has(at, kHeaderBytes)) return std::nullopt;
  const std::uint16_t flags = bytes.U16le(at + 6);
  if ((flags & 0xF0FF) != 0) return std::nullopt;  // reserved bits; the check type is the low nibble of byte 7
  if (Crc32(bytes, at + 6, at + 8) != bytes.U32le(at + 8)) return std::nullopt;
  return flags;
}

// A footer starting at `footer` for a stream from `stream` with `flags`.
bool Is_Footer(ItemBytes& bytes, std::uint64_t stream, std::uint64_t footer, std::uint16_t flags) {
  if (!bytes.Has(footer, kFooterBytes) || bytes.U16le(footer + 8) != flags) return false;
  if (Crc32(bytes, footer + 4, footer + 10) != bytes.U32le(footer)) return false;
  const std::uint64_t index_bytes = (std::uint64_t{bytes.U32le(footer + 4)} + 1) * 4;
  if (index_bytes > footer - stream - kHeaderBytes) return false;
  const std::uint64_t index = footer - index_bytes;
  std::uint8_t indicator = 0xFF;
  bytes.Read(index, &indicator, 1);
  if (indicator != 0x00) return false;
  // The index's last 4 bytes are the CRC of the rest of it.
  return Crc32(bytes, index, footer - 4) == bytes.U32le(footer - 4);
}

// The offset just past the stream starting at `at`, or nothing with the reason.
std::optional<std::uint64_t> Stream_End(ItemBytes& bytes, std::uint64_t at, std::string& why) {
  const auto flags = Header_Flags(bytes, at);
  if (!flags) {
    why = "no valid stream header";
    return std::nullopt;
  }
  // "YZ" ends a footer; footers start 4-aligned from the stream start.
  std::uint64_t yz = at + kHeaderBytes + kMinIndexBytes + 10;
  while (true) {
    const auto v = bytes.View(yz);
    if (v.empty()) break;
    std::uint64_t hit = ItemBytes::npos;
    std::size_t i = 0;
    for (; i + 1 < v.size(); i += 4) {
      if (v[i] == 'Y' && v[i + 1] == 'Z') {
        hit = yz + i;
        break;
      }
    }
    if (hit == ItemBytes::npos) {
      if (i + 1 == v.size()) {  // "YZ" may straddle the span's end
        std::uint8_t z = 0;
        if (v[i] == 'Y' && bytes.Read(yz + i + 1, &z, 1) == 1 && z == 'Z') hit = yz + i;
      }
      if (hit == ItemBytes::npos) {
        yz += (v.size() + 3) / 4 * 4;
        continue;
      }
    }
    if (Is_Footer(bytes, at, hit - 10, *flags)) return hit + 2;
    yz = hit + 4;
  }
  why = "no valid stream footer before the type's maximum size";
  return std::nullopt;
}

// The length of a run of zero bytes from `at`.
std::uint64_t Zero_Run(ItemBytes& bytes, std::uint64_t at) {
  std::uint64_t pos = at;
  while (true) {
    const auto v = bytes.View(pos);
    if (v.empty()) return pos - at;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i] != 0) return pos + i - at;
    }
    pos += v.size();
  }
}

}  // namespace

EndFinding Find_Xz_End(ItemBytes& bytes) {
  if (!Header_Flags(bytes, 0)) return EndFinding::Not_This_Format("no valid xz stream header");
  std::string why;
  auto end = Stream_End(bytes, 0, why);
  if (!end) return EndFinding::Unknown(why);
  // Stream padding (zeros, a multiple of 4) belongs to the file only when
  // another stream follows it; each stream is at least 32 bytes, so this advances.
  while (true) {
    const std::uint64_t padding = Zero_Run(bytes, *end);
    if (padding % 4 != 0 || !bytes.Matches(*end + padding, kMagic)) break;
    const auto next = Stream_End(bytes, *end + padding, why);
    if (!next) break;
    end = next;
  }
  return EndFinding::Found(*end);
}

}  // namespace tamberlin::recovery
