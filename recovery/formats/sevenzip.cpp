// 7z archives: the start header's CRC covers the next header's offset, size
// and CRC; the archive ends after the next header, which closes it.
#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_7z_End(ItemBytes& bytes) {
  constexpr std::uint64_t kStartHeader = 32;
  if (!bytes.Matches(0, "7z\xBC\xAF\x27\x1C") || !bytes.Has(0, kStartHeader)) {
    return EndFinding::Not_This_Format("no 7z signature header");
  }
  std::uint8_t version[2] = {};
  bytes.Read(6, version, 2);
  if (version[0] != 0 || checks::Crc32(bytes, 12, 32) != bytes.U32le(8)) {
    return EndFinding::Not_This_Format("start header's CRC does not hold");
  }
  const std::uint64_t offset = bytes.U64le(12), size = bytes.U64le(20);
  const auto at = checks::Add_Within(kStartHeader, offset, bytes.Limit());
  const auto end = at ? checks::Add_Within(*at, size, bytes.Limit()) : std::nullopt;
  if (!end) return EndFinding::Unknown("next header lies past the limit");
  if (!bytes.Has(0, *end)) return EndFinding::Unknown("next header cut short");
  if (size != 0 && checks::Crc32(bytes, *at, *end) != bytes.U32le(28)) {
    return EndFinding::Unknown("next header's CRC does not hold");
  }
  return EndFinding::Found(*end);
}

}  // namespace tamberlin::recovery
