// JPEG XL: the container (a signature box, a file type box with the "jxl "
// brand, then boxes, one or more holding the codestream) ends after its last
// box. A bare codestream (FF 0A) states no end, and its bit-packed header
// accepts nearly any bytes, so it cannot be told apart from random data.
#include <string_view>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

EndFinding Find_Jxl_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (b.Matches(0, "\xFF\x0A")) return no("a bare JPEG XL codestream states no end and has no checkable header");
  if (!b.Matches(0, std::string_view("\0\0\0\x0CJXL \r\n\x87\n", 12))) return no("no JPEG XL signature box");
  if (b.U32be(12) != 20 || !b.Matches(16, "ftypjxl ")) return no("no JPEG XL file type box");
  constexpr std::string_view kBoxes[] = {"jxlc", "jxlp", "jxll", "jxli", "jbrd", "Exif",
                                         "xml ", "jumb", "brob", "uuid", "free", "skip"};
  std::uint64_t at = 32;
  bool codestream = false;
  while (b.Has(at, 8)) {
    const auto known = checks::Known_Box_Type(b, at, kBoxes);
    if (!known) break;
    const std::string_view type = *known;
    std::uint64_t size = b.U32be(at);
    if (size == 0) return EndFinding::Unknown("last box runs to the end of the file");
    if (size == 1) size = b.U64be(at + 8);
    if (size < 8) break;
    if (size > b.Limit() - at || !b.Has(at + size - 1, 1)) return EndFinding::Unknown("box runs past the limit");
    codestream = codestream || type == "jxlc" || type == "jxlp";
    at += size;
  }
  if (!codestream) return EndFinding::Unknown("no codestream box");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
