// Flash Video (FLV): a 9-byte header, then tags, each followed by the size
// of the tag before it, which must match. The file ends after the last tag
// whose trailing size agrees.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

namespace {

// The length of the tag at `at` with its trailing size, 0 when it is not a
// tag, or ItemBytes::npos when it is one but runs past what the item holds.
std::uint64_t Tag_Length(ItemBytes& b, std::uint64_t at) {
  if (!b.Has(at, 11)) return 0;
  const std::uint32_t head = b.U32be(at);
  const unsigned type = head >> 24 & 0x1F;
  if ((head >> 24 & 0xC0) != 0 || (type != 8 && type != 9 && type != 18)) return 0;
  if ((b.U32be(at + 7) & 0xFFFFFF) != 0) return 0;  // stream id
  const std::uint64_t data = head & 0xFFFFFF;
  if (!b.Has(at, 11 + data + 4)) return ItemBytes::npos;
  return b.U32be(at + 11 + data) == 11 + data ? 11 + data + 4 : 0;
}

}  // namespace

EndFinding Find_Flv_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "FLV\x01") || !b.Has(0, 13)) return no("no FLV header");
  const std::uint32_t header = b.U32be(5);
  if ((b.View(4)[0] & 0xFA) != 0 || header < 9 || header > 1024 || b.U32be(header) != 0) {
    return no("implausible FLV header");
  }
  std::uint64_t at = header + 4;
  for (int tags = 0;; ++tags) {
    const std::uint64_t length = Tag_Length(b, at);
    if (length == ItemBytes::npos) {
      return tags > 0 ? EndFinding::Unknown("last tag runs past the limit") : no("first tag runs past the limit");
    }
    if (length == 0) {
      if (tags == 0) return no("no tag after the header");
      return EndFinding::Found(at);
    }
    at += length;
  }
}

}  // namespace tamberlin::recovery
