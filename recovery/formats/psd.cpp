// Photoshop PSD and PSB: header fields, then four sections in turn (colour
// mode data, image resources, layer and mask information, image data). Raw
// image data has a size from the header; RLE data lists its row byte counts
// first. Zip-compressed image data states no size.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Psd_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "8BPS") || !b.Has(0, 26 + 4)) return no("no Photoshop header");
  const std::uint16_t version = b.U16be(4);
  if (version != 1 && version != 2) return no("unknown Photoshop version");
  const bool big = version == 2;
  const std::uint64_t channels = b.U16be(12), height = b.U32be(14), width = b.U32be(18);
  const std::uint16_t depth = b.U16be(22), mode = b.U16be(24);
  const std::uint64_t most_side = big ? 300000 : 30000;
  if (b.U32be(6) != 0 || b.U16be(10) != 0) return no("reserved header bytes set");
  if (channels == 0 || channels > 56 || height == 0 || height > most_side || width == 0 || width > most_side) {
    return no("implausible channels or size");
  }
  if (depth != 1 && depth != 8 && depth != 16 && depth != 32) return no("implausible depth");
  if (mode > 9 || mode == 5 || mode == 6) return no("unknown colour mode");

  // Colour mode data: 768 bytes for indexed images, empty for most others
  // (duotone and 32-bit images keep their own settings there).
  std::uint64_t at = 26;
  const std::uint32_t colour = b.U32be(at);
  const bool free_size = mode == 8 || depth == 32;
  if ((mode == 2 && colour != 768) || (mode != 2 && !free_size && colour != 0)) {
    return no("colour mode data of the wrong size");
  }
  at += 4 + colour;
  if (!b.Has(at, 4)) return EndFinding::Unknown("image resources past the limit");
  const std::uint32_t resources = b.U32be(at);
  if (resources != 0 && !b.Matches(at + 4, "8BIM")) return no("image resources do not start with 8BIM");
  at += 4 + resources;
  if (!b.Has(at, big ? 8 : 4)) return EndFinding::Unknown("layer information past the limit");
  at += big ? 8 + b.U64be(at) : 4 + b.U32be(at);
  if (at > b.Limit() || !b.Has(at, 2)) return EndFinding::Unknown("image data past the limit");

  const std::uint16_t compression = b.U16be(at);
  at += 2;
  const std::uint64_t row = (width * depth + 7) / 8;
  const std::uint64_t rows = channels * height;
  if (compression == 0) {
    const std::uint64_t end = at + row * rows;
    if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("image data past the limit");
    return EndFinding::Found(end);
  }
  if (compression != 1) {
    return compression <= 3 ? EndFinding::Unknown("zip-compressed image data states no size")
                            : no("unknown image compression");
  }
  // RLE: a byte count for every row of every channel (2 bytes in PSD, 4 in PSB).
  const std::uint64_t count_size = big ? 4 : 2;
  if (!b.Has(at, rows * count_size)) return EndFinding::Unknown("row byte counts past the limit");
  std::uint64_t data = 0;
  for (std::uint64_t r = 0; r < rows; ++r) {
    const std::uint64_t n = big ? b.U32be(at + r * 4) : b.U16be(at + r * 2);
    if (n > 2 * row + 2) return EndFinding::Unknown("row byte count larger than the row");
    data += n;
  }
  const std::uint64_t end = at + rows * count_size + data;
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("image data past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
