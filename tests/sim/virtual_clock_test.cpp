#include "mvx/sim/virtual_clock.hpp"

#include <gtest/gtest.h>

namespace {

// What a piece of engine code does: wait a number of 10 ms slices on
// whatever clock it was handed, and measure how long that took.
std::uint64_t pollTenTimes(mvx::platform::Clock& clock)
{
    const std::uint64_t start = clock.nowMicros();
    for (int i = 0; i < 10; ++i)
        clock.sleepMillis(10);
    return clock.nowMicros() - start;
}

}  // namespace

TEST(VirtualClock, StandsInForTheSystemClockAndCountsSleeps)
{
    mvx::sim::VirtualClock clock;
    EXPECT_EQ(pollTenTimes(clock), 100000u);
    EXPECT_EQ(clock.sleeps(), 10u);
    EXPECT_EQ(clock.sleptMicros(), 100000u);
}

TEST(VirtualClock, BusTimeAdvancesTheClockWithoutCountingAsSleep)
{
    mvx::sim::VirtualClock clock;
    clock.advance(90);   // one byte at 100 kHz
    clock.sleepMicros(10);
    EXPECT_EQ(clock.nowMicros(), 100u);
    EXPECT_EQ(clock.sleeps(), 1u);
    EXPECT_EQ(clock.sleptMicros(), 10u);
}
