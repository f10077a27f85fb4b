// RAR archives, versions 4 and 5: every block header carries a CRC; the
// blocks are walked (header, then the data it announces) to the
// end-of-archive block, which ends the file.
#include <optional>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kMaxBlocks = 1u << 20;
constexpr std::uint64_t kMaxRar5Header = 2u * 1024 * 1024;
// The main header holds a few flags and a locator: a larger stated size is
// random bytes behind the marker, and reading that far to check its CRC
// would only slow the rejection down.
constexpr std::uint64_t kMaxRar5MainHeader = 64u * 1024;

EndFinding Walk_Rar4(ItemBytes& b) {
  constexpr std::uint8_t kMain = 0x73, kFile = 0x74, kEnd = 0x7B;
  constexpr std::uint16_t kLongBlock = 0x8000, kLargeFile = 0x0100;
  std::uint64_t pos = 7;  // past the marker block
  for (std::uint64_t n = 0; n < kMaxBlocks; ++n) {
    const auto fail = [n](const char* why) {
      return n == 0 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
    };
    if (!b.Has(pos, 7)) return fail("block header cut short");
    const auto type = checks::Byte(b, pos + 2).value_or(0);
    const std::uint16_t flags = b.U16le(pos + 3);
    const std::uint64_t size = b.U16le(pos + 5);
    if (type < kMain || type > kEnd || (n == 0) != (type == kMain) || size < 7) return fail("no such block");
    if (!b.Has(pos, size) || (checks::Crc32(b, pos + 2, pos + size).value_or(0) & 0xFFFF) != b.U16le(pos)) {
      return fail("block header's CRC does not hold");
    }
    std::uint64_t data = 0;
    if (type == kFile || (flags & kLongBlock) != 0) {
      if (size < 11) return fail("block header too short");
      data = b.U32le(pos + 7);
      if (type == kFile && (flags & kLargeFile) != 0 && size >= 40) data |= std::uint64_t{b.U32le(pos + 32)} << 32;
    }
    const auto next = checks::Add_Within(pos + size, data, b.Limit());
    if (!next) return EndFinding::Unknown("block data runs past the limit");
    if (type == kEnd) return EndFinding::Found(*next);
    pos = *next;
  }
  return EndFinding::Unknown("too many blocks");
}

// A RAR 5 variable-length integer; `at` moves past it.
std::optional<std::uint64_t> Vint(ItemBytes& b, std::uint64_t& at) {
  std::uint64_t v = 0;
  for (unsigned shift = 0; shift < 64; shift += 7) {
    const auto c = checks::Byte(b, at++);
    if (!c) return std::nullopt;
    v |= std::uint64_t{*c & 0x7Fu} << shift;
    if ((*c & 0x80) == 0) return v;
  }
  return std::nullopt;
}

EndFinding Walk_Rar5(ItemBytes& b) {
  constexpr std::uint64_t kMain = 1, kEncryption = 4, kEnd = 5;
  std::uint64_t pos = 8;
  for (std::uint64_t n = 0; n < kMaxBlocks; ++n) {
    const auto fail = [n](const char* why) {
      return n == 0 ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
    };
    std::uint64_t at = pos + 4;
    const auto size = Vint(b, at);
    if (!size || *size == 0 || *size > (n == 0 ? kMaxRar5MainHeader : kMaxRar5Header)) {
      return fail("no block header size");
    }
    const std::uint64_t header_end = at + *size;
    if (!b.Has(pos, header_end - pos) || checks::Crc32(b, pos + 4, header_end) != b.U32le(pos)) {
      return fail("block header's CRC does not hold");
    }
    const auto type = Vint(b, at), flags = Vint(b, at);
    if (!type || !flags || *type < kMain || *type > kEnd || (n == 0) != (*type == kMain)) return fail("no such block");
    std::uint64_t data = 0;
    if (*flags & 1) Vint(b, at);  // extra area size
    if (*flags & 2) {
      const auto d = Vint(b, at);
      if (!d) return fail("no data size");
      data = *d;
    }
    if (at > header_end) return fail("block header overruns its size");
    const auto next = checks::Add_Within(header_end, data, b.Limit());
    if (!next) return EndFinding::Unknown("block data runs past the limit");
    if (*type == kEnd) return EndFinding::Found(*next);
    if (*type == kEncryption) return EndFinding::Unknown("headers are encrypted");
    pos = *next;
  }
  return EndFinding::Unknown("too many blocks");
}

}  // namespace

EndFinding Find_Rar_End(ItemBytes& bytes) {
  if (bytes.Matches(0, std::string_view("Rar!\x1A\x07\x01\x00", 8))) return Walk_Rar5(bytes);
  if (bytes.Matches(0, std::string_view("Rar!\x1A\x07\x00", 7))) return Walk_Rar4(bytes);
  return EndFinding::Not_This_Format("no RAR marker");
}

}  // namespace tamberlin::recovery
