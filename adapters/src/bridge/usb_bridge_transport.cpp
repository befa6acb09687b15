#include "bridge/usb_bridge_transport.hpp"

#include <utility>

#include "mvxisp.h"

namespace mvx::adapters {

UsbBridgeTransport::UsbBridgeTransport(std::unique_ptr<UsbIo> io) : device_(std::move(io)) {}

int UsbBridgeTransport::open() { return device_.sendCommand(0); }

void UsbBridgeTransport::close() { device_.close(); }

int UsbBridgeTransport::write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                              PassThrough)
{
    if (count < 0 || (count > 0 && data == nullptr) || static_cast<unsigned>(count) > UsbBridgeDevice::kMaxData)
        return MVX_ERR_LIBRARY_WRITE;
    return device_.writeRegister(address, subAddress, {data, static_cast<std::size_t>(count)}, kWriteMode);
}

int UsbBridgeTransport::read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
                             PassThrough)
{
    if (buffer == nullptr)
        return MVX_ERR_NULL_BUFFER;
    if (count < 0 || static_cast<unsigned>(count) > UsbBridgeDevice::kReadCount)
        return MVX_ERR_LIBRARY_READ;
    return device_.readRegister(address, subAddress, true, {buffer, static_cast<std::size_t>(count)});
}

int UsbBridgeTransport::writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary,
                                   std::uint8_t subAddress, std::uint16_t offset)
{
    if (block == nullptr || length <= 0 || static_cast<unsigned>(length) > UsbBridgeDevice::kMaxData)
        return MVX_ERR_LIBRARY_WRITE;
    return device_.writeBlock(secondary, subAddress, offset, {block, static_cast<std::size_t>(length)});
}

}  // namespace mvx::adapters
