// ASF (WMA, WMV): the header object and its child objects, then the data
// object and any index objects, each a GUID and a 64-bit size. The file
// properties object states the file's size, which must agree with the walk.
#include <string_view>

#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

using Guid = std::string_view;
constexpr Guid kHeader("\x30\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
constexpr Guid kData("\x36\x26\xB2\x75\x8E\x66\xCF\x11\xA6\xD9\x00\xAA\x00\x62\xCE\x6C", 16);
constexpr Guid kFileProperties("\xA1\xDC\xAB\x8C\x47\xA9\xCF\x11\x8E\xE4\x00\xC0\x0C\x20\x53\x65", 16);
constexpr Guid kIndexes[] = {
    Guid("\x90\x08\x00\x33\xB1\xE5\xCF\x11\x89\xF4\x00\xA0\xC9\x03\x49\xCB", 16),  // simple index
    Guid("\xD3\x29\xE2\xD6\xDA\x35\xD1\x11\x90\x34\x00\xA0\xC9\x03\x49\xBE", 16),  // index
    Guid("\xF8\x03\xB1\xFE\xAD\x12\x64\x4C\x84\x0F\x2A\x1D\x2F\x7A\xD4\x8C", 16),  // media object index
    Guid("\xD0\x3F\xB7\x3C\x4A\x0C\x03\x48\x95\x3D\xED\xF7\xB6\x22\x8F\x0C", 16),  // timecode index
};

}  // namespace

EndFinding Find_Asf_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, kHeader) || !b.Has(0, 30)) return no("no ASF header object");
  const std::uint64_t header_end = b.U64le(16);
  const std::uint32_t children = b.U32le(24);
  if (b.View(28)[0] != 1 || b.View(29)[0] != 2 || header_end < 30 + 24 || children == 0 || children > 1000) {
    return no("implausible ASF header object");
  }
  // The header's children must fill it exactly.
  std::uint64_t stated = 0;
  std::uint64_t at = 30;
  for (std::uint32_t i = 0; i < children; ++i) {
    if (!b.Has(at, 24)) return i > 0 ? EndFinding::Unknown("header objects past the limit") : no("no header objects");
    const std::uint64_t size = b.U64le(at + 16);
    if (size < 24 || size > header_end - at) return no("header object crosses the header's end");
    if (b.Matches(at, kFileProperties) && size >= 24 + 16 + 8 && b.Has(at + 40, 8)) stated = b.U64le(at + 40);
    at += size;
  }
  if (at != header_end) return no("header objects do not fill the header");
  if (!b.Has(at, 24) || !b.Matches(at, kData)) return EndFinding::Unknown("no data object after the header");
  // The data object, then index objects.
  for (bool first = true; b.Has(at, 24); first = false) {
    bool known = b.Matches(at, kData) && first;
    for (const Guid g : kIndexes) known = known || b.Matches(at, g);
    if (!known) break;
    const std::uint64_t size = b.U64le(at + 16);
    if (size < 24) {
      if (first) return EndFinding::Unknown("data object size not stated");
      break;
    }
    if (size > b.Limit() - at || !b.Has(at + size - 1, 1)) return EndFinding::Unknown("object runs past the limit");
    at += size;
  }
  // Broadcast files may leave the stated size zero; otherwise it is the end.
  if (stated != 0 && stated != at) {
    if (stated > at && stated <= b.Limit() && b.Has(stated - 1, 1)) return EndFinding::Found(stated);
    return EndFinding::Unknown("stated file size disagrees with the objects");
  }
  return EndFinding::Found(at);
}

}  // namespace tamberlin::recovery
