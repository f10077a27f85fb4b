// MPEG program streams (MPG, VOB) and MPEG video elementary streams (M2V).
// A program stream is a run of packs (000001BA) and packets with a length
// (000001BB and up); it ends with the program end code 000001B9, or where the
// run breaks. An elementary stream opens with a sequence header and ends
// with the sequence end code 000001B7.
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr int kMinUnits = 3;  // packs and packets in a row

// The length of the pack header at `at` (MPEG-1 or MPEG-2), 0 when its marker bits are wrong.
std::uint64_t Pack_Length(ItemBytes& b, std::uint64_t at) {
  std::uint8_t p[14] = {};
  if (b.Read(at, p, sizeof p) < 12) return 0;
  if ((p[4] & 0xC4) == 0x44) {  // MPEG-2: '01', markers in the SCR and mux rate
    if ((p[6] & 4) == 0 || (p[8] & 4) == 0 || (p[9] & 1) == 0 || (p[12] & 3) != 3) return 0;
    return 14u + (p[13] & 7u);
  }
  if ((p[4] & 0xF1) == 0x21) {  // MPEG-1: '0010', markers
    if ((p[6] & 1) == 0 || (p[8] & 1) == 0 || (p[9] & 0x80) == 0 || (p[11] & 1) == 0) return 0;
    return 12;
  }
  return 0;
}

}  // namespace

EndFinding Find_Mpeg_Ps_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, std::string_view("\0\0\x01\xBA", 4)) || Pack_Length(b, 0) == 0) return no("no pack header");
  std::uint64_t at = 0;
  int units = 0;
  for (;; ++units) {
    if (!b.Has(at, 4)) {
      return units >= kMinUnits ? EndFinding::Unknown("stream runs to the limit") : no("too few packs and packets");
    }
    const std::uint32_t code = b.U32be(at);
    if (code == 0x000001B9) return EndFinding::Found(at + 4);
    if (code == 0x000001BA) {
      const std::uint64_t n = Pack_Length(b, at);
      if (n == 0) break;
      at += n;
      continue;
    }
    if (code < 0x000001BB || code > 0x000001FF) break;
    if (!b.Has(at, 6)) break;
    at += 6 + std::uint64_t{b.U16be(at + 4)};
  }
  if (units < kMinUnits) return no("too few packs and packets in a row");
  return EndFinding::Found(at);
}

EndFinding Find_Mpeg_Video_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  std::uint8_t h[12] = {};
  if (!b.Matches(0, std::string_view("\0\0\x01\xB3", 4)) || b.Read(0, h, 12) != 12) return no("no sequence header");
  const unsigned width = h[4] << 4u | h[5] >> 4u, height = (h[5] & 15u) << 8u | h[6];
  const unsigned aspect = h[7] >> 4, rate = h[7] & 15;
  if (width == 0 || height == 0 || aspect == 0 || aspect > 4 || rate == 0 || rate > 8 || (h[10] & 0x20) == 0) {
    return no("implausible sequence header");
  }
  // The quantiser matrices, when loaded, then the next start code.
  std::uint64_t next = 12;
  if ((h[11] & 2) != 0) next += 64;
  if (b.Has(next - 1, 1) && (b.View(next - 1)[0] & 1) != 0) next += 64;
  if (!b.Has(next, 4)) return no("sequence header cut short");
  const std::uint32_t code = b.U32be(next);
  if (code != 0x000001B5 && code != 0x000001B8 && code != 0x000001B2 && code != 0x00000100) {
    return no("no extension, group or picture after the sequence header");
  }
  const std::uint64_t end = b.Find(std::string_view("\0\0\x01\xB7", 4), next, b.Limit());
  if (end == ItemBytes::npos) return EndFinding::Unknown("no sequence end code before the limit");
  return EndFinding::Found(end + 4);
}

}  // namespace tamberlin::recovery
