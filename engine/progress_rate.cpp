#include "engine/progress_rate.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tamberlin {

void ProgressRate::Reset() {
  samples_.clear();
  first_seconds_.reset();
}

void ProgressRate::Restart_Pass() { samples_.clear(); }

void ProgressRate::Add(double seconds, std::uint64_t bytes) {
  if (!first_seconds_) first_seconds_ = seconds;
  last_seconds_ = seconds;
  if (!samples_.empty() && (bytes < samples_.back().bytes || seconds < samples_.back().seconds)) samples_.clear();
  samples_.push_back({seconds, bytes});
  // Keep one sample at or before the window's start, so the window is full
  // as soon as the scan has run that long.
  while (samples_.size() > 2 && samples_[1].seconds <= seconds - window_) samples_.pop_front();
}

std::optional<double> ProgressRate::Bytes_Per_Second() const {
  if (samples_.size() < 2) return std::nullopt;
  const double span = samples_.back().seconds - samples_.front().seconds;
  if (!(span > 0)) return std::nullopt;
  return static_cast<double>(samples_.back().bytes - samples_.front().bytes) / span;
}

std::optional<double> ProgressRate::Seconds_Left(std::uint64_t total_bytes) const {
  const auto speed = Bytes_Per_Second();
  if (!speed || !(*speed > 0)) return std::nullopt;
  const std::uint64_t done = samples_.back().bytes;
  return done >= total_bytes ? 0.0 : static_cast<double>(total_bytes - done) / *speed;
}

double ProgressRate::Elapsed() const { return first_seconds_ ? last_seconds_ - *first_seconds_ : 0; }

std::string Duration_Text(double seconds) {
  const auto whole = static_cast<unsigned long long>(std::llround(std::clamp(seconds, 0.0, 1e9)));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", whole / 60, whole % 60);
  }
  return text;
}

}  // namespace tamberlin
