// The Advanced Setting dialog's model: the AdvancedSettings record being
// edited, the page's MCU mode and LD paths, and the state of every control
// as one table keyed by control.  Each handler changes the record and the
// table, sends the page what changed (synchronously, through the
// SettingsReceiver) and shows its messages through the ShellUi; it answers
// what it sent and showed.  There is no undo: Cancel keeps what was sent,
// and the page takes the record back however the dialog ends.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings_dialogs/settings_receiver.hpp"
#include "shell/option_records.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::settings_dialogs {

enum class AdvancedControl : std::uint8_t {
    // "Customer Page Setting"
    CustomerGroup, SavedFw, SavedLd, ShowLdFiles, ExportSavedFw, ExportLdFiles, ShowMcu, ShowInfo, ChangeTitle,
    // "Start Page"
    StartPageGroup, AssemblyPage, CustomerPage,
    // "ISP Option"
    IspOptionGroup, AutoDetect, AutoRun, SectorErase, SectorEraseBank,
    // "LD Delay Param"
    LdDelayGroup, VgaDelayLabel, VgaDelaySlider, VgaDelayValue, CksmDelayLabel, CksmDelaySlider, CksmDelayValue,
    // "ISP Repeat Test"
    RepeatGroup, RepeatTest, RepeatCountLabel, RepeatCount,
    // the FFE2/FFE3 output bytes
    FfeGroup, FfeEnable, Ffe2Label, Ffe2, Ffe3Label, Ffe3,
    // "Auto Load FW Files Before Run"
    AutoLoadGroup, AutoLoad, AutoLoadFolder, AutoLoadBrowse,
    // the three HDCP groups
    HdcpFireGroup, HdcpFire,
    HdcpKeyGroup, HdcpKeyFromFolder, HdcpKeyToTool, HdcpKeyFile, HdcpKeyBrowse,
    HdcpCheckGroup, HdcpCrc, HdcpReadAll, HdcpSaveRead, HdcpSaveFolder, HdcpSaveBrowse,
    // "Erase Type Before Auto for Flash"
    EraseGroup, MassErase, BankErase, BankIndexLabel, Bank0, Bank1, Bank2, Bank3, Bank4, Bank5, Bank6, Bank7,
    // "ISP Speed Adjust"
    SpeedGroup, UsbSpeedGroup, UsbHigh, UsbMid, UsbLow, UsbSpeedSlider, UsbSpeedValue,
    OtherUsbGroup, OtherUsbSlider, OtherUsbValue, IicSpeedGroup, IicSpeedSlider, IicSpeedValue,
    // IC code
    ReadIcGroup, ReadIc, ShowIspEnable,
    CheckIcGroup, CheckIc, IcCodeLabel, IcCode,
    // "Set Flash Status after ISP"
    FlashStatusGroup, FlashStatus, FlashStatusLabel, FlashStatusValue,
    Count
};
inline constexpr std::size_t kAdvancedControlCount = static_cast<std::size_t>(AdvancedControl::Count);

enum class ControlKind : std::uint8_t { Group, CheckBox, Radio, Button, Edit, Label, Slider, Combo };

struct ControlDef {
    AdvancedControl id;
    ControlKind kind;
    std::string_view name;      // objectName
    std::string_view caption;
    int minimum = 0;            // sliders: range and tick interval
    int maximum = 0;
    int tick = 0;
};

// Every control in enum order (checked at compile time).
extern const std::array<ControlDef, kAdvancedControlCount> kAdvancedControls;
const ControlDef& controlDef(AdvancedControl c);

inline constexpr std::string_view kAdvancedSettingDialogName = "advancedSettingDialog";
inline constexpr int kRepeatCountMin = 1;
inline constexpr int kRepeatCountMax = 10000;
inline constexpr std::size_t kHexEditLength = 2;
inline constexpr std::string_view kBrowseFolderTitle = "Please Select Directory";
inline constexpr std::string_view kSaveFolderTitle = "Select save folder";
inline constexpr std::string_view kExportDone = "Export successfully!";
inline constexpr std::string_view kNoKeyFileMessage = "Please Load HDCP Key File first!!";
inline constexpr std::array<std::string_view, 8> kSectorEraseBanks{"Bank0", "Bank1", "Bank2", "Bank3",
                                                                   "Bank4", "Bank5", "Bank6", "Bank7"};

