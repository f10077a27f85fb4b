// Speed, time left and elapsed time from progress samples: the window of the
// last seconds, a pass that starts again, and samples that give no speed.
#include "engine/progress_rate.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace tamberlin {
namespace {

TEST(ProgressRateTest, SpeedAndTimeLeftOverTheLastSeconds) {
  constexpr double kNone = -1;
  const struct {
    const char* name;
    std::vector<std::pair<double, std::uint64_t>> samples;  // seconds, bytes done in the pass
    double speed, left, elapsed;                              // left: to 100 MB
  } cases[] = {
      {"one sample", {{3, 0}}, kNone, kNone, 0},
      {"same instant twice", {{1, 0}, {1, 100}}, kNone, kNone, 0},
      {"steady", {{0, 0}, {1, 10'000'000}, {2, 20'000'000}}, 1e7, 8, 2},
      // A slow start drops out of the 5-second window.
      {"window", {{0, 0}, {5, 5'000'000}, {6, 15'000'000}, {10, 55'000'000}}, 1e7, 4.5, 10},
      // The thorough pass reads from the start again: a new speed, the same clock.
      {"next pass", {{0, 0}, {2, 90'000'000}, {3, 1'000'000}, {4, 6'000'000}}, 5e6, 18.8, 4},
      {"stalled", {{0, 5'000'000}, {1, 5'000'000}}, 0, kNone, 1},
      {"done", {{0, 0}, {1, 100'000'000}}, 1e8, 0, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ProgressRate rate(5.0);
    for (const auto& [seconds, bytes] : c.samples) rate.Add(seconds, bytes);
    EXPECT_EQ(rate.Bytes_Per_Second().value_or(kNone), c.speed);
    EXPECT_NEAR(rate.Seconds_Left(100'000'000).value_or(kNone), c.left, 0.05);
    EXPECT_EQ(rate.Elapsed(), c.elapsed);
  }
}

TEST(ProgressRateTest, DurationsReadAsClockTimes) {
  const std::pair<double, const char*> cases[] = {{-2, "0:00"}, {59.6, "1:00"}, {3599, "59:59"}, {3600, "1:00:00"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(Duration_Text(seconds), text) << seconds;
}

}  // namespace
}  // namespace tamberlin
