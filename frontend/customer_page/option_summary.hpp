// The page's option summary (the five read-only edits of the compact view)
// and its window title.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "customer_page/page_options.hpp"
#include "mvx/platform/ini.hpp"
#include "shell/option_records.hpp"

namespace mvx::customer_page {

inline constexpr std::string_view kNone = "--";

// Name tables; an index outside a table gives its "--".
inline constexpr std::array<std::string_view, 4> kInterfaceNames{"USB", "FTDI", "IIC", "CVT IIC"};
inline constexpr std::array<std::string_view, 3> kMcuNamesOneBoard{"5310", "5312", "SerialFlash"};
inline constexpr std::array<std::string_view, 3> kMcuNamesFourBoards{"5310_1to4", "5312_1to4", "SF_1to4"};
inline constexpr std::array<std::string_view, 2> kEraseNames{"Mass Erase", "Page Erase"};
inline constexpr std::array<std::string_view, 2> kFileTypeNames{"HEX", "BIN"};

struct OptionSummary {
    std::string mcu;
    std::string interface;
    std::string eraseType;
    std::string eraseSize;   // "32k"; "--" unless Ext True Size and Page erase
    std::string fileType;
    bool operator==(const OptionSummary&) const = default;
};

OptionSummary optionSummary(const PageOptions& options);

// The window text: the operator's title followed by the program file's date
// (" 2024-3-7 ").
std::string pageTitle(const tool::AdvancedSettings& advanced, const std::string& programPath);

// Retitling: the title, also mirrored into the registry store's "isp_title"
// where a second instance looks for it.
struct Retitle {
    std::string title;
    std::optional<platform::IniError> mirrorError;
};
Retitle retitle(const tool::AdvancedSettings& advanced, const std::string& programPath,
                const std::string& registryPath);

}  // namespace mvx::customer_page
