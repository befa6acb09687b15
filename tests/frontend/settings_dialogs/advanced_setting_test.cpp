// The Advanced Setting model against a scripted operator and a page that
// records what it is sent: the refresh order's consequences, the HDCP lock
// and restore passes, the handlers' interlocks and refusals, the byte edits,
// the sliders' labels, the repeat count's prompts, the exports, the title.
#include "settings_dialogs/advanced_setting.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "settings_dialogs/edit_title.hpp"
#include "settings_receiver_support.hpp"
#include "shell_test_support.hpp"

using namespace mvx::settings_dialogs;
namespace tool = mvx::tool;
using C = AdvancedControl;
using Record = tool::AdvancedSettings;

namespace {

struct Dialog {
    explicit Dialog(const Record& record, int mode = 0, std::array<std::string, 4> ld = {})
        : model(record, mode, std::move(ld), ui, page)
    {
    }
    // The record the page holds after the last notification 0.
    Record sent() const
    {
        for (auto r = page.received.rbegin(); r != page.received.rend(); ++r)
            if (r->code == tool::SettingsNotifyCode::AdvancedSettings)
                return r->record;
        ADD_FAILURE() << "no record was sent";
        return {};
    }
    mvx::test::ScriptedUi ui;
    mvx::test::RecordingPage page;
    AdvancedSettingModel model;
};

Record defaults()
{
    return tool::defaultAdvancedSettings("/opt/mvx");
}

}  // namespace

