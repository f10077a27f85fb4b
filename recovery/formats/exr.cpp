// OpenEXR: magic and version flags, the header's attributes (name, type,
// size, value) up to an empty name, then the chunk offset table. For single
// part scan-line and one-level tiled images the file ends where the chunk at
// the largest offset ends; multi-part and deep files leave the end unknown.
#include <algorithm>
#include <string>
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kTiled = 1u << 9, kLongNames = 1u << 10, kDeep = 1u << 11, kMultiPart = 1u << 12;

// Scan lines per chunk for each compression method.
std::uint64_t Lines_Per_Chunk(std::uint8_t compression) {
  constexpr std::uint16_t kLines[] = {1, 1, 1, 16, 32, 16, 32, 32, 32, 256};
  return compression < 10 ? kLines[compression] : 0;
}

// A zero-terminated name of up to `most` printable characters at `at`; its length, or 0.
std::size_t Name_Length(ItemBytes& b, std::uint64_t at, std::size_t most) {
  std::uint8_t c[256] = {};
  const std::size_t got = b.Read(at, c, std::min(most + 1, sizeof c));
  for (std::size_t i = 0; i < got; ++i) {
    if (c[i] == 0) return i;
    if (c[i] < 0x20 || c[i] > 0x7E) return 0;
  }
  return 0;
}

}  // namespace

EndFinding Find_Exr_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "\x76\x2F\x31\x01") || !b.Has(0, 8)) return no("no OpenEXR magic");
  const std::uint32_t version = b.U32le(4);
  if ((version & 0xFF) != 2 || (version & ~(0xFFu | kTiled | kLongNames | kDeep | kMultiPart)) != 0) {
    return no("unknown OpenEXR version or flags");
  }
  const std::size_t most_name = (version & kLongNames) != 0 ? 255 : 31;
  std::int64_t ymin = 0, ymax = -1, xmin = 0, xmax = -1;
  std::uint8_t compression = 0xFF;
  std::uint32_t tile_w = 0, tile_h = 0;
  std::uint8_t tile_mode = 0xFF;
  std::uint64_t at = 8;
  int attributes = 0;
  for (;; ++attributes) {
    if (!b.Has(at, 1)) return attributes > 0 ? EndFinding::Unknown("header past the limit") : no("no header");
    if (b.View(at)[0] == 0) break;
    const std::size_t name = Name_Length(b, at, most_name);
    const std::size_t type = name == 0 ? 0 : Name_Length(b, at + name + 1, most_name);
    if (name == 0 || type == 0 || attributes > 1000) return no("header attribute is not a name and a type");
    char text[32] = {};
    b.Read(at, reinterpret_cast<std::uint8_t*>(text), std::min<std::size_t>(name, sizeof text - 1));
    const std::string_view attribute(text, std::min<std::size_t>(name, sizeof text - 1));
    const std::uint64_t value = at + name + 1 + type + 1 + 4;
    const std::uint32_t size = b.U32le(value - 4);
    if (size > (1u << 24)) return no("header attribute size implausible");
    if (attribute == "dataWindow" && size == 16) {
      xmin = static_cast<std::int32_t>(b.U32le(value)), ymin = static_cast<std::int32_t>(b.U32le(value + 4));
      xmax = static_cast<std::int32_t>(b.U32le(value + 8)), ymax = static_cast<std::int32_t>(b.U32le(value + 12));
    } else if (attribute == "compression" && size == 1) {
      compression = b.View(value)[0];
    } else if (attribute == "tiles" && size == 9) {
      tile_w = b.U32le(value), tile_h = b.U32le(value + 4), tile_mode = b.View(value + 8)[0];
    }
    at = value + size;
  }
  at += 1;  // the header's terminating zero
  if (ymax < ymin || xmax < xmin || Lines_Per_Chunk(compression) == 0) {
    return no("header lacks a sound data window or compression");
  }
  if ((version & (kDeep | kMultiPart)) != 0) {
    return EndFinding::Unknown("multi-part or deep file: chunk count not read");
  }

  std::uint64_t chunks = 0;
  const auto height = static_cast<std::uint64_t>(ymax - ymin + 1), width = static_cast<std::uint64_t>(xmax - xmin + 1);
  if ((version & kTiled) != 0) {
    if (tile_w == 0 || tile_h == 0) return no("tiled file without tile sizes");
    if ((tile_mode & 0x0F) != 0) return EndFinding::Unknown("mipmapped tiles: chunk count not read");
    chunks = ((width + tile_w - 1) / tile_w) * ((height + tile_h - 1) / tile_h);
  } else {
    chunks = (height + Lines_Per_Chunk(compression) - 1) / Lines_Per_Chunk(compression);
  }
  const std::uint64_t table_end = at + 8 * chunks;
  if (chunks > (1u << 24) || !b.Has(at, 8 * chunks)) return EndFinding::Unknown("chunk table past the limit");
  std::uint64_t last = 0;
  for (std::uint64_t i = 0; i < chunks; ++i) {
    const std::uint64_t offset = b.U64le(at + 8 * i);
    if (offset < table_end || offset >= b.Limit()) return EndFinding::Unknown("chunk offset outside the file");
    last = std::max(last, offset);
  }
  const std::uint64_t head = (version & kTiled) != 0 ? 20 : 8;  // tile coordinates and levels, or the line
  if (!b.Has(last, head)) return EndFinding::Unknown("last chunk past the limit");
  const std::uint64_t end = last + head + b.U32le(last + head - 4);
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("last chunk past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
