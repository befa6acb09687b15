// The standard USB descriptors of the bridge board, as its device sends them:
// the 18-byte device descriptor, the language list and string descriptors,
// and the configuration descriptor with its interfaces and endpoints.
//
// The parsers take raw descriptor bytes and never read past them: a
// descriptor that claims more bytes than arrived, or a zero length inside a
// configuration, ends the walk there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace mvx::adapters {

enum class EndpointKind : std::uint8_t { Control = 0, Isochronous = 1, Bulk = 2, Interrupt = 3 };

struct DeviceDescriptor {
    static constexpr std::size_t kLength = 18;

    std::uint16_t usbRelease = 0;
    std::uint8_t deviceClass = 0;
    std::uint8_t deviceSubclass = 0;
    std::uint8_t deviceProtocol = 0;
    std::uint8_t maxPacketSize0 = 0;
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    std::uint16_t deviceRelease = 0;
    std::uint8_t manufacturerIndex = 0;
    std::uint8_t productIndex = 0;
    std::uint8_t serialIndex = 0;
    std::uint8_t configurations = 0;

    // nullopt unless bytes hold a whole device descriptor (length 18, type 1).
    static std::optional<DeviceDescriptor> parse(std::span<const std::uint8_t> bytes);
};

struct UsbEndpoint {
    std::uint8_t length = 0;
    std::uint8_t type = 0;
    std::uint8_t address = 0;      // bit 7 set: IN (device to host)
    std::uint8_t attributes = 0;   // bits 0-1: EndpointKind
    std::uint32_t maxPacketSize = 0;
    std::uint8_t interval = 0;

    EndpointKind kind() const { return static_cast<EndpointKind>(attributes & 0x03); }
    bool isIn() const { return (address & 0x80) != 0; }

    // wMaxPacketSize: bits 0-10 the size, bits 11-12 the extra transactions
    // per microframe of high-speed endpoints.
    static std::uint32_t packetSize(std::uint16_t wMaxPacketSize)
    {
        return (wMaxPacketSize & 0x7FFu) * (1u + ((wMaxPacketSize >> 11) & 3u));
    }
};

struct UsbInterface {
    std::uint8_t number = 0;
    std::uint8_t alternate = 0;
    std::uint8_t interfaceClass = 0;
    std::uint8_t interfaceSubclass = 0;
    std::uint8_t interfaceProtocol = 0;
    std::vector<UsbEndpoint> endpoints;
};

struct UsbConfiguration {
    static constexpr std::size_t kMaxInterfaces = 8;
    static constexpr std::size_t kHeaderLength = 9;

    std::uint8_t value = 0;
    std::vector<UsbInterface> interfaces;   // at most kMaxInterfaces, in descriptor order

    // How many alternate settings the configuration offers for an interface number.
    int alternateSettings(std::uint8_t number) const;

    // The wTotalLength of a configuration descriptor's first 9 bytes, or 0
    // when they are not one.
    static std::uint16_t totalLength(std::span<const std::uint8_t> header);
    // Walks a whole configuration descriptor: an interface object for each
    // interface descriptor (up to kMaxInterfaces; endpoints after a further
    // one are dropped with it), an endpoint for each endpoint descriptor
    // following an interface.  nullopt when the header is not a configuration.
    static std::optional<UsbConfiguration> parse(std::span<const std::uint8_t> bytes);
};

// The language identifiers of string descriptor 0 (an empty list when the
// bytes are not one).
std::vector<std::uint16_t> parseLanguages(std::span<const std::uint8_t> bytes);
// The language the strings are read in: US English (0x0409) when offered,
// else the first one offered, else 0.
std::uint16_t chooseLanguage(const std::vector<std::uint16_t>& languages);
// The text of a string descriptor (UTF-16LE), as UTF-8; nullopt unless the
// descriptor is longer than 2 bytes and of type 3.
std::optional<std::string> parseString(std::span<const std::uint8_t> bytes);

}  // namespace mvx::adapters
