// Bink video: "BIK" and a revision letter, then the file size less eight,
// the frame count, the largest frame's size, the picture size and rate.
#include "recovery/end_finder.h"

namespace tamberlin::recovery {

EndFinding Find_Bink_End(ItemBytes& b) {
  const auto no = [](const char* why) { return EndFinding::Not_This_Format(why); };
  if (!b.Matches(0, "BIK") || !b.Has(0, 44)) return no("no Bink header");
  const std::uint8_t revision = b.View(3)[0];
  const std::uint64_t end = 8 + std::uint64_t{b.U32le(4)};
  const std::uint32_t frames = b.U32le(8), largest = b.U32le(12);
  const std::uint32_t width = b.U32le(20), height = b.U32le(24), rate = b.U32le(28), divider = b.U32le(32);
  if (revision < 'b' || revision > 'k' || frames == 0 || frames > 1000000 || largest == 0 || largest >= end) {
    return no("implausible Bink header");
  }
  if (width == 0 || width > 7680 || height == 0 || height > 4800 || rate == 0 || divider == 0) {
    return no("implausible Bink picture size or rate");
  }
  if (end > b.Limit() || !b.Has(end - 1, 1)) return EndFinding::Unknown("stated size past the limit");
  return EndFinding::Found(end);
}

}  // namespace tamberlin::recovery
