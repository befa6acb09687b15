// The virtual board's clock: sleeping advances virtual time at once, and the
// bus models advance it by the time their transfers would take, so a run
// finishes at CPU speed while its waits and time-outs still add up as on a
// real board.
#pragma once

#include <atomic>
#include <cstdint>

#include "mvx/platform/clock.hpp"

namespace mvx::sim {

class VirtualClock final : public platform::Clock {
public:
    std::uint64_t nowMicros() override { return now_.load(); }
    void sleepMicros(std::uint64_t micros) override
    {
        now_ += micros;
        ++sleeps_;
        sleptMicros_ += micros;
    }

    // Time spent on the bus rather than asleep.
    void advance(std::uint64_t micros) { now_ += micros; }
    // The same in nanoseconds, for costs below a microsecond (a port access,
    // an MPSSE clock): fractions carry over to the next call.
    void advanceNanos(std::uint64_t nanos)
    {
        nanosPending_ += nanos;
        now_ += nanosPending_ / 1000u;
        nanosPending_ %= 1000u;
    }

    std::uint64_t sleeps() const { return sleeps_.load(); }
    std::uint64_t sleptMicros() const { return sleptMicros_.load(); }

private:
    std::atomic<std::uint64_t> now_{0};
    std::uint64_t nanosPending_ = 0;
    std::atomic<std::uint64_t> sleeps_{0};
    std::atomic<std::uint64_t> sleptMicros_{0};
};

}  // namespace mvx::sim
