// Sun/NeXT audio (.au, .snd): a big-endian header with the data offset, the
// data size (all ones when unknown), encoding, sample rate and channels.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Au_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, ".snd") || !b.Has(0, 24)) return no("no .snd header");
  const std::uint32_t offset = b.U32be(4), size = b.U32be(8), encoding = b.U32be(12);
  const std::uint32_t rate = b.U32be(16), channels = b.U32be(20);
  if (offset < 24 || offset > 1u << 20 || offset % 4 != 0) return no("implausible data offset");
  if (encoding == 0 || encoding > 27 || rate == 0 || rate > 1000000 || channels == 0 || channels > 64) {
    return no("implausible encoding, rate or channels");
  }
  if (size == 0xFFFFFFFF) return EndFinding::Unknown("data size not stated");
  const std::uint64_t end = std::uint64_t{offset} + size;
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("data past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
