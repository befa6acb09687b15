#include "customer_page/page_options.hpp"

#include <cctype>

namespace mvx::customer_page {

const OptionRange& optionRange(OptionField field)
{
    for (const OptionRange& range : kOptionRanges) {
        if (range.field == field)
            return range;
    }
    return kOptionRanges.front();   // every field has its row; not reached
}

int engineMode(const PageOptions& options)
{
    const bool fourBoards = options.oneToFour == kFourBoards || options.mcuType >= kR5310x4;
    return mcuFamily(options.mcuType) + (fourBoards ? 3 : 0);
}

std::optional<int> parseAddressText(std::string_view text)
{
    if (text.empty() || text.size() > 2)
        return std::nullopt;
    int address = 0;
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (std::isxdigit(u) == 0)
            return std::nullopt;
        const int digit = std::isdigit(u) != 0 ? c - '0' : std::tolower(u) - 'a' + 10;
        address = address * 16 + digit;
    }
    return address;
}

tool::ModeOptions rememberedValues(const PageOptions& options)
{
    tool::ModeOptions m;
    m.interface = options.interfaceKind;
    m.ispaddr = options.addressMode;
    m.check = options.checkType;
    m.brand = options.flashBrand;
    m.isptype = options.ispType;
    m.erase = options.eraseType;
    m.extend = options.extTrueSize;
    m.ex_size = options.trueSizeIndex;
    m.filecheck = options.tickedRows;
    m.ispfiletype = options.fileType;
    m.ispoption = options.oneToFour;
    m.ssttype = options.sstType;
    return m;
}

void restoreValues(PageOptions& options, const tool::ModeOptions& m)
{
    options.interfaceKind = m.interface;
    options.addressMode = m.ispaddr;
    options.checkType = m.check;
    options.flashBrand = m.brand;
    options.ispType = m.isptype;
    options.eraseType = m.erase;
    options.extTrueSize = m.extend;
    options.trueSizeIndex = m.ex_size;
    options.tickedRows = static_cast<std::uint16_t>(m.filecheck);
    options.fileType = m.ispfiletype;
    options.oneToFour = m.ispoption;
    options.sstType = m.ssttype;
}

PageOptions optionsFromSettings(const tool::CustomerSettings& settings)
{
    PageOptions options;
    options.mcuType = settings.mcu >= 0 && settings.mcu < kMcuTypeCount ? settings.mcu : kR5310;
    restoreValues(options, settings.modes[static_cast<std::size_t>(options.mcuType)]);
    return options;
}

void optionsToSettings(const PageOptions& options, tool::CustomerSettings& settings)
{
    settings.mcu = options.mcuType;
    settings.modes[static_cast<std::size_t>(options.mcuType)] = rememberedValues(options);
}

}  // namespace mvx::customer_page