TEST(AdvancedSetting, OpeningLaysTheControlsOutInTheRefreshOrder)
{
    struct Case {
        const char* what;
        std::function<void(Record&)> set;
        std::function<void(const Dialog&, const Record&)> expect;   // the record sent on the next change
    };
    const Case cases[] = {
        {"IC code shown clears the MCU selection",
         [](Record& r) { r.enable_read_ic_code = 1; r.show_mcu = 1; },
         [](const Dialog& d, const Record& sent) {
             EXPECT_EQ(sent.show_mcu, 0);
             EXPECT_EQ(sent.enable_read_ic_code, 1);
             EXPECT_FALSE(d.model.state(C::ShowMcu).checked);
         }},
        {"the repeat test runs first and clears the IC code",
         [](Record& r) { r.enable_isprepeattest = 1; r.enable_read_ic_code = 1; },
         [](const Dialog& d, const Record& sent) {
             EXPECT_EQ(sent.enable_read_ic_code, 0);
             EXPECT_EQ(sent.enable_isprepeattest, 1);
             EXPECT_FALSE(d.model.state(C::ReadIc).checked);
             EXPECT_TRUE(d.model.state(C::RepeatCount).enabled);
         }},
        {"auto-load unticks the saved firmware",
         [](Record& r) { r.enable_autoload_fw_files = 1; r.saved_hex = 1; },
         [](const Dialog& d, const Record& sent) {
             EXPECT_EQ(sent.saved_hex, 0);
             EXPECT_FALSE(d.model.state(C::ExportSavedFw).enabled);
         }},
        {"HDCP mode clears what cannot run with it and keeps the bank mask",
         [](Record& r) {
             r.enable_hdcp_key_fire = 1; r.showinfo = 1; r.enable_masserasebeforeauto4flash = 1;
             r.bankindex_erasebeforeauto4flash = 0x81; r.hdcp_key_fire_check_method = 1;
         },
         [](const Dialog& d, const Record& sent) {
             EXPECT_EQ(sent.showinfo, 0);
             EXPECT_EQ(sent.enable_masserasebeforeauto4flash, 0);
             EXPECT_EQ(sent.bankindex_erasebeforeauto4flash, 0x81);
             EXPECT_FALSE(d.model.state(C::VgaDelaySlider).enabled);
             EXPECT_FALSE(d.model.state(C::Bank0).enabled);
             EXPECT_TRUE(d.model.state(C::Bank0).checked);
             EXPECT_TRUE(d.model.state(C::HdcpSaveRead).enabled) << "read-back check method";
             EXPECT_TRUE(d.model.state(C::OtherUsbSlider).enabled) << "speeds are untouched";
         }},
        {"values shown: bytes in upper-case hex, delays in ms, speeds",
         [](Record& r) {
             r.ffe2_value = 255; r.ffe3_value = 0x0B; r.flashstatus_value = 0x7F; r.checkVGAconn_delay = 120;
             r.other_usb_ispspeed = 200; r.norvane_iic_ispspeed = 7; r.norvane_usb_frequency = 2;
         },
         [](const Dialog& d, const Record&) {
             EXPECT_EQ(d.model.state(C::Ffe2).text, "FF");
             EXPECT_EQ(d.model.state(C::Ffe3).text, "0B");
             EXPECT_EQ(d.model.state(C::FlashStatusValue).text, "7F");
             EXPECT_EQ(d.model.state(C::VgaDelayValue).text, "120 ms");
             EXPECT_EQ(d.model.state(C::VgaDelaySlider).value, 120);
             EXPECT_EQ(d.model.state(C::OtherUsbValue).text, "29K");
             EXPECT_EQ(d.model.state(C::IicSpeedValue).text, "7");
             EXPECT_TRUE(d.model.state(C::UsbLow).checked);
             EXPECT_FALSE(d.model.state(C::HdcpCrc).enabled) << "HDCP options greyed outside HDCP mode";
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record r = defaults();
        c.set(r);
        Dialog d(r);
        EXPECT_TRUE(d.page.received.empty()) << "opening sends nothing";
        d.model.toggle(C::AutoRun, true);
        c.expect(d, d.sent());
    }
}

TEST(AdvancedSetting, HdcpOnThenOffLeavesTheExcludedOptionsOffAndKeepsTheRest)
{
    Record r = defaults();
    for (auto flag : {&Record::saved_hex, &Record::saved_ld, &Record::showinfo, &Record::enable_masserasebeforeauto4flash,
                      &Record::enable_bankerasebeforeauto4flash, &Record::enable_isprepeattest,
                      &Record::enable_autoload_fw_files, &Record::enable_sete2e3output,
                      &Record::enable_setflashstatusafterisp, &Record::enable_check_ic_code_before_isp,
                      &Record::Enable_sectorerase_extendbank})
        r.*flag = 1;
    r.bankindex_erasebeforeauto4flash = 0x5A;
    r.checkVGAconn_delay = 300;
    r.beforeshowCKSM_delay = 1500;
    r.other_usb_ispspeed = 59;
    r.norvane_usb_ispspeed = 4;
    tool::setText(r.autoload_directory_pathname, "/fw");
    tool::setText(r.autoload_hdcp_key_file_pathname, "/keys/k.bin");
    Dialog d(r);
    d.model.toggle(C::HdcpFire, true);
    EXPECT_FALSE(d.model.state(C::RepeatTest).enabled);
    EXPECT_TRUE(d.model.state(C::HdcpKeyFile).enabled);
    d.model.toggle(C::HdcpFire, false);
    const Record sent = d.sent();
    for (auto flag : {&Record::saved_hex, &Record::saved_ld, &Record::show_mcu, &Record::showinfo,
                      &Record::enable_masserasebeforeauto4flash, &Record::enable_bankerasebeforeauto4flash,
                      &Record::enable_isprepeattest, &Record::enable_autoload_fw_files, &Record::enable_sete2e3output,
                      &Record::enable_setflashstatusafterisp, &Record::enable_read_ic_code,
                      &Record::enable_check_ic_code_before_isp, &Record::enable_hdcp_key_fire})
        EXPECT_EQ(sent.*flag, 0);
    EXPECT_EQ(sent.bankindex_erasebeforeauto4flash, 0x5A);
    EXPECT_EQ(sent.checkVGAconn_delay, 300);
    EXPECT_EQ(sent.beforeshowCKSM_delay, 1500);
    EXPECT_EQ(sent.other_usb_ispspeed, 59);
    EXPECT_EQ(sent.norvane_usb_ispspeed, 4);
    EXPECT_EQ(tool::textOf(sent.autoload_directory_pathname), "/fw");
    EXPECT_EQ(tool::textOf(sent.autoload_hdcp_key_file_pathname), "/keys/k.bin");
    EXPECT_TRUE(d.model.state(C::RepeatTest).enabled);
    EXPECT_FALSE(d.model.state(C::RepeatCount).enabled);
    EXPECT_FALSE(d.model.state(C::HdcpKeyFile).enabled);
    EXPECT_EQ(d.page.received.size(), 2u);
}

TEST(AdvancedSetting, HandlersKeepTheOptionsThatExcludeEachOtherApart)
{
    struct Case {
        const char* what;
        std::function<void(Record&)> set;
        std::function<void(AdvancedSettingModel&)> act;
        std::function<void(const AdvancedSettingModel&, const Record&)> expect;
    };
    const Case cases[] = {
        {"reading the IC code drops MCU selection and repeat test",
         [](Record& r) { r.show_mcu = 1; r.enable_isprepeattest = 1; },
         [](AdvancedSettingModel& m) { m.toggle(C::ReadIc, true); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.show_mcu, 0);
             EXPECT_EQ(s.enable_isprepeattest, 0);
             EXPECT_FALSE(m.state(C::RepeatTest).enabled);
             EXPECT_TRUE(m.state(C::ShowIspEnable).enabled);
         }},
        {"no IC code: the ISP enable option goes off",
         [](Record& r) { r.enable_read_ic_code = 1; r.enable_show_isp_enableoption = 1; },
         [](AdvancedSettingModel& m) { m.toggle(C::ReadIc, false); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.enable_show_isp_enableoption, 0);
             EXPECT_FALSE(m.state(C::ShowIspEnable).enabled);
             EXPECT_TRUE(m.state(C::ShowMcu).enabled);
         }},
        {"the repeat test drops the IC code", [](Record& r) { r.enable_read_ic_code = 1; },
         [](AdvancedSettingModel& m) { m.toggle(C::RepeatTest, true); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.enable_read_ic_code, 0);
             EXPECT_EQ(s.enable_isprepeattest, 1);
             EXPECT_FALSE(m.state(C::ReadIc).enabled);
         }},
        {"auto-load drops the saved firmware", [](Record& r) { r.saved_hex = 1; },
         [](AdvancedSettingModel& m) { m.toggle(C::AutoLoad, true); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.saved_hex, 0);
             EXPECT_FALSE(m.state(C::SavedFw).enabled);
             EXPECT_TRUE(m.state(C::AutoLoadBrowse).enabled);
         }},
        {"mass erase greys the bank erase", [](Record&) {},
         [](AdvancedSettingModel& m) { m.toggle(C::MassErase, true); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.enable_masserasebeforeauto4flash, 1);
             EXPECT_FALSE(m.state(C::BankErase).enabled);
             EXPECT_FALSE(m.state(C::Bank3).enabled);
         }},
        {"clearing a bank drops the bits above the eight banks",
         [](Record& r) { r.bankindex_erasebeforeauto4flash = 0x1F0F; },
         [](AdvancedSettingModel& m) { m.toggle(C::Bank1, false); m.toggle(C::Bank6, true); },
         [](const AdvancedSettingModel&, const Record& s) { EXPECT_EQ(s.bankindex_erasebeforeauto4flash, 0x4D); }},
        {"sector erase bank", [](Record&) {},
         [](AdvancedSettingModel& m) { m.toggle(C::SectorErase, true); m.selectSectorEraseBank(5); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.Sectorerase_bankindex, 5);
             EXPECT_TRUE(m.state(C::SectorEraseBank).enabled);
         }},
        {"CRC check drops saving the key read back",
         [](Record& r) { r.enable_hdcp_key_fire = 1; r.hdcp_key_fire_check_method = 1; r.enable_save_readed_hdcp_key = 1; },
         [](AdvancedSettingModel& m) { m.choose(C::HdcpCrc); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.hdcp_key_fire_check_method, 0);
             EXPECT_EQ(s.enable_save_readed_hdcp_key, 0);
             EXPECT_FALSE(m.state(C::HdcpSaveBrowse).enabled);
         }},
        {"sliders move their fields and labels", [](Record&) {},
         [](AdvancedSettingModel& m) { m.slide(C::OtherUsbSlider, 14); m.slide(C::CksmDelaySlider, 990); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.other_usb_ispspeed, 14);
             EXPECT_EQ(s.beforeshowCKSM_delay, 990);
             EXPECT_EQ(m.state(C::OtherUsbValue).text, "400K");
             EXPECT_EQ(m.state(C::CksmDelayValue).text, "990 ms");
         }},
        {"USB speed class", [](Record&) {}, [](AdvancedSettingModel& m) { m.choose(C::UsbMid); },
         [](const AdvancedSettingModel& m, const Record& s) {
             EXPECT_EQ(s.norvane_usb_frequency, 1);
             EXPECT_FALSE(m.state(C::UsbHigh).checked);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Record r = defaults();
        c.set(r);
        Dialog d(r);
        c.act(d.model);
        c.expect(d.model, d.sent());
        EXPECT_TRUE(d.ui.messages.empty());
    }
}

