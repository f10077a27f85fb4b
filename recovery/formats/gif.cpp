// GIF: header, screen descriptor and colour table, then extension and image
// blocks with their sub-block chains, up to the trailer byte 0x3B.
#include "end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t npos = ItemBytes::npos;

// Past a chain of data sub-blocks and its zero terminator, or npos.
std::uint64_t Skip_Sub_Blocks(ItemBytes& b, std::uint64_t pos) {
  for (;;) {
    const auto v = b.View(pos);
    if (v.empty()) return npos;
    std::size_t i = 0;
    while (i < v.size()) {
      if (v[i] == 0) return pos + i + 1;
      i += 1u + v[i];
    }
    pos += i;
  }
}

std::uint64_t Colour_Table_Bytes(std::uint8_t flags) {
  return (flags & 0x80) != 0 ? 3ull << ((flags & 7) + 1) : 0;
}

}  // namespace

EndFinding Find_Gif_End(ItemBytes& b) {
  if (!b.Matches(0, "GIF87a") && !b.Matches(0, "GIF89a")) return EndFinding::Not_This_Format("no GIF header");
  if (!b.Has(0, 13)) return EndFinding::Unknown("screen descriptor past the limit");
  std::uint8_t head[13] = {};
  b.Read(0, head, sizeof head);
  std::uint64_t pos = 13 + Colour_Table_Bytes(head[10]);
  bool image = false;
  for (;;) {
    std::uint8_t block[10] = {};
    if (b.Read(pos, block, sizeof block) == 0) return EndFinding::Unknown("no trailer before the limit");
    switch (block[0]) {
      case 0x3B:
        if (!image) return EndFinding::Unknown("trailer before any image");
        return EndFinding::Found(pos + 1);
      case 0x21: {
        const std::uint8_t label = block[1];
        if (label != 0x01 && label != 0xF9 && label != 0xFE && label != 0xFF) {
          return EndFinding::Unknown("unknown extension label");
        }
        pos = Skip_Sub_Blocks(b, pos + 2);
        break;
      }
      case 0x2C: {
        if (!b.Has(pos, 11)) return EndFinding::Unknown("image descriptor past the limit");
        pos += 10 + Colour_Table_Bytes(block[9]);
        const auto v = b.View(pos);
        if (v.empty()) return EndFinding::Unknown("image data past the limit");
        if (v[0] < 1 || v[0] > 12) return EndFinding::Unknown("bad LZW code size");
        pos = Skip_Sub_Blocks(b, pos + 1);
        image = true;
        break;
      }
      default:
        return EndFinding::Unknown("unexpected block type");
    }
    if (pos == npos) return EndFinding::Unknown("sub-blocks run past the limit");
  }
}

}  // namespace tamberlin::recovery
