// ISO base media files (MP4, MOV, 3GP, HEIC, AVIF, CR3, ...): a walk over the
// top-level boxes; the file ends where the next bytes are no known box.
#include <algorithm>
#include <string>
#include <string_view>

#include "end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::string_view kTopLevel[] = {
    "ftyp", "moov", "mdat", "free", "skip", "wide", "uuid", "pdin", "moof", "mfra", "meta", "sidx", "ssix",
    "styp", "emsg", "prft", "pnot", "PICT", "junk", "jP  ", "jp2h", "jp2c", "udta", "afra", "abst", "imda",
};
// What an old QuickTime movie may open with instead of ftyp.
constexpr std::string_view kQuickTimeFirst[] = {"moov", "mdat", "wide", "free", "skip", "pnot"};

template <std::size_t N>
bool One_Of(std::string_view type, const std::string_view (&list)[N]) {
  return std::find(std::begin(list), std::end(list), type) != std::end(list);
}

}  // namespace

EndFinding Find_Isobmff_End(ItemBytes& bytes) {
  const std::uint64_t limit = bytes.Limit();
  std::uint64_t at = 0;
  bool saw_index = false;  // moov, or meta for still images
  // Every box is at least 8 bytes, so each step advances.
  while (bytes.Has(at, 8)) {
    char raw[4] = {};
    bytes.Read(at + 4, reinterpret_cast<std::uint8_t*>(raw), 4);
    const std::string_view type(raw, 4);
    if (!One_Of(type, kTopLevel)) break;
    std::uint64_t size = bytes.U32be(at);
    if (size == 1) {
      if (!bytes.Has(at + 8, 8)) break;
      size = bytes.U64be(at + 8);
      if (size < 16) break;
    } else if (size == 0) {
      return EndFinding::Unknown("box '" + std::string(type) + "' runs to the end of the file");
    } else if (size < 8) {
      break;
    }
    if (at == 0 && type != "ftyp" && !One_Of(type, kQuickTimeFirst)) {
      return EndFinding::Unknown("first box is '" + std::string(type) + "'");
    }
    if (size > limit - at) return EndFinding::Unknown("box '" + std::string(type) + "' runs past the limit");
    if (!bytes.Has(at + size - 1, 1)) return EndFinding::Unknown("box '" + std::string(type) + "' is cut short");
    saw_index = saw_index || type == "moov" || type == "meta";
    at += size;
  }
  if (at == 0) return EndFinding::Unknown("no box header at the start");
  if (!saw_index) return EndFinding::Unknown("no moov or meta box");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
