#include "engine/hex.h"

#include <cmath>

namespace tamberlin {

int hex2dec(std::string_view digit) {
  if (digit.empty()) return 0;
  const char c = digit.front();
  if (c >= '1' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 0;
}

std::int32_t hex2int(std::string_view digits) {
  const std::size_t n = digits.size();
  std::uint32_t result = 0;
  for (std::size_t i = n; i-- > 0;) {
    const auto d = static_cast<std::uint32_t>(hex2dec(digits.substr(i)));
    // Weight 16^(n-1-i), computed in double and truncated to 32 bits; defined
    // for up to eight digits (16^7 fits), which is all the caller may pass.
    const double weight = std::pow(16.0, static_cast<double>(n - 1 - i));
    const auto w = weight < 4294967296.0 ? static_cast<std::uint32_t>(weight) : 0u;
    result += d * w;
  }
  return static_cast<std::int32_t>(result);
}

}  // namespace tamberlin
