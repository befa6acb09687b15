#include "bridge/bridge_ids.hpp"

#include <optional>
#include <string>

#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/registry.hpp"

namespace mvx::adapters {
namespace {

std::uint16_t readId(const platform::RegistryStore& store, std::string_view value, std::uint16_t fallback)
{
    const std::optional<std::uint32_t> stored = store.readDword(kBridgeKey, value);
    if (!stored)
        return fallback;
    if (*stored > 0xFFFF) {
        platform::debugOutput("USB bridge: " + std::string(value) + " is not a 16-bit identifier, default kept");
        return fallback;
    }
    return static_cast<std::uint16_t>(*stored);
}

}  // namespace

BridgeIds readBridgeIds(const platform::RegistryStore& store)
{
    BridgeIds ids;
    ids.vendor = readId(store, kBridgeVendorValue, ids.vendor);
    ids.product = readId(store, kBridgeProductValue, ids.product);
    return ids;
}

}  // namespace mvx::adapters
