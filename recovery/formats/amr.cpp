// AMR and AMR-WB speech: the magic line, then frames, each a header byte
// (frame type, quality bit) and a payload of the type's fixed size. Nothing
// states an end: the file ends after the last frame in an unbroken run.
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

// Payload bytes by frame type; -1 for types no encoder writes.
constexpr int kNarrow[16] = {12, 13, 15, 17, 19, 20, 26, 31, 5, -1, -1, -1, -1, -1, -1, 0};
constexpr int kWide[16] = {17, 23, 32, 36, 40, 46, 50, 58, 60, 5, -1, -1, -1, -1, 0, 0};
constexpr int kMinFrames = 8;  // a run this long is not chance

}  // namespace

EndFinding Find_Amr_End(ItemBytes& b) {
  const bool wide = b.Matches(0, "#!AMR-WB\n");
  if (!wide && !b.Matches(0, "#!AMR\n")) return EndFinding::Not_This_Format("no AMR magic");
  const int* sizes = wide ? kWide : kNarrow;
  std::uint64_t at = wide ? 9 : 6;
  int frames = 0;
  // A frame header: padding bit 0, four type bits, the quality bit (set in
  // files encoders write), two padding bits 0.
  for (;; ++frames) {
    const auto v = b.View(at);
    if (v.empty()) break;
    const std::uint8_t h = v[0];
    const int size = sizes[(h >> 3) & 15];
    if ((h & 0x83) != 0 || (h & 0x04) == 0 || size < 0 || !b.Has(at, 1 + static_cast<std::uint64_t>(size))) break;
    at += 1 + static_cast<std::uint64_t>(size);
  }
  if (frames < kMinFrames) return EndFinding::Not_This_Format("too few AMR frames in a row");
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
