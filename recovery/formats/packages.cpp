// Installer packages: Microsoft cabinets (the header states the cabinet's
// size), Debian packages (an ar archive whose members are walked) and RPM
// packages (lead, signature header, header; the signature states the size
// of the header and payload).
#include <optional>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kArHeader = 60;
constexpr int kMaxArMembers = 4096;

// An ar member header's size field (decimal, space padded), when the header is whole.
std::optional<std::uint64_t> Ar_Member_Size(ItemBytes& b, std::uint64_t at) {
  std::uint8_t h[kArHeader] = {};
  if (b.Read(at, h, kArHeader) != kArHeader || h[58] != '`' || h[59] != '\n') return std::nullopt;
  std::uint64_t size = 0;
  std::size_t i = 48;
  for (; i < 58 && h[i] >= '0' && h[i] <= '9'; ++i) size = size * 10 + (h[i] - '0');
  if (i == 48) return std::nullopt;
  for (; i < 58; ++i) {
    if (h[i] != ' ') return std::nullopt;
  }
  return size;
}

// An RPM header structure at `at`: its length, padded to 8 when `padded`.
std::optional<std::uint64_t> Rpm_Header(ItemBytes& b, std::uint64_t at, bool padded) {
  if (!b.Matches(at, "\x8E\xAD\xE8\x01") || !b.Has(at, 16) || b.U32be(at + 4) != 0) return std::nullopt;
  const std::uint64_t entries = b.U32be(at + 8), store = b.U32be(at + 12);
  if (entries == 0 || entries > 65536 || store > 256u * 1024 * 1024) return std::nullopt;
  const std::uint64_t size = 16 + entries * 16 + store;
  return padded ? (size + 7) / 8 * 8 : size;
}

}  // namespace

EndFinding Find_Cab_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, std::string_view("MSCF\0\0\0\0", 8)) || !bytes.Has(0, 36)) {
    return EndFinding::Not_This_Format("no cabinet header");
  }
  const std::uint64_t size = bytes.U32le(8), first_file = bytes.U32le(16);
  const auto minor = checks::Byte(bytes, 24), major = checks::Byte(bytes, 25);
  if (bytes.U32le(12) != 0 || bytes.U32le(20) != 0 || major != 1 || minor != 3 || bytes.U16le(26) == 0 ||
      bytes.U16le(30) > 7 || first_file < 36 || first_file >= size) {
    return EndFinding::Not_This_Format("cabinet header fields are wrong");
  }
  if (size > bytes.Limit() || !bytes.Has(0, size)) return EndFinding::Unknown("cabinet runs past the limit");
  return EndFinding::Found(size);
}

// ar states no end: members follow one another (each padded to an even
// length) until the bytes stop looking like a member header.
EndFinding Find_Deb_End(ItemBytes& bytes) {
  if (!bytes.Matches(0, "!<arch>\ndebian-binary")) return EndFinding::Not_This_Format("no Debian package header");
  const auto first = Ar_Member_Size(bytes, 8);
  if (!first || *first != 4 || !bytes.Matches(8 + kArHeader, "2.")) {
    return EndFinding::Not_This_Format("no debian-binary member");
  }
  std::uint64_t pos = 8;
  for (int n = 0; n < kMaxArMembers; ++n) {
    const auto size = Ar_Member_Size(bytes, pos);
    if (!size) return EndFinding::Found(pos);
    const auto next = checks::Add_Within(pos + kArHeader, *size + (*size & 1), bytes.Limit());
    if (!next || !bytes.Has(0, *next - (*size & 1))) return EndFinding::Unknown("member runs past the data");
    pos = *next;
    if (!bytes.Has(pos, 1)) return EndFinding::Found(pos);
  }
  return EndFinding::Unknown("too many members");
}

EndFinding Find_Rpm_End(ItemBytes& bytes) {
  constexpr std::uint64_t kLead = 96;
  if (!bytes.Matches(0, "\xED\xAB\xEE\xDB") || !bytes.Has(0, kLead)) return EndFinding::Not_This_Format("no RPM lead");
  const auto major = checks::Byte(bytes, 4);
  // Lead: version 3 or 4, type binary or source, signature type 5 (header-style).
  if (major < 3 || major > 4 || bytes.U16be(6) > 1 || bytes.U16be(78) != 5) {
    return EndFinding::Not_This_Format("lead fields are wrong");
  }
  const auto signature = Rpm_Header(bytes, kLead, true);
  if (!signature) return EndFinding::Not_This_Format("no signature header");
  const std::uint64_t header_at = kLead + *signature;
  if (!Rpm_Header(bytes, header_at, false)) return EndFinding::Not_This_Format("no main header");
  // The signature's size tags: 1000 (32-bit) or 270 (64-bit) bytes of header and payload.
  const std::uint64_t entries = bytes.U32be(kLead + 8), store = kLead + 16 + entries * 16;
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint64_t e = kLead + 16 + i * 16;
    const std::uint32_t tag = bytes.U32be(e), type = bytes.U32be(e + 4), offset = bytes.U32be(e + 8);
    std::uint64_t size = 0;
    if (tag == 1000 && type == 4) size = bytes.U32be(store + offset);
    else if (tag == 270 && type == 5) size = bytes.U64be(store + offset);
    else continue;
    const auto end = checks::Add_Within(header_at, size, bytes.Limit());
    if (!end || !bytes.Has(0, *end)) return EndFinding::Unknown("payload runs past the limit");
    return EndFinding::Found(*end);
  }
  return EndFinding::Unknown("signature states no size");
}

}  // namespace tamberlin::recovery
