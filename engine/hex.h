// Hexadecimal text to numbers, as the catalogue and the header tests use it.
// Pure functions without state: any thread may call them.
#pragma once

#include <cstdint>
#include <string_view>

namespace tamberlin {

// Value of the first character as a hexadecimal digit (0 to 15). "0" and any
// character that is not a digit give 0; an empty string gives 0 as well.
int hex2dec(std::string_view digit);

// Hexadecimal value of the whole string with 32-bit wrapping arithmetic.
// Upper and lower case digits both count; a non-digit counts as a 0 digit in
// its place; the empty string gives 0. Up to eight digits the value is exact
// (0x80000000 and above come back negative). Precondition: at most eight
// characters; longer strings have no defined result.
std::int32_t hex2int(std::string_view digits);

}  // namespace tamberlin
