// Checks of a typed sector range, shared by the range screen and the
// command line. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tamberlin {

// True when every character is a digit 0-9; an empty text gives true.
bool Check_For_Valid_Sec(std::string_view text);

struct RangeProblem {
  enum class Field { Start, End };
  int step;                 // 1-7, the first check that failed
  std::string message;      // alert text
  std::string informative;  // alert informative text
  Field focus;              // the field that takes the keyboard focus
};

// Validates start text S and end text E against the medium's sector count
// text K, in order: start digits, start length, start value, end digits, end
// length, end value, end after start. Sector numbers are unsigned 64-bit and
// compared exactly. Nothing when the range is valid (0 <= S < E <= K).
std::optional<RangeProblem> Validate_Sector_Range(std::string_view start, std::string_view end,
                                                  std::string_view sector_count);

}  // namespace tamberlin