// The state of one control.  `text` is what an edit or a value label shows
// (labels with a fixed caption keep it empty); `value` a slider's position or
// the combo's selection.
struct ControlState {
    bool enabled = true;
    bool checked = false;
    int value = 0;
    std::string text;
    bool operator==(const ControlState&) const = default;
};

// The byte edits' text: each character a digit ('0'..'9', 'A'..'F',
// 'a'..'f'); any other character repeats the previous character's digit (0
// for the first).  Empty gives 0.
int parseHexText(std::string_view text);
// Two upper-case hexadecimal digits.
std::string hexText(int value);
// "%dK" of 6000 / (divisor + 1): the FTDI clock a divisor gives.
std::string otherUsbSpeedLabel(int divisor);

// Opens the Edit Title dialog with the current title; the title after OK,
// nullopt after Cancel.  The dialog sends its own live changes.
class TitleEditor {
public:
    virtual ~TitleEditor() = default;
    virtual std::optional<std::string> editTitle(std::string_view current) = 0;
};

// What "Show LD Files" opens the Load LD Files dialog with.
struct LdFilesView {
    int mcuMode = 0;
    std::array<std::string, 4> paths;
};

class AdvancedSettingModel {
public:
    // mcuMode 0..5 (3..5: the page's 1TO4 forms); ldPaths the saved LD names
    // of the page's MCU type in 1TO4 mode, empty otherwise.  The controls are
    // laid out from the record at once.
    AdvancedSettingModel(const tool::AdvancedSettings& record, int mcuMode, std::array<std::string, 4> ldPaths,
                         tool::ShellUi& ui, SettingsReceiver& page);

    const tool::AdvancedSettings& record() const { return record_; }
    const ControlState& state(AdvancedControl c) const { return controls_[index(c)]; }
    int mcuMode() const { return mcuMode_; }

    // The operator's actions.
    DialogResult toggle(AdvancedControl box, bool checked);
    DialogResult choose(AdvancedControl radio);
    DialogResult editText(AdvancedControl edit, std::string_view text);
    DialogResult slide(AdvancedControl slider, int position);
    DialogResult selectSectorEraseBank(int index);
    // Browse, Export: the pickers through the ShellUi.
    DialogResult press(AdvancedControl button);
    DialogResult changeTitle(TitleEditor& editor);
    LdFilesView showLdFiles() const { return {mcuMode_, ldPaths_}; }
    // OK reads the edits; false when one of them was refused (prompt shown).
    bool accept(DialogResult& result);

private:
    static std::size_t index(AdvancedControl c) { return static_cast<std::size_t>(c); }
    ControlState& at(AdvancedControl c) { return controls_[index(c)]; }
    void enable(AdvancedControl c, bool on) { at(c).enabled = on; }
    void check(AdvancedControl c, bool on) { at(c).checked = on; }
    void enableFollowers(AdvancedControl box, bool on);
    void setFlag(AdvancedControl box, bool on);

    void refresh();
    void lockForHdcp();
    void restoreAfterHdcp();
    void showSpeeds();
    bool readAll(DialogResult& result);
    void notify(DialogResult& result);
    void prompt(std::string text, DialogResult& result);
    DialogResult refuseMissing(AdvancedControl box, unsigned bitsFrom, std::string_view heading,
                               std::string_view item);
    DialogResult browseFolder(tool::TextField& field, AdvancedControl edit);
    DialogResult exportTo(tool::SettingsNotifyCode code);

    tool::AdvancedSettings record_;
    int mcuMode_;
    std::array<std::string, 4> ldPaths_;
    tool::ShellUi& ui_;
    SettingsReceiver& page_;
    std::array<ControlState, kAdvancedControlCount> controls_{};
};

}  // namespace mvx::settings_dialogs
