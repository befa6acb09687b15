#include "bridge/usb_bridge_cell.hpp"

#include "bridge/board_usb_io.hpp"
#include "bridge/bridge_ids.hpp"
#include "bridge/libusb_io.hpp"
#include "bridge/usb_bridge_transport.hpp"
#include "mvx/platform/registry.hpp"
#include "mvx/sim/board.hpp"

namespace mvx::adapters {

std::unique_ptr<AdapterOps> makeUsbBridgeTransport(sim::Board* board, platform::Clock&)
{
    // The bridge keeps its own time: the board's virtual clock behind the
    // board's bridge, libusb's transfer time-outs on the machine.
    std::unique_ptr<UsbIo> io;
    if (board != nullptr) {
        const BridgeIds ids;
        io = std::make_unique<BoardUsbIo>(board->usbBridge(), ids.vendor, ids.product);
    } else {
        const BridgeIds ids = readBridgeIds(platform::RegistryStore::openDefault());
        io = std::make_unique<LibusbIo>(ids.vendor, ids.product);
    }
    return std::make_unique<UsbBridgeTransport>(std::move(io));
}

}  // namespace mvx::adapters
