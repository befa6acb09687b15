// The option half of the customer page's model: the page options, the
// per-MCU memory, the settings file behind them, what each option control's
// action changes, the keyboard, the close question and the settings
// notifications of the dialogs.  No widgets: the Qt page forwards its
// controls' actions here and draws options(), layout() and summary(); the
// file rows are a separate model, and the follow-ups an action returns name
// the row work it asks of that model (reload, recompute, refresh names).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "customer_page/bank_layout.hpp"
#include "customer_page/option_summary.hpp"
#include "customer_page/page_options.hpp"
#include "shell/settings_store.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::customer_page {

struct PageFiles {
    std::string settingsPath;    // "ISP__PSI.ini" in the work folder
    std::string programFolder;   // default auto-load folder
    std::string programPath;     // the running program, whose date ends the title
    std::string registryPath;    // where the title is mirrored
};

// What an action asks of the rest of the page, in the order to run it.
enum class FollowUp : std::uint8_t {
    RefreshRowNames,        // paths, or the stored names in package mode
    ReloadFileRows,         // the rows of the current file type from the settings file
    RecomputeBankRows,      // the file information of every bank row of the MCU type
    RecomputeLastBank,      // the short last bank (row given) when that row is loaded
    RecomputeMissingFiles,  // missing_files_mask and the action-button rule
    Retitle,                // retitle(): window text and registry mirror
    ChooseLdFiles,          // the 1TO4 switch's LD-file choice for the MCU type
    ExportStoredFirmware,   // copy the stored firmware files into folder
    ExportStoredLdFiles,    // copy the stored LD files into folder
    RelayoutView,           // the view changed: apply layout() again
    HideRunResult,          // hide the result pictures and the IC-code text
    UnloadEngine,           // the page is closing
};

struct FollowUpStep {
    FollowUp what;
    int row = -1;          // RecomputeLastBank
    std::string folder;    // the two exports
    bool operator==(const FollowUpStep&) const = default;
};

struct FieldChange {
    OptionField field;
    int before;
    int after;
    bool operator==(const FieldChange&) const = default;
};

// What one action did.
struct ChangeRecord {
    std::vector<FieldChange> changed;    // option values, the forced ones included
    std::uint16_t rowsBefore = 0;        // the ticked rows before and after
    std::uint16_t rowsAfter = 0;
    std::vector<FollowUpStep> followUps;
    bool dirtied = false;                // the action marked the settings changed
    bool stored = false;                 // the settings file was written
    bool declined = false;               // the operator declined; nothing changed
    std::optional<std::string> error;    // refused input or a failed write (already shown)

    bool has(FollowUp what) const;
    std::optional<int> changeOf(OptionField field) const;   // the new value, when it changed
};

// ---- keyboard --------------------------------------------------------------------

// Key codes: the virtual-key numbers, letters as their upper-case character.
inline constexpr int kKeyEnter = 0x0D;
inline constexpr int kKeyEscape = 0x1B;
inline constexpr int kKeyControl = 0x11;
// The view key, pressed with Control held: Ctrl+M switches the view
// (compact view) or the page (full view).
inline constexpr std::array<int, 1> kViewKeySequence{'M'};

enum class KeyAction : std::uint8_t {
    PassOn,        // not the page's: the focused control gets it
    Consume,       // swallowed; Escape never closes the page
    StartRun,      // as the action button
    ToggleView,
    SwitchPage,    // the start-up loop opens the other page; the dialog ends with OK
};

enum class KeyMatch : std::uint8_t { Enter, Escape, ViewSequenceDone };

struct KeyRule {
    KeyMatch key;
    int viewMode;          // 0: either view
    Need ispButtonEnabled;
    KeyAction action;
};

// The first rule that matches decides; a key no rule matches is passed on.
inline constexpr std::array<KeyRule, 5> kKeyRules{{
    {KeyMatch::Enter, kCompactView, Need::Yes, KeyAction::StartRun},
    {KeyMatch::Enter, 0, Need::Any, KeyAction::Consume},
    {KeyMatch::Escape, 0, Need::Any, KeyAction::Consume},
    {KeyMatch::ViewSequenceDone, kCompactView, Need::Any, KeyAction::ToggleView},
    {KeyMatch::ViewSequenceDone, kFullView, Need::Any, KeyAction::SwitchPage},
}};

// ---- closing ---------------------------------------------------------------------

inline constexpr std::string_view kSaveQuestion = "Do you want to save the settings?";
inline constexpr std::string_view kSavedHexQuestion = "Saved hex files will not be used, continue?";
inline constexpr std::string_view kConfirmCaption = "Confirm";
inline constexpr std::string_view kIspEnableWarning = "If you select 'Enable' option, it really will update FW!";

