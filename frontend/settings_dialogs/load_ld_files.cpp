#include "settings_dialogs/load_ld_files.hpp"

namespace mvx::settings_dialogs {

std::vector<tool::PatternFilter> ldFileFilters()
{
    return {{"hex Files", {"*.h*"}}, {"bin Files", {"*.bin"}}};
}

LoadLdFilesModel::LoadLdFilesModel(int mode, bool editable, const LdPaths& paths)
    : mode_(mode), editable_(editable), paths_(isOneToFourMode(mode) ? paths : LdPaths{})
{
}

std::vector<std::pair<std::string_view, LdControlState>> LoadLdFilesModel::controls() const
{
    std::vector<std::pair<std::string_view, LdControlState>> all;
    for (int k = 0; k < kLdSlots; ++k) {
        const auto s = static_cast<std::size_t>(k);
        all.emplace_back(ld_names::labels[s], LdControlState{LdControlKind::Label, k, std::string(kLdSlotCaptions[s])});
        all.emplace_back(ld_names::edits[s],
                         LdControlState{LdControlKind::Edit, k, paths_[s], true, true, /*readOnly=*/true});
        all.emplace_back(ld_names::loadButtons[s],
                         LdControlState{LdControlKind::LoadButton, k, "Load", loadEnabled()});
    }
    all.emplace_back(ld_names::okButton, LdControlState{LdControlKind::OkButton, -1, "OK"});
    all.emplace_back(ld_names::exitButton,
                     LdControlState{LdControlKind::ExitButton, -1, "Exit", true, /*visible=*/false});
    return all;
}

LdControlState LoadLdFilesModel::state(std::string_view name) const
{
    for (auto& [controlName, state] : controls())
        if (controlName == name)
            return state;
    return LdControlState{LdControlKind::Label, -1, {}, false, false};
}

bool LoadLdFilesModel::load(int slot, tool::ShellUi& ui)
{
    if (!loadEnabled() || slot < 0 || slot >= kLdSlots)
        return false;
    const std::optional<std::string> chosen = ui.chooseOpenFileAmong(ldFileFilters());
    if (!chosen)
        return false;
    paths_[static_cast<std::size_t>(slot)] = *chosen;
    return true;
}

}  // namespace mvx::settings_dialogs
