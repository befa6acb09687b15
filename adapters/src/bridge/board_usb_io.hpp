// The virtual board's bridge as the UsbIo layer sees a board on a real bus:
// one bridge (when attached) with a device descriptor, US-English names, one
// configuration with one vendor-specific interface and the bridge's two bulk
// endpoints.  Bulk transfers go to the board's bulk-out and bulk-in; its
// virtual clock takes the time-outs.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "bridge/usb_io.hpp"

namespace mvx::sim {
class VirtualUsbBridge;
}

namespace mvx::adapters {

class BoardUsbIo final : public UsbIo {
public:
    BoardUsbIo(sim::VirtualUsbBridge& bridge, std::uint16_t vendor, std::uint16_t product);

    int countDevices() override;
    bool open(int index) override;
    bool isOpen() const override { return open_; }
    void close() override;
    int getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                      std::span<std::uint8_t> buffer) override;
    bool claimInterface(std::uint8_t number, std::uint8_t alternate) override;
    UsbTransfer bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned timeoutMillis) override;

private:
    std::vector<std::uint8_t> descriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language) const;

    sim::VirtualUsbBridge& bridge_;
    std::uint16_t vendor_;
    std::uint16_t product_;
    bool open_ = false;
};

}  // namespace mvx::adapters