TEST(AdvancedSetting, ByteEditsParseEveryCharacterAsADigit)
{
    const std::pair<const char*, int> cases[] = {{"G", 0}, {"1G", 0x11}, {"ff", 255}, {"", 0},
                                                 {"aB", 0xAB}, {"G1", 1}, {"9z", 0x99}};
    for (const auto& [text, value] : cases)
        EXPECT_EQ(parseHexText(text), value) << text;
    EXPECT_EQ(otherUsbSpeedLabel(14), "400K");
    EXPECT_EQ(otherUsbSpeedLabel(200), "29K");

    Dialog d(defaults());
    d.model.editText(C::Ffe2, "ff");
    d.model.editText(C::IcCode, "1G");
    EXPECT_EQ(d.sent().ffe2_value, 255);
    EXPECT_EQ(d.sent().ic_code_check_value, 0x11);
    EXPECT_EQ(d.sent().ffe3_value, 191) << "the other edits parse to what they show";
    Dialog reopened(d.model.record());
    EXPECT_EQ(reopened.model.state(C::Ffe2).text, "FF");
    EXPECT_EQ(reopened.model.state(C::IcCode).text, "11");
}

TEST(AdvancedSetting, RepeatCountTakesOnlyIntegersFromOneToTenThousand)
{
    const std::pair<const char*, const char*> cases[] = {
        {"250", ""},
        {"10000", ""},
        {"0", "Please enter an integer between 1 and 10000."},
        {"10001", "Please enter an integer between 1 and 10000."},
        {"12a", "Please enter an integer."},
        {"", "Please enter an integer."},
    };
    for (const auto& [text, prompt] : cases) {
        Record r = defaults();
        r.enable_isprepeattest = 1;
        r.isprepeat_counter = 7;
        Dialog d(r);
        d.model.editText(C::RepeatCount, text);
        const bool refused = *prompt != '\0';
        EXPECT_EQ(d.sent().isprepeat_counter, refused ? 7 : std::stoi(text)) << text;
        EXPECT_EQ(d.ui.messageTexts(), refused ? std::vector<std::string>{prompt} : std::vector<std::string>{}) << text;
        DialogResult ok;
        EXPECT_EQ(d.model.accept(ok), !refused) << "OK reads the edits again";
    }
}

