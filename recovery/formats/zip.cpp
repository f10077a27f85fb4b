// ZIP archives and the formats built on them (DOCX, ODT, EPUB, JAR, ...): the
// file ends with the end-of-central-directory record whose central directory
// ends right where that record (or its Zip64 record) begins.
#include "end_finder.h"

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

}  // namespace

EndFinding Find_Zip_End(ItemBytes& bytes) {
  const std::uint64_t limit = bytes.Limit();
  // Each candidate is tried once; the search moves past it.
  for (std::uint64_t at = 0;;) {
    const std::uint64_t eocd = bytes.Find("PK\x05\x06", at, limit);
    if (eocd == ItemBytes::npos) return EndFinding::Unknown("no end of central directory for this archive");
    if (Closes_This_Archive(bytes, eocd)) {
      const std::uint64_t end = eocd + kEocdSize + bytes.U16le(eocd + 20);
      if (!bytes.Has(0, end)) return EndFinding::Unknown("archive comment is cut short");
      return EndFinding::Found(end);
    }
    at = eocd + 1;
  }
}

}  // namespace tamberlin::recovery
