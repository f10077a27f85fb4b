// PNG: walks the chunks from the signature by their lengths up to IEND and
// its CRC, which is a constant and so a cheap check that the walk stayed on track.
#include <string_view>

#include "end_finder.h"

namespace tamberlin::recovery {

namespace {

bool Is_Chunk_Type(const std::uint8_t (&t)[4]) {
  for (const std::uint8_t c : t) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

}  // namespace

EndFinding Find_Png_End(ItemBytes& b) {
  if (!b.Matches(0, "\x89PNG\r\n\x1a\n")) return EndFinding::Unknown("no PNG signature");
  constexpr std::uint32_t kIendCrc = 0xAE426082;
  std::uint64_t pos = 8;
  for (bool first = true;; first = false) {
    if (!b.Has(pos, 8)) return EndFinding::Unknown("no IEND chunk before the limit");
    const std::uint32_t length = b.U32be(pos);
    std::uint8_t type[4] = {};
    b.Read(pos + 4, type, 4);
    if (length > 0x7FFFFFFFu) return EndFinding::Unknown("chunk length over 2^31-1");
    if (!Is_Chunk_Type(type)) return EndFinding::Unknown("chunk type is not four letters");
    const std::string_view name(reinterpret_cast<const char*>(type), 4);
    if (first && (name != "IHDR" || length != 13)) return EndFinding::Unknown("first chunk is not IHDR");
    const std::uint64_t next = pos + 12 + length;
    if (name == "IEND") {
      if (length != 0 || !b.Has(pos + 8, 4) || b.U32be(pos + 8) != kIendCrc) {
        return EndFinding::Unknown("damaged IEND chunk");
      }
      return EndFinding::Found(next);
    }
    pos = next;
  }
}

}  // namespace tamberlin::recovery
