#include "tools/cli_progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "engine/scan.h"

namespace tamberlin::cli {

void RateMeter::Add(double seconds, std::uint64_t bytes) {
  if (!samples_.empty() && bytes < samples_.back().bytes) samples_.clear();
  samples_.push_back({seconds, bytes});
  // Keep one sample at or before the window's start, so the span is whole.
  while (samples_.size() > 2 && samples_[1].seconds <= seconds - window_) samples_.pop_front();
}

RateEstimate RateMeter::Estimate(std::uint64_t bytes_left) const {
  RateEstimate r;
  if (samples_.size() < 2) return r;
  const Sample& first = samples_.front();
  const Sample& last = samples_.back();
  const double span = last.seconds - first.seconds;
  if (!(span > 0)) return r;
  r.bytes_per_second = static_cast<double>(last.bytes - first.bytes) / span;
  if (*r.bytes_per_second > 0) r.seconds_left = static_cast<double>(bytes_left) / *r.bytes_per_second;
  return r;
}

std::string Rate_Text(const RateEstimate& rate) {
  char text[64];
  if (!rate.bytes_per_second) return "-- MB/s";
  std::snprintf(text, sizeof text, "%.1f MB/s", *rate.bytes_per_second / 1e6);
  std::string out = text;
  if (rate.seconds_left) {
    const auto s = static_cast<unsigned long long>(std::llround(std::min(*rate.seconds_left, 359999.0)));
    if (s >= 3600) {
      std::snprintf(text, sizeof text, ", %llu:%02llu:%02llu left", s / 3600, s / 60 % 60, s % 60);
    } else {
      std::snprintf(text, sizeof text, ", %llu:%02llu left", s / 60, s % 60);
    }
    out += text;
  }
  return out;
}

std::string Progress_Line(std::string_view pass, std::uint64_t for_index, std::uint64_t start, std::uint64_t end,
                          const RateEstimate& rate) {
  return std::string(pass) + "  " + Sector_Label_Text(for_index, start, end) + "  " + Rate_Text(rate);
}

}  // namespace tamberlin::cli
