// gzip: parses each member's header, inflates its deflate stream with zlib
// (streamed, output discarded) and checks the trailer's CRC-32 and size.
// Members that follow back to back belong to the same file.
#include <zlib.h>

#include <algorithm>
#include <array>
#include <optional>
#include <string>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint8_t kFtext = 0x01, kFhcrc = 0x02, kFextra = 0x04, kFname = 0x08, kFcomment = 0x10;
constexpr std::uint8_t kLastOs = 13, kUnknownOs = 255;
// Deflate data that fails or runs out this early was never a gzip member:
// random bytes behind a header. Later damage leaves a real member whose end is lost.
constexpr std::uint64_t kEarlyDamageBytes = 64 * 1024;
constexpr std::uint64_t kMaxNameBytes = 64 * 1024;  // FNAME/FCOMMENT; real ones are short

bool Is_Member_Start(ItemBytes& bytes, std::uint64_t at) { return bytes.Matches(at, "\x1F\x8B\x08"); }

// CRC-32 of bytes [from, to), through the cache.
std::uint32_t Crc_Of(ItemBytes& bytes, std::uint64_t from, std::uint64_t to) {
  uLong crc = crc32(0L, Z_NULL, 0);
  while (from < to) {
    const auto v = bytes.View(from);
    if (v.empty()) break;
    const auto n = static_cast<uInt>(std::min<std::uint64_t>({v.size(), to - from, 1u << 30}));
    crc = crc32(crc, v.data(), n);
    from += n;
  }
  return static_cast<std::uint32_t>(crc);
}

// The offset just past a zero-terminated field starting at `at`, or nothing.
std::optional<std::uint64_t> Past_Zero_Terminated(ItemBytes& bytes, std::uint64_t at) {
  const std::uint8_t zero = 0;
  const std::uint64_t end = bytes.Find(std::span(&zero, 1), at, std::min(bytes.Limit(), at + kMaxNameBytes));
  if (end == ItemBytes::npos) return std::nullopt;
  return end + 1;
}

// Offset of the deflate data of the member starting at `at`, or nothing with the reason.
std::optional<std::uint64_t> Parse_Header(ItemBytes& bytes, std::uint64_t at, std::string& why) {
  const auto fail = [&why](const char* reason) {
    why = reason;
    return std::nullopt;
  };
  if (!bytes.Has(at, 10)) return fail("header cut short");
  std::uint8_t flags = 0;
  bytes.Read(at + 3, &flags, 1);
  if ((flags & ~(kFtext | kFhcrc | kFextra | kFname | kFcomment)) != 0) return fail("reserved header flags set");
  std::uint8_t os = 0;
  bytes.Read(at + 9, &os, 1);
  if (os > kLastOs && os != kUnknownOs) return fail("no such operating system in the header");
  std::uint64_t pos = at + 10;
  if (flags & kFextra) {
    if (!bytes.Has(pos, 2)) return fail("extra field cut short");
    pos += 2 + bytes.U16le(pos);
  }
  for (const std::uint8_t field : {kFname, kFcomment}) {
    if ((flags & field) == 0) continue;
    const auto past = Past_Zero_Terminated(bytes, pos);
    if (!past) return fail("unterminated name or comment");
    pos = *past;
  }
  if (flags & kFhcrc) {
    if (!bytes.Has(pos, 2)) return fail("header CRC cut short");
    if (bytes.U16le(pos) != (Crc_Of(bytes, at, pos) & 0xFFFF)) return fail("header CRC mismatch");
    pos += 2;
  }
  return pos;
}

// Inflates one member; the offset just past it, or nothing with the reason.
// `structure` tells a header or early deflate failure from a lost end.
std::optional<std::uint64_t> Member_End(ItemBytes& bytes, std::uint64_t at, std::string& why, bool& structure) {
  structure = true;
  const auto fail = [&why](const char* reason) {
    why = reason;
    return std::nullopt;
  };
  const auto data = Parse_Header(bytes, at, why);
  if (!data) return std::nullopt;
  structure = false;
  std::uint64_t pos = *data;

  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return fail("zlib would not start");
  std::array<std::uint8_t, 64 * 1024> scratch;
  uLong crc = crc32(0L, Z_NULL, 0);
  std::uint64_t size = 0;
  int rc = Z_OK;
  while (rc == Z_OK) {
    // View again each round: the span is only valid until the next ItemBytes call.
    const auto v = bytes.View(pos);
    if (v.empty()) {
      why = "data ends inside the deflate stream";
      structure = pos - *data < kEarlyDamageBytes;
      break;
    }
    z.next_in = const_cast<Bytef*>(v.data());
    z.avail_in = static_cast<uInt>(std::min<std::size_t>(v.size(), 1u << 30));
    z.next_out = scratch.data();
    z.avail_out = static_cast<uInt>(scratch.size());
    const uInt offered = z.avail_in;
    rc = inflate(&z, Z_NO_FLUSH);
    const uInt consumed = offered - z.avail_in;
    const auto produced = static_cast<uInt>(scratch.size() - z.avail_out);
    crc = crc32(crc, scratch.data(), produced);
    size += produced;
    pos += consumed;
    if (rc == Z_OK && consumed == 0 && produced == 0) rc = Z_BUF_ERROR;  // no progress: never spin
    if (rc != Z_OK && rc != Z_STREAM_END) {
      why = "deflate data is damaged";
      structure = pos - *data < kEarlyDamageBytes;
    }
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END) return std::nullopt;

  if (!bytes.Has(pos, 8)) return fail("trailer cut short");
  if (bytes.U32le(pos) != static_cast<std::uint32_t>(crc)) return fail("trailer CRC mismatch");
  if (bytes.U32le(pos + 4) != static_cast<std::uint32_t>(size)) return fail("trailer size mismatch");
  return pos + 8;
}

}  // namespace

EndFinding Find_Gzip_End(ItemBytes& bytes) {
  if (!Is_Member_Start(bytes, 0)) return EndFinding::Not_This_Format("no gzip header");
  std::string why;
  bool structure = false;
  auto end = Member_End(bytes, 0, why, structure);
  if (!end) return structure ? EndFinding::Not_This_Format(why) : EndFinding::Unknown(why);
  // Each member is at least 18 bytes, so this advances; a damaged later member
  // leaves the whole ones before it as the file.
  while (Is_Member_Start(bytes, *end)) {
    const auto next = Member_End(bytes, *end, why, structure);
    if (!next) break;
    end = next;
  }
  return EndFinding::Found(*end);
}

}  // namespace tamberlin::recovery
