// AIFF and AIFC: an IFF "FORM" chunk whose size gives the end; its chunks
// (COMM, SSND, ...) are walked to check they fill the form exactly.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Aiff_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "FORM") || !b.Has(0, 12)) return no("no FORM header");
  if (!b.Matches(8, "AIFF") && !b.Matches(8, "AIFC")) return no("not an AIFF form");
  const std::uint64_t end = 8 + std::uint64_t{b.U32be(4)};
  if (end < 12 + 8) return no("form too small for a chunk");
  bool common = false;
  for (std::uint64_t at = 12; at < end;) {
    if (!b.Has(at, 8)) return common ? EndFinding::Unknown("chunks past the limit") : no("no chunks");
    std::uint8_t id[4] = {};
    b.Read(at, id, 4);
    for (const std::uint8_t c : id) {
      if (c < 0x20 || c > 0x7E) return common ? EndFinding::Unknown("damaged chunk") : no("chunk id not text");
    }
    const std::uint64_t size = b.U32be(at + 4);
    if (b.Matches(at, "COMM")) {
      if (size < 18 || b.U16be(at + 8) == 0) return no("implausible COMM chunk");
      common = true;
    }
    at += 8 + size + (size & 1);
    if (at > end + 1) {
      return common ? EndFinding::Unknown("a chunk crosses the form's end") : no("chunk crosses the form");
    }
  }
  if (!common) return no("no COMM chunk");
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("form runs past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
