// ICO and CUR: the directory lists each image's offset and size; the file
// ends where the last image ends. Every image must start as a DIB or a PNG;
// a directory that fails its fields, or images that never show, mean no icon.
#include <algorithm>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kMaxImages = 255;
constexpr std::uint32_t kDibHeaderSize = 40;

}  // namespace

EndFinding Find_Ico_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Has(0, 6)) return no("header cut short");
  const std::uint16_t type = b.U16le(2), count = b.U16le(4);
  if (b.U16le(0) != 0 || (type != 1 && type != 2)) return no("not an icon or cursor header");
  if (count == 0 || count > kMaxImages) return no("implausible image count");
  const std::uint64_t directory_end = 6 + 16 * std::uint64_t{count};
  if (!b.Has(6, directory_end - 6)) return no("directory cut short");

  std::uint64_t end = directory_end;
  bool image_seen = false;
  const char* past = nullptr;
  for (std::uint64_t entry = 6; entry < directory_end; entry += 16) {
    const std::uint64_t size = b.U32le(entry + 8), offset = b.U32le(entry + 12);
    // Icons: reserved byte zero, 0 or 1 planes, a usual depth. Cursors keep the hotspot there.
    const std::uint16_t planes = b.U16le(entry + 4), bpp = b.U16le(entry + 6);
    if (b.View(entry + 3)[0] != 0) return no("reserved directory byte set");
    if (type == 1 &&
        (planes > 1 || (bpp != 0 && bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32))) {
      return no("implausible planes or depth");
    }
    if (offset < directory_end) return no("image offset inside the directory");
    if (size < 8) return no("image size too small");
    if (!b.Has(offset, size)) {
      past = "image runs past the limit";
      continue;
    }
    if (b.U32le(offset) != kDibHeaderSize && !b.Matches(offset, "\x89PNG\r\n\x1a\n")) {
      return no("image data is neither a DIB nor a PNG");
    }
    image_seen = true;
    end = std::max(end, offset + size);
  }
  if (past != nullptr) return image_seen ? EndFinding::Unknown(past) : no(past);
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
