// Time for everything that waits on hardware: sleeps and a monotonic clock.
//
// Code that talks to a board takes a Clock& instead of calling the system, so
// the virtual board can put a virtual clock in its place and tests run at CPU
// speed while still "waiting" the right amounts.
#pragma once

#include <cstdint>

namespace mvx::platform {

class Clock {
public:
    virtual ~Clock() = default;
    // Monotonic time in microseconds since an arbitrary origin.
    virtual std::uint64_t nowMicros() = 0;
    virtual void sleepMicros(std::uint64_t micros) = 0;
    void sleepMillis(std::uint32_t millis) { sleepMicros(std::uint64_t{millis} * 1000u); }
};

// The machine's steady clock and real sleeps.
class SteadyClock final : public Clock {
public:
    std::uint64_t nowMicros() override;
    void sleepMicros(std::uint64_t micros) override;
};

// The process-wide steady clock (it holds no state of its own).
Clock& systemClock();

}  // namespace mvx::platform
