// MPEG transport streams: 188-byte packets, each opening with the sync byte
// 0x47. The first packet must carry a table section (PAT, SDT, ...) whose
// CRC-32 matches; the stream ends after the last packet in an unbroken run
// whose header is sound and whose PID was seen before or starts a payload.
#include <array>
#include <set>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kPacket = 188;

// The first packet's table section: pointer field, table id, section length, CRC-32.
bool First_Section_Sound(const std::uint8_t (&p)[kPacket]) {
  if ((p[1] & 0x40) == 0 || (p[3] & 0x10) == 0) return false;  // payload unit start, a payload
  std::size_t at = 4;
  if ((p[3] & 0x20) != 0) at += 1 + p[4];  // adaptation field
  if (at >= kPacket) return false;
  at += 1 + p[at];  // pointer field
  if (at + 3 > kPacket) return false;
  const std::size_t length = (p[at + 1] & 0x0Fu) << 8 | p[at + 2];
  if ((p[at + 1] & 0x80) == 0 || length < 5 || at + 3 + length > kPacket) return false;
  std::uint32_t crc = 0xFFFFFFFF;
  for (std::size_t i = at; i < at + 3 + length; ++i) crc = checks::Crc32_Msb_Step(crc, p[i]);
  return crc == 0;  // the section's own CRC brings the running value to zero
}

}  // namespace

EndFinding Find_Mpeg_Ts_End(ItemBytes& b) {
  std::uint8_t p[kPacket] = {};
  if (b.Read(0, p, kPacket) != kPacket || p[0] != 0x47 || (p[1] & 0x80) != 0 || !First_Section_Sound(p)) {
    return EndFinding::Not_This_Format("first packet holds no sound table section");
  }
  std::set<unsigned> pids;
  std::uint64_t at = 0;
  for (;;) {
    std::uint8_t h[4] = {};
    if (b.Read(at, h, 4) != 4) break;
    const unsigned pid = (h[1] & 0x1Fu) << 8 | h[2];
    const bool start = (h[1] & 0x40) != 0;
    if (h[0] != 0x47 || (h[1] & 0x80) != 0 || (h[3] & 0x30) == 0) break;
    if (pids.count(pid) == 0) {
      if (!start && pid != 0x1FFF) break;
      if (pids.size() < 8192) pids.insert(pid);
    }
    if (!b.Has(at, kPacket)) return EndFinding::Unknown("last packet is cut short");
    at += kPacket;
  }
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
