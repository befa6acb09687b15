// The Load LD Files dialog without widgets: the four LD files of a 1TO4 MCU
// mode, one per slot (LD_M1_0, LD_M1_1, LD_M2_0, LD_M2_1).  Opened editable by
// the customer page's 1TO4 switch and read-only by "Show LD Files".
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

#include "shell/settings_store.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::settings_dialogs {

inline constexpr int kLdSlots = tool::kLdFilesPerFamily;
using LdPaths = std::array<std::string, kLdSlots>;

// The MCU modes that drive four boards (5310, 5312, serial flash): the only
// ones with LD files.
inline constexpr int kFirstOneToFourMode = 3;
inline constexpr int kLastOneToFourMode = 5;
inline bool isOneToFourMode(int mode) { return mode >= kFirstOneToFourMode && mode <= kLastOneToFourMode; }

// The controls, named for the Qt dialog and the tests.
namespace ld_names {
inline constexpr std::string_view dialog = "loadLdFilesDialog";
inline constexpr std::array<std::string_view, kLdSlots> labels{"ldSlot1Label", "ldSlot2Label", "ldSlot3Label",
                                                               "ldSlot4Label"};
inline constexpr std::array<std::string_view, kLdSlots> edits{"ldSlot1Edit", "ldSlot2Edit", "ldSlot3Edit",
                                                              "ldSlot4Edit"};
inline constexpr std::array<std::string_view, kLdSlots> loadButtons{"ldSlot1LoadButton", "ldSlot2LoadButton",
                                                                    "ldSlot3LoadButton", "ldSlot4LoadButton"};
inline constexpr std::string_view okButton = "ldOkButton";
inline constexpr std::string_view exitButton = "ldExitButton";   // kept hidden; does nothing
}  // namespace ld_names

inline constexpr std::array<std::string_view, kLdSlots> kLdSlotCaptions{"LD_M1_0", "LD_M1_1", "LD_M2_0", "LD_M2_1"};
inline constexpr std::string_view kLdDialogTitle = "Load LD Files";

enum class LdControlKind { Label, Edit, LoadButton, OkButton, ExitButton };

struct LdControlState {
    LdControlKind kind;
    int slot = -1;            // 0..3 for the per-slot controls
    std::string text;         // caption, or the path an edit shows
    bool enabled = true;
    bool visible = true;
    bool readOnly = false;
    bool operator==(const LdControlState&) const = default;
};

// The file types the Load buttons offer: "hex Files" *.h*, "bin Files" *.bin.
std::vector<tool::PatternFilter> ldFileFilters();

class LoadLdFilesModel {
public:
    // The set-up: the paths are taken in modes 3..5 and emptied in any other.
    LoadLdFilesModel(int mode, bool editable, const LdPaths& paths);

    int mode() const { return mode_; }
    bool editable() const { return editable_; }
    const LdPaths& paths() const { return paths_; }
    // The Load buttons work only in an editable dialog of a 1TO4 mode.
    bool loadEnabled() const { return editable_ && isOneToFourMode(mode_); }

    // Every control by name, in the order the dialog lays them out.
    std::vector<std::pair<std::string_view, LdControlState>> controls() const;
    LdControlState state(std::string_view name) const;

    // Load for slot 0..3: the open picker; the chosen file becomes the slot's
    // path.  False (nothing asked, nothing changed) when the buttons are
    // disabled or the slot does not exist; false when the picker is cancelled.
    bool load(int slot, tool::ShellUi& ui);

    // OK: the four paths the caller takes.
    const LdPaths& ok() const { return paths_; }

private:
    int mode_;
    bool editable_;
    LdPaths paths_;
};

}  // namespace mvx::settings_dialogs