TEST(AdvancedSetting, RefusalsShowWhyAndSendNothing)
{
    struct Case {
        std::function<void(Record&)> set;
        std::function<void(AdvancedSettingModel&)> act;
        std::string message;
        C control;   // left unchecked
    };
    const Case cases[] = {
        {[](Record& r) { r.missing_files_mask = 0x0004; },
         [](AdvancedSettingModel& m) { m.toggle(C::SavedFw, true); }, "Need below files:\r\nBank2\r\n", C::SavedFw},
        {[](Record& r) { r.missing_files_mask = 0x0009; },
         [](AdvancedSettingModel& m) { m.toggle(C::SavedFw, true); }, "Need below files:\r\nBank0\r\nBank3\r\n", C::SavedFw},
        {[](Record& r) { r.missing_files_mask = 0x0050; },
         [](AdvancedSettingModel& m) { m.toggle(C::SavedLd, true); }, "Need below ld files:\r\nLD1\r\nLD3\r\n", C::SavedLd},
        {[](Record& r) { r.enable_hdcp_key_fire = 1; },
         [](AdvancedSettingModel& m) { m.choose(C::HdcpKeyToTool); }, std::string(kNoKeyFileMessage), C::HdcpKeyToTool},
    };
    for (const Case& c : cases) {
        Record r = defaults();
        c.set(r);
        Dialog d(r);
        const Record before = d.model.record();
        c.act(d.model);
        EXPECT_EQ(d.ui.messageTexts(), std::vector<std::string>{c.message});
        EXPECT_TRUE(d.page.received.empty()) << c.message;
        EXPECT_EQ(d.model.record(), before) << c.message;
        EXPECT_FALSE(d.model.state(c.control).checked) << c.message;
    }
    // With a key file the method is taken.
    Record r = defaults();
    r.enable_hdcp_key_fire = 1;
    Dialog d(r);
    d.ui.openChoices = {"/keys/k.bin"};
    d.model.press(C::HdcpKeyBrowse);
    d.model.choose(C::HdcpKeyToTool);
    EXPECT_EQ(d.sent().autoload_hdcp_key_file_method, 1);
    EXPECT_EQ(tool::textOf(d.sent().autoload_hdcp_key_file_pathname), "/keys/k.bin");
    EXPECT_FALSE(d.model.state(C::HdcpKeyBrowse).enabled);
}

