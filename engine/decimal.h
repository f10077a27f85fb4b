// Reading decimal numbers out of text: catalogue fields, typed sector
// numbers, counts read back from the system. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tamberlin {

// The value of a text made of decimal digits only (no sign, no spaces);
// nothing when the text is empty, holds anything else or does not fit 64 bits.
std::optional<std::uint64_t> Parse_Decimal(std::string_view text);

// The number a hand-written field begins with: white space skipped, an
// optional sign, then the digits up to the first other character ("12 MB"
// reads 12). No digits read 0; a value past 64 bits reads as the largest one;
// a negative number wraps to its 64-bit two's complement, so "-1" is the
// largest value (the catalogue's historic "no limit").
std::uint64_t Leading_Decimal(std::string_view text);

}  // namespace tamberlin
