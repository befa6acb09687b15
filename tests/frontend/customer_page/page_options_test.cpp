#include "customer_page/option_model.hpp"

#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "mvx/platform/ini.hpp"
#include "temp_folder.hpp"

using namespace mvx::customer_page;
using mvx::platform::readProfileInt;
using mvx::test::TempFolder;
namespace tool = mvx::tool;

namespace {

// Answers questions from a script and records every box it was shown.
class ScriptedUi final : public tool::ShellUi {
public:
    void showMessage(std::string_view text, std::string_view) override { messages.emplace_back(text); }
    tool::Answer ask(std::string_view text, std::string_view caption, tool::Buttons) override
    {
        questions.push_back(std::string(caption) + ": " + std::string(text));
        if (answers.empty())
            return tool::Answer::No;
        const tool::Answer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::optional<std::string> chooseSaveFile(const tool::FileFilter&) override { return std::nullopt; }
    std::optional<std::string> chooseOpenFile(const tool::FileFilter&) override { return std::nullopt; }

    std::deque<tool::Answer> answers;
    std::vector<std::string> questions;
    std::vector<std::string> messages;
};

struct PageFixture {
    TempFolder folder;
    ScriptedUi ui;
    OptionModel model{PageFiles{folder.file("ISP__PSI.ini"), folder.path(), folder.file("MVX_ISP_Tool"),
                                folder.file("registry.ini")},
                      ui};
    std::string ini() const { return folder.file("ISP__PSI.ini"); }
    int stored(const std::string& key) const { return readProfileInt(ini(), "Setting", key, -999); }
};

constexpr std::uint16_t kRowsOf[3] = {0x3, 0x7, 0x1FF};   // R5310, R5312, serial flash

PageLayout layoutOf(const PageOptions& options, const tool::AdvancedSettings& advanced, int view,
                    bool actionAllowed = true)
{
    return pageLayout({options, advanced, view, kRowsOf[mcuFamily(options.mcuType)], actionAllowed});
}

tool::AdvancedSettings defaults() { return tool::defaultAdvancedSettings("/opt/mvx"); }

// ---- 1TO4 and the interface radios ----------------------------------------

struct FourBoardCase {
    int mcuType;
    int oneToFour;
    int interfaceBefore;
    int interfaceAfter;
    bool usbAndCvtEnabled;   // 1080, 1085
    bool iicEnabled;         // 1082
};

class FourBoards : public ::testing::TestWithParam<FourBoardCase> {};

TEST_P(FourBoards, TheSwitchDrivesThroughNorvaneIic)
{
    const FourBoardCase& c = GetParam();
    PageFixture page;
    page.model.select(OptionField::McuType, c.mcuType);
    page.model.select(OptionField::InterfaceKind, c.interfaceBefore);
    const int before = page.model.options().interfaceKind;

    const ChangeRecord record = page.model.select(OptionField::OneToFour, c.oneToFour);

    EXPECT_EQ(page.model.options().interfaceKind, c.interfaceAfter);
    EXPECT_EQ(record.changeOf(OptionField::InterfaceKind).has_value(), before != c.interfaceAfter);
    EXPECT_EQ(record.has(FollowUp::ChooseLdFiles), c.oneToFour == kFourBoards && c.mcuType <= kSerialFlash);
    EXPECT_TRUE(page.model.settingsDirty());
    const PageLayout layout = page.model.layout(kRowsOf[mcuFamily(c.mcuType)], true);
    EXPECT_EQ(layout.state(names::interfaceNorvaneUsbRadio).enabled, c.usbAndCvtEnabled);
    EXPECT_EQ(layout.state(names::interfaceCvtIicRadio).enabled, c.usbAndCvtEnabled);
    EXPECT_EQ(layout.state(names::interfaceNorvaneIicRadio).enabled, c.iicEnabled);
    EXPECT_TRUE(layout.state(names::interfaceFtdiUsbRadio).enabled);
    EXPECT_EQ(page.model.summary().interface, kInterfaceNames[static_cast<std::size_t>(c.interfaceAfter)]);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, FourBoards, ::testing::Values(
    FourBoardCase{kR5310, kFourBoards, 0, 2, false, false},
    FourBoardCase{kR5312, kFourBoards, 3, 2, false, false},
    FourBoardCase{kSerialFlash, kFourBoards, 1, 2, false, false},
    FourBoardCase{kSerialFlash, kOneBoard, 3, 3, true, true},
    FourBoardCase{kR5310x4, kOneBoard, 0, 2, false, true},
    FourBoardCase{kSerialFlashx4, kFourBoards, 3, 2, false, true}));

// ---- erase type and check type ---------------------------------------------------

struct EraseCase {
    int mcuType;
    int eraseType;
    int extTrueSize;
    int checkBefore;
    int checkAfter;
    bool checkEnabled;
    bool extTrueSizeEnabled;
    bool comboEnabled;
};

class EraseType : public ::testing::TestWithParam<EraseCase> {};

TEST_P(EraseType, SwitchesTheCheckAndTrueSizeControls)
{
    const EraseCase& c = GetParam();
    PageFixture page;
    page.model.select(OptionField::McuType, c.mcuType);
    page.model.select(OptionField::ExtTrueSize, c.extTrueSize);
    page.model.select(OptionField::EraseType, 1 - c.eraseType);
    page.model.select(OptionField::CheckType, c.checkBefore);

    page.model.select(OptionField::EraseType, c.eraseType);

    EXPECT_EQ(page.model.options().checkType, c.checkAfter);
    const PageLayout layout = page.model.layout(kRowsOf[mcuFamily(c.mcuType)], true);
    for (std::string_view name : {names::checkCrcRadio, names::checkSumRadio, names::checkGroupBox})
        EXPECT_EQ(layout.state(name).enabled, c.checkEnabled) << name;
    EXPECT_EQ(layout.state(names::extTrueSizeCheckBox).enabled, c.extTrueSizeEnabled);
    EXPECT_EQ(layout.state(names::trueSizeCombo).enabled, c.comboEnabled);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, EraseType, ::testing::Values(
    EraseCase{kR5310, kMassErase, 1, kCheckSum, kCheckCrc, false, false, false},
    EraseCase{kR5310, kPageErase, 0, kCheckCrc, kCheckSum, true, true, false},
    EraseCase{kR5310, kPageErase, 1, kCheckCrc, kCheckSum, true, true, true},
    EraseCase{kR5310x4, kPageErase, 1, kCheckCrc, kCheckSum, false, true, true},
    EraseCase{kR5310x4, kMassErase, 0, kCheckSum, kCheckCrc, false, false, false},
    EraseCase{kR5312, kPageErase, 0, kCheckCrc, kCheckCrc, false, true, false},
    EraseCase{kR5312, kMassErase, 1, kCheckSum, kCheckSum, false, false, false},
    EraseCase{kSerialFlash, kPageErase, 1, kCheckSum, kCheckSum, false, false, false}));

// ---- the per-MCU memory ----------------------------------------------------------

TEST(PerMcuMemory, ChangingTypeAwayAndBackRestoresAllTwelveValuesAndTheTickedRows)
{
    PageFixture page;
    page.model.load();
    page.model.select(OptionField::McuType, kR5312);
    // Every value different from the R5312 column's defaults.
    const std::vector<std::pair<OptionField, int>> choices{
        {OptionField::OneToFour, kOneBoard}, {OptionField::InterfaceKind, 3}, {OptionField::AddressMode, 0},
        {OptionField::CheckType, 1}, {OptionField::FlashBrand, 4}, {OptionField::IspType, 1},
        {OptionField::EraseType, 1}, {OptionField::ExtTrueSize, 1}, {OptionField::TrueSizeIndex, 17},
        {OptionField::FileType, kBinFile}, {OptionField::SstType, 1}};
    for (const auto& [field, value] : choices)
        ASSERT_FALSE(page.model.select(field, value).error);
    page.model.tickRow(0, false);
    page.model.tickRow(2, false);
    page.model.tickRow(4, true);
    const tool::ModeOptions expected{3, 0, 1, 4, 1, 1, 1, 17, 0x12, kBinFile, kOneBoard, 1};
    ASSERT_EQ(rememberedValues(page.model.options()), expected);

    const ChangeRecord away = page.model.select(OptionField::McuType, kSerialFlash);
    EXPECT_EQ(rememberedValues(page.model.options()), tool::modeDefaults(kSerialFlash));
    EXPECT_TRUE(away.has(FollowUp::ReloadFileRows)) << "the two types keep different file types";
    EXPECT_TRUE(page.model.mcuChanged());
    page.model.select(OptionField::InterfaceKind, 1);
    page.model.tickRow(8, true);

    const ChangeRecord back = page.model.select(OptionField::McuType, kR5312);
    EXPECT_EQ(rememberedValues(page.model.options()), expected);
    EXPECT_EQ(back.rowsAfter, 0x12);
    EXPECT_TRUE(back.stored);
    // What the file holds: the MCU type and both columns as they were left.
    EXPECT_EQ(page.stored("mcu"), kR5312);
    EXPECT_EQ(page.stored("5312_ex_size"), 17);
    EXPECT_EQ(page.stored("5312_filecheck"), 0x12);
    EXPECT_EQ(page.stored("SerialFlash_interface"), 1);
    EXPECT_EQ(page.stored("SerialFlash_filecheck"), 0x107);

    OptionModel reopened(page.model.files(), page.ui);
    reopened.load();
    EXPECT_EQ(reopened.options(), page.model.options());
    EXPECT_EQ(reopened.settings().modes, page.model.settings().modes);
}

struct SavedHexCase {
    int savedHex;
    std::vector<tool::Answer> answers;
    int mcuAfter;
    bool asked;
    bool rowNamesRefreshed;
};

class SavedHexChange : public ::testing::TestWithParam<SavedHexCase> {};

TEST_P(SavedHexChange, AsksBeforeLeavingTheStoredFirmware)
{
    const SavedHexCase& c = GetParam();
    PageFixture page;
    page.model.settings().advanced.saved_hex = c.savedHex;
    page.ui.answers.assign(c.answers.begin(), c.answers.end());

    const ChangeRecord record = page.model.select(OptionField::McuType, kSerialFlash);

    EXPECT_EQ(page.model.options().mcuType, c.mcuAfter);
    EXPECT_EQ(rememberedValues(page.model.options()), tool::modeDefaults(c.mcuAfter))
        << "a page that has read no settings file holds each type's defaults";
    EXPECT_EQ(record.declined, c.mcuAfter == kR5310);
    EXPECT_EQ(page.model.settingsDirty(), !record.declined);
    EXPECT_EQ(page.ui.questions.size(), c.asked ? 1u : 0u);
    EXPECT_EQ(record.has(FollowUp::RefreshRowNames), c.rowNamesRefreshed);
    EXPECT_EQ(page.model.advanced().saved_hex, c.mcuAfter == kSerialFlash ? 0 : c.savedHex);
    EXPECT_EQ(page.stored("mcu"), record.declined ? -999 : kSerialFlash);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, SavedHexChange, ::testing::Values(
    SavedHexCase{0, {}, kSerialFlash, false, false},
    SavedHexCase{1, {tool::Answer::Yes}, kSerialFlash, true, true},
    SavedHexCase{1, {tool::Answer::No}, kR5310, true, false}));

// ---- the option summary ------------------------------------------------------

struct SummaryCase {
    int mcuType, oneToFour, interfaceKind, eraseType, extTrueSize, trueSizeIndex, fileType;
    OptionSummary expected;
};

class Summary : public ::testing::TestWithParam<SummaryCase> {};

TEST_P(Summary, NamesTheOptions)
{
    const SummaryCase& c = GetParam();
    PageOptions o;
    o.mcuType = c.mcuType;
    o.oneToFour = c.oneToFour;
    o.interfaceKind = c.interfaceKind;
    o.eraseType = c.eraseType;
    o.extTrueSize = c.extTrueSize;
    o.trueSizeIndex = c.trueSizeIndex;
    o.fileType = c.fileType;
    EXPECT_EQ(optionSummary(o), c.expected);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, Summary, ::testing::Values(
    SummaryCase{kR5310, 0, 0, kPageErase, 1, 31, 0, {"5310", "USB", "Page Erase", "32k", "HEX"}},
    SummaryCase{kR5312, 0, 1, kPageErase, 1, 0, 1, {"5312", "FTDI", "Page Erase", "1k", "BIN"}},
    SummaryCase{kR5310, 0, 2, kPageErase, 0, 31, 0, {"5310", "IIC", "Page Erase", "--", "HEX"}},
    SummaryCase{kSerialFlash, 0, 3, kMassErase, 1, 31, 0, {"SerialFlash", "CVT IIC", "Mass Erase", "--", "HEX"}},
    SummaryCase{kSerialFlash, 1, 2, kMassErase, 0, 0, 1, {"SF_1to4", "IIC", "Mass Erase", "--", "BIN"}},
    SummaryCase{kR5312x4, 0, 2, kMassErase, 0, 0, 0, {"5312_1to4", "IIC", "Mass Erase", "--", "HEX"}},
    SummaryCase{kR5310, 0, 7, 6, 1, 3, 2, {"5310", "--", "--", "--", "--"}}));

// ---- enabling by MCU type ------------------------------------------------------------

struct EnablingCase {
    int mcuType;
    int autoDetect;
    int ispType;
    // address radios, address edit (custom address), brand, erase, true size box, ISP type,
    // check (page erase), flash protect
    std::array<bool, 8> enabled;
};

class OptionEnabling : public ::testing::TestWithParam<EnablingCase> {};

TEST_P(OptionEnabling, FollowsTheMcuType)
{
    const EnablingCase& c = GetParam();
    PageOptions o;
    o.mcuType = c.mcuType;
    o.addressMode = kAddressCustom;
    o.ispType = c.ispType;
    o.eraseType = kPageErase;
    tool::AdvancedSettings a = defaults();
    a.Auto_detect = c.autoDetect;
    const PageLayout layout = layoutOf(o, a, kFullView);
    const std::array<std::string_view, 8> probes{
        names::addressDefaultRadio, names::addressEdit,     names::brandWinbondRadio,
        names::erasePageRadio,      names::extTrueSizeCheckBox, names::ispTypeEraseRadio,
        names::checkSumRadio,       names::flashProtectButton};
    for (std::size_t i = 0; i < probes.size(); ++i)
        EXPECT_EQ(layout.state(probes[i]).enabled, c.enabled[i]) << probes[i];
    EXPECT_FALSE(layout.state(names::sst4MbitRadio).visible);
    EXPECT_FALSE(layout.state(names::mcu1to4R5312Radio).visible);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, OptionEnabling, ::testing::Values(
    EnablingCase{kR5310, 0, kIspAuto, {false, false, false, true, true, true, true, false}},
    EnablingCase{kR5310x4, 0, kIspAuto, {false, false, false, true, true, false, false, false}},
    EnablingCase{kR5312, 0, kIspAuto, {true, true, false, true, true, true, false, false}},
    EnablingCase{kR5312x4, 0, kIspAuto, {true, true, false, true, true, false, false, false}},
    EnablingCase{kSerialFlash, 0, kIspAuto, {true, true, true, false, false, true, false, true}},
    EnablingCase{kSerialFlash, 1, kIspEraseOnly, {true, true, false, true, false, true, false, true}},
    EnablingCase{kSerialFlashx4, 1, kIspEraseOnly, {true, true, true, false, false, true, false, true}}));

// ---- the view layout ----------------------------------------------------------------

struct ViewCase {
    int view;
    int mcuType;
    int oneToFour;
    int hdcp, readIc, showEnable, ispEnable, showMcu, showInfo, repeat;
    std::string_view actionButton;
    // MCU radios, summary, repeat counters, IC code text, ISP enable radios, interface radios
    std::array<bool, 6> shown;
};

class ViewLayout : public ::testing::TestWithParam<ViewCase> {};

TEST_P(ViewLayout, ShowsTheViewsControls)
{
    const ViewCase& c = GetParam();
    PageOptions o;
    o.mcuType = c.mcuType;
    o.oneToFour = c.oneToFour;
    o.ispEnable = c.ispEnable;
    tool::AdvancedSettings a = defaults();
    a.enable_hdcp_key_fire = c.hdcp;
    a.enable_read_ic_code = c.readIc;
    a.enable_show_isp_enableoption = c.showEnable;
    a.show_mcu = c.showMcu;
    a.showinfo = c.showInfo;
    a.enable_isprepeattest = c.repeat;
    a.isprepeat_counter = 250;
    const PageLayout layout = layoutOf(o, a, c.view);

    EXPECT_EQ(layout.actionButton, c.actionButton);
    for (std::string_view button : {names::ispButton, names::readIcCodeButton, names::hdcpKeyFireButton})
        EXPECT_EQ(layout.state(button).visible, button == c.actionButton) << button;
    const std::array<std::string_view, 6> probes{names::mcuSerialFlashRadio, names::summaryEraseSizeEdit,
                                                 names::passCountLabel,      names::icCodeLabel,
                                                 names::ispDisableRadio,     names::interfaceFtdiUsbRadio};
    for (std::size_t i = 0; i < probes.size(); ++i)
        EXPECT_EQ(layout.state(probes[i]).visible, c.shown[i]) << probes[i];
    for (std::string_view option : {names::eraseMassRadio, names::saveSettingsButton, names::brandSstRadio,
                                    names::oneToFourRadio, names::fileBinRadio})
        EXPECT_EQ(layout.state(option).visible, c.view == kFullView) << option;
    if (c.repeat != 0 && c.view == kCompactView) {
        EXPECT_EQ(layout.texts.at(std::string(names::totalCountLabel)), "250");
    }
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, ViewLayout, ::testing::Values(
    // the full view has no action button and shows every option
    ViewCase{kFullView, kSerialFlash, 0, 0, 0, 0, 0, 0, 1, 0, "", {true, true, false, false, false, true}},
    ViewCase{kFullView, kSerialFlash, 0, 1, 1, 1, 0, 0, 0, 1, "", {true, true, false, false, false, true}},
    // compact view
    ViewCase{kCompactView, kR5310, 0, 0, 0, 0, 0, 0, 1, 0, names::ispButton, {false, true, false, false, false, false}},
    ViewCase{kCompactView, kR5312, 0, 1, 1, 1, 1, 1, 0, 1, names::ispButton, {true, false, true, false, false, false}},
    ViewCase{kCompactView, kSerialFlash, 1, 1, 1, 0, 0, 0, 0, 0, names::ispButton, {false, false, false, false, false, false}},
    ViewCase{kCompactView, kSerialFlash, 0, 1, 1, 1, 0, 0, 0, 0, names::hdcpKeyFireButton, {false, false, false, false, false, false}},
    ViewCase{kCompactView, kSerialFlash, 0, 0, 1, 0, 0, 0, 0, 0, names::readIcCodeButton, {false, false, false, true, false, false}},
    ViewCase{kCompactView, kSerialFlash, 0, 0, 1, 1, 1, 0, 0, 0, names::readIcCodeButton, {false, false, false, true, true, false}},
    ViewCase{kCompactView, kSerialFlash, 0, 0, 1, 1, 0, 0, 0, 0, names::ispButton, {false, false, false, true, true, false}},
    ViewCase{kCompactView, kSerialFlash, 0, 0, 0, 1, 1, 0, 0, 0, names::ispButton, {false, false, false, false, false, false}}));

// ---- the file rows' controls ----------------------------------------------------------

struct RowCase {
    int savedHex, disOpen, disCheck;
    int fileType;
    int row;
    bool ticked;
    bool boxEnabled, openEnabled, editsEnabled;
};

class RowEnabling : public ::testing::TestWithParam<RowCase> {};

TEST_P(RowEnabling, FollowsTheSwitchesAndTheTick)
{
    const RowCase& c = GetParam();
    PageOptions o;
    o.mcuType = kR5312;
    o.fileType = c.fileType;
    o.tickedRows = c.ticked ? static_cast<std::uint16_t>(1u << c.row) : 0;
    tool::AdvancedSettings a = defaults();
    a.saved_hex = c.savedHex;
    a.dis_open = c.disOpen;
    a.dis_check = c.disCheck;
    const PageLayout layout = layoutOf(o, a, kFullView);
    EXPECT_EQ(layout.state(rowControlName(c.row, RowPart::CheckBox)).enabled, c.boxEnabled);
    EXPECT_EQ(layout.state(rowControlName(c.row, RowPart::OpenButton)).enabled, c.openEnabled);
    EXPECT_EQ(layout.state(rowControlName(c.row, RowPart::ChecksumEdit)).enabled, c.editsEnabled);
    EXPECT_EQ(layout.state(rowControlName(c.row, RowPart::NameEdit)).enabled, c.editsEnabled);
    EXPECT_EQ(layout.state(names::bigBinChecksumEdit).visible, c.fileType == kBinFile);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, RowEnabling, ::testing::Values(
    RowCase{0, 0, 0, kHexFiles, 2, true, true, true, true},
    RowCase{0, 0, 0, kHexFiles, 2, false, true, false, false},
    RowCase{0, 1, 0, kHexFiles, 1, true, true, false, true},     // dis_open: no open button
    RowCase{0, 0, 1, kHexFiles, 1, true, false, true, true},     // dis_check: no check box
    RowCase{1, 0, 0, kHexFiles, 0, true, false, false, true},    // saved_hex: neither
    RowCase{0, 0, 0, kBinFile, 0, true, true, true, true},
    RowCase{0, 0, 0, kBinFile, 1, true, true, false, true},      // Bin: only row 0 opens
    RowCase{0, 0, 0, kHexFiles, 3, true, false, false, false})); // beyond the R5312's rows

// ---- keyboard -----------------------------------------------------------------------------

struct KeyCase {
    int view;
    bool ispButtonEnabled;
    std::vector<std::pair<int, bool>> keys;   // key, down
    KeyAction last;
    int viewAfter;
    bool switchPage;
};

class Keyboard : public ::testing::TestWithParam<KeyCase> {};

TEST_P(Keyboard, FollowsTheKeyRules)
{
    const KeyCase& c = GetParam();
    PageFixture page;
    page.model.setViewMode(c.view);
    KeyAction last = KeyAction::PassOn;
    for (const auto& [key, down] : c.keys) {
        if (down)
            last = page.model.keyDown(key, c.ispButtonEnabled);
        else
            page.model.keyUp(key);
    }
    EXPECT_EQ(last, c.last);
    EXPECT_EQ(page.model.viewMode(), c.viewAfter);
    EXPECT_EQ(page.model.switchPage(), c.switchPage);
}

INSTANTIATE_TEST_SUITE_P(CustomerPage, Keyboard, ::testing::Values(
    KeyCase{kCompactView, true, {{kKeyEnter, true}}, KeyAction::StartRun, kCompactView, false},
    KeyCase{kCompactView, false, {{kKeyEnter, true}}, KeyAction::Consume, kCompactView, false},
    KeyCase{kFullView, true, {{kKeyEnter, true}}, KeyAction::Consume, kFullView, false},
    KeyCase{kCompactView, true, {{kKeyEscape, true}}, KeyAction::Consume, kCompactView, false},
    KeyCase{kCompactView, true, {{kKeyControl, true}, {'M', true}}, KeyAction::ToggleView, kFullView, false},
    KeyCase{kFullView, true, {{kKeyControl, true}, {'M', true}}, KeyAction::SwitchPage, kFullView, true},
    KeyCase{kCompactView, true, {{'M', true}}, KeyAction::PassOn, kCompactView, false},
    KeyCase{kCompactView, true, {{kKeyControl, true}, {kKeyControl, false}, {'M', true}}, KeyAction::PassOn,
            kCompactView, false},
    // a wrong key restarts the sequence; each completed one acts in the view it finds
    KeyCase{kCompactView, true, {{kKeyControl, true}, {'X', true}, {'M', true}, {'M', true}},
            KeyAction::SwitchPage, kFullView, true}));

// ---- saving and closing -----------------------------------------------------------------

TEST(Closing, AsksOnceAboutUnsavedChangesAndKeepsWhatWasAnswered)
{
    struct Case {
        bool change;
        bool saveFirst;
        tool::Answer answer;
        bool asked;
        int storedInterface;   // -999: never written
    };
    for (const Case& c : {Case{false, false, tool::Answer::Yes, false, -999},
                          Case{true, false, tool::Answer::Yes, true, 3},
                          Case{true, false, tool::Answer::No, true, -999},
                          Case{true, true, tool::Answer::No, false, 3}}) {
        PageFixture page;
        page.model.load();
        page.ui.answers = {c.answer};
        if (c.change)
            page.model.select(OptionField::InterfaceKind, 3);
        if (c.saveFirst) {
            const ChangeRecord saved = page.model.saveSettings();
            EXPECT_TRUE(saved.stored);
            EXPECT_EQ(page.model.viewMode(), kFullView) << "Save Settings toggles the view";
        }
        const CloseOutcome outcome = page.model.close();
        EXPECT_TRUE(outcome.closes);
        EXPECT_EQ(outcome.asked, c.asked);
        EXPECT_EQ(page.ui.questions.size(), c.asked ? 1u : 0u);
        if (c.asked) {
            EXPECT_EQ(page.ui.questions.front(), "Confirm: Do you want to save the settings?");
        }
        EXPECT_EQ(page.stored("5310_interface"), c.storedInterface);
    }
}

TEST(Closing, IsRefusedDuringARunAndWhenTheSettingsCannotBeWritten)
{
    PageFixture page;
    page.model.select(OptionField::EraseType, kPageErase);
    page.model.setIspRunning(true);
    EXPECT_FALSE(page.model.close().closes);
    EXPECT_TRUE(page.ui.questions.empty());

    page.model.setIspRunning(false);
    std::filesystem::create_directory(page.ini());   // a settings "file" that cannot be written
    page.ui.answers = {tool::Answer::Yes};
    const CloseOutcome outcome = page.model.close();
    EXPECT_FALSE(outcome.closes);
    ASSERT_TRUE(outcome.record.error);
    EXPECT_EQ(page.ui.messages.size(), 1u);
    EXPECT_TRUE(page.model.settingsDirty());
    EXPECT_EQ(page.model.saveSettings().stored, false);
    EXPECT_EQ(page.model.viewMode(), kCompactView) << "a failed save keeps the view";
}

// ---- settings notifications -----------------------------------------------------------

TEST(SettingsNotify, CopiesWhatEachCodeCarries)
{
    PageFixture page;
    page.model.select(OptionField::McuType, kSerialFlash);
    tool::AdvancedSettings sent = defaults();
    sent.saved_hex = 1;
    sent.show_mcu = 1;
    sent.dis_open = 1;
    ChangeRecord r = page.model.settingsNotify(tool::notifyAdvancedSettings(sent).wParam, 0);
    EXPECT_EQ(page.model.advanced().saved_hex, 0) << "show_mcu clears saved_hex";
    EXPECT_EQ(page.model.advanced().dis_open, 1);
    EXPECT_TRUE(r.has(FollowUp::RefreshRowNames) && r.has(FollowUp::RecomputeBankRows) &&
                r.has(FollowUp::Retitle) && r.has(FollowUp::RecomputeMissingFiles));
    EXPECT_FALSE(page.model.layout(kRowsOf[2], true).state(rowControlName(0, RowPart::OpenButton)).enabled);

    tool::TextField title{};
    tool::setText(title, "Line 3");
    r = page.model.settingsNotify(tool::notifyTitle(title).wParam, 1);
    EXPECT_EQ(tool::textOf(page.model.advanced().user_title), "Line 3");
    EXPECT_EQ(r.followUps, (std::vector<FollowUpStep>{{FollowUp::Retitle, -1, {}}}));
    const Retitle retitled = page.model.retitleNow();
    EXPECT_EQ(retitled.title.rfind("Line 3", 0), 0u);
    EXPECT_FALSE(retitled.mirrorError);
    EXPECT_EQ(tool::mirroredWindowTitle(page.folder.file("registry.ini")), "Line 3");

    const char* folder = "/media/usb/job";
    r = page.model.settingsNotify(reinterpret_cast<std::uintptr_t>(folder), 2);
    EXPECT_EQ(r.followUps, (std::vector<FollowUpStep>{{FollowUp::ExportStoredFirmware, -1, folder}}));
    r = page.model.settingsNotify(reinterpret_cast<std::uintptr_t>(folder), 3);
    EXPECT_EQ(r.followUps, (std::vector<FollowUpStep>{{FollowUp::ExportStoredLdFiles, -1, folder}}));

    const FlashProtectSettings protect{0, 2, 4, 0};
    r = page.model.settingsNotify(tool::notifyFlashProtect(protect).wParam, 4);
    EXPECT_EQ(tool::protectWords(page.model.settings().protect), tool::protectWords(protect));
    EXPECT_TRUE(r.followUps.empty());

    EXPECT_TRUE(page.model.settingsNotify(tool::notifyFlashProtect(protect).wParam, 9).error);
}

// ---- refused input --------------------------------------------------------------------

TEST(RefusedInput, ChangesNothing)
{
    PageFixture page;
    const PageOptions before = page.model.options();
    for (const auto& [field, value] : std::vector<std::pair<OptionField, int>>{
             {OptionField::McuType, 6}, {OptionField::TrueSizeIndex, 32}, {OptionField::InterfaceKind, -1},
             {OptionField::FlashBrand, 6}}) {
        const ChangeRecord r = page.model.select(field, value);
        EXPECT_TRUE(r.error) << optionRange(field).name;
        EXPECT_TRUE(r.changed.empty());
    }
    EXPECT_TRUE(page.model.tickRow(9, true).error);
    EXPECT_TRUE(page.model.setAddressText("9A4").error);
    EXPECT_TRUE(page.model.setAddressText("g1").error);
    EXPECT_EQ(page.model.options(), before);
    EXPECT_FALSE(page.model.settingsDirty());
    EXPECT_FALSE(page.model.setAddressText("9a").error);
    EXPECT_EQ(parseAddressText(page.model.options().addressText), 0x9A);
}

}  // namespace
