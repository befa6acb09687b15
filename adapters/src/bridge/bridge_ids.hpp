// Which USB device is the bridge board: its vendor:product, read from the
// registry store's key "NorVane USB Bridge" (values "vendor_id" and
// "product_id", 32-bit values holding 16-bit identifiers).  A missing or
// out-of-range value keeps its default.
#pragma once

#include <cstdint>
#include <string_view>

namespace mvx::platform {
class RegistryStore;
}

namespace mvx::adapters {

inline constexpr std::string_view kBridgeKey = "NorVane USB Bridge";
inline constexpr std::string_view kBridgeVendorValue = "vendor_id";
inline constexpr std::string_view kBridgeProductValue = "product_id";

struct BridgeIds {
    std::uint16_t vendor = 0x1209;    // a test identifier for privately used boards,
    std::uint16_t product = 0x0001;   // to be replaced by the board's own in the store
};

BridgeIds readBridgeIds(const platform::RegistryStore& store);

}  // namespace mvx::adapters
