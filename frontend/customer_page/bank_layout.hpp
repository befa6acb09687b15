// What the customer page shows and enables, as data the Qt view applies
// generically: every control is named by the objectName the view gives it
// (lowerCamelCase, widget kind last), and the tables below say, per MCU type,
// per view and per AdvancedSettings switch, whether it is enabled and shown.
//
// Three stages decide a control's state, each a table:
//  1. BankLayout: enabling of the option controls by MCU type, then the Mass /
//     Page erase refinement for the MCU targets, then the file rows;
//  2. the values a layout forces (1TO4 drives through Norvane IIC; the R5310
//     checks by CRC after a mass erase and by checksum after a page erase);
//  3. the view layout: which controls the compact (operator) view and the full
//     view show, and which one of the three action buttons stands in their
//     common place.
// A control no table names is shown and enabled.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "customer_page/page_options.hpp"
#include "shell/option_records.hpp"

namespace mvx::customer_page {

inline constexpr int kCompactView = 1;
inline constexpr int kFullView = 2;

// ---- control names -----------------------------------------------------------

namespace names {
inline constexpr std::string_view ispTypeAutoRadio = "ispTypeAutoRadio";
inline constexpr std::string_view ispTypeEraseRadio = "ispTypeEraseRadio";
inline constexpr std::string_view ispTypeGroupBox = "ispTypeGroupBox";
inline constexpr std::string_view addressCustomRadio = "addressCustomRadio";
inline constexpr std::string_view addressDefaultRadio = "addressDefaultRadio";
inline constexpr std::string_view addressGroupBox = "addressGroupBox";
inline constexpr std::string_view addressEdit = "addressEdit";
inline constexpr std::string_view boardCountGroupBox = "boardCountGroupBox";
inline constexpr std::string_view mcuR5310Radio = "mcuR5310Radio";
inline constexpr std::string_view mcuR5312Radio = "mcuR5312Radio";
inline constexpr std::string_view mcuSerialFlashRadio = "mcuSerialFlashRadio";
inline constexpr std::string_view mcu1to4R5310Radio = "mcu1to4R5310Radio";
inline constexpr std::string_view mcu1to4R5312Radio = "mcu1to4R5312Radio";
inline constexpr std::string_view mcu1to4SerialFlashRadio = "mcu1to4SerialFlashRadio";
inline constexpr std::string_view mcuGroupBox = "mcuGroupBox";
inline constexpr std::string_view eraseMassRadio = "eraseMassRadio";
inline constexpr std::string_view erasePageRadio = "erasePageRadio";
inline constexpr std::string_view trueSizeGroupBox = "trueSizeGroupBox";
inline constexpr std::string_view extTrueSizeCheckBox = "extTrueSizeCheckBox";
inline constexpr std::string_view trueSizeCombo = "trueSizeCombo";
inline constexpr std::string_view checkCrcRadio = "checkCrcRadio";
inline constexpr std::string_view checkSumRadio = "checkSumRadio";
inline constexpr std::string_view checkGroupBox = "checkGroupBox";
inline constexpr std::string_view interfaceNorvaneUsbRadio = "interfaceNorvaneUsbRadio";
inline constexpr std::string_view interfaceFtdiUsbRadio = "interfaceFtdiUsbRadio";
inline constexpr std::string_view interfaceNorvaneIicRadio = "interfaceNorvaneIicRadio";
inline constexpr std::string_view interfaceCvtIicRadio = "interfaceCvtIicRadio";
inline constexpr std::string_view interfaceGroupBox = "interfaceGroupBox";
inline constexpr std::string_view fileHexRadio = "fileHexRadio";
inline constexpr std::string_view fileBinRadio = "fileBinRadio";
inline constexpr std::string_view fileTypeGroupBox = "fileTypeGroupBox";
inline constexpr std::string_view oneToOneRadio = "oneToOneRadio";
inline constexpr std::string_view oneToFourRadio = "oneToFourRadio";
inline constexpr std::string_view sst1To2MbitRadio = "sst1To2MbitRadio";
inline constexpr std::string_view sst4MbitRadio = "sst4MbitRadio";
inline constexpr std::string_view sstGroupBox = "sstGroupBox";
inline constexpr std::string_view brandPFlashRadio = "brandPFlashRadio";
inline constexpr std::string_view brandWinbondRadio = "brandWinbondRadio";
inline constexpr std::string_view brandMxicRadio = "brandMxicRadio";
inline constexpr std::string_view brandEonRadio = "brandEonRadio";
inline constexpr std::string_view brandSstRadio = "brandSstRadio";
inline constexpr std::string_view brandAmicRadio = "brandAmicRadio";
inline constexpr std::string_view brandGroupBox = "brandGroupBox";
inline constexpr std::string_view ispEnableRadio = "ispEnableRadio";
inline constexpr std::string_view ispDisableRadio = "ispDisableRadio";
inline constexpr std::string_view ispEnableGroupBox = "ispEnableGroupBox";
inline constexpr std::string_view icCodeLabel = "icCodeLabel";
inline constexpr std::string_view ispButton = "ispButton";
inline constexpr std::string_view readIcCodeButton = "readIcCodeButton";
inline constexpr std::string_view hdcpKeyFireButton = "hdcpKeyFireButton";
inline constexpr std::string_view passPictureLabel = "passPictureLabel";
inline constexpr std::string_view failPictureLabel = "failPictureLabel";
inline constexpr std::string_view advancedSettingButton = "advancedSettingButton";
inline constexpr std::string_view saveSettingsButton = "saveSettingsButton";
inline constexpr std::string_view exportIspFileButton = "exportIspFileButton";
inline constexpr std::string_view flashProtectButton = "flashProtectButton";
inline constexpr std::string_view stopIspButton = "stopIspButton";
inline constexpr std::string_view totalCaptionLabel = "totalCaptionLabel";
inline constexpr std::string_view totalCountLabel = "totalCountLabel";
inline constexpr std::string_view passCaptionLabel = "passCaptionLabel";
inline constexpr std::string_view passCountLabel = "passCountLabel";
inline constexpr std::string_view failCaptionLabel = "failCaptionLabel";
inline constexpr std::string_view failCountLabel = "failCountLabel";
inline constexpr std::string_view summaryMcuLabel = "summaryMcuLabel";
inline constexpr std::string_view summaryInterfaceLabel = "summaryInterfaceLabel";
inline constexpr std::string_view summaryEraseTypeLabel = "summaryEraseTypeLabel";
inline constexpr std::string_view summaryEraseSizeLabel = "summaryEraseSizeLabel";
inline constexpr std::string_view summaryFileTypeLabel = "summaryFileTypeLabel";
inline constexpr std::string_view summaryMcuEdit = "summaryMcuEdit";
inline constexpr std::string_view summaryInterfaceEdit = "summaryInterfaceEdit";
inline constexpr std::string_view summaryEraseTypeEdit = "summaryEraseTypeEdit";
inline constexpr std::string_view summaryEraseSizeEdit = "summaryEraseSizeEdit";
inline constexpr std::string_view summaryFileTypeEdit = "summaryFileTypeEdit";
inline constexpr std::string_view bigBinChecksumLabel = "bigBinChecksumLabel";
inline constexpr std::string_view bigBinChecksumEdit = "bigBinChecksumEdit";
}  // namespace names

// The controls of file row 0..8: "row3CheckBox", "row3NameEdit",
// "row3ChecksumEdit", "row3FileLengthEdit", "row3ProgramLengthEdit",
// "row3OpenButton".
enum class RowPart { CheckBox, NameEdit, ChecksumEdit, FileLengthEdit, ProgramLengthEdit, OpenButton };
std::string rowControlName(int row, RowPart part);

// ---- stage 1: enabling by MCU type -------------------------------------------

enum class Rule : std::uint8_t {
    Keep,                 // as an earlier table left it
    On,
    Off,
    OnWithOneBoard,       // enabled with 1TO1, disabled with 1TO4
    OnWithCustomAddress,  // addressMode 0 (the address is typed)
    OnUnlessAutoDetect,   // AdvancedSettings Auto_detect clear
    OnWhenEraseOnly,      // ispType Erase
    OnWithExtTrueSize,    // extTrueSize ticked
};

inline constexpr std::size_t kMaxGroup = 7;
using ControlGroup = std::array<std::string_view, kMaxGroup>;   // unused tail entries empty

struct EnableRow {
    ControlGroup controls;
    std::array<Rule, kMcuTypeCount> byMcuType;   // R5310, R5312, SF, 1To4 R5310, 1To4 R5312, 1To4 SF
};

// BankLayout's option part.  "FTDi USB" is not touched here.
inline constexpr std::array<EnableRow, 11> kOptionEnabling{{
    {{names::interfaceNorvaneUsbRadio, names::interfaceCvtIicRadio},
     {Rule::OnWithOneBoard, Rule::OnWithOneBoard, Rule::OnWithOneBoard, Rule::Off, Rule::Off, Rule::Off}},
    {{names::interfaceNorvaneIicRadio},
     {Rule::OnWithOneBoard, Rule::OnWithOneBoard, Rule::OnWithOneBoard, Rule::On, Rule::On, Rule::On}},
    {{names::addressCustomRadio, names::addressDefaultRadio, names::addressGroupBox},
     {Rule::Off, Rule::On, Rule::On, Rule::Off, Rule::On, Rule::On}},
    {{names::addressEdit},
     {Rule::Off, Rule::OnWithCustomAddress, Rule::OnWithCustomAddress, Rule::Off, Rule::OnWithCustomAddress,
      Rule::OnWithCustomAddress}},
    {{names::brandPFlashRadio, names::brandWinbondRadio, names::brandMxicRadio, names::brandEonRadio,
      names::brandSstRadio, names::brandAmicRadio, names::brandGroupBox},
     {Rule::Off, Rule::Off, Rule::OnUnlessAutoDetect, Rule::Off, Rule::Off, Rule::On}},
    {{names::eraseMassRadio, names::erasePageRadio},
     {Rule::On, Rule::On, Rule::OnWhenEraseOnly, Rule::On, Rule::On, Rule::Off}},
    {{names::trueSizeGroupBox, names::extTrueSizeCheckBox, names::trueSizeCombo},
     {Rule::On, Rule::On, Rule::Off, Rule::On, Rule::On, Rule::Off}},
    {{names::ispTypeAutoRadio, names::ispTypeEraseRadio, names::ispTypeGroupBox},
     {Rule::On, Rule::On, Rule::On, Rule::Off, Rule::Off, Rule::On}},
    {{names::checkCrcRadio, names::checkSumRadio, names::checkGroupBox},
     {Rule::On, Rule::Off, Rule::Off, Rule::Off, Rule::Off, Rule::Off}},
    {{names::fileTypeGroupBox, names::fileHexRadio, names::fileBinRadio},
     {Rule::On, Rule::On, Rule::On, Rule::On, Rule::On, Rule::On}},
    {{names::flashProtectButton},
     {Rule::Off, Rule::Off, Rule::On, Rule::Off, Rule::Off, Rule::On}},
}};

// The MCU targets refine the true-size and check controls by erase type.
inline constexpr std::array<EnableRow, 2> kMassEraseRefinement{{
    {{names::extTrueSizeCheckBox, names::trueSizeCombo, names::checkCrcRadio, names::checkSumRadio,
      names::checkGroupBox},
     {Rule::Off, Rule::Off, Rule::Keep, Rule::Off, Rule::Off, Rule::Keep}},
}};
inline constexpr std::array<EnableRow, 3> kPageEraseRefinement{{
    {{names::extTrueSizeCheckBox}, {Rule::On, Rule::On, Rule::Keep, Rule::On, Rule::On, Rule::Keep}},
    {{names::trueSizeCombo},
     {Rule::OnWithExtTrueSize, Rule::OnWithExtTrueSize, Rule::Keep, Rule::OnWithExtTrueSize,
      Rule::OnWithExtTrueSize, Rule::Keep}},
    {{names::checkCrcRadio, names::checkSumRadio, names::checkGroupBox},
     {Rule::On, Rule::Off, Rule::Keep, Rule::Off, Rule::Off, Rule::Keep}},
}};

// Never shown: the SST size group and the three four-board MCU radios, which
// only reflect the 1TO4 switch.
inline constexpr ControlGroup kAlwaysHidden{names::sstGroupBox, names::sst1To2MbitRadio, names::sst4MbitRadio,
                                            names::mcu1to4R5310Radio, names::mcu1to4R5312Radio,
                                            names::mcu1to4SerialFlashRadio};

// ---- stage 2: forced values ---------------------------------------------------

enum class When : std::uint8_t { Never, Always, WithFourBoards };

struct ForcedValue {
    OptionField field;
    int constant;                    // the value, unless copied
    int PageOptions::*copiedFrom;    // nullptr: the constant
    std::array<When, kMcuTypeCount> byMcuType;
};

inline constexpr std::array<ForcedValue, 2> kForcedValues{{
    {OptionField::InterfaceKind, kInterfaceNorvaneIic, nullptr,
     {When::WithFourBoards, When::WithFourBoards, When::WithFourBoards, When::Always, When::Always, When::Always}},
    // Mass erase checks by CRC, page erase by checksum.
    {OptionField::CheckType, 0, &PageOptions::eraseType,
     {When::Always, When::Never, When::Never, When::Always, When::Never, When::Never}},
}};

// Applies the forced values of the options' MCU type; true when one changed.
bool applyForcedValues(PageOptions& options);

// ---- stage 3: the view layout ---------------------------------------------------

enum class Need : std::uint8_t { Any, Yes, No };

// The first rule that matches decides which action button stands in the
// common place and whether the IC-code controls are active.
struct ActionButtonRule {
    int viewMode;             // kCompactView, kFullView, or 0 for either
    Need serialFlashOneBoard; // Serial Flash with 1TO1
    Need hdcpKeyFire;         // enable_hdcp_key_fire
    Need readIcCode;          // enable_read_ic_code
    Need showIspEnable;       // enable_show_isp_enableoption
    Need ispDisabled;         // ispEnable is Disable
    std::string_view shown;   // empty: none
    bool icCodeControls;
};

inline constexpr std::array<ActionButtonRule, 6> kActionButtonRules{{
    // programming starts only from the compact view
    {kFullView, Need::Any, Need::Any, Need::Any, Need::Any, Need::Any, {}, false},
    {kCompactView, Need::Yes, Need::Yes, Need::Any, Need::Any, Need::Any, names::hdcpKeyFireButton, false},
    {kCompactView, Need::Yes, Need::No, Need::Yes, Need::No, Need::Any, names::readIcCodeButton, true},
    {kCompactView, Need::Yes, Need::No, Need::Yes, Need::Yes, Need::Yes, names::readIcCodeButton, true},
    {kCompactView, Need::Yes, Need::No, Need::Yes, Need::Yes, Need::No, names::ispButton, true},
    {kCompactView, Need::Any, Need::Any, Need::Any, Need::Any, Need::Any, names::ispButton, false},
}};

inline constexpr ControlGroup kActionButtons{names::ispButton, names::readIcCodeButton, names::hdcpKeyFireButton};

enum class Show : std::uint8_t {
    FullView,              // only in the full view
    FullViewOrShowMcu,     // full view; compact view too with show_mcu
    SummaryShown,          // full view; compact view with showinfo
    CompactRepeatTest,     // compact view with enable_isprepeattest
    IcCodeText,            // compact view, IC-code controls active, enable_read_ic_code
    IspEnableOption,       // compact view, IC-code controls active, enable_show_isp_enableoption
    Hidden,                // hidden until a run shows them
};

struct ShowRow {
    ControlGroup controls;
    Show show;
};

inline constexpr std::array<ShowRow, 14> kViewVisibility{{
    {{names::interfaceNorvaneUsbRadio, names::interfaceFtdiUsbRadio, names::interfaceNorvaneIicRadio,
      names::interfaceCvtIicRadio, names::interfaceGroupBox},
     Show::FullView},
    {{names::mcuR5310Radio, names::mcuR5312Radio, names::mcuSerialFlashRadio, names::mcuGroupBox},
     Show::FullViewOrShowMcu},
    {{names::addressCustomRadio, names::addressDefaultRadio, names::addressEdit, names::addressGroupBox,
      names::boardCountGroupBox, names::oneToOneRadio, names::oneToFourRadio},
     Show::FullView},
    {{names::brandSstRadio, names::brandWinbondRadio, names::brandPFlashRadio, names::brandEonRadio,
      names::brandMxicRadio, names::brandAmicRadio, names::brandGroupBox},
     Show::FullView},
    {{names::eraseMassRadio, names::erasePageRadio, names::trueSizeGroupBox, names::extTrueSizeCheckBox,
      names::trueSizeCombo},
     Show::FullView},
    {{names::fileTypeGroupBox, names::fileHexRadio, names::fileBinRadio}, Show::FullView},
    {{names::ispTypeAutoRadio, names::ispTypeEraseRadio, names::ispTypeGroupBox, names::checkSumRadio,
      names::checkCrcRadio, names::checkGroupBox},
     Show::FullView},
    {{names::advancedSettingButton, names::saveSettingsButton, names::exportIspFileButton,
      names::flashProtectButton},
     Show::FullView},
    {{names::passPictureLabel, names::failPictureLabel}, Show::Hidden},
    {{names::stopIspButton, names::totalCaptionLabel, names::totalCountLabel, names::passCaptionLabel,
      names::passCountLabel, names::failCaptionLabel, names::failCountLabel},
     Show::CompactRepeatTest},
    {{names::summaryMcuLabel, names::summaryInterfaceLabel, names::summaryEraseTypeLabel,
      names::summaryEraseSizeLabel, names::summaryFileTypeLabel},
     Show::SummaryShown},
    {{names::summaryMcuEdit, names::summaryInterfaceEdit, names::summaryEraseTypeEdit,
      names::summaryEraseSizeEdit, names::summaryFileTypeEdit},
     Show::SummaryShown},
    {{names::icCodeLabel}, Show::IcCodeText},
    {{names::ispEnableRadio, names::ispDisableRadio, names::ispEnableGroupBox}, Show::IspEnableOption},
}};

// ---- the result -------------------------------------------------------------------

struct ControlState {
    bool visible = true;
    bool enabled = true;
    bool operator==(const ControlState&) const = default;
};

struct LayoutInputs {
    const PageOptions& options;
    const tool::AdvancedSettings& advanced;
    int viewMode = kCompactView;
    // The rows the MCU type has (bit i = row i): rows 0,1 for the R5310
    // types, 0..2 for the R5312 types, 0..8 for serial flash.
    std::uint16_t existingRows = 0;
    // The action-button rule over the file rows (every ticked row has a file...).
    bool actionAllowed = false;
};

struct PageLayout {
    std::map<std::string, ControlState, std::less<>> controls;
    // Texts the layout sets: the repeat-test counters and the emptied IC-code text.
    std::map<std::string, std::string, std::less<>> texts;
    std::string_view actionButton;   // the one shown, empty in the full view
    bool icCodeControlsActive = false;

    // A control no table names is shown and enabled.
    ControlState state(std::string_view name) const;
};

// BankLayout's enabling (options and rows) and the view layout for the options
// as they are; the caller applies the forced values first (applyForcedValues).
PageLayout pageLayout(const LayoutInputs& inputs);

}  // namespace mvx::customer_page
