// The registry values of the tool ("isp_title", "MVXTool Version") kept in a
// small INI-format store: one section per key, one entry per value.
// Location: $MVX_REGISTRY, else $XDG_CONFIG_HOME/Norvane/registry.ini.
//
// Text values are stored quoted so that blanks at either end survive; 32-bit
// values are stored as "dword:" and eight hex digits (plain decimal text is
// accepted on read, for hand-edited stores).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mvx/platform/ini.hpp"

namespace mvx::platform {

inline constexpr std::string_view kDebugToolKey = "NorVane DebugTool Configuration Parameters";
inline constexpr std::string_view kCustomerToolKey = "NorVane Customer Tool Configuration Parameters";
inline constexpr std::string_view kIspTitleValue = "isp_title";
inline constexpr std::string_view kToolVersionValue = "MVXTool Version";

class RegistryStore {
public:
    explicit RegistryStore(std::string path) : path_(std::move(path)) {}
    static std::string defaultPath();
    static RegistryStore openDefault() { return RegistryStore(defaultPath()); }

    const std::string& path() const { return path_; }

    bool keyExists(std::string_view key) const;
    // Creates the key (an empty section) when missing, and the store's folder.
    std::optional<IniError> createKey(std::string_view key);

    std::optional<std::string> readString(std::string_view key, std::string_view value) const;
    // nullopt when the key or value is missing or does not hold a 32-bit number.
    std::optional<std::uint32_t> readDword(std::string_view key, std::string_view value) const;

    // Text values must not contain line breaks.
    std::optional<IniError> writeString(std::string_view key, std::string_view value,
                                        std::string_view text);
    std::optional<IniError> writeDword(std::string_view key, std::string_view value,
                                       std::uint32_t number);

private:
    std::optional<IniError> write(std::string_view key, std::string_view value,
                                  std::string_view stored);

    std::string path_;
};

}  // namespace mvx::platform
