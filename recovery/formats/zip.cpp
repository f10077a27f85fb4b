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

// Where the run of whole local members from `at` ends (each header, name,
// extra field and stated data), or 0 when not even one is whole or a size is
// not in its header (data descriptor, Zip64) so the walk cannot go on.
std::uint64_t Members_End(ItemBytes& bytes, std::uint64_t at) {
  const std::uint64_t first = at;
  while (Local_Header_Fault(bytes, at) == nullptr) {
    // Sizes kept in a data descriptor or a Zip64 field: the walk stops here.
    if ((bytes.U16le(at + 6) & 0x0008) != 0 || bytes.U32le(at + 18) == 0xFFFFFFFF) return 0;
    const std::uint64_t next =
        at + 30 + bytes.U16le(at + 26) + bytes.U16le(at + 28) + std::uint64_t{bytes.U32le(at + 18)};
    if (next > bytes.Limit() || !bytes.Has(next - 1, 1)) break;
    at = next;
  }
  return at == first ? 0 : at;
}

}  // namespace

EndFinding Find_Zip_End(ItemBytes& bytes) {
  // Split archives open with a spanning marker before the first local header.
  const bool marker = bytes.Matches(0, "PK\x07\x08") || bytes.Matches(0, "PK00");
  if (const char* fault = Local_Header_Fault(bytes, marker ? 4 : 0)) return EndFinding::Not_This_Format(fault);
  const std::uint64_t limit = bytes.Limit();
  // Each candidate is tried once; the search moves past it.
  for (std::uint64_t at = 0;;) {
    const std::uint64_t eocd = bytes.Find("PK\x05\x06", at, limit);
    if (eocd == ItemBytes::npos) {
      return EndFinding::Unknown_After("no end of central directory for this archive", Members_End(bytes, marker ? 4 : 0));
    }
    if (Closes_This_Archive(bytes, eocd)) {
      const std::uint64_t end = eocd + kEocdSize + bytes.U16le(eocd + 20);
      if (!bytes.Has(0, end)) return EndFinding::Unknown("archive comment is cut short");
      return EndFinding::Found(end);
    }
    at = eocd + 1;
  }
}

}  // namespace tamberlin::recovery
