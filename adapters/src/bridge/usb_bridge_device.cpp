#include "bridge/usb_bridge_device.hpp"

#include <algorithm>
#include <array>
#include <utility>

#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {
namespace {

constexpr std::size_t kLengthProbe = 2;

}  // namespace

UsbBridgeDevice::UsbBridgeDevice(std::unique_ptr<UsbIo> io) : io_(std::move(io)) {}

UsbBridgeDevice::~UsbBridgeDevice() { close(); }

// ---- opening ----

int UsbBridgeDevice::ensureOpen()
{
    if (open_)
        return MVX_ERR_ISP_MODE;
    if (!openDevice())
        return MVX_ERR_BRIDGE_MISSING;
    open_ = true;
    return MVX_OK;
}

void UsbBridgeDevice::close()
{
    if (io_)
        io_->close();
    open_ = false;
}

bool UsbBridgeDevice::openDevice()
{
    if (!io_ || io_->countDevices() <= 0) {
        platform::debugOutput("USB bridge: no bridge attached");
        return false;
    }
    bool opened = false;
    for (int attempt = 0; attempt < kOpenAttempts && !opened; ++attempt)
        opened = io_->open(0);
    if (!opened) {
        platform::debugOutput("USB bridge: cannot open the bridge");
        return false;
    }
    if (!readDescriptors() || !chooseEndpoints()) {
        io_->close();
        return false;
    }
    const UsbInterface& chosen = *currentInterface();
    if (!io_->claimInterface(chosen.number, chosen.alternate)) {
        platform::debugOutput("USB bridge: cannot claim its interface");
        io_->close();
        return false;
    }
    platform::debugOutput("USB bridge open: " + (product_.empty() ? std::string("(unnamed)") : product_));
    return true;
}

std::vector<std::uint8_t> UsbBridgeDevice::readDescriptor(std::uint8_t type, std::uint8_t index,
                                                          std::uint16_t language)
{
    // The first two bytes give the length; then the whole descriptor.  A
    // configuration gives its total length at offset 2 of its first 9.
    const std::size_t probeLength = type == kConfigurationDescriptor ? UsbConfiguration::kHeaderLength : kLengthProbe;
    std::vector<std::uint8_t> head(probeLength, 0);
    const int got = io_->getDescriptor(type, index, language, head);
    if (got < static_cast<int>(probeLength))
        return {};
    const std::size_t whole = type == kConfigurationDescriptor ? UsbConfiguration::totalLength(head) : head[0];
    if (whole < probeLength)
        return {};
    std::vector<std::uint8_t> bytes(whole, 0);
    const int all = io_->getDescriptor(type, index, language, bytes);
    if (all < 0)
        return {};
    bytes.resize(std::min(bytes.size(), static_cast<std::size_t>(all)));
    return bytes;
}

std::optional<std::string> UsbBridgeDevice::readString(std::uint8_t index)
{
    if (index == 0)
        return std::nullopt;
    return parseString(readDescriptor(kStringDescriptor, index, language_));
}

bool UsbBridgeDevice::readDescriptors()
{
    descriptor_.reset();
    configurations_.clear();
    interface_.reset();
    manufacturer_.clear();
    product_.clear();
    serial_.clear();

    std::array<std::uint8_t, DeviceDescriptor::kLength> device{};
    const int got = io_->getDescriptor(kDeviceDescriptor, 0, 0, device);
    if (got >= static_cast<int>(DeviceDescriptor::kLength))
        descriptor_ = DeviceDescriptor::parse(device);
    if (!descriptor_) {
        platform::debugOutput("USB bridge: no device descriptor");
        return false;
    }

    // Names are for diagnostics only: a device without them is still used.
    language_ = chooseLanguage(parseLanguages(readDescriptor(kStringDescriptor, 0, 0)));
    manufacturer_ = readString(descriptor_->manufacturerIndex).value_or("");
    product_ = readString(descriptor_->productIndex).value_or("");
    serial_ = readString(descriptor_->serialIndex).value_or("");

    for (unsigned index = 0; index < descriptor_->configurations; ++index) {
        const auto bytes = readDescriptor(kConfigurationDescriptor, static_cast<std::uint8_t>(index), 0);
        auto config = UsbConfiguration::parse(bytes);
        configurations_.push_back(config ? std::move(*config) : UsbConfiguration{});
    }
    return true;
}

const UsbInterface* UsbBridgeDevice::currentInterface() const
{
    if (!interface_ || configurations_.empty())
        return nullptr;
    return &configurations_.front().interfaces[*interface_];
}

bool UsbBridgeDevice::chooseEndpoints()
{
    bulkIn_ = 0;
    bulkOut_ = 0;
    bulkInPacket_ = 0;
    // The interface of the first configuration in the setting a freshly
    // configured device runs with (alternate 0).
    if (!configurations_.empty()) {
        const auto& interfaces = configurations_.front().interfaces;
        const auto found = std::find_if(interfaces.begin(), interfaces.end(),
                                        [](const UsbInterface& i) { return i.alternate == 0; });
        if (found != interfaces.end())
            interface_ = static_cast<std::size_t>(found - interfaces.begin());
    }
    bool haveIn = false;
    bool haveOut = false;
    if (const UsbInterface* chosen = currentInterface()) {
        // A later bulk endpoint of a direction replaces an earlier one.
        for (const UsbEndpoint& endpoint : chosen->endpoints) {
            if (endpoint.kind() != EndpointKind::Bulk)
                continue;
            if (endpoint.isIn()) {
                bulkIn_ = endpoint.address;
                bulkInPacket_ = endpoint.maxPacketSize;
                haveIn = true;
            } else {
                bulkOut_ = endpoint.address;
                haveOut = true;
            }
        }
    }
    if (!haveIn || !haveOut) {
        platform::debugOutput("USB bridge: no bulk-in and bulk-out endpoint pair");
        return false;
    }
    return true;
}

