// The window's line under the progress bar: speed, elapsed time and time
// left, from the shared rate arithmetic.
#pragma once

#include <QString>
#include <cstdint>

#include "engine/progress_rate.h"

namespace tamberlin::ui {

using tamberlin::ProgressRate;

// "0:07", "12:34", "1:02:03".
QString Format_Duration(double seconds);
// "Speed 12.3 MB/s   Elapsed 0:42   About 1:10 left"; the parts not yet
// known are left out.
QString Rate_Text(const ProgressRate& rate, std::uint64_t total_bytes);

}  // namespace tamberlin::ui
