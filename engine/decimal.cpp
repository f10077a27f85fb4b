#include "engine/decimal.h"

#include <charconv>
#include <limits>

namespace tamberlin {

std::optional<std::uint64_t> Parse_Decimal(std::string_view text) {
  if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;  // from_chars takes no '+'
  std::uint64_t value = 0;
  const char* end = text.data() + text.size();
  const auto [ptr, ec] = std::from_chars(text.data(), end, value);
  if (ec != std::errc() || ptr != end) return std::nullopt;
  return value;
}

std::uint64_t Leading_Decimal(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  std::size_t n = i;
  while (n < text.size() && text[n] >= '0' && text[n] <= '9') ++n;
  if (n == i) return 0;
  const std::uint64_t magnitude =
      Parse_Decimal(text.substr(i, n - i)).value_or(std::numeric_limits<std::uint64_t>::max());
  return negative ? 0 - magnitude : magnitude;
}

}  // namespace tamberlin
