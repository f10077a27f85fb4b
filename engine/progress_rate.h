// Speed, elapsed time and time left of a scan, from (time, bytes done)
// samples taken as a progress display ticks; the window and the command line
// share it. The speed is steadied over the last few seconds, so one slow read
// or a burst of cached sectors does not make the estimate jump. Pure
// arithmetic with no clock of its own; one object per display, one thread.
#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>

namespace tamberlin {

class ProgressRate {
 public:
  explicit ProgressRate(double window_seconds = 5.0) : window_(window_seconds) {}

  // Forgets everything: a new scan begins at the next sample.
  void Reset();
  // A pass begins again from its first sector: the speed is measured afresh,
  // the elapsed time runs on.
  void Restart_Pass();
  // `seconds` since any fixed moment (never going back), `bytes` done in the
  // current pass. Fewer bytes than the last sample means a new pass.
  void Add(double seconds, std::uint64_t bytes);

  // Bytes per second over the window; none until two samples are apart in time.
  std::optional<double> Bytes_Per_Second() const;
  // Seconds until `total_bytes` of the pass are done at the present speed;
  // none without a speed, or while nothing moves.
  std::optional<double> Seconds_Left(std::uint64_t total_bytes) const;
  // Seconds from the first sample since Reset to the last.
  double Elapsed() const;

 private:
  struct Sample {
    double seconds;
    std::uint64_t bytes;
  };
  double window_;
  std::deque<Sample> samples_;  // the current pass, oldest first; the first at or before the window's start
  std::optional<double> first_seconds_;
  double last_seconds_ = 0;
};

// "0:07", "12:34", "1:02:03"; negative times read as 0.
std::string Duration_Text(double seconds);

}  // namespace tamberlin