// ---- packets ----

int UsbBridgeDevice::sendPacket(std::vector<std::uint8_t>& packet)
{
    const UsbTransfer sent = io_->bulkTransfer(bulkOut_, packet, kBulkTimeoutMillis);
    if (sent.status == UsbStatus::Ok && sent.length == packet.size())
        return MVX_OK;
    if (sent.status == UsbStatus::NoDevice) {
        platform::debugOutput("USB bridge: the bridge went away");
        return MVX_ERR_BRIDGE_MISSING;
    }
    platform::debugOutput("USB bridge: packet not sent");
    return MVX_ERR_LIBRARY_WRITE;
}

int UsbBridgeDevice::writeRegister(std::uint8_t address, std::uint8_t subAddress, std::span<const std::uint8_t> data,
                                   std::uint8_t mode)
{
    if (const int opened = ensureOpen(); opened != MVX_OK && opened != MVX_ERR_ISP_MODE)
        return opened;
    if (data.size() > kMaxData)
        return MVX_ERR_LIBRARY_WRITE;
    std::vector<std::uint8_t> packet{address,
                                     subAddress,
                                     static_cast<std::uint8_t>(data.size() >> 8),
                                     static_cast<std::uint8_t>(data.size() & 0xFF),
                                     mode,
                                     kWritePacket};
    packet.insert(packet.end(), data.begin(), data.end());
    return sendPacket(packet);
}

int UsbBridgeDevice::readRegister(std::uint8_t address, std::uint8_t subAddress, bool flag,
                                  std::span<std::uint8_t> out)
{
    if (const int opened = ensureOpen(); opened != MVX_OK && opened != MVX_ERR_ISP_MODE)
        return opened;
    if (out.size() > kReadCount)
        return MVX_ERR_LIBRARY_READ;
    ++sequence_;   // wraps from 255 to 0
    for (int attempt = 0; attempt < kReadTries; ++attempt) {
        std::vector<std::uint8_t> request(kReadRequestLength, 0);
        request[0] = address;
        request[1] = subAddress;
        request[2] = subAddress;
        request[3] = flag ? 0xFF : 0x00;
        request[4] = static_cast<std::uint8_t>(kReadCount);
        request[5] = kReadPacket;
        request[kSequenceOffset] = sequence_;
        if (sendPacket(request) != MVX_OK)
            return MVX_ERR_ISP_MODE;

        // One packet of the endpoint is asked for: an answer shorter than
        // that ends the transfer, and a full one ends it too.
        std::array<std::uint8_t, kAnswerBufferLength> answer{};
        const std::size_t asked = std::clamp<std::size_t>(bulkInPacket_, kReadRequestLength, answer.size());
        const UsbTransfer got = io_->bulkTransfer(bulkIn_, std::span(answer).first(asked), kBulkTimeoutMillis);
        // A bridge that does not answer at all will not answer the next try
        // either: only a stale echo is worth asking again.
        if (got.status != UsbStatus::Ok) {
            platform::debugOutput("USB bridge: no answer to a read");
            return MVX_ERR_ISP_MODE;
        }
        if (got.length > kSequenceOffset && answer[kSequenceOffset] == sequence_) {
            std::copy_n(answer.begin(), out.size(), out.begin());
            return MVX_OK;
        }
    }
    platform::debugOutput("USB bridge: no answer with the read's sequence byte");
    return MVX_ERR_ISP_MODE;
}

int UsbBridgeDevice::writeBlock(std::uint8_t address, std::uint8_t subAddress, std::uint16_t offset,
                                std::span<const std::uint8_t> data)
{
    if (const int opened = ensureOpen(); opened != MVX_OK && opened != MVX_ERR_ISP_MODE)
        return opened;
    if (data.empty() || data.size() > kMaxData)
        return MVX_ERR_LIBRARY_WRITE;
    std::vector<std::uint8_t> packet{address,
                                     subAddress,
                                     static_cast<std::uint8_t>(offset >> 8),
                                     static_cast<std::uint8_t>(offset & 0xFF),
                                     0x00,
                                     kBlockPacket};
    packet.insert(packet.end(), data.begin(), data.end());
    return sendPacket(packet);
}

int UsbBridgeDevice::sendCommand(std::uint8_t argument)
{
    if (const int opened = ensureOpen(); opened != MVX_OK && opened != MVX_ERR_ISP_MODE)
        return opened;
    std::vector<std::uint8_t> packet{0x01, 0x00, 0x00, 0x00, 0x00, kCommandPacket, argument};
    return sendPacket(packet);
}

}  // namespace mvx::adapters
