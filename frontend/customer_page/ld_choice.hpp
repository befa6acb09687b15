// The LD files the customer page keeps for its 1TO4 switch: the LD defaults
// proposed when the operator picks LD files ("5310_ASS1" .. "SF_ASS4" in
// [Setting], read and written only here), and the unification that makes
// the three families hold the same file per slot.
#pragma once

#include <array>
#include <optional>
#include <string>

#include "mvx/platform/ini.hpp"
#include "shell/settings_store.hpp"

namespace mvx::customer_page {

using LdSlots = std::array<std::string, tool::kLdFilesPerFamily>;
using LdFlags = std::array<std::array<bool, tool::kLdFilesPerFamily>, tool::kLdFamilies.size()>;

// "<family>_ASS<slot>", slot 1..4.
std::string ldDefaultKey(std::size_t family, int slot);

// The twelve LD defaults; a missing file or key reads as empty.
tool::LdTable readLdDefaults(const std::string& iniPath);
// Writes one family's four LD defaults (the first failure, if any).
std::optional<platform::IniError> writeLdDefaults(const std::string& iniPath, std::size_t family,
                                                  const LdSlots& paths);

// Slot by slot: the 5310 entry when it is not empty, else the 5312 entry,
// else the serial flash one, becomes the entry of all three families.
void unifyLdSlots(tool::LdTable& table);

}  // namespace mvx::customer_page
