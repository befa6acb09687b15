#include "bridge/usb_descriptors.hpp"

#include <algorithm>

#include "bridge/usb_io.hpp"

namespace mvx::adapters {
namespace {

std::uint16_t le16(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

constexpr std::size_t kInterfaceLength = 9;
constexpr std::size_t kEndpointLength = 7;
constexpr std::uint16_t kUsEnglish = 0x0409;

void appendUtf8(std::string& text, std::uint32_t code)
{
    if (code < 0x80) {
        text.push_back(static_cast<char>(code));
    } else if (code < 0x800) {
        text.push_back(static_cast<char>(0xC0 | (code >> 6)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    } else {
        text.push_back(static_cast<char>(0xE0 | (code >> 12)));
        text.push_back(static_cast<char>(0x80 | ((code >> 6) & 0x3F)));
        text.push_back(static_cast<char>(0x80 | (code & 0x3F)));
    }
}

}  // namespace

std::optional<DeviceDescriptor> DeviceDescriptor::parse(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kLength || bytes[0] < kLength || bytes[1] != kDeviceDescriptor)
        return std::nullopt;
    DeviceDescriptor d;
    d.usbRelease = le16(bytes, 2);
    d.deviceClass = bytes[4];
    d.deviceSubclass = bytes[5];
    d.deviceProtocol = bytes[6];
    d.maxPacketSize0 = bytes[7];
    d.vendor = le16(bytes, 8);
    d.product = le16(bytes, 10);
    d.deviceRelease = le16(bytes, 12);
    d.manufacturerIndex = bytes[14];
    d.productIndex = bytes[15];
    d.serialIndex = bytes[16];
    d.configurations = bytes[17];
    return d;
}

int UsbConfiguration::alternateSettings(std::uint8_t number) const
{
    return static_cast<int>(std::count_if(interfaces.begin(), interfaces.end(),
                                          [number](const UsbInterface& i) { return i.number == number; }));
}

std::uint16_t UsbConfiguration::totalLength(std::span<const std::uint8_t> header)
{
    if (header.size() < kHeaderLength || header[0] < kHeaderLength || header[1] != kConfigurationDescriptor)
        return 0;
    return le16(header, 2);
}

std::optional<UsbConfiguration> UsbConfiguration::parse(std::span<const std::uint8_t> bytes)
{
    if (totalLength(bytes) == 0)
        return std::nullopt;
    UsbConfiguration config;
    config.value = bytes[5];
    // Endpoints belong to the interface descriptor before them; none before
    // the first, and none after one that did not fit.
    UsbInterface* current = nullptr;
    std::size_t at = bytes[0];
    const std::size_t end = std::min<std::size_t>(bytes.size(), totalLength(bytes));
    while (at + 2 <= end) {
        const std::size_t length = bytes[at];
        const std::uint8_t type = bytes[at + 1];
        if (length < 2 || at + length > end)
            break;
        const auto descriptor = bytes.subspan(at, length);
        if (type == kInterfaceDescriptor && length >= kInterfaceLength) {
            if (config.interfaces.size() < kMaxInterfaces) {
                UsbInterface& added = config.interfaces.emplace_back();
                added.number = descriptor[2];
                added.alternate = descriptor[3];
                added.interfaceClass = descriptor[5];
                added.interfaceSubclass = descriptor[6];
                added.interfaceProtocol = descriptor[7];
                current = &added;
            } else {
                current = nullptr;
            }
        } else if (type == kEndpointDescriptor && length >= kEndpointLength && current != nullptr) {
            UsbEndpoint endpoint;
            endpoint.length = descriptor[0];
            endpoint.type = descriptor[1];
            endpoint.address = descriptor[2];
            endpoint.attributes = descriptor[3];
            endpoint.maxPacketSize = UsbEndpoint::packetSize(le16(descriptor, 4));
            endpoint.interval = descriptor[6];
            current->endpoints.push_back(endpoint);
        }
        at += length;
    }
    return config;
}

std::vector<std::uint16_t> parseLanguages(std::span<const std::uint8_t> bytes)
{
    std::vector<std::uint16_t> languages;
    if (bytes.size() < 2 || bytes[1] != kStringDescriptor)
        return languages;
    const std::size_t end = std::min<std::size_t>(bytes.size(), bytes[0]);
    for (std::size_t at = 2; at + 2 <= end; at += 2)
        languages.push_back(le16(bytes, at));
    return languages;
}

std::uint16_t chooseLanguage(const std::vector<std::uint16_t>& languages)
{
    if (std::find(languages.begin(), languages.end(), kUsEnglish) != languages.end())
        return kUsEnglish;
    return languages.empty() ? 0 : languages.front();
}

std::optional<std::string> parseString(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() <= 2 || bytes[0] <= 2 || bytes[1] != kStringDescriptor)
        return std::nullopt;
    const std::size_t end = std::min<std::size_t>(bytes.size(), bytes[0]);
    std::string text;
    for (std::size_t at = 2; at + 2 <= end; at += 2) {
        const std::uint16_t unit = le16(bytes, at);
        // A surrogate half cannot stand for a character on its own; pairs are
        // not expected in a board's names and read as '?' too.
        appendUtf8(text, unit >= 0xD800 && unit <= 0xDFFF ? std::uint32_t{'?'} : unit);
    }
    return text;
}

}  // namespace mvx::adapters
