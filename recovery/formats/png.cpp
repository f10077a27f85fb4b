// PNG: walks the chunks from the signature by their lengths up to IEND and
// its CRC, which is a constant and so a cheap check that the walk stayed on track.
// The IHDR chunk, fields and CRC, decides whether the bytes are a PNG at all.
#include <zlib.h>

#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

bool Is_Chunk_Type(const std::uint8_t (&t)[4]) {
  for (const std::uint8_t c : t) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'))) return false;
  }
  return true;
}

// The header chunk at 8: length 13, sane fields, its CRC.
bool Ihdr_Checks_Out(ItemBytes& b) {
  std::uint8_t c[4 + 13] = {};
  if (b.U32be(8) != 13 || b.Read(12, c, sizeof c) != sizeof c || !b.Has(12 + 17, 4)) return false;
  const std::uint8_t depth = c[12], colour = c[13];
  const bool depth_ok = depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16;
  if (!depth_ok || colour > 6 || colour == 1 || colour == 5 || c[14] != 0 || c[15] != 0 || c[16] > 1) return false;
  return static_cast<std::uint32_t>(crc32(0, c, sizeof c)) == b.U32be(12 + 17);
}

}  // namespace

EndFinding Find_Png_End(ItemBytes& b) {
  if (!b.Matches(0, "\x89PNG\r\n\x1a\n")) return EndFinding::Not_This_Format("no PNG signature");
  if (!Ihdr_Checks_Out(b)) return EndFinding::Not_This_Format("no sound IHDR chunk");
  constexpr std::uint32_t kIendCrc = 0xAE426082;
  std::uint64_t pos = 8;
  for (;;) {
    if (!b.Has(pos, 8)) return EndFinding::Unknown("no IEND chunk before the limit");
    const std::uint32_t length = b.U32be(pos);
    std::uint8_t type[4] = {};
    b.Read(pos + 4, type, 4);
    if (length > 0x7FFFFFFFu) return EndFinding::Unknown("chunk length over 2^31-1");
    if (!Is_Chunk_Type(type)) return EndFinding::Unknown("chunk type is not four letters");
    const std::string_view name(reinterpret_cast<const char*>(type), 4);
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
