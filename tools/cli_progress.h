// The scan's progress line on a terminal: position, speed and time left.
// The speed is the bytes read over the last few seconds of samples, so it
// follows a medium that slows down without jumping with every tick. No clock
// is read here: the caller feeds (seconds, bytes read) samples.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace tamberlin::cli {

struct RateEstimate {
  std::optional<double> bytes_per_second;  // nothing until two samples lie apart in time
  std::optional<double> seconds_left;      // nothing while nothing moves
};

class RateMeter {
 public:
  explicit RateMeter(double window_seconds = 5.0) : window_(window_seconds) {}

  // A sample: `bytes` read by time `seconds`. Fewer bytes than the last
  // sample means a new pass began; the older samples are dropped.
  void Add(double seconds, std::uint64_t bytes);
  RateEstimate Estimate(std::uint64_t bytes_left) const;

 private:
  struct Sample {
    double seconds;
    std::uint64_t bytes;
  };
  double window_;
  std::deque<Sample> samples_;  // the newest last; the first lies at or before the window's start
};

// "12.3 MB/s, 1:05 left"; "-- MB/s" before a speed is known; no time left
// when `rate` has none.
std::string Rate_Text(const RateEstimate& rate);

// "GEN  Sectors 512 of 1024   ( Completed 50% )  12.3 MB/s, 0:04 left"
std::string Progress_Line(std::string_view pass, std::uint64_t for_index, std::uint64_t start, std::uint64_t end,
                          const RateEstimate& rate);

}  // namespace tamberlin::cli
