#include "tools/cli_progress.h"

#include <cstdio>

#include "engine/scan.h"

namespace tamberlin::cli {

std::string Rate_Text(const ProgressRate& rate, std::optional<std::uint64_t> total_bytes) {
  const auto speed = rate.Bytes_Per_Second();
  if (!speed) return "-- MB/s";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f MB/s", *speed / 1e6);
  std::string out = text;
  if (total_bytes) {
    if (const auto left = rate.Seconds_Left(*total_bytes)) out += ", " + Duration_Text(*left) + " left";
  }
  return out;
}

std::string Progress_Line(std::string_view pass, std::uint64_t for_index, std::uint64_t start, std::uint64_t end,
                          std::string_view rate_text) {
  return std::string(pass) + "  " + Sector_Label_Text(for_index, start, end) + "  " + std::string(rate_text);
}

}  // namespace tamberlin::cli
