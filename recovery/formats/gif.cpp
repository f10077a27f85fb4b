// GIF: header, screen descriptor and colour table, then extension and image
// blocks with their sub-block chains, up to the trailer byte 0x3B. Until an
// image descriptor has passed its checks, a broken block means not a GIF.
#include "recovery/end_finder.h"

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
  if (!b.Has(0, 13)) return EndFinding::Not_This_Format("screen descriptor past the limit");
  std::uint8_t head[13] = {};
  b.Read(0, head, sizeof head);
  const unsigned screen_w = head[6] | head[7] << 8u, screen_h = head[8] | head[9] << 8u;
  if (screen_w == 0 || screen_h == 0) return EndFinding::Not_This_Format("screen has no pixels");
  std::uint64_t pos = 13 + Colour_Table_Bytes(head[10]);
  bool image = false;  // an image descriptor passed its checks
  const auto fail = [&](const char* why) {
    return image ? EndFinding::Unknown(why) : EndFinding::Not_This_Format(why);
  };
  for (;;) {
    std::uint8_t block[10] = {};
    if (b.Read(pos, block, sizeof block) == 0) return fail("no trailer before the limit");
    switch (block[0]) {
      case 0x3B:
        if (!image) return fail("trailer before any image");
        return EndFinding::Found(pos + 1);
      case 0x21: {
        // Graphic control, plain text and application blocks have a fixed first sub-block.
        const std::uint8_t label = block[1];
        const bool sized = (label == 0xF9 && block[2] == 4 && block[7] == 0) || (label == 0x01 && block[2] == 12) ||
                           (label == 0xFF && block[2] == 11) || label == 0xFE;
        if (!sized) return fail("unknown or malformed extension block");
        pos = Skip_Sub_Blocks(b, pos + 2);
        break;
      }
      case 0x2C: {
        if (!b.Has(pos, 11)) return fail("image descriptor past the limit");
        const unsigned left = block[1] | block[2] << 8u, top = block[3] | block[4] << 8u;
        const unsigned width = block[5] | block[6] << 8u, height = block[7] | block[8] << 8u;
        if (width == 0 || height == 0 || left + width > screen_w || top + height > screen_h) {
          return fail("image outside the screen");
        }
        pos += 10 + Colour_Table_Bytes(block[9]);
        const auto v = b.View(pos);
        if (v.empty()) return fail("image data past the limit");
        if (v[0] < 2 || v[0] > 8) return fail("bad LZW code size");
        pos = Skip_Sub_Blocks(b, pos + 1);
        if (pos == npos) return fail("sub-blocks run past the limit");
        image = true;
        break;
      }
      default:
        return fail("unexpected block type");
    }
    if (pos == npos) return fail("sub-blocks run past the limit");
  }
}

}  // namespace tamberlin::recovery
