// The scan's progress line on a terminal: position, speed and time left,
// from the shared rate arithmetic (ProgressRate).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "engine/progress_rate.h"

namespace tamberlin::cli {

// "12.3 MB/s, 1:05 left" (time left to `total_bytes` of the pass); "-- MB/s"
// before a speed is known; no time left when there is none or no total.
std::string Rate_Text(const ProgressRate& rate, std::optional<std::uint64_t> total_bytes);

// "GEN  Sectors 512 of 1024   ( Completed 50% )  12.3 MB/s, 0:04 left"
std::string Progress_Line(std::string_view pass, std::uint64_t for_index, std::uint64_t start, std::uint64_t end,
                          std::string_view rate_text);

}  // namespace tamberlin::cli
