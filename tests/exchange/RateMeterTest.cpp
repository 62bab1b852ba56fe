#include "exchange/RateMeter.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

// The rate counts what moved in the last five seconds, and nothing once the data has stopped for
// that long; slots are reused as time goes round.
TEST(RateMeter, CountsTheLastFiveSecondsOnly)
{
    const RateMeter::Clock::time_point t0{1000s};
    RateMeter meter;
    EXPECT_EQ(meter.rate(t0), 0.0);
    for (int i = 0; i < 20; ++i) // 100 kB every half second for ten seconds: 200 kB/s
        meter.add(100000, t0 + i * 500ms);
    const auto end = t0 + 9500ms;
    EXPECT_DOUBLE_EQ(meter.rate(end), 200000.0);
    EXPECT_DOUBLE_EQ(meter.rate(end + 2500ms), 100000.0); // half the window has gone quiet
    EXPECT_EQ(meter.rate(end + 5s), 0.0);
    EXPECT_EQ(meter.rate(end + 1h), 0.0);
    meter.add(50000, end + 1h); // a slot used again after the ring went round
    EXPECT_DOUBLE_EQ(meter.rate(end + 1h), 10000.0);
    EXPECT_EQ(meter.rate(end + 1h - 1s), 0.0); // nothing from after the time asked about
}
