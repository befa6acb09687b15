// The lowest layer of the USB bridge transport: finding the bridge board,
// opening it, standard descriptor requests on endpoint 0, taking its
// interface, and single bulk transfers.  Two implementations: libusb for the
// machine's USB (libusb_io.hpp) and the virtual board's bridge
// (board_usb_io.hpp).  Everything above this layer (descriptor walk, endpoint
// choice, packets) is shared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace mvx::adapters {

enum class UsbStatus {
    Ok,
    Timeout,    // nothing moved before the time-out; the pending transfer was aborted
    NoDevice,   // the bridge is gone (unplugged, or never opened)
    Overflow,   // the device sent more than the buffer holds
    Failed,     // any other error of the transfer
};

struct UsbTransfer {
    UsbStatus status = UsbStatus::Failed;
    std::size_t length = 0;   // bytes moved
};

// Every bulk transfer of the bridge waits at most this long.
inline constexpr unsigned kBulkTimeoutMillis = 10'000;
// Descriptor requests on endpoint 0 wait at most this long.
inline constexpr unsigned kControlTimeoutMillis = 5'000;

// Standard descriptor types.
inline constexpr std::uint8_t kDeviceDescriptor = 1;
inline constexpr std::uint8_t kConfigurationDescriptor = 2;
inline constexpr std::uint8_t kStringDescriptor = 3;
inline constexpr std::uint8_t kInterfaceDescriptor = 4;
inline constexpr std::uint8_t kEndpointDescriptor = 5;

class UsbIo {
public:
    virtual ~UsbIo() = default;

    // Bridge boards attached now (0 when none, or when USB cannot be used).
    virtual int countDevices() = 0;
    // Where the bridge at index sits, for the bus lock ("usb bridge 001/004":
    // bus and device address), found without opening it; empty when unknown.
    virtual std::string location(int index) { (void)index; return {}; }
    // Opens the bridge at index, closing an open one first; false when it
    // cannot be opened.
    virtual bool open(int index) = 0;
    virtual bool isOpen() const = 0;
    // Gives up the interface and the device; nothing when not open.
    virtual void close() = 0;

    // GET_DESCRIPTOR on endpoint 0 (request type 0x80, request 6, value
    // type << 8 | index, index language), kControlTimeoutMillis at most.
    // Answers the bytes received into buffer, or -1.
    virtual int getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                              std::span<std::uint8_t> buffer) = 0;

    // Takes the interface for this process in the given alternate setting.
    virtual bool claimInterface(std::uint8_t number, std::uint8_t alternate) = 0;

    // One bulk transfer on endpoint (bit 7 set: device to host into data;
    // clear: data to the device), waiting at most timeoutMillis.  A transfer
    // that times out is aborted before this returns.
    virtual UsbTransfer bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data,
                                     unsigned timeoutMillis) = 0;
};

}  // namespace mvx::adapters
