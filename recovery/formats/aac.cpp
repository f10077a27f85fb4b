// AAC in ADTS frames: each frame header has a sync word, fixed fields that
// stay the same from frame to frame, and the frame's length. The stream ends
// after the last frame of an unbroken run; an ID3v1 tag may follow.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr int kMinFrames = 4;

struct Adts {
  std::uint32_t fixed = 0;  // profile, sampling index, channel configuration
  std::uint32_t length = 0;
};

// The frame header at `at`, or length 0 when it is not a valid one.
Adts Parse(ItemBytes& b, std::uint64_t at) {
  std::uint8_t h[7] = {};
  if (b.Read(at, h, 7) != 7 || h[0] != 0xFF || (h[1] & 0xF6) != 0xF0) return {};  // sync, layer 0
  const unsigned sampling = (h[2] >> 2) & 15;
  const unsigned channels = (h[2] & 1u) << 2 | h[3] >> 6;
  if (sampling > 12 || (h[2] >> 6) == 3) return {};
  const std::uint32_t length = (h[3] & 3u) << 11 | std::uint32_t{h[4]} << 3 | h[5] >> 5u;
  const std::uint32_t header = (h[1] & 1) != 0 ? 7 : 9;
  if (length <= header) return {};
  return {std::uint32_t{h[1]} << 16 | (h[2] & 0xFDu) << 8 | channels, length};
}

}  // namespace

EndFinding Find_Aac_End(ItemBytes& b) {
  const Adts first = Parse(b, 0);
  if (first.length == 0) return EndFinding::Not_This_Format("no ADTS frame header");
  std::uint64_t at = 0;
  int frames = 0;
  for (;;) {
    const Adts f = Parse(b, at);
    if (f.length == 0 || f.fixed != first.fixed) break;
    if (!b.Has(at, f.length)) {
      if (frames >= kMinFrames) return EndFinding::Unknown("last ADTS frame is cut short");
      return EndFinding::Not_This_Format("too few ADTS frames in a row");
    }
    at += f.length;
    ++frames;
  }
  if (frames < kMinFrames) return EndFinding::Not_This_Format("too few ADTS frames in a row");
  if (b.Matches(at, "TAG") && b.Has(at, 128)) at += 128;
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
