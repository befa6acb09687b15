#include "customer_page/ld_choice.hpp"

namespace mvx::customer_page {

std::string ldDefaultKey(std::size_t family, int slot)
{
    return std::string(tool::kLdFamilies[family]) + "_ASS" + std::to_string(slot);
}

tool::LdTable readLdDefaults(const std::string& iniPath)
{
    tool::LdTable defaults;
    for (std::size_t family = 0; family < defaults.size(); ++family)
        for (int slot = 1; slot <= tool::kLdFilesPerFamily; ++slot)
            defaults[family][static_cast<std::size_t>(slot - 1)] =
                platform::readProfileString(iniPath, tool::kSettingSection, ldDefaultKey(family, slot), "");
    return defaults;
}

std::optional<platform::IniError> writeLdDefaults(const std::string& iniPath, std::size_t family,
                                                  const LdSlots& paths)
{
    for (int slot = 1; slot <= tool::kLdFilesPerFamily; ++slot)
        if (auto error = platform::writeProfileString(iniPath, tool::kSettingSection, ldDefaultKey(family, slot),
                                                      paths[static_cast<std::size_t>(slot - 1)]))
            return error;
    return std::nullopt;
}

void unifyLdSlots(tool::LdTable& table)
{
    for (std::size_t slot = 0; slot < table[0].size(); ++slot) {
        std::string chosen;
        for (const LdSlots& family : table) {
            if (!family[slot].empty()) {
                chosen = family[slot];
                break;
            }
        }
        for (LdSlots& family : table)
            family[slot] = chosen;
    }
}

}  // namespace mvx::customer_page
