// The USB-to-I2C bridge board of the "Norvane USB" adapter: found and opened
// through a UsbIo, its descriptors read, its bulk endpoints chosen, and the
// four request packets of the bridge firmware sent on them:
//
//   register write  address, sub, count >> 8, count & 0xFF, mode, 0x11, data   (count + 6 bytes)
//   register read   address, sub, sub, 0xFF (0x00 for flag 0), 16, 0x04,
//                   zeros, sequence byte at 16                                  (17 bytes)
//                   answer on bulk-in: the data from offset 0, the echoed
//                   sequence byte at 16; one packet of the endpoint (at
//                   least 17, at most 256 bytes) is asked for
//   block write     address, sub, offset >> 8, offset & 0xFF, 0x00, 0x08, data (length + 6 bytes)
//   start command   0x01, 0x00, 0x00, 0x00, 0x00, 0x15, argument               (7 bytes)
//
// Every packet operation opens the device first (ensureOpen) and goes on when
// that answers 0 or 13.  Results are the engine's codes:
//   12  no bridge (none attached, it cannot be opened, or it lacks a bulk-in
//       or bulk-out endpoint), or it went away during a transfer;
//   13  a read got no answer echoing its sequence byte;
//   25  a write-type packet did not go out whole (time-out, transfer error),
//       or it cannot be carried (more than 65,535 data bytes, no data).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "bridge/usb_descriptors.hpp"
#include "bridge/usb_io.hpp"

namespace mvx::adapters {

class UsbBridgeDevice {
public:
    static constexpr std::uint8_t kWritePacket = 0x11;
    static constexpr std::uint8_t kReadPacket = 0x04;
    static constexpr std::uint8_t kBlockPacket = 0x08;
    static constexpr std::uint8_t kCommandPacket = 0x15;
    static constexpr std::size_t kHeaderLength = 6;
    static constexpr std::size_t kReadCount = 16;          // data bytes a read asks for and gets back
    static constexpr std::size_t kSequenceOffset = 16;     // in the request and in the answer
    static constexpr std::size_t kReadRequestLength = kReadCount + 1;
    static constexpr std::size_t kAnswerBufferLength = 256;   // the longest answer taken
    static constexpr int kReadTries = 100;
    static constexpr std::size_t kMaxData = 0xFFFF;        // the 16-bit count of a register write
    static constexpr int kOpenAttempts = 3;

    explicit UsbBridgeDevice(std::unique_ptr<UsbIo> io);
    ~UsbBridgeDevice();
    UsbBridgeDevice(const UsbBridgeDevice&) = delete;
    UsbBridgeDevice& operator=(const UsbBridgeDevice&) = delete;

    // 0 opened now, 13 already open, 12 no usable bridge.
    int ensureOpen();
    // Where the bridge that ensureOpen() opens sits (UsbIo::location), or empty.
    std::string location() { return io_->location(0); }
    void close();
    bool isOpen() const { return open_; }

    // count = data.size(), at most kMaxData.
    int writeRegister(std::uint8_t address, std::uint8_t subAddress, std::span<const std::uint8_t> data,
                      std::uint8_t mode);
    // Asks for kReadCount bytes and delivers the first out.size() (at most
    // kReadCount) of a matching answer; out is left alone on failure.
    int readRegister(std::uint8_t address, std::uint8_t subAddress, bool flag, std::span<std::uint8_t> out);
    int writeBlock(std::uint8_t address, std::uint8_t subAddress, std::uint16_t offset,
                   std::span<const std::uint8_t> data);
    int sendCommand(std::uint8_t argument);

    // What the open found (for diagnostics and tests).
    const std::optional<DeviceDescriptor>& deviceDescriptor() const { return descriptor_; }
    std::uint16_t language() const { return language_; }
    const std::string& manufacturer() const { return manufacturer_; }
    const std::string& product() const { return product_; }
    const std::string& serial() const { return serial_; }
    const std::vector<UsbConfiguration>& configurations() const { return configurations_; }
    const UsbInterface* currentInterface() const;
    std::uint8_t bulkOutEndpoint() const { return bulkOut_; }
    std::uint8_t bulkInEndpoint() const { return bulkIn_; }
    std::uint8_t sequence() const { return sequence_; }

private:
    bool openDevice();
    bool readDescriptors();
    std::optional<std::string> readString(std::uint8_t index);
    std::vector<std::uint8_t> readDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language);
    bool chooseEndpoints();
    int sendPacket(std::vector<std::uint8_t>& packet);

    std::unique_ptr<UsbIo> io_;
    bool open_ = false;
    std::optional<DeviceDescriptor> descriptor_;
    std::uint16_t language_ = 0;
    std::string manufacturer_;
    std::string product_;
    std::string serial_;
    std::vector<UsbConfiguration> configurations_;
    std::optional<std::size_t> interface_;   // index into configurations_[0].interfaces
    std::uint8_t bulkOut_ = 0;
    std::uint8_t bulkIn_ = 0;
    std::uint32_t bulkInPacket_ = 0;   // its maximum packet size
    std::uint8_t sequence_ = 0;
};

}  // namespace mvx::adapters
