#include "edid.hpp"

#include <array>
#include <cstdio>
#include <numeric>

namespace mvx::cli {
namespace {

constexpr std::size_t kBlockBytes = 128;
constexpr std::array<std::uint8_t, 8> kHeader{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
constexpr std::array<std::size_t, 4> kDescriptors{54, 72, 90, 108};
constexpr std::uint8_t kMonitorNameTag = 0xFC;

}  // namespace

std::optional<EdidSummary> parseEdid(std::span<const std::uint8_t> bytes)
{
    if (bytes.size() < kBlockBytes || !std::equal(kHeader.begin(), kHeader.end(), bytes.begin()))
        return std::nullopt;
    EdidSummary edid;
    const unsigned id = (unsigned{bytes[8]} << 8) | bytes[9];
    for (int shift : {10, 5, 0}) {
        const unsigned letter = (id >> shift) & 0x1Fu;
        edid.manufacturer += letter >= 1 && letter <= 26 ? static_cast<char>('@' + letter) : '?';
    }
    edid.productCode = bytes[10] | (bytes[11] << 8);
    const unsigned sum = std::accumulate(bytes.begin(), bytes.begin() + kBlockBytes, 0u);
    edid.checksumOk = sum % 256 == 0;
    for (std::size_t at : kDescriptors) {
        if (bytes[at] != 0 || bytes[at + 1] != 0 || bytes[at + 3] != kMonitorNameTag)
            continue;
        std::string name;
        for (std::size_t i = at + 5; i < at + 18 && bytes[i] != 0x0A; ++i)
            name += bytes[i] >= 0x20 && bytes[i] < 0x7F ? static_cast<char>(bytes[i]) : '?';
        while (!name.empty() && name.back() == ' ')
            name.pop_back();
        edid.name = name;
        break;
    }
    return edid;
}

std::string monitorText(const EdidSummary& edid)
{
    if (!edid.name.empty())
        return edid.name;
    char code[8];
    std::snprintf(code, sizeof code, "%04x", static_cast<unsigned>(edid.productCode) & 0xFFFFu);
    return edid.manufacturer + " " + code;
}

}  // namespace mvx::cli
