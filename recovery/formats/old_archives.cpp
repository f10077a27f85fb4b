// Older archive and compression formats: ARJ (headers guarded by CRC-32,
// ending with an empty header), LHA (level 0, 1 and 2 headers, ending with
// a zero byte) and compress's .Z (LZW codes; no stated end, so only the
// start is checked).
#include <optional>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxArjHeader = 2600;

// The offset past ARJ extended headers starting at `at`, or nothing.
std::optional<std::uint64_t> Past_Arj_Extended(ItemBytes& b, std::uint64_t at) {
  for (int n = 0; n < 256; ++n) {
    if (!b.Has(at, 2)) return std::nullopt;
    const std::uint64_t size = b.U16le(at);
    if (size == 0) return at + 2;
    if (checks::Crc32(b, at + 2, at + 2 + size) != b.U32le(at + 2 + size)) return std::nullopt;
    at += 2 + size + 4;
  }
  return std::nullopt;
}

}  // namespace

EndFinding Find_Arj_End(ItemBytes& b) {
  std::uint64_t pos = 0;
  for (bool main = true;; main = false) {
    if (!b.Matches(pos, "\x60\xEA") || !b.Has(pos, 4)) {
      return main ? EndFinding::Not_This_Format("no ARJ header") : EndFinding::Unknown("a file header is missing");
    }
    const std::uint64_t size = b.U16le(pos + 2);
    if (size == 0 && !main) return EndFinding::Found(pos + 4);
    const std::uint64_t header = pos + 4;
    if (size < 30 || size > kMaxArjHeader || checks::Crc32(b, header, header + size) != b.U32le(header + size)) {
      return main ? EndFinding::Not_This_Format("main header's CRC does not hold")
                  : EndFinding::Unknown("a file header's CRC does not hold");
    }
    const auto next = Past_Arj_Extended(b, header + size + 4);
    if (!next) return EndFinding::Unknown("extended headers do not hold");
    pos = *next + (main ? 0 : std::uint64_t{b.U32le(header + 12)});
    if (pos > b.Limit()) return EndFinding::Unknown("member data runs past the limit");
  }
}

EndFinding Find_Lzh_End(ItemBytes& b) {
  std::uint64_t pos = 0;
  for (int members = 0;; ++members) {
    std::uint8_t h[26] = {};
    const std::size_t got = b.Read(pos, h, sizeof h);
    if (members > 0 && got >= 1 && h[0] == 0) return EndFinding::Found(pos + 1);
    const auto fail = [members](const char* why) {
      return members == 0 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
    };
    if (got != sizeof h) return fail("header cut short");
    const std::uint8_t m = h[5];
    const bool method = h[2] == '-' && h[3] == 'l' && (h[4] == 'h' || h[4] == 'z') && h[6] == '-' &&
                        ((m >= '0' && m <= '7') || m == 'd' || m == 's');
    if (!method || h[20] > 2) return fail("no LHA method or header level");
    const std::uint64_t packed = b.U32le(pos + 7);
    std::uint64_t header = 0;
    if (h[20] == 2) {
      header = b.U16le(pos);
      if (header < 26) return fail("header too short");
    } else {
      header = 2 + std::uint64_t{h[0]};
      if (h[0] < 22) return fail("header too short");
      std::uint8_t sum = 0;
      for (std::uint64_t i = 2; i < header; ++i) sum = static_cast<std::uint8_t>(sum + checks::Byte(b, pos + i).value_or(0));
      if (sum != h[1]) return fail("header checksum does not hold");
    }
    const auto next = checks::Add_Within(pos + header, packed, b.Limit());
    if (!next) return EndFinding::Unknown("member data runs past the limit");
    pos = *next;
  }
}

// compress: flags give the largest code width (9 to 16 bits) and block mode.
// The first codes must each name a literal or a table entry already made;
// random bytes break that within a few dozen codes.
EndFinding Find_Z_End(ItemBytes& b) {
  const auto flags = checks::Byte(b, 2);
  if (!b.Matches(0, "\x1F\x9D") || !flags) return EndFinding::Not_This_Format("no compress header");
  const unsigned max_bits = *flags & 0x1F;
  const bool block_mode = (*flags & 0x80) != 0;
  if (max_bits < 9 || max_bits > 16 || (*flags & 0x60) != 0) return EndFinding::Not_This_Format("flags are not sane");
  constexpr unsigned kCodes = 200;  // all 9 bits wide: the table reaches 512 entries after 255
  constexpr std::uint64_t kGroupBits = 9 * 8;
  std::uint8_t data[kCodes * 9 / 8 + 64] = {};
  const std::size_t got = b.Read(3, data, sizeof data);
  const unsigned first_free = block_mode ? 257 : 256;
  unsigned next = first_free, checked = 0;
  bool have_previous = false;
  for (std::uint64_t bit = 0; checked < kCodes && bit + 9 <= got * 8; ++checked) {
    const unsigned code = ((unsigned{data[bit / 8]} | unsigned{data[bit / 8 + 1]} << 8) >> (bit % 8)) & 0x1FF;
    bit += 9;
    if (block_mode && code == 256) {
      // The table starts over; codes resume at the next whole group of eight.
      bit = (bit + kGroupBits - 1) / kGroupBits * kGroupBits;
      next = first_free;
      have_previous = false;
      continue;
    }
    if (!have_previous ? code > 255 : code > next) return EndFinding::Not_This_Format("a code names no table entry");
    if (have_previous) ++next;
    have_previous = true;
  }
  return EndFinding::Unknown("compress states no end");
}

}  // namespace tamberlin::recovery
