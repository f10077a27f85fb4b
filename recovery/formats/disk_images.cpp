// Virtual disk images: VMware sparse extents (header fields and the line-end
// check characters; no stated end) and Microsoft VHD (the footer copy at the
// start, held to its checksum; a dynamic disk ends after the last block its
// allocation table uses and the closing footer copy).
#include <algorithm>

#include "recovery/formats/checks.h"
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Vmdk_End(ItemBytes& b) {
  if (!b.Matches(0, "KDMV") || !b.Has(0, 79)) return EndFinding::Not_This_Format("no sparse extent header");
  const std::uint32_t version = b.U32le(4);
  const std::uint64_t grain = b.U64le(20);
  if (version < 1 || version > 3 || grain < 1 || grain > 1024 || (grain & (grain - 1)) != 0 ||
      !b.Matches(73, "\n \r\n")) {
    return EndFinding::Not_This_Format("sparse extent header fields are wrong");
  }
  return EndFinding::Unknown("sparse extents state no end");
}

EndFinding Find_Vhd_End(ItemBytes& b) {
  constexpr std::uint64_t kFooter = 512, kDynamicHeader = 1024;
  if (!b.Matches(0, "conectix") || !b.Has(0, kFooter)) return EndFinding::Not_This_Format("no VHD footer");
  std::uint32_t sum = 0;
  for (std::uint64_t i = 0; i < kFooter; ++i) {
    if (i < 64 || i >= 68) sum += checks::Byte(b, i).value_or(0);
  }
  if (~sum != b.U32be(64) || b.U32be(12) != 0x00010000) return EndFinding::Not_This_Format("footer checksum does not hold");
  const std::uint32_t type = b.U32be(60);
  if (type < 2 || type > 4) return EndFinding::Not_This_Format("no such disk type");
  if (type == 2) return EndFinding::Unknown("a fixed disk's data lies before its footer");
  const std::uint64_t header = b.U64be(16);
  if (header < kFooter || !b.Has(header, kDynamicHeader) || !b.Matches(header, "cxsparse")) {
    return EndFinding::Unknown("no dynamic disk header");
  }
  const std::uint64_t table = b.U64be(header + 16), entries = b.U32be(header + 28), block = b.U32be(header + 32);
  if (block == 0 || block % 512 != 0 || entries > (1u << 24)) return EndFinding::Unknown("dynamic header fields are wrong");
  const std::uint64_t bitmap = (block / 512 / 8 + 511) / 512 * 512;
  std::uint64_t end = std::max(table + (entries * 4 + 511) / 512 * 512, header + kDynamicHeader);
  for (std::uint64_t i = 0; i < entries; ++i) {
    const std::uint32_t sector = b.U32be(table + i * 4);
    if (sector != 0xFFFFFFFF) end = std::max(end, std::uint64_t{sector} * 512 + bitmap + block);
  }
  end += kFooter;
  if (end > b.Limit() || !b.Has(0, end)) return EndFinding::Unknown("blocks run past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
