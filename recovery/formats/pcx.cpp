// PCX: a 128-byte header (version, RLE encoding, depth, window, planes,
// bytes per line), then run-length coded scan lines; version 5 files with
// 8-bit single-plane pixels end with a 0x0C byte and a 768-byte palette.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Pcx_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  std::uint8_t h[128] = {};
  if (b.Read(0, h, sizeof h) != sizeof h || h[0] != 0x0A || h[2] != 1) return no("no PCX header");
  const unsigned version = h[1], bpp = h[3], planes = h[65];
  const unsigned x0 = h[4] | h[5] << 8u, y0 = h[6] | h[7] << 8u, x1 = h[8] | h[9] << 8u, y1 = h[10] | h[11] << 8u;
  const unsigned line = h[66] | h[67] << 8u;
  if (version > 5 || version == 1 || (bpp != 1 && bpp != 2 && bpp != 4 && bpp != 8) || h[64] != 0) {
    return no("implausible PCX version, depth or reserved byte");
  }
  if (planes == 0 || planes > 4 || x1 < x0 || y1 < y0) return no("implausible PCX planes or window");
  const std::uint64_t width = x1 - x0 + 1ull, height = y1 - y0 + 1ull;
  if (line < (width * bpp + 7) / 8 || line % 2 != 0 || line > (width * bpp + 7) / 8 + 64) {
    return no("bytes per line disagree with the width");
  }
  // Runs may cross line ends in files some writers make, so decode the image as one run.
  const std::uint64_t total = height * planes * line;
  std::uint64_t pos = 128, produced = 0;
  while (produced < total) {
    const auto v = b.View(pos);
    if (v.empty()) return EndFinding::Unknown("pixel data past the limit");
    std::size_t i = 0;
    while (i < v.size() && produced < total) {
      if (v[i] >= 0xC0) {
        if (i + 1 >= v.size()) break;  // the count's byte is in the next block
        produced += v[i] & 0x3Fu;
        i += 2;
      } else {
        ++produced;
        ++i;
      }
    }
    pos += i;
    if (i == 0) {  // a count byte at the block's end
      if (!b.Has(pos, 2)) return EndFinding::Unknown("pixel data past the limit");
      produced += b.View(pos)[0] & 0x3Fu;
      pos += 2;
    }
  }
  if (produced > total + 63) return no("runs overshoot the image");
  if (version == 5 && bpp == 8 && planes == 1) {
    if (!b.Has(pos, 769)) return EndFinding::Unknown("palette past the limit");
    if (b.View(pos)[0] != 0x0C) return EndFinding::Unknown("no palette after the pixels");
    pos += 769;
  }
  return EndFinding::Found(pos);
}

}  // namespace tamberlin::recovery
