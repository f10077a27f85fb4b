// IVF (VP8, VP9, AV1 in a simple container): a 32-byte header with the
// codec, frame size and frame count, then frames, each a 12-byte header
// (size, timestamp) and the data.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Ivf_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "DKIF") || !b.Has(0, 32)) return no("no IVF header");
  if (b.U16le(4) != 0 || b.U16le(6) != 32 || b.U16le(12) == 0 || b.U16le(14) == 0) return no("implausible IVF header");
  for (std::uint64_t i = 8; i < 12; ++i) {
    const std::uint8_t c = b.View(i)[0];
    if (c < 0x20 || c > 0x7E) return no("codec is not four characters");
  }
  const std::uint32_t count = b.U32le(24);
  std::uint64_t at = 32;
  std::uint32_t frames = 0;
  // Writers that stop early leave the count short or zero: walk on while frames look sound.
  for (; count == 0 || frames < count; ++frames) {
    if (!b.Has(at, 12)) break;
    const std::uint64_t size = b.U32le(at);
    if (size == 0 || size > (1u << 26)) break;
    if (!b.Has(at, 12 + size)) return EndFinding::Unknown("last frame is cut short");
    at += 12 + size;
  }
  if (frames == 0) return EndFinding::Unknown("no frame after the header");
  if (count != 0 && frames < count) return EndFinding::Unknown("fewer frames than the header states");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
