// The machine's USB through libusb-1.0: bridge boards are the devices with
// the configured vendor:product; the one at index 0 is used.  The kernel
// driver bound to its interface (if any) is detached while the interface is
// claimed and attached again afterwards.  Each object has its own libusb
// context, made when it first looks for a device.
#pragma once

#include <cstdint>

#include "bridge/usb_io.hpp"

struct libusb_context;
struct libusb_device_handle;

namespace mvx::adapters {

class LibusbIo final : public UsbIo {
public:
    LibusbIo(std::uint16_t vendor, std::uint16_t product);
    ~LibusbIo() override;
    LibusbIo(const LibusbIo&) = delete;
    LibusbIo& operator=(const LibusbIo&) = delete;

    int countDevices() override;
    std::string location(int index) override;
    bool open(int index) override;
    bool isOpen() const override { return handle_ != nullptr; }
    void close() override;
    int getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                      std::span<std::uint8_t> buffer) override;
    bool claimInterface(std::uint8_t number, std::uint8_t alternate) override;
    UsbTransfer bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned timeoutMillis) override;

private:
    bool haveContext();

    std::uint16_t vendor_;
    std::uint16_t product_;
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
    int claimed_ = -1;   // the claimed interface number, -1 for none
};

}  // namespace mvx::adapters