TEST(AdvancedSetting, BrowsersAndExportsGoThroughThePickers)
{
    struct Case {
        C button;
        std::optional<std::string> chosen;
        std::vector<std::string> failures;   // what the page answers an export
        std::string title;
        std::vector<tool::SettingsNotifyCode> sent;
        std::vector<std::string> shown;
    };
    using N = tool::SettingsNotifyCode;
    const Case cases[] = {
        {C::ExportSavedFw, "/out", {}, "Select save folder", {N::ExportSavedFirmware}, {"Export successfully!"}},
        {C::ExportLdFiles, "/out", {}, "Select save folder", {N::ExportLdFiles}, {"Export successfully!"}},
        {C::ExportSavedFw, "/out", {"hexfile2 could not be copied"}, "Select save folder", {N::ExportSavedFirmware},
         {"Export failed:\nhexfile2 could not be copied\n"}},
        {C::ExportSavedFw, std::nullopt, {}, "Select save folder", {}, {}},
        {C::AutoLoadBrowse, "/fw/v2", {}, "Please Select Directory", {N::AdvancedSettings}, {}},
        {C::HdcpSaveBrowse, std::nullopt, {}, "Please Select Directory", {}, {}},
    };
    for (const Case& c : cases) {
        Dialog d(defaults());
        d.ui.folderChoices = {c.chosen};
        d.page.exportFailures = c.failures;
        const DialogResult result = d.model.press(c.button);
        EXPECT_EQ(d.ui.folderTitles, std::vector<std::string>{c.title});
        EXPECT_EQ(result.sent, c.sent);
        EXPECT_EQ(result.shown, c.shown);
        EXPECT_EQ(d.ui.messageTexts(), c.shown);
        if (!c.sent.empty() && c.sent[0] != N::AdvancedSettings) {
            EXPECT_EQ(d.page.received.at(0).text, *c.chosen);
        }
    }
    Dialog d(defaults());
    d.ui.folderChoices = {"/fw/v2.1"};
    d.model.press(C::AutoLoadBrowse);
    EXPECT_EQ(tool::textOf(d.sent().autoload_directory_pathname), "/fw/v2.1");
    EXPECT_EQ(d.model.state(C::AutoLoadFolder).text, "/fw") << "a path with a dot shows without its last part";
}

TEST(AdvancedSetting, ChangeTitleStoresOnlyAfterOkAndAlwaysSendsTheStoredTitle)
{
    // Types into a real Edit Title model, then ends with OK or Cancel.
    struct Editor final : TitleEditor {
        Editor(mvx::test::ScriptedUi& u, mvx::test::RecordingPage& p, bool accepts) : ui(u), page(p), ok(accepts) {}
        std::optional<std::string> editTitle(std::string_view current) override
        {
            EditTitleModel title(current, ui, page);
            title.edited("Line");
            title.setDefault();
            title.edited("Line 9");
            return ok ? title.accept("Line 9") : std::nullopt;
        }
        mvx::test::ScriptedUi& ui;
        mvx::test::RecordingPage& page;
        bool ok;
    };
    for (bool ok : {true, false}) {
        Record r = defaults();
        tool::setText(r.user_title, "Bench A");
        Dialog d(r);
        Editor editor(d.ui, d.page, ok);
        const DialogResult result = d.model.changeTitle(editor);
        const std::string last = ok ? "Line 9" : "Bench A";
        EXPECT_EQ(d.page.titles(),
                  (std::vector<std::string>{"Line", std::string(tool::kDefaultUserTitle), "Line 9", last}));
        EXPECT_EQ(tool::textOf(d.model.record().user_title), last);
        EXPECT_EQ(result.sent, std::vector<tool::SettingsNotifyCode>{tool::SettingsNotifyCode::Title});
    }
}

TEST(AdvancedSetting, ShowLdFilesHandsOverTheModeAndPaths)
{
    Dialog inFourBoards(defaults(), 4, {"a.hex", "b.hex", "c.hex", "d.hex"});
    EXPECT_EQ(inFourBoards.model.showLdFiles().mcuMode, 4);
    EXPECT_EQ(inFourBoards.model.showLdFiles().paths[2], "c.hex");
    Dialog alone(defaults(), 1);
    EXPECT_EQ(alone.model.showLdFiles().paths, (std::array<std::string, 4>{}));
    EXPECT_TRUE(alone.page.received.empty());
}
