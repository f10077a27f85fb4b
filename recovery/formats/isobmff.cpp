// ISO base media files (MP4, MOV, 3GP, HEIC, AVIF, CR3, ...): a walk over the
// top-level boxes; the file ends where the next bytes are no known box. The
// first box must be one a file opens with and hold what that box holds.
#include <algorithm>
#include <string>
#include <string_view>

#include "recovery/end_finder.h"

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

bool Is_Brand(ItemBytes& bytes, std::uint64_t at) {
  std::uint8_t c[4] = {};
  bytes.Read(at, c, 4);
  return std::all_of(std::begin(c), std::end(c), [](std::uint8_t x) { return x >= 0x20 && x <= 0x7E; });
}

// What is wrong with the first box for it to open a file, or null.
const char* First_Box_Fault(ItemBytes& bytes, std::string_view type, std::uint64_t size) {
  if (type == "ftyp") {
    if (size < 16 || size > 4096 || size % 4 != 0 || !bytes.Has(0, size)) return "implausible ftyp box";
    for (std::uint64_t brand = 8; brand < size; brand += brand == 8 ? 8 : 4) {
      if (!Is_Brand(bytes, brand)) return "ftyp brand is not four characters";
    }
    return nullptr;
  }
  if (type == "wide") return size == 8 ? nullptr : "wide box with content";
  if (type == "pnot") return size == 20 ? nullptr : "preview box of the wrong size";
  if (type == "moov") {  // its first child: a known movie box inside it
    constexpr std::string_view kChildren[] = {"mvhd", "cmov", "prfl", "udta", "trak", "meta", "iods", "free"};
    char raw[4] = {};
    bytes.Read(12, reinterpret_cast<std::uint8_t*>(raw), 4);
    const std::uint32_t child = bytes.U32be(8);
    if (!One_Of(std::string_view(raw, 4), kChildren) || child < 8 || child > size - 8) {
      return "moov box holds no movie box";
    }
  }
  return nullptr;
}

}  // namespace

EndFinding Find_Isobmff_End(ItemBytes& bytes) {
  const std::uint64_t limit = bytes.Limit();
  std::uint64_t at = 0;
  bool saw_index = false;  // moov, or meta for still images
  bool checked = false;    // a box whose content could be checked, or a second known box, was seen
  const auto fail = [&](std::string why) {
    return checked ? EndFinding::Unknown(std::move(why)) : EndFinding::Not_This_Format(std::move(why));
  };
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
      return fail("box '" + std::string(type) + "' runs to the end of the file");
    } else if (size < 8) {
      break;
    }
    if (at == 0) {
      if (type != "ftyp" && !One_Of(type, kQuickTimeFirst)) return fail("first box is '" + std::string(type) + "'");
      const char* why = First_Box_Fault(bytes, type, size);
      if (why != nullptr) return EndFinding::Not_This_Format(why);
      checked = type != "mdat" && type != "free" && type != "skip";
    } else {
      checked = true;
    }
    if (size > limit - at) return fail("box '" + std::string(type) + "' runs past the limit");
    if (!bytes.Has(at + size - 1, 1)) return fail("box '" + std::string(type) + "' is cut short");
    saw_index = saw_index || type == "moov" || type == "meta";
    at += size;
  }
  if (at == 0) return EndFinding::Not_This_Format("no box header at the start");
  if (!checked) return EndFinding::Not_This_Format("nothing after the first box");
  if (!saw_index) return EndFinding::Unknown_After("no moov or meta box", at);
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
