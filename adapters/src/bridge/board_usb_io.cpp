#include "bridge/board_usb_io.hpp"

#include <algorithm>
#include <string_view>

#include "mvx/sim/usb_bridge.hpp"

namespace mvx::adapters {
namespace {

constexpr std::uint16_t kUsEnglish = 0x0409;
constexpr std::uint8_t kManufacturerIndex = 1;
constexpr std::uint8_t kProductIndex = 2;
constexpr std::uint8_t kSerialIndex = 3;
constexpr std::uint16_t kFullSpeedBulkPacket = 64;

std::vector<std::uint8_t> stringDescriptor(std::string_view text)
{
    std::vector<std::uint8_t> bytes{static_cast<std::uint8_t>(2 + 2 * text.size()), kStringDescriptor};
    for (char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

UsbStatus fromBoard(sim::UsbStatus status)
{
    switch (status) {
    case sim::UsbStatus::Ok: return UsbStatus::Ok;
    case sim::UsbStatus::Timeout: return UsbStatus::Timeout;
    case sim::UsbStatus::NoDevice: return UsbStatus::NoDevice;
    case sim::UsbStatus::Overflow: return UsbStatus::Overflow;
    }
    return UsbStatus::Failed;
}

}  // namespace

BoardUsbIo::BoardUsbIo(sim::VirtualUsbBridge& bridge, std::uint16_t vendor, std::uint16_t product)
    : bridge_(bridge), vendor_(vendor), product_(product)
{
}

int BoardUsbIo::countDevices() { return bridge_.attached() ? 1 : 0; }

bool BoardUsbIo::open(int index)
{
    close();
    open_ = index == 0 && bridge_.attached();
    return open_;
}

void BoardUsbIo::close() { open_ = false; }

std::vector<std::uint8_t> BoardUsbIo::descriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language) const
{
    switch (type) {
    case kDeviceDescriptor:
        return {18, kDeviceDescriptor, 0x00, 0x02,     // USB 2.0
                0xFF, 0x00, 0x00, 64,                  // vendor-specific class, 64-byte endpoint 0
                static_cast<std::uint8_t>(vendor_), static_cast<std::uint8_t>(vendor_ >> 8),
                static_cast<std::uint8_t>(product_), static_cast<std::uint8_t>(product_ >> 8),
                0x00, 0x01,                            // release 1.00
                kManufacturerIndex, kProductIndex, kSerialIndex, 1};
    case kConfigurationDescriptor:
        if (index != 0)
            return {};
        return {9, kConfigurationDescriptor, 32, 0, 1, 1, 0, 0x80, 50,   // one interface, bus powered
                9, kInterfaceDescriptor, 0, 0, 2, 0xFF, 0x00, 0x00, 0,     // two endpoints
                7, kEndpointDescriptor, sim::VirtualUsbBridge::kBulkOutEndpoint, 0x02,
                static_cast<std::uint8_t>(kFullSpeedBulkPacket), 0, 0,
                7, kEndpointDescriptor, sim::VirtualUsbBridge::kBulkInEndpoint, 0x02,
                static_cast<std::uint8_t>(kFullSpeedBulkPacket), 0, 0};
    case kStringDescriptor:
        if (index == 0)
            return {4, kStringDescriptor, static_cast<std::uint8_t>(kUsEnglish), static_cast<std::uint8_t>(kUsEnglish >> 8)};
        if (language != kUsEnglish)
            return {};
        switch (index) {
        case kManufacturerIndex: return stringDescriptor("Norvane");
        case kProductIndex: return stringDescriptor("Norvane USB Bridge (virtual board)");
        case kSerialIndex: return stringDescriptor("VB000001");
        default: return {};
        }
    default:
        return {};
    }
}

int BoardUsbIo::getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                              std::span<std::uint8_t> buffer)
{
    if (!open_ || !bridge_.attached())
        return -1;
    const std::vector<std::uint8_t> bytes = descriptor(type, index, language);
    if (bytes.empty())
        return -1;   // the device stalls the request
    const std::size_t length = std::min(buffer.size(), bytes.size());
    std::copy_n(bytes.begin(), length, buffer.begin());
    return static_cast<int>(length);
}

bool BoardUsbIo::claimInterface(std::uint8_t number, std::uint8_t alternate)
{
    return open_ && number == 0 && alternate == 0;
}

UsbTransfer BoardUsbIo::bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned timeoutMillis)
{
    if (!open_)
        return {UsbStatus::NoDevice, 0};
    sim::UsbTransferResult result;
    if (endpoint == sim::VirtualUsbBridge::kBulkOutEndpoint)
        result = bridge_.bulkOut(data);
    else if (endpoint == sim::VirtualUsbBridge::kBulkInEndpoint)
        result = bridge_.bulkIn(data, std::uint64_t{timeoutMillis} * 1000u);
    else
        return {UsbStatus::Failed, 0};
    return {fromBoard(result.status), result.length};
}

}  // namespace mvx::adapters
