#include "bridge/usb_bridge_cell.hpp"

#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {

namespace {

// Until the bridge transport lands, the cell behaves as a machine without a
// bridge board: opening answers 12, and so does every packet operation (each
// would try to open the device first).  The bridge has no probe.
class MissingUsbBridge final : public AdapterOps {
public:
    int open() override
    {
        platform::debugOutput("USB bridge transport not available");
        return MVX_ERR_BRIDGE_MISSING;
    }
    int write(std::uint8_t, std::uint8_t, const std::uint8_t*, int, PassThrough) override
    {
        return MVX_ERR_BRIDGE_MISSING;
    }
    int read(std::uint8_t, std::uint8_t, std::uint8_t*, int, PassThrough) override { return MVX_ERR_BRIDGE_MISSING; }
    int writeBlock(const std::uint8_t*, int, std::uint8_t, std::uint8_t, std::uint16_t) override
    {
        return MVX_ERR_BRIDGE_MISSING;
    }
    int probeTarget() override { return MVX_OK; }
};

}  // namespace

std::unique_ptr<AdapterOps> makeUsbBridgeTransport(sim::Board*, platform::Clock&)
{
    return std::make_unique<MissingUsbBridge>();
}

}  // namespace mvx::adapters
