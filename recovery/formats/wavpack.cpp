// WavPack: a run of "wvpk" blocks, each with its size, a version and the
// samples it holds; an APEv2 or ID3v1 tag may follow the last block.
#include <algorithm>

#include "recovery/end_finder.h"
#include "recovery/formats/checks.h"

namespace tamberlin::recovery {

namespace {

bool Sound_Block(ItemBytes& b, std::uint64_t at) {
  if (!b.Matches(at, "wvpk") || !b.Has(at, 32)) return false;
  const std::uint32_t size = b.U32le(at + 4);
  const std::uint16_t version = b.U16le(at + 8);
  return size >= 24 && size <= (1u << 24) && size % 2 == 0 && version >= 0x402 && version <= 0x410;
}

}  // namespace

EndFinding Find_Wavpack_End(ItemBytes& b) {
  if (!Sound_Block(b, 0)) return EndFinding::Not_This_Format("no sound WavPack block header");
  std::uint64_t at = 0;
  while (Sound_Block(b, at)) {
    const std::uint64_t next = at + 8 + b.U32le(at + 4);
    if (!b.Has(next - 1, 1)) return EndFinding::Unknown("block runs past the limit");
    at = next;
  }
  return EndFinding::Found(checks::After_Audio_Tags(b, at));
}

}  // namespace tamberlin::recovery
