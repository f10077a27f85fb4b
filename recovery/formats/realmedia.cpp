// RealMedia (RM, RMVB): a ".RMF" header chunk, then chunks (PROP, MDPR,
// CONT, DATA, INDX, ...) each with a four-letter id, a size and a version.
// The file ends after the last chunk in the walk.
#include <algorithm>
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

bool Is_Chunk(ItemBytes& b, std::uint64_t at) {
  std::uint8_t id[4] = {};
  if (b.Read(at, id, 4) != 4 || !b.Has(at, 10)) return false;
  for (const std::uint8_t c : id) {
    if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '.' || c == '-')) return false;
  }
  return b.U32be(at + 4) >= 10 && b.U16be(at + 8) <= 2;
}

}  // namespace

EndFinding Find_Realmedia_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view(".RMF\0\0\0\x12", 8)) || !b.Has(0, 18)) return no("no RealMedia header");
  if (b.U16be(8) > 1 || !b.Matches(18, "PROP") || !Is_Chunk(b, 18)) return no("no properties chunk after the header");
  std::uint64_t at = 0;
  while (Is_Chunk(b, at)) {
    const std::uint64_t size = b.U32be(at + 4);
    if (!b.Matches(at, "DATA") || !b.Has(at, 18)) {
      if (size > b.Limit() - at || !b.Has(at + size - 1, 1)) return EndFinding::Unknown("chunk runs past the limit");
      at += size;
      continue;
    }
    // The data chunk: its packets, each with its length. Some writers state
    // a size past the last packet and end the file with eight zero bytes.
    const std::uint32_t packets = b.U32be(at + 10);
    std::uint64_t pos = at + 18;
    for (std::uint32_t i = 0; i < packets; ++i) {
      if (!b.Has(pos, 4)) return EndFinding::Unknown("packets run past the limit");
      const std::uint16_t length = b.U16be(pos + 2);
      if (length < 12) return EndFinding::Unknown("damaged data packet");
      pos += length;
    }
    if (!b.Has(pos - 1, 1)) return EndFinding::Unknown("packets run past the limit");
    if (pos > at + size) return EndFinding::Unknown("packets cross the data chunk's end");
    if (pos == at + size) {
      at = pos;
      continue;
    }
    at = pos;
    std::uint8_t tail[8] = {1};
    if (b.Read(at, tail, 8) == 8 &&
        std::all_of(std::begin(tail), std::end(tail), [](std::uint8_t c) { return c == 0; })) {
      at += 8;
    }
  }
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
