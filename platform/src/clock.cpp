#include "mvx/platform/clock.hpp"

#include <chrono>
#include <thread>

namespace mvx::platform {

std::uint64_t SteadyClock::nowMicros()
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::microseconds>(since).count());
}

void SteadyClock::sleepMicros(std::uint64_t micros)
{
    std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

Clock& systemClock()
{
    static SteadyClock clock;   // stateless; shared by the whole process
    return clock;
}

}  // namespace mvx::platform
