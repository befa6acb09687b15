// The FTDI chip in MPSSE mode: kind 1 with library.
#pragma once

#include <memory>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::sim {
class Board;
}

namespace mvx::adapters {

// clockDivisor: option 68.
std::unique_ptr<AdapterOps> makeFtdiTransport(int clockDivisor, sim::Board* board, platform::Clock& clock);

}  // namespace mvx::adapters
