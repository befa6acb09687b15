// The USB bridge board: kind 0 without library.  With a virtual board the
// board's bridge answers; without one the machine's USB is searched for the
// bridge's vendor:product from the registry store (bridge_ids.hpp).
#pragma once

#include <memory>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::sim {
class Board;
}

namespace mvx::adapters {

std::unique_ptr<AdapterOps> makeUsbBridgeTransport(sim::Board* board, platform::Clock& clock);

}  // namespace mvx::adapters
