// ZIP archives and the formats built on them (DOCX, ODT, EPUB, JAR, ...): the
// file ends with the end-of-central-directory record whose central directory
// ends right where that record (or its Zip64 record) begins.
#include <algorithm>
#include <iterator>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

constexpr std::uint64_t kEocdSize = 22;
constexpr std::uint64_t kLocatorSize = 20;

// True when a central directory of `size` bytes at `offset` ends at `end`
// and, unless empty, starts with a central file header.
bool Directory_Ends_At(ItemBytes& bytes, std::uint64_t offset, std::uint64_t size, std::uint64_t end) {
  if (offset > end || size != end - offset) return false;
  return size == 0 || bytes.Matches(offset, "PK\x01\x02");
}

// True when the record at `eocd` closes the archive that starts at offset 0.
bool Closes_This_Archive(ItemBytes& bytes, std::uint64_t eocd) {
  if (!bytes.Has(eocd, kEocdSize)) return false;
  if (Directory_Ends_At(bytes, bytes.U32le(eocd + 16), bytes.U32le(eocd + 12), eocd)) return true;
  // Zip64: the central directory ends at the Zip64 record, which ends at the
  // locator right before this record.
  if (eocd < kLocatorSize) return false;
  const std::uint64_t locator = eocd - kLocatorSize;
  if (!bytes.Matches(locator, "PK\x06\x07")) return false;
  const std::uint64_t record = bytes.U64le(locator + 8);
  if (record > locator || locator - record < 56 || !bytes.Matches(record, "PK\x06\x06")) return false;
  if (bytes.U64le(record + 4) != locator - record - 12) return false;
  return Directory_Ends_At(bytes, bytes.U64le(record + 48), bytes.U64le(record + 40), record);
}

// Compression methods in use: stored, shrunk, reduced, imploded, deflated,
// deflate64, PKWARE implode, bzip2, LZMA, IBM TERSE/LZ77, zstd, MP3, xz,
// JPEG, WavPack, PPMd, AES.
constexpr std::uint16_t kMethods[] = {0, 1, 2, 3, 4, 5, 6, 8, 9, 10, 12, 14, 18, 19, 93, 94, 95, 96, 97, 98, 99};
constexpr std::uint16_t kReservedFlags = 0x0780 | 0x1000 | 0xC000;
constexpr std::uint64_t kMaxNameBytes = 4096;

// Empty when a plausible local file header starts at `at`, else what is wrong.
const char* Local_Header_Fault(ItemBytes& bytes, std::uint64_t at) {
  if (!bytes.Matches(at, "PK\x03\x04") || !bytes.Has(at, 30)) return "no local file header";
  const std::uint16_t version = bytes.U16le(at + 4);
  if ((version & 0xFF) > 63 || (version >> 8) > 19) return "no such version needed to extract";
  if ((bytes.U16le(at + 6) & kReservedFlags) != 0) return "reserved flags set";
  const std::uint16_t method = bytes.U16le(at + 8);
  if (std::find(std::begin(kMethods), std::end(kMethods), method) == std::end(kMethods)) {
    return "no such compression method";
  }
  const std::uint16_t name_bytes = bytes.U16le(at + 26);
  if (name_bytes == 0 || name_bytes > kMaxNameBytes) return "no plausible name length";
  std::uint8_t name[kMaxNameBytes];
  if (bytes.Read(at + 30, name, name_bytes) != name_bytes) return "name cut short";
  // Names are text (CP437 or UTF-8): no control characters.
  for (std::uint16_t i = 0; i < name_bytes; ++i) {
    if (name[i] < 0x20 || name[i] == 0x7F) return "name is not text";
  }
  return nullptr;
}

// How far the local members go from `at`: `end` is where the run of whole
// members (each header, name, extra field and stated data) ends, 0 when not
// even one is whole; `sizes_unknown` when a member keeps its sizes in a data
// descriptor or a Zip64 field, so the walk could not go on.
struct MemberWalk {
  std::uint64_t end = 0;
  bool sizes_unknown = false;
};

