// ICO and CUR: the directory lists each image's offset and size; the file
// ends where the last image ends. Every image must start as a DIB or a PNG.
#include <algorithm>

#include "end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint32_t kMaxImages = 255;
constexpr std::uint32_t kDibHeaderSize = 40;

}  // namespace

EndFinding Find_Ico_End(ItemBytes& b) {
  if (!b.Has(0, 6)) return EndFinding::Unknown("header cut short");
  const std::uint16_t type = b.U16le(2), count = b.U16le(4);
  if (b.U16le(0) != 0 || (type != 1 && type != 2)) return EndFinding::Unknown("not an icon or cursor header");
  if (count == 0 || count > kMaxImages) return EndFinding::Unknown("implausible image count");
  const std::uint64_t directory_end = 6 + 16 * std::uint64_t{count};
  if (!b.Has(6, directory_end - 6)) return EndFinding::Unknown("directory cut short");

  std::uint64_t end = directory_end;
  for (std::uint64_t entry = 6; entry < directory_end; entry += 16) {
    const std::uint64_t size = b.U32le(entry + 8), offset = b.U32le(entry + 12);
    if (offset < directory_end) return EndFinding::Unknown("image offset inside the directory");
    if (size < 8) return EndFinding::Unknown("image size too small");
    if (!b.Has(offset, size)) return EndFinding::Unknown("image runs past the limit");
    if (b.U32le(offset) != kDibHeaderSize && !b.Matches(offset, "\x89PNG\r\n\x1a\n")) {
      return EndFinding::Unknown("image data is neither a DIB nor a PNG");
    }
    end = std::max(end, offset + size);
  }
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
