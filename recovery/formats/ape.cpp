// Monkey's Audio (APE): since version 3.98 a descriptor states the size of
// every part (descriptor, header, seek table, the source's header, frame
// data and its trailer), so the end is their sum, then any APEv2 or ID3v1
// tag. Older files state no frame data size.
#include <algorithm>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

EndFinding Find_Ape_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "MAC ") || !b.Has(0, 8)) return no("no APE header");
  const std::uint16_t version = b.U16le(4);
  if (version < 3800 || version > 4100) return no("unknown APE version");
  if (version < 3980) {  // the old header: compression level, flags, channels, rate
    const std::uint16_t level = b.U16le(6), channels = b.U16le(10);
    if (level % 1000 != 0 || level == 0 || level > 5000 || channels == 0 || channels > 32) {
      return no("implausible APE header");
    }
    return EndFinding::Unknown("old APE files state no frame data size");
  }
  if (!b.Has(0, 52 + 24)) return no("APE descriptor cut short");
  const std::uint32_t descriptor = b.U32le(8), header = b.U32le(12);
  if (descriptor < 52 || descriptor > 1024 || header < 24 || header > 1024) return no("implausible APE descriptor");
  const std::uint16_t level = b.U16le(descriptor), channels = b.U16le(descriptor + 18);
  if (level % 1000 != 0 || level == 0 || level > 5000 || channels == 0 || channels > 32) {
    return no("implausible APE header");
  }
  std::uint64_t end = std::uint64_t{descriptor} + header + b.U32le(16) + b.U32le(20) + b.U32le(24) +
                      (std::uint64_t{b.U32le(28)} << 32) + b.U32le(32);
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("frame data past the limit");
  return EndFinding::Found(checks::After_Audio_Tags(b, end));
}

}  // namespace tamberlin::recovery
