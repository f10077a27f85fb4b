// Sector numbers on the range sliders. A QSlider counts in int; a medium of
// more than INT_MAX sectors (a 2 TB disk has 3.9 billion) is spread over the
// int scale proportionally, so position INT_MAX is always the last sector
// count and a position turned into a sector turns back into the same position.
#pragma once

#include <climits>
#include <cstdint>

namespace tamberlin::ui {

inline constexpr std::uint64_t kSliderTop = INT_MAX;
__extension__ using Sector_Product = unsigned __int128;  // sector x INT_MAX fits

// The slider maximum for a medium of `count` sectors.
inline int Slider_Top(std::uint64_t count) {
  return static_cast<int>(count < kSliderTop ? count : kSliderTop);
}

// The sector a slider position stands for.
inline std::uint64_t Slider_Sector(int position, std::uint64_t count) {
  if (position <= 0) return 0;
  const auto p = static_cast<std::uint64_t>(position);
  if (count <= kSliderTop) return p;
  return static_cast<std::uint64_t>(static_cast<Sector_Product>(p) * count / kSliderTop);
}

// The slider position of a sector (at most `count`): the smallest position
// whose sector is not below it.
inline int Slider_Position(std::uint64_t sector, std::uint64_t count) {
  if (sector > count) sector = count;
  if (count <= kSliderTop) return static_cast<int>(sector);
  const Sector_Product scaled = static_cast<Sector_Product>(sector) * kSliderTop;
  return static_cast<int>((scaled + count - 1) / count);
}

}  // namespace tamberlin::ui
