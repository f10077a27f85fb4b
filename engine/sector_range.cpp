#include "engine/sector_range.h"

namespace tamberlin {
namespace {

std::string_view Strip_Leading_Zeros(std::string_view s) {
  while (s.size() > 1 && s.front() == '0') s.remove_prefix(1);
  return s;
}

// Numeric order of two digit strings of any length.
int Compare_Digits(std::string_view a, std::string_view b) {
  a = Strip_Leading_Zeros(a);
  b = Strip_Leading_Zeros(b);
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

// The count as typed may carry spaces or junk after its digits; its value is
// its leading digits.
std::string_view Leading_Digits(std::string_view s) {
  std::size_t n = 0;
  while (n < s.size() && s[n] >= '0' && s[n] <= '9') ++n;
  return n == 0 ? std::string_view("0") : s.substr(0, n);
}

}  // namespace

bool Check_For_Valid_Sec(std::string_view text) {
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

std::optional<RangeProblem> Validate_Sector_Range(std::string_view start, std::string_view end,
                                                  std::string_view sector_count) {
  using F = RangeProblem::Field;
  const std::string_view k = Leading_Digits(sector_count);
  if (start.empty() || !Check_For_Valid_Sec(start)) {
    return RangeProblem{1, "\nPlease enter valid Start Sector value.", "", F::Start};
  }
  if (start.size() > sector_count.size()) {
    return RangeProblem{2, "\nMaximum sector range exceeded", "Please enter valid Start Sector value.", F::Start};
  }
  if (Compare_Digits(start, k) > 0) {
    return RangeProblem{3, "\nMaximum sector range exceeded", "Please enter valid Start Sector value.", F::Start};
  }
  if (end.empty() || !Check_For_Valid_Sec(end)) {
    return RangeProblem{4, "\nPlease enter valid End Sector value.", "", F::End};
  }
  if (end.size() > sector_count.size()) {
    return RangeProblem{5, "\nMaximum sector range exceeded", "Please enter valid End Sector value.", F::End};
  }
  if (Compare_Digits(end, k) > 0) {
    return RangeProblem{6, "\nMaximum sector range exceeded", "Please enter valid End Sector value.", F::End};
  }
  if (Compare_Digits(end, start) <= 0) {
    return RangeProblem{7, "\nEnd Sector should be greater than Start Sector.", "", F::End};
  }
  return std::nullopt;
}

}  // namespace tamberlin