struct CloseOutcome {
    bool closes = false;
    bool asked = false;
    ChangeRecord record;
};

// ---- the model ----------------------------------------------------------------------

class OptionModel {
public:
    OptionModel(PageFiles files, tool::ShellUi& ui);

    // Reads the settings file: the options of the stored MCU type, the
    // per-MCU memory, AdvancedSettings, the protect settings, the file names.
    // Clears the dirty, saved and switch-page flags.  Until then the model
    // holds every default.  The page runs refresh() after it.
    void load();

    const PageOptions& options() const { return options_; }
    const tool::CustomerSettings& settings() const { return settings_; }
    tool::CustomerSettings& settings() { return settings_; }
    const tool::AdvancedSettings& advanced() const { return settings_.advanced; }
    const PageFiles& files() const { return files_; }

    int viewMode() const { return viewMode_; }
    void setViewMode(int mode) { viewMode_ = mode == kFullView ? kFullView : kCompactView; }
    bool settingsDirty() const { return settingsDirty_; }
    bool settingsSaved() const { return settingsSaved_; }
    bool mcuChanged() const { return mcuChanged_; }
    bool switchPage() const { return switchPage_; }
    bool ispRunning() const { return ispRunning_; }
    void setIspRunning(bool running) { ispRunning_ = running; }

    // PageRefresh's option part: forced values, then what the rows and the
    // title must follow.
    ChangeRecord refresh();

    // A radio of a numbered group, the Ext True Size box or the true-size
    // combo.  A value outside the field's range is refused.
    ChangeRecord select(OptionField field, int value);
    ChangeRecord tickRow(int row, bool ticked);
    // The rows the file rows ticked themselves (companions found beside a
    // Bank0 file, the banks of a whole image): marks the settings changed.
    ChangeRecord setTickedRows(std::uint16_t rows);
    // The custom slave address: empty, or one or two hexadecimal digits.
    ChangeRecord setAddressText(std::string_view text);

    // Save Settings: stores when dirty, then toggles the view.
    ChangeRecord saveSettings();
    ChangeRecord toggleView();
    // OK, Cancel or the close box; refused while a run is in progress.
    CloseOutcome close();

    // The record the Advanced Setting dialog gives back when it closes: one
    // that differs from the record the dialog opened with (`before`; its
    // notifications may have brought the page's copy up to date already)
    // marks the settings changed and drops the package's firmware when the
    // MCU type is shown; the row names, the refresh and the title follow.
    ChangeRecord takeAdvanced(const tool::AdvancedSettings& before, const tool::AdvancedSettings& returned);

    // WM_SETTINGS_NOTIFY from a settings dialog.
    ChangeRecord settingsNotify(std::uintptr_t wParam, std::intptr_t lParam);

    // Refreshes, then writes the whole settings file whether or not it is
    // marked changed (after the Flash Protect dialog, however it closed).
    ChangeRecord refreshAndStore();
    // Before an export: the page's options into the current mode's record,
    // and the settings file written (and the mark cleared) when marked changed.
    ChangeRecord storeForExport();

    // Key-down and key-up as the page sees them before its controls.
    KeyAction keyDown(int key, bool ispButtonEnabled);
    void keyUp(int key);

    PageLayout layout(std::uint16_t existingRows, bool actionAllowed) const;
    OptionSummary summary() const { return optionSummary(options_); }
    Retitle retitleNow() const { return retitle(settings_.advanced, files_.programPath, files_.registryPath); }

private:
    ChangeRecord selectMcuType(int mcuType);
    ChangeRecord selectOneToFour(int value);
    ChangeRecord selectFileType(int value);
    ChangeRecord selectIspEnable(int value);
    ChangeRecord selectTrueSize(int index);
    void refreshInto(ChangeRecord& record);
    void storeInto(ChangeRecord& record);
    void finish(ChangeRecord& record, const PageOptions& before) const;
    void markDirty(ChangeRecord& record);

    PageFiles files_;
    tool::ShellUi& ui_;
    tool::CustomerSettings settings_;
    PageOptions options_;
    int viewMode_ = kCompactView;
    bool settingsDirty_ = false;
    bool settingsSaved_ = false;
    bool mcuChanged_ = false;
    bool switchPage_ = false;
    bool ispRunning_ = false;
    bool controlHeld_ = false;
    std::size_t sequencePosition_ = 0;
};

}  // namespace mvx::customer_page