MemberWalk Walk_Members(ItemBytes& bytes, std::uint64_t at) {
  const std::uint64_t first = at;
  MemberWalk walk;
  while (Local_Header_Fault(bytes, at) == nullptr) {
    if ((bytes.U16le(at + 6) & 0x0008) != 0 || bytes.U32le(at + 18) == 0xFFFFFFFF) {
      walk.sizes_unknown = true;
      break;
    }
    const std::uint64_t next =
        at + 30 + bytes.U16le(at + 26) + bytes.U16le(at + 28) + std::uint64_t{bytes.U32le(at + 18)};
    if (next > bytes.Limit() || !bytes.Has(next - 1, 1)) break;
    at = next;
  }
  walk.end = at == first ? 0 : at;
  return walk;
}

// Where the end record sits when the central directory starts at `at`: its
// entries (and a digital signature) are stepped over; npos when something
// else is found there.
std::uint64_t Walk_Directory(ItemBytes& bytes, std::uint64_t at) {
  while (bytes.Matches(at, "PK\x01\x02") && bytes.Has(at, 46)) {
    at += 46 + std::uint64_t{bytes.U16le(at + 28)} + bytes.U16le(at + 30) + bytes.U16le(at + 32);
  }
  if (bytes.Matches(at, "PK\x05\x05") && bytes.Has(at, 6)) at += 6 + std::uint64_t{bytes.U16le(at + 4)};
  // Zip64: the end record follows its Zip64 record and locator.
  if (bytes.Matches(at, "PK\x06\x06") && bytes.Has(at, 56)) {
    const std::uint64_t locator = at + 12 + bytes.U64le(at + 4);
    if (locator < at || !bytes.Matches(locator, "PK\x06\x07")) return ItemBytes::npos;
    at = locator + kLocatorSize;
  }
  return bytes.Matches(at, "PK\x05\x06") ? at : ItemBytes::npos;
}

}  // namespace

EndFinding Find_Zip_End(ItemBytes& bytes) {
  // Split archives open with a spanning marker before the first local header.
  const bool marker = bytes.Matches(0, "PK\x07\x08") || bytes.Matches(0, "PK00");
  if (const char* fault = Local_Header_Fault(bytes, marker ? 4 : 0)) return EndFinding::Not_This_Format(fault);
  auto closed_at = [&](std::uint64_t eocd) {
    const std::uint64_t end = eocd + kEocdSize + bytes.U16le(eocd + 20);
    if (!bytes.Has(0, end)) return EndFinding::Unknown("archive comment is cut short");
    return EndFinding::Found(end);
  };
  // A whole archive is walked member by member to its directory and end
  // record, whatever lies between (stored files holding other headers).
  const MemberWalk walk = Walk_Members(bytes, marker ? 4 : 0);
  if (walk.end != 0) {
    const std::uint64_t eocd = Walk_Directory(bytes, walk.end);
    if (eocd != ItemBytes::npos && Closes_This_Archive(bytes, eocd)) return closed_at(eocd);
  }
  // Otherwise the end record is searched for. When the walk ran into bytes
  // that are no zip record at all, the archive is broken there: its end
  // record can only be found in place if no other file has been found
  // since, so the search stays within what the scan gave the item rather
  // than running over the rest of the medium.
  std::uint64_t limit = bytes.Limit();
  if (walk.end != 0 && !walk.sizes_unknown && !bytes.Matches(walk.end, "PK")) {
    limit = std::max(bytes.Range(), walk.end);
  }
  // Each candidate is tried once; the search moves past it.
  for (std::uint64_t at = 0;;) {
    const std::uint64_t eocd = bytes.Find("PK\x05\x06", at, limit);
    if (eocd == ItemBytes::npos) {
      return EndFinding::Unknown_After("no end of central directory for this archive", walk.sizes_unknown ? 0 : walk.end);
    }
    if (Closes_This_Archive(bytes, eocd)) return closed_at(eocd);
    at = eocd + 1;
  }
}

}  // namespace tamberlin::recovery
