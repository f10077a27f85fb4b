// BMP: the file header's size when the image header backs it up; for
// uncompressed images a missing or wrong size is replaced by the pixel array's
// end (rows padded to 4 bytes), or the embedded colour profile's when later.
// Header fields that disagree with each other mean the bytes are no BMP.
#include <algorithm>
#include <cstdlib>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

// A stated size may run a little past the pixel data (some writers pad).
constexpr std::uint64_t kSizeSlack = 1024;

bool Known_Header_Size(std::uint32_t s) {
  return s == 12 || s == 40 || s == 52 || s == 56 || s == 108 || s == 124;
}

bool Known_Depth(unsigned bpp) {
  return bpp == 1 || bpp == 2 || bpp == 4 || bpp == 8 || bpp == 16 || bpp == 24 || bpp == 32 || bpp == 64;
}

}  // namespace

EndFinding Find_Bmp_End(ItemBytes& b) {
  if (!b.Matches(0, "BM") || !b.Has(0, 30)) return EndFinding::Not_This_Format("no BMP header");
  const std::uint64_t stated = b.U32le(2);
  const std::uint64_t pixels = b.U32le(10);
  const std::uint32_t header = b.U32le(14);
  if (!Known_Header_Size(header) || !b.Has(14, header)) return EndFinding::Not_This_Format("unknown image header size");
  if (pixels < 14 + header) return EndFinding::Not_This_Format("pixel data overlaps the headers");

  std::uint64_t width = 0;
  std::uint64_t height = 0;
  unsigned bpp = 0;
  std::uint32_t compression = 0;
  std::uint32_t image_size = 0;
  if (header == 12) {
    width = b.U16le(18);
    height = b.U16le(20);
    bpp = b.U16le(24);
    if (b.U16le(22) != 1 || (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24)) {
      return EndFinding::Not_This_Format("implausible image header");
    }
  } else {
    const auto w = static_cast<std::int32_t>(b.U32le(18));
    const auto h = static_cast<std::int32_t>(b.U32le(22));
    width = w > 0 ? static_cast<std::uint64_t>(w) : 0;
    height = static_cast<std::uint64_t>(std::abs(static_cast<std::int64_t>(h)));
    bpp = b.U16le(28);
    compression = b.U32le(30);
    image_size = b.U32le(34);
    if (b.U16le(26) != 1 || compression > 6) return EndFinding::Not_This_Format("implausible image header");
  }
  if (width == 0 || height == 0) return EndFinding::Not_This_Format("image has no pixels");

  const bool uncompressed = compression == 0 || compression == 3 || compression == 6;
  if (uncompressed) {
    if (!Known_Depth(bpp)) return EndFinding::Not_This_Format("implausible bit depth");
    const std::uint64_t row = (width * bpp + 31) / 32 * 4;
    if (height > b.Limit() / row) return EndFinding::Unknown("pixel data past the limit");
    std::uint64_t data_end = pixels + row * height;
    if (header == 124 && b.U32le(14 + 56) == 0x4D424544) {  // 'MBED': the profile follows, at an offset from the header
      const std::uint64_t profile_end = 14ull + b.U32le(14 + 112) + b.U32le(14 + 116);
      data_end = std::max(data_end, profile_end);
    }
    const std::uint64_t end = stated >= data_end && stated - data_end <= kSizeSlack ? stated : data_end;
    if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("pixel data past the limit");
    return EndFinding::Found(end);
  }

  // Compressed pixels: only the stated size says where they end; take it
  // when it lies within the bounds the header allows.
  const bool rle = compression == 1 || compression == 2;
  if (rle && bpp != (compression == 1 ? 8u : 4u)) return EndFinding::Not_This_Format("implausible bit depth");
  if (stated <= pixels || stated - pixels < image_size) {
    return EndFinding::Not_This_Format("size field disagrees with header");
  }
  // An RLE row never takes more than two bytes a pixel plus its end-of-line code.
  if (rle && (height > b.Limit() / (2 * width + 2) || stated - pixels > (2 * width + 2) * height + 2)) {
    return EndFinding::Not_This_Format("size field disagrees with header");
  }
  if (stated > b.Limit() || !b.Has(stated - 1, 1)) return EndFinding::Unknown("stated size past the limit");
  return EndFinding::Found(stated);
}

}  // namespace tamberlin::recovery
