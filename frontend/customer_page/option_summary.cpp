#include "customer_page/option_summary.hpp"

#include "shell/settings_store.hpp"
#include "shell/window_title.hpp"

namespace mvx::customer_page {

namespace {

template <std::size_t N>
std::string nameAt(const std::array<std::string_view, N>& table, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N)
        return std::string(kNone);
    return std::string(table[static_cast<std::size_t>(index)]);
}

}  // namespace

OptionSummary optionSummary(const PageOptions& options)
{
    OptionSummary summary;
    // Four boards by the 1TO4 switch or by a four-board MCU type.
    const int family = mcuFamily(options.mcuType);
    summary.mcu = engineMode(options) >= kR5310x4 ? nameAt(kMcuNamesFourBoards, family)
                                                  : nameAt(kMcuNamesOneBoard, family);
    summary.interface = nameAt(kInterfaceNames, options.interfaceKind);
    summary.eraseType = nameAt(kEraseNames, options.eraseType);
    summary.eraseSize = options.extTrueSize != 0 && options.eraseType == kPageErase
                            ? std::to_string(options.trueSizeIndex + 1) + "k"
                            : std::string(kNone);
    summary.fileType = nameAt(kFileTypeNames, options.fileType);
    return summary;
}

std::string pageTitle(const tool::AdvancedSettings& advanced, const std::string& programPath)
{
    return tool::titleWithProgramDate(tool::textOf(advanced.user_title), programPath);
}

Retitle retitle(const tool::AdvancedSettings& advanced, const std::string& programPath,
                const std::string& registryPath)
{
    Retitle result{pageTitle(advanced, programPath), std::nullopt};
    result.mirrorError = tool::mirrorWindowTitle(registryPath, tool::textOf(advanced.user_title));
    return result;
}

}  // namespace mvx::customer_page
