// The little of a monitor's EDID that tells an operator which monitor hangs
// on a bus: the maker's three-letter ID, the product code and the name from
// the monitor-name descriptor.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mvx::cli {

struct EdidSummary {
    std::string manufacturer;    // "DEL"
    int productCode = 0;
    std::string name;            // empty when the EDID names none
    bool checksumOk = false;     // the base block's bytes sum to 0 modulo 256
};

// The summary of an EDID's 128-byte base block; nullopt when the bytes are
// too few or do not begin with the EDID header.
std::optional<EdidSummary> parseEdid(std::span<const std::uint8_t> bytes);

// "DELL U2415", or "DEL a0b4" for an EDID without a name.
std::string monitorText(const EdidSummary& edid);

}  // namespace mvx::cli
