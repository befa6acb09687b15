// The engine's adapter operations over the USB bridge board (kind 0 without
// library):
//
//   open        the start command with argument 0, which opens the bridge:
//               0, or 12 when there is no usable bridge
//   write       a register-write packet with mode 0x81 carrying all count bytes
//   read        a register read (16 bytes asked, flag set); the caller gets
//               its count (at most 16) of them
//   writeBlock  a block packet to the given address and sub-address at the
//               block's offset, the whole block as its data
//   probeTarget none: 0
//   busName     "usb bridge <bus>/<address>" of the bridge open would take
//   close       closes the bridge
//
// Calls the bridge cannot carry are refused without a packet: a null read
// buffer (17), a read of more than 16 or fewer than 0 bytes (24), a write or
// block with a negative count, missing data or more than 65,535 bytes (25).
#pragma once

#include <memory>

#include "bridge/usb_bridge_device.hpp"
#include "mvx/adapters/adapter_ops.hpp"

namespace mvx::adapters {

class UsbBridgeTransport final : public AdapterOps {
public:
    static constexpr std::uint8_t kWriteMode = 0x81;

    explicit UsbBridgeTransport(std::unique_ptr<UsbIo> io);

    int open() override;
    void close() override;
    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              PassThrough pass) override;
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             PassThrough pass) override;
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override;
    int probeTarget() override { return 0; }
    // The bridge's bus and device address; empty when there is no bridge.
    std::string busName() override { return device_.location(); }

    UsbBridgeDevice& device() { return device_; }

private:
    UsbBridgeDevice device_;
};

}  // namespace mvx::adapters
