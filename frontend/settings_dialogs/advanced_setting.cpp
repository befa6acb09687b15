#include "settings_dialogs/advanced_setting.hpp"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <initializer_list>
#include <utility>

namespace mvx::settings_dialogs {

namespace {

using C = AdvancedControl;
using K = ControlKind;
using Flag = std::int32_t tool::AdvancedSettings::*;

constexpr std::array<ControlDef, kAdvancedControlCount> makeControls()
{
    return {{
        {C::CustomerGroup, K::Group, "customerPageGroupBox", "Customer Page Setting"},
        {C::SavedFw, K::CheckBox, "savedFwCheckBox", "Saved F/W Files"},
        {C::SavedLd, K::CheckBox, "savedLdCheckBox", "Saved LD Files"},
        {C::ShowLdFiles, K::Button, "showLdFilesButton", "Show LD Files"},
        {C::ExportSavedFw, K::Button, "exportSavedFwButton", "Export Saved FW"},
        {C::ExportLdFiles, K::Button, "exportLdFilesButton", "Export LD Files"},
        {C::ShowMcu, K::CheckBox, "showMcuCheckBox", "Show MCU Selection"},
        {C::ShowInfo, K::CheckBox, "showInfoCheckBox", "Show ISP Information"},
        {C::ChangeTitle, K::Button, "changeTitleButton", "Change Title"},
        {C::StartPageGroup, K::Group, "startPageGroupBox", "Start Page"},
        {C::AssemblyPage, K::Radio, "assemblyPageRadio", "Assembly ISP Page"},
        {C::CustomerPage, K::Radio, "customerPageRadio", "Customer ISP Page"},
        {C::IspOptionGroup, K::Group, "ispOptionGroupBox", "ISP Option"},
        {C::AutoDetect, K::CheckBox, "autoDetectCheckBox", "Auto Detect Flash Type"},
        {C::AutoRun, K::CheckBox, "autoRunCheckBox", "Enable ISP Auto Run and Close Tool"},
        {C::SectorErase, K::CheckBox, "sectorEraseCheckBox", "Enable SectorErase Bank"},
        {C::SectorEraseBank, K::Combo, "sectorEraseBankCombo", "SectorErase Bank"},
        {C::LdDelayGroup, K::Group, "ldDelayGroupBox", "LD Delay Param"},
        {C::VgaDelayLabel, K::Label, "vgaDelayLabel", "Check VGA Connection Delay"},
        {C::VgaDelaySlider, K::Slider, "vgaDelaySlider", "Check VGA Connection Delay", 0, 500, 10},
        {C::VgaDelayValue, K::Label, "vgaDelayValueLabel", "Check VGA Connection Delay value"},
        {C::CksmDelayLabel, K::Label, "cksmDelayLabel", "Delay Before Show CKSM"},
        {C::CksmDelaySlider, K::Slider, "cksmDelaySlider", "Delay Before Show CKSM", 0, 2000, 10},
        {C::CksmDelayValue, K::Label, "cksmDelayValueLabel", "Delay Before Show CKSM value"},
        {C::RepeatGroup, K::Group, "repeatGroupBox", "ISP Repeat Test"},
        {C::RepeatTest, K::CheckBox, "repeatTestCheckBox", "Enable ISP Repeat Test"},
        {C::RepeatCountLabel, K::Label, "repeatCountLabel", "RepeatCount"},
        {C::RepeatCount, K::Edit, "repeatCountEdit", "RepeatCount"},
        {C::FfeGroup, K::Group, "ffeGroupBox", "FFE2/FFE3 Output (5310/5312)"},
        {C::FfeEnable, K::CheckBox, "ffeCheckBox", "Enable Set FFE2/FFE3 Value"},
        {C::Ffe2Label, K::Label, "ffe2Label", "0xFFE2 :  0x"},
        {C::Ffe2, K::Edit, "ffe2Edit", "0xFFE2"},
        {C::Ffe3Label, K::Label, "ffe3Label", "0xFFE3:  0x"},
        {C::Ffe3, K::Edit, "ffe3Edit", "0xFFE3"},
        {C::AutoLoadGroup, K::Group, "autoLoadGroupBox", "Auto Load FW Files Before Run"},
        {C::AutoLoad, K::CheckBox, "autoLoadCheckBox", "Enable AutoLoad FW Files before Run "},
        {C::AutoLoadFolder, K::Edit, "autoLoadFolderEdit", "AutoLoad folder"},
        {C::AutoLoadBrowse, K::Button, "autoLoadBrowseButton", "Browse"},
        {C::HdcpFireGroup, K::Group, "hdcpFireGroupBox", "HDCP Key Fire Enable"},
        {C::HdcpFire, K::CheckBox, "hdcpFireCheckBox", "Enable HDCP Key Fire"},
        {C::HdcpKeyGroup, K::Group, "hdcpKeyGroupBox", "HDCP Key File Auto Load Option"},
        {C::HdcpKeyFromFolder, K::Radio, "hdcpKeyFromFolderRadio", "Auto Load HDCP Key File from below directory"},
        {C::HdcpKeyToTool, K::Radio, "hdcpKeyToToolRadio", "Save HDCP Key File to tool and Auto load "},
        {C::HdcpKeyFile, K::Edit, "hdcpKeyFileEdit", "HDCP Key File"},
        {C::HdcpKeyBrowse, K::Button, "hdcpKeyBrowseButton", "Browse"},
        {C::HdcpCheckGroup, K::Group, "hdcpCheckGroupBox", "HDCP Key Fire Check Method Setting"},
        {C::HdcpCrc, K::Radio, "hdcpCrcRadio", "CRC Check"},
        {C::HdcpReadAll, K::Radio, "hdcpReadAllRadio", "Read All HDCP Key Byte"},
        {C::HdcpSaveRead, K::CheckBox, "hdcpSaveReadCheckBox", "Save Readed HDCP Key  File to below directroy"},
        {C::HdcpSaveFolder, K::Edit, "hdcpSaveFolderEdit", "Read HDCP Key folder"},
        {C::HdcpSaveBrowse, K::Button, "hdcpSaveBrowseButton", "Browse"},
        {C::EraseGroup, K::Group, "eraseGroupBox", "Erase Type Before Auto for Flash"},
        {C::MassErase, K::CheckBox, "massEraseCheckBox", "Enable MassErase before Auto 4 Flash"},
        {C::BankErase, K::CheckBox, "bankEraseCheckBox", "Enable BankErase before Auto 4 Flash"},
        {C::BankIndexLabel, K::Label, "bankIndexLabel", "Bank Index"},
        {C::Bank0, K::CheckBox, "bank0CheckBox", "0"},
        {C::Bank1, K::CheckBox, "bank1CheckBox", "1"},
        {C::Bank2, K::CheckBox, "bank2CheckBox", "2"},
        {C::Bank3, K::CheckBox, "bank3CheckBox", "3"},
        {C::Bank4, K::CheckBox, "bank4CheckBox", "4"},
        {C::Bank5, K::CheckBox, "bank5CheckBox", "5"},
        {C::Bank6, K::CheckBox, "bank6CheckBox", "6"},
        {C::Bank7, K::CheckBox, "bank7CheckBox", "7"},
        {C::SpeedGroup, K::Group, "speedGroupBox", "ISP Speed Adjust"},
        {C::UsbSpeedGroup, K::Group, "usbSpeedGroupBox", "Norvane USB ISP Speed"},
        {C::UsbHigh, K::Radio, "usbHighRadio", "High SPD"},
        {C::UsbMid, K::Radio, "usbMidRadio", "Mid SPD"},
        {C::UsbLow, K::Radio, "usbLowRadio", "Low SPD"},
        {C::UsbSpeedSlider, K::Slider, "usbSpeedSlider", "Norvane USB ISP Speed", 0, 10, 1},
        {C::UsbSpeedValue, K::Label, "usbSpeedValueLabel", "Norvane USB ISP Speed value"},
        {C::OtherUsbGroup, K::Group, "otherUsbGroupBox", "Other USB Speed"},
        {C::OtherUsbSlider, K::Slider, "otherUsbSlider", "Other USB Speed", 14, 200, 10},
        {C::OtherUsbValue, K::Label, "otherUsbValueLabel", "Other USB Speed value"},
        {C::IicSpeedGroup, K::Group, "iicSpeedGroupBox", "Norvane IIC ISP Speed"},
        {C::IicSpeedSlider, K::Slider, "iicSpeedSlider", "Norvane IIC ISP Speed", 0, 10, 1},
        {C::IicSpeedValue, K::Label, "iicSpeedValueLabel", "Norvane IIC ISP Speed value"},
        {C::ReadIcGroup, K::Group, "readIcGroupBox", "Read Scalar IC Code Setting"},
        {C::ReadIc, K::CheckBox, "readIcCheckBox", "Enable Read Scalar IC Code"},
        {C::ShowIspEnable, K::CheckBox, "showIspEnableCheckBox", "Show ISP Enable Option"},
        {C::CheckIcGroup, K::Group, "checkIcGroupBox", "Check Scalar IC Code before ISP"},
        {C::CheckIc, K::CheckBox, "checkIcCheckBox", "Enable Check IC Code before ISP"},
        {C::IcCodeLabel, K::Label, "icCodeLabel", "IC Code Check Value:      0x"},
        {C::IcCode, K::Edit, "icCodeEdit", "IC Code Check Value"},
        {C::FlashStatusGroup, K::Group, "flashStatusGroupBox", "Set Flash Status after ISP"},
        {C::FlashStatus, K::CheckBox, "flashStatusCheckBox", "Enable Set Flash status after ISP"},
        {C::FlashStatusLabel, K::Label, "flashStatusLabel", "Flash Status Value:           0x"},
        {C::FlashStatusValue, K::Edit, "flashStatusEdit", "Flash Status Value"},
    }};
}

constexpr bool inEnumOrder(const std::array<ControlDef, kAdvancedControlCount>& defs)
{
    for (std::size_t i = 0; i < defs.size(); ++i)
        if (static_cast<std::size_t>(defs[i].id) != i)
            return false;
    return true;
}
static_assert(inEnumOrder(makeControls()), "the control table must list every control in enum order");

// The record flag each check box edits.
struct FlagOf {
    C box;
    Flag flag;
};
constexpr std::array<FlagOf, 18> kFlags{{
    {C::SavedFw, &tool::AdvancedSettings::saved_hex},
    {C::SavedLd, &tool::AdvancedSettings::saved_ld},
    {C::ShowMcu, &tool::AdvancedSettings::show_mcu},
    {C::ShowInfo, &tool::AdvancedSettings::showinfo},
    {C::AutoDetect, &tool::AdvancedSettings::Auto_detect},
    {C::AutoRun, &tool::AdvancedSettings::enable_autorunisp},
    {C::SectorErase, &tool::AdvancedSettings::Enable_sectorerase_extendbank},
    {C::RepeatTest, &tool::AdvancedSettings::enable_isprepeattest},
    {C::FfeEnable, &tool::AdvancedSettings::enable_sete2e3output},
    {C::AutoLoad, &tool::AdvancedSettings::enable_autoload_fw_files},
    {C::HdcpFire, &tool::AdvancedSettings::enable_hdcp_key_fire},
    {C::HdcpSaveRead, &tool::AdvancedSettings::enable_save_readed_hdcp_key},
    {C::MassErase, &tool::AdvancedSettings::enable_masserasebeforeauto4flash},
    {C::BankErase, &tool::AdvancedSettings::enable_bankerasebeforeauto4flash},
    {C::ReadIc, &tool::AdvancedSettings::enable_read_ic_code},
    {C::ShowIspEnable, &tool::AdvancedSettings::enable_show_isp_enableoption},
    {C::CheckIc, &tool::AdvancedSettings::enable_check_ic_code_before_isp},
    {C::FlashStatus, &tool::AdvancedSettings::enable_setflashstatusafterisp},
}};

std::optional<Flag> flagOf(C box)
{
    for (const FlagOf& f : kFlags)
        if (f.box == box)
            return f.flag;
    return std::nullopt;
}

// The controls a check box enables while it is checked.
struct Followers {
    C box;
    std::array<C, 4> controls;
    std::size_t count;
};
constexpr std::array<Followers, 10> kFollowers{{
    {C::SavedFw, {C::ExportSavedFw}, 1},
    {C::SavedLd, {C::ShowLdFiles, C::ExportLdFiles}, 2},
    {C::SectorErase, {C::SectorEraseBank}, 1},
    {C::RepeatTest, {C::RepeatCount, C::RepeatCountLabel}, 2},
    {C::FfeEnable, {C::Ffe2Label, C::Ffe2, C::Ffe3Label, C::Ffe3}, 4},
    {C::AutoLoad, {C::AutoLoadFolder, C::AutoLoadBrowse}, 2},
    {C::HdcpSaveRead, {C::HdcpSaveFolder, C::HdcpSaveBrowse}, 2},
    {C::ReadIc, {C::ShowIspEnable}, 1},
    {C::CheckIc, {C::IcCodeLabel, C::IcCode}, 2},
    {C::FlashStatus, {C::FlashStatusLabel, C::FlashStatusValue}, 2},
}};

// The options HDCP key fire cannot run with: the lock pass clears and
// disables each box (and what follows it); the restore pass enables the box
// and reads its flag back.  "Show ISP Enable Option" follows "Enable Read
// Scalar IC Code" on the way back.
constexpr std::array<C, 14> kHdcpExcluded{C::RepeatTest, C::AutoLoad, C::FfeEnable, C::FlashStatus, C::SectorErase,
                                          C::SavedFw, C::SavedLd, C::ShowMcu, C::ShowInfo, C::MassErase,
                                          C::BankErase, C::ReadIc, C::ShowIspEnable, C::CheckIc};
// The groups, labels and sliders the lock pass disables besides.
constexpr std::array<C, 25> kHdcpLockedBesides{
    C::LdDelayGroup, C::VgaDelayLabel, C::VgaDelaySlider, C::VgaDelayValue, C::CksmDelayLabel, C::CksmDelaySlider,
    C::CksmDelayValue, C::RepeatGroup, C::AutoLoadGroup, C::FfeGroup, C::FlashStatusGroup, C::EraseGroup,
    C::BankIndexLabel, C::Bank0, C::Bank1, C::Bank2, C::Bank3, C::Bank4, C::Bank5, C::Bank6, C::Bank7,
    C::ReadIcGroup, C::CheckIcGroup, C::SectorEraseBank, C::RepeatCount};
// The HDCP option controls, usable only in HDCP mode.
constexpr std::array<C, 6> kHdcpOptions{C::HdcpKeyGroup, C::HdcpKeyFromFolder, C::HdcpKeyToTool,
                                        C::HdcpCheckGroup, C::HdcpCrc, C::HdcpReadAll};
constexpr std::array<C, 5> kHdcpPathControls{C::HdcpKeyFile, C::HdcpKeyBrowse, C::HdcpSaveRead, C::HdcpSaveFolder,
                                             C::HdcpSaveBrowse};

constexpr std::array<C, 8> kBanks{C::Bank0, C::Bank1, C::Bank2, C::Bank3, C::Bank4, C::Bank5, C::Bank6, C::Bank7};

// The sliders and the fields they move, in the order a scroll copies them.
struct SliderField {
    C slider;
    Flag field;
};
constexpr std::array<SliderField, 5> kSliders{{
    {C::VgaDelaySlider, &tool::AdvancedSettings::checkVGAconn_delay},
    {C::CksmDelaySlider, &tool::AdvancedSettings::beforeshowCKSM_delay},
    {C::UsbSpeedSlider, &tool::AdvancedSettings::norvane_usb_ispspeed},
    {C::IicSpeedSlider, &tool::AdvancedSettings::norvane_iic_ispspeed},
    {C::OtherUsbSlider, &tool::AdvancedSettings::other_usb_ispspeed},
}};

// The byte edits and their fields.
struct HexField {
    C edit;
    Flag field;
};
constexpr std::array<HexField, 4> kHexEdits{{
    {C::Ffe2, &tool::AdvancedSettings::ffe2_value},
    {C::Ffe3, &tool::AdvancedSettings::ffe3_value},
    {C::IcCode, &tool::AdvancedSettings::ic_code_check_value},
    {C::FlashStatusValue, &tool::AdvancedSettings::flashstatus_value},
}};

constexpr std::array<C, 3> kUsbFrequencies{C::UsbHigh, C::UsbMid, C::UsbLow};

int clampTo(const ControlDef& def, int value)
{
    return std::clamp(value, def.minimum, def.maximum);
}

// A picked path shows without its last part when it names a file.
std::string pathShown(const std::string& path)
{
    if (path.find('.') == std::string::npos)
        return path;
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(0, slash);
}

}  // namespace

const std::array<ControlDef, kAdvancedControlCount> kAdvancedControls = makeControls();

const ControlDef& controlDef(AdvancedControl c)
{
    return kAdvancedControls[static_cast<std::size_t>(c)];
}

int parseHexText(std::string_view text)
{
    int value = 0;
    int digit = 0;
    for (char ch : text) {
        if (ch >= '0' && ch <= '9')
            digit = ch - '0';
        else if (ch >= 'A' && ch <= 'F')
            digit = ch - 'A' + 10;
        else if (ch >= 'a' && ch <= 'f')
            digit = ch - 'a' + 10;
        value = value * 16 + digit;
    }
    return value;
}

std::string hexText(int value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    return {kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

std::string otherUsbSpeedLabel(int divisor)
{
    return std::to_string(6000 / (divisor + 1)) + "K";
}

AdvancedSettingModel::AdvancedSettingModel(const tool::AdvancedSettings& record, int mcuMode,
                                           std::array<std::string, 4> ldPaths, tool::ShellUi& ui,
                                           SettingsReceiver& page)
    : record_(record), mcuMode_(mcuMode), ldPaths_(std::move(ldPaths)), ui_(ui), page_(page)
{
    for (const ControlDef& def : kAdvancedControls)
        at(def.id).value = def.minimum;
    refresh();
}

void AdvancedSettingModel::enableFollowers(C box, bool on)
{
    for (const Followers& f : kFollowers)
        if (f.box == box)
            for (std::size_t i = 0; i < f.count; ++i)
                enable(f.controls[i], on);
}

void AdvancedSettingModel::setFlag(C box, bool on)
{
    check(box, on);
    if (auto flag = flagOf(box))
        record_.*(*flag) = on ? 1 : 0;
}

// ---- refresh --------------------------------------------------------------------------

void AdvancedSettingModel::refresh()
{
    tool::AdvancedSettings& r = record_;
    // 1, 2: the package boxes.
    enable(C::SavedFw, r.show_mcu == 0);
    enable(C::SavedLd, r.show_mcu == 0);
    const bool savedFw = r.saved_hex != 0 && r.show_mcu == 0;
    check(C::SavedFw, savedFw);
    enable(C::ExportSavedFw, savedFw);
    // 3: start page and plain flags.
    check(C::AssemblyPage, r.startpage == 0);
    check(C::CustomerPage, r.startpage != 0);
    for (C box : {C::ShowMcu, C::ShowInfo, C::AutoDetect, C::SectorErase, C::SavedLd})
        check(box, record_.*(*flagOf(box)) != 0);
    // 4: the LD buttons need a saved LD set shown in a 1TO4 mode.
    const bool ldButtons = r.saved_ld != 0 && r.show_mcu == 0 && mcuMode_ >= 3 && mcuMode_ <= 5;
    enable(C::ShowLdFiles, ldButtons);
    enable(C::ExportLdFiles, ldButtons);
    // 5: the sector-erase bank.
    at(C::SectorEraseBank).value = std::clamp(r.Sectorerase_bankindex, 0, 7);
    enable(C::SectorEraseBank, r.Enable_sectorerase_extendbank != 0);
    // 6: the delays.
    at(C::VgaDelaySlider).value = clampTo(controlDef(C::VgaDelaySlider), r.checkVGAconn_delay);
    at(C::CksmDelaySlider).value = clampTo(controlDef(C::CksmDelaySlider), r.beforeshowCKSM_delay);
    at(C::VgaDelayValue).text = std::to_string(r.checkVGAconn_delay) + " ms";
    at(C::CksmDelayValue).text = std::to_string(r.beforeshowCKSM_delay) + " ms";
    // 7, 8: the output bytes and the flash status.
    check(C::FfeEnable, r.enable_sete2e3output != 0);
    enableFollowers(C::FfeEnable, r.enable_sete2e3output != 0);
    at(C::Ffe2).text = hexText(r.ffe2_value);
    at(C::Ffe3).text = hexText(r.ffe3_value);
    check(C::FlashStatus, r.enable_setflashstatusafterisp != 0);
    enableFollowers(C::FlashStatus, r.enable_setflashstatusafterisp != 0);
    at(C::FlashStatusValue).text = hexText(r.flashstatus_value);
    // 9: the repeat test wins over reading the IC code.
    check(C::RepeatTest, r.enable_isprepeattest != 0);
    if (r.enable_isprepeattest != 0) {
        enableFollowers(C::RepeatTest, true);
        enable(C::ReadIc, false);
        setFlag(C::ReadIc, false);
    } else {
        enableFollowers(C::RepeatTest, false);
        enable(C::ReadIc, true);
    }
    at(C::RepeatCount).text = std::to_string(r.isprepeat_counter);
    // 10, 11: auto run, auto-load.
    check(C::AutoRun, r.enable_autorunisp != 0);
    check(C::AutoLoad, r.enable_autoload_fw_files != 0);
    enableFollowers(C::AutoLoad, r.enable_autoload_fw_files != 0);
    if (r.enable_autoload_fw_files != 0) {
        check(C::SavedFw, false);
        enable(C::SavedFw, false);
    } else {
        enable(C::SavedFw, true);
    }
    at(C::AutoLoadFolder).text = std::string(tool::textOf(r.autoload_directory_pathname));
    // 12: reading the IC code leaves no MCU selection and no repeat test.
    check(C::ReadIc, r.enable_read_ic_code != 0);
    check(C::ShowIspEnable, r.enable_show_isp_enableoption != 0);
    if (r.enable_read_ic_code == 1) {
        enable(C::ShowIspEnable, true);
        enable(C::ShowMcu, false);
        setFlag(C::ShowMcu, false);
        enable(C::RepeatTest, false);
        enable(C::RepeatCount, false);
        setFlag(C::RepeatTest, false);
    } else {
        enable(C::ShowIspEnable, false);
        enable(C::ShowMcu, true);
        enable(C::RepeatTest, true);
    }
    // 13: the IC code check.
    check(C::CheckIc, r.enable_check_ic_code_before_isp != 0);
    at(C::IcCode).text = hexText(r.ic_code_check_value);
    enableFollowers(C::CheckIc, r.enable_check_ic_code_before_isp == 1);
    // 14: erase before auto.
    check(C::MassErase, r.enable_masserasebeforeauto4flash != 0);
    enable(C::BankErase, r.enable_masserasebeforeauto4flash == 0);
    for (C bank : kBanks)
        enable(bank, r.enable_masserasebeforeauto4flash == 0);
    check(C::BankErase, r.enable_bankerasebeforeauto4flash != 0);
    enable(C::MassErase, r.enable_bankerasebeforeauto4flash == 0);
    for (std::size_t i = 0; i < kBanks.size(); ++i)
        check(kBanks[i], ((r.bankindex_erasebeforeauto4flash >> i) & 1) != 0);
    // 15: speeds.
    showSpeeds();
    // HDCP paths (shown whatever the mode) and 16: the HDCP passes.
    at(C::HdcpKeyFile).text = std::string(tool::textOf(r.autoload_hdcp_key_file_pathname));
    at(C::HdcpSaveFolder).text = std::string(tool::textOf(r.saveread_hdcp_key_file_path));
    check(C::HdcpKeyFromFolder, r.autoload_hdcp_key_file_method == 0);
    check(C::HdcpKeyToTool, r.autoload_hdcp_key_file_method != 0);
    check(C::HdcpCrc, r.hdcp_key_fire_check_method == 0);
    check(C::HdcpReadAll, r.hdcp_key_fire_check_method != 0);
    check(C::HdcpSaveRead, r.enable_save_readed_hdcp_key != 0);
    check(C::HdcpFire, r.enable_hdcp_key_fire == 1);
    if (r.enable_hdcp_key_fire == 1)
        lockForHdcp();
    else
        restoreAfterHdcp();
}

void AdvancedSettingModel::showSpeeds()
{
    const tool::AdvancedSettings& r = record_;
    for (std::size_t i = 0; i < kUsbFrequencies.size(); ++i)
        check(kUsbFrequencies[i], r.norvane_usb_frequency == static_cast<int>(i));
    at(C::UsbSpeedSlider).value = clampTo(controlDef(C::UsbSpeedSlider), r.norvane_usb_ispspeed);
    at(C::OtherUsbSlider).value = clampTo(controlDef(C::OtherUsbSlider), r.other_usb_ispspeed);
    at(C::IicSpeedSlider).value = clampTo(controlDef(C::IicSpeedSlider), r.norvane_iic_ispspeed);
    at(C::UsbSpeedValue).text = std::to_string(r.norvane_usb_ispspeed);
    at(C::IicSpeedValue).text = std::to_string(r.norvane_iic_ispspeed);
    at(C::OtherUsbValue).text = otherUsbSpeedLabel(r.other_usb_ispspeed);
}

void AdvancedSettingModel::lockForHdcp()
{
    const tool::AdvancedSettings& r = record_;
    for (C c : kHdcpOptions)
        enable(c, true);
    check(C::HdcpKeyFromFolder, r.autoload_hdcp_key_file_method == 0);
    check(C::HdcpKeyToTool, r.autoload_hdcp_key_file_method != 0);
    enable(C::HdcpKeyFile, r.autoload_hdcp_key_file_method == 0);
    enable(C::HdcpKeyBrowse, r.autoload_hdcp_key_file_method == 0);
    const bool readBack = r.hdcp_key_fire_check_method != 0;
    enable(C::HdcpSaveRead, readBack);
    check(C::HdcpSaveRead, readBack && r.enable_save_readed_hdcp_key != 0);
    enableFollowers(C::HdcpSaveRead, readBack && r.enable_save_readed_hdcp_key == 1);
    for (C box : kHdcpExcluded) {
        setFlag(box, false);
        enable(box, false);
        enableFollowers(box, false);
    }
    for (C c : kHdcpLockedBesides)
        enable(c, false);
}

void AdvancedSettingModel::restoreAfterHdcp()
{
    for (C c : kHdcpOptions)
        enable(c, false);
    for (C c : kHdcpPathControls)
        enable(c, false);
    for (C c : kHdcpLockedBesides)
        enable(c, true);
    for (C box : kHdcpExcluded) {
        if (box == C::ShowIspEnable)
            continue;
        enable(box, true);
        setFlag(box, state(box).checked);
        enableFollowers(box, state(box).checked);
    }
    // Without IC-code reading the option keeps its value, greyed.
    if (state(C::ReadIc).checked)
        setFlag(C::ShowIspEnable, state(C::ShowIspEnable).checked);
    for (std::size_t i = 0; i < kBanks.size(); ++i)
        check(kBanks[i], ((record_.bankindex_erasebeforeauto4flash >> i) & 1) != 0);
}

// ---- reading the edits, sending ---------------------------------------------------------

void AdvancedSettingModel::prompt(std::string text, DialogResult& result)
{
    ui_.showMessage(text, tool::kToolCaption);
    result.shown.push_back(std::move(text));
}

bool AdvancedSettingModel::readAll(DialogResult& result)
{
    // The standard transfer stops at the first edit it refuses.
    const std::string& count = state(C::RepeatCount).text;
    int value = 0;
    const char* end = count.data() + count.size();
    const auto [stop, error] = std::from_chars(count.data(), end, value);
    if (count.empty() || error != std::errc() || stop != end) {
        prompt("Please enter an integer.", result);
        return false;
    }
    if (value < kRepeatCountMin || value > kRepeatCountMax) {
        prompt("Please enter an integer between " + std::to_string(kRepeatCountMin) + " and " +
                   std::to_string(kRepeatCountMax) + ".",
               result);
        return false;
    }
    record_.isprepeat_counter = value;
    for (const HexField& hex : kHexEdits) {
        if (state(hex.edit).text.size() > kHexEditLength) {
            prompt(tooLongPrompt(kHexEditLength), result);
            return false;
        }
    }
    return true;
}

void AdvancedSettingModel::notify(DialogResult& result)
{
    sendTo(page_, tool::notifyAdvancedSettings(record_), result);
}

// ---- handlers ---------------------------------------------------------------------------

DialogResult AdvancedSettingModel::refuseMissing(C box, unsigned bitsFrom, std::string_view heading,
                                                 std::string_view item)
{
    DialogResult result;
    std::string text(heading);
    for (unsigned bit = 0; bit < 4; ++bit)
        if (((record_.missing_files_mask >> (bitsFrom + bit)) & 1u) != 0)
            text += std::string(item) + std::to_string(bit + (bitsFrom == 0 ? 0 : 1)) + "\r\n";
    check(box, false);
    prompt(std::move(text), result);
    return result;
}

DialogResult AdvancedSettingModel::toggle(C box, bool on)
{
    DialogResult result;
    const tool::AdvancedSettings& r = record_;
    switch (box) {
    case C::SavedFw:
        if (on && r.saved_hex == 0 && (r.missing_files_mask & 0x0Fu) != 0)
            return refuseMissing(box, 0, "Need below files:\r\n", "Bank");
        setFlag(box, on);
        refresh();
        break;
    case C::SavedLd:
        if (on && r.saved_ld == 0 && (r.missing_files_mask & 0xF0u) != 0)
            return refuseMissing(box, 4, "Need below ld files:\r\n", "LD");
        setFlag(box, on);
        refresh();
        break;
    case C::ShowMcu:
        setFlag(box, on);
        refresh();
        break;
    case C::ShowInfo:
    case C::AutoDetect:
    case C::AutoRun:
        setFlag(box, on);
        break;
    case C::SectorErase:
    case C::FfeEnable:
    case C::FlashStatus:
        setFlag(box, on);
        enableFollowers(box, on);
        break;
    case C::ShowIspEnable:
    case C::CheckIc:
    case C::HdcpSaveRead:
        readAll(result);
        setFlag(box, on);
        enableFollowers(box, on);
        break;
    case C::RepeatTest:
        setFlag(box, on);
        enableFollowers(box, on);
        enable(C::ReadIc, !on);
        if (on)
            setFlag(C::ReadIc, false);
        break;
    case C::AutoLoad:
        readAll(result);
        setFlag(box, on);
        enableFollowers(box, on);
        enable(C::SavedFw, !on);
        if (on)
            setFlag(C::SavedFw, false);
        break;
    case C::ReadIc:
        readAll(result);
        setFlag(box, on);
        enable(C::ShowIspEnable, on);
        enable(C::ShowMcu, !on);
        enable(C::RepeatTest, !on);
        enable(C::RepeatCount, false);
        if (on) {
            setFlag(C::ShowMcu, false);
            setFlag(C::RepeatTest, false);
        } else {
            setFlag(C::ShowIspEnable, false);
        }
        break;
    case C::MassErase:
        readAll(result);
        setFlag(box, on);
        enable(C::BankErase, !on);
        for (C bank : kBanks)
            enable(bank, !on);
        break;
    case C::BankErase:
        readAll(result);
        setFlag(box, on);
        enable(C::MassErase, !on);
        break;
    case C::HdcpFire:
        readAll(result);
        setFlag(box, on);
        if (on)
            lockForHdcp();
        else
            restoreAfterHdcp();
        break;
    default: {
        const auto bank = std::find(kBanks.begin(), kBanks.end(), box);
        if (bank == kBanks.end())
            return result;
        readAll(result);
        const auto bit = static_cast<unsigned>(bank - kBanks.begin());
        check(box, on);
        auto mask = static_cast<std::uint32_t>(record_.bankindex_erasebeforeauto4flash);
        // Clearing a bank also drops anything above the eight banks.
        mask = on ? mask | (1u << bit) : mask & ~(1u << bit) & 0xFFu;
        record_.bankindex_erasebeforeauto4flash = static_cast<std::int32_t>(mask);
        break;
    }
    }
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::choose(C radio)
{
    DialogResult result;
    auto pick = [this](std::initializer_list<C> group, C chosen) {
        for (C c : group)
            check(c, c == chosen);
    };
    switch (radio) {
    case C::AssemblyPage:
    case C::CustomerPage:
        // Reaches the page with the next notification or when the dialog closes.
        pick({C::AssemblyPage, C::CustomerPage}, radio);
        record_.startpage = radio == C::AssemblyPage ? 0 : 1;
        return result;
    case C::UsbHigh:
    case C::UsbMid:
    case C::UsbLow:
        readAll(result);
        pick({C::UsbHigh, C::UsbMid, C::UsbLow}, radio);
        record_.norvane_usb_frequency =
            static_cast<int>(std::find(kUsbFrequencies.begin(), kUsbFrequencies.end(), radio) - kUsbFrequencies.begin());
        break;
    case C::HdcpKeyFromFolder:
        readAll(result);
        pick({C::HdcpKeyFromFolder, C::HdcpKeyToTool}, radio);
        record_.autoload_hdcp_key_file_method = 0;
        enable(C::HdcpKeyFile, true);
        enable(C::HdcpKeyBrowse, true);
        break;
    case C::HdcpKeyToTool:
        readAll(result);
        if (tool::textOf(record_.autoload_hdcp_key_file_pathname).empty()) {
            record_.autoload_hdcp_key_file_method = 0;
            pick({C::HdcpKeyFromFolder, C::HdcpKeyToTool}, C::HdcpKeyFromFolder);
            prompt(std::string(kNoKeyFileMessage), result);
            return result;
        }
        pick({C::HdcpKeyFromFolder, C::HdcpKeyToTool}, radio);
        record_.autoload_hdcp_key_file_method = 1;
        enable(C::HdcpKeyFile, false);
        enable(C::HdcpKeyBrowse, false);
        break;
    case C::HdcpCrc:
        readAll(result);
        pick({C::HdcpCrc, C::HdcpReadAll}, radio);
        record_.hdcp_key_fire_check_method = 0;
        enable(C::HdcpSaveRead, false);
        setFlag(C::HdcpSaveRead, false);
        enableFollowers(C::HdcpSaveRead, false);
        break;
    case C::HdcpReadAll:
        readAll(result);
        pick({C::HdcpCrc, C::HdcpReadAll}, radio);
        record_.hdcp_key_fire_check_method = 1;
        enable(C::HdcpSaveRead, true);
        break;
    default:
        return result;
    }
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::editText(C edit, std::string_view text)
{
    DialogResult result;
    const bool hex = std::any_of(kHexEdits.begin(), kHexEdits.end(), [edit](const HexField& h) { return h.edit == edit; });
    if (edit != C::RepeatCount && !hex)
        return result;
    at(edit).text = text;
    readAll(result);
    if (hex) {
        for (const HexField& h : kHexEdits)
            if (state(h.edit).text.size() <= kHexEditLength)
                record_.*h.field = parseHexText(state(h.edit).text);
    }
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::slide(C slider, int position)
{
    DialogResult result;
    const auto moved = std::find_if(kSliders.begin(), kSliders.end(),
                                    [slider](const SliderField& s) { return s.slider == slider; });
    if (moved == kSliders.end())
        return result;
    at(slider).value = clampTo(controlDef(slider), position);
    readAll(result);
    for (const SliderField& s : kSliders)
        record_.*s.field = state(s.slider).value;
    at(C::VgaDelayValue).text = std::to_string(record_.checkVGAconn_delay) + " ms";
    at(C::CksmDelayValue).text = std::to_string(record_.beforeshowCKSM_delay) + " ms";
    showSpeeds();
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::selectSectorEraseBank(int selection)
{
    DialogResult result;
    if (selection < 0 || selection >= static_cast<int>(kSectorEraseBanks.size()))
        return result;
    readAll(result);
    at(C::SectorEraseBank).value = selection;
    record_.Sectorerase_bankindex = selection;
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::browseFolder(tool::TextField& field, C edit)
{
    DialogResult result;
    const std::optional<std::string> folder = ui_.chooseFolder(kBrowseFolderTitle);
    if (!folder)
        return result;
    // A path that does not fit would name another folder.
    if (folder->size() >= tool::kTextCapacity) {
        prompt(tooLongPrompt(tool::kTextCapacity - 1), result);
        return result;
    }
    tool::setText(field, *folder);
    at(edit).text = pathShown(*folder);
    notify(result);
    return result;
}

DialogResult AdvancedSettingModel::exportTo(tool::SettingsNotifyCode code)
{
    DialogResult result;
    const std::optional<std::string> folder = ui_.chooseFolder(kSaveFolderTitle);
    if (!folder)
        return result;
    const std::vector<std::string> failed = sendTo(page_, tool::notifyExportFolder(code, folder->c_str()), result);
    if (failed.empty()) {
        prompt(std::string(kExportDone), result);
        return result;
    }
    std::string text = "Export failed:\n";
    for (const std::string& line : failed)
        text += line + "\n";
    prompt(std::move(text), result);
    return result;
}

DialogResult AdvancedSettingModel::press(C button)
{
    switch (button) {
    case C::AutoLoadBrowse:
        return browseFolder(record_.autoload_directory_pathname, C::AutoLoadFolder);
    case C::HdcpSaveBrowse:
        return browseFolder(record_.saveread_hdcp_key_file_path, C::HdcpSaveFolder);
    case C::HdcpKeyBrowse: {
        DialogResult result;
        const std::optional<std::string> key =
            ui_.chooseOpenFileAmong({{"bin Files", {"*.bin", "*.BIN", "*Bin"}}});
        if (!key)
            return result;
        if (key->size() >= tool::kTextCapacity) {
            prompt(tooLongPrompt(tool::kTextCapacity - 1), result);
            return result;
        }
        at(C::HdcpKeyFile).text = *key;
        tool::setText(record_.autoload_hdcp_key_file_pathname, *key);
        notify(result);
        return result;
    }
    case C::ExportSavedFw:
        return exportTo(tool::SettingsNotifyCode::ExportSavedFirmware);
    case C::ExportLdFiles:
        return exportTo(tool::SettingsNotifyCode::ExportLdFiles);
    default:
        return {};
    }
}

DialogResult AdvancedSettingModel::changeTitle(TitleEditor& editor)
{
    DialogResult result;
    if (std::optional<std::string> title = editor.editTitle(tool::textOf(record_.user_title)))
        tool::setText(record_.user_title, *title);
    // After Cancel the unchanged title takes back what the dialog sent while open.
    sendTo(page_, tool::notifyTitle(record_.user_title), result);
    return result;
}

bool AdvancedSettingModel::accept(DialogResult& result)
{
    return readAll(result);
}

}  // namespace mvx::settings_dialogs
