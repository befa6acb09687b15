#include "shell/option_records.hpp"

#include <gtest/gtest.h>

#include <cstring>

using namespace mvx::tool;

// ---- AdvancedSettings as one block ---------------------------------------------

TEST(AdvancedSettingsRecord, FieldsLieInTheOrderOfTheTableWithoutGaps)
{
    EXPECT_EQ(offsetof(AdvancedSettings, saved_hex), 0u);
    EXPECT_EQ(offsetof(AdvancedSettings, missing_files_mask), 12u);
    EXPECT_EQ(offsetof(AdvancedSettings, startpage), 16u);
    EXPECT_EQ(offsetof(AdvancedSettings, user_title), 28u);
    EXPECT_EQ(offsetof(AdvancedSettings, Auto_detect), 288u);
    EXPECT_EQ(offsetof(AdvancedSettings, autoload_directory_pathname), 340u);
    EXPECT_EQ(offsetof(AdvancedSettings, enable_read_ic_code), 600u);
    EXPECT_EQ(offsetof(AdvancedSettings, autoload_hdcp_key_file_pathname), 648u);
    EXPECT_EQ(offsetof(AdvancedSettings, hdcp_key_file_kind), 908u);
    EXPECT_EQ(offsetof(AdvancedSettings, saveread_hdcp_key_file_path), 924u);
    EXPECT_EQ(offsetof(AdvancedSettings, flashstatus_value), 1188u);
    EXPECT_EQ(sizeof(AdvancedSettings), 1192u);
}

TEST(AdvancedSettingsRecord, CopiesCompareEqualAndAnyChangedByteMakesThemDiffer)
{
    const AdvancedSettings original = defaultAdvancedSettings("/opt/tool");
    AdvancedSettings copy;
    std::memcpy(&copy, &original, sizeof copy);
    EXPECT_TRUE(copy == original);

    copy.flashstatus_value = 0x7E;
    EXPECT_FALSE(copy == original);
    copy = original;
    copy.missing_files_mask = 0x10;
    EXPECT_FALSE(copy == original);
    copy = original;
    setText(copy.saveread_hdcp_key_file_path, "x");
    EXPECT_FALSE(copy == original);
}

TEST(AdvancedSettingsRecord, SetTextKeeps259CharactersAndClearsTheRest)
{
    AdvancedSettings a = defaultAdvancedSettings("");
    setText(a.user_title, std::string(300, 'T'));
    EXPECT_EQ(textOf(a.user_title), std::string(259, 'T'));
    setText(a.user_title, "ab");
    EXPECT_EQ(textOf(a.user_title), "ab");
    for (std::size_t i = 2; i < kTextCapacity; ++i)
        ASSERT_EQ(a.user_title[i], '\0') << i;
}

// ---- pin lists ---------------------------------------------------------------------

TEST(ProtectPins, EachSeriesListsItsPins)
{
    EXPECT_EQ(protectPinCount(0), 4u);
    EXPECT_EQ(protectPinCount(1), 4u);
    EXPECT_EQ(protectPinCount(2), 5u);
    EXPECT_EQ(protectPinCount(3), 4u);
    EXPECT_EQ(protectPinName(0, 3), "Pin108");
    EXPECT_EQ(protectPinName(1, 0), "Pin103");
    EXPECT_EQ(protectPinName(2, 0), "Pin108");
    EXPECT_EQ(protectPinName(2, 4), "Pin114");
    EXPECT_EQ(protectPinName(3, 2), "Pin28");
    EXPECT_EQ(protectPinName(0, 4), "");
    EXPECT_EQ(protectPinName(3, -1), "");
    EXPECT_EQ(protectPinName(4, 0), "");
    // The assembly page's summary calls the first TXQ pin "Pin110".
    EXPECT_EQ(assemblyPinName(2, 0), "Pin110");
    EXPECT_EQ(assemblyPinName(2, 1), "Pin111");
    EXPECT_EQ(assemblyPinName(0, 0), "Pin103");
}

// ---- WM_SETTINGS_NOTIFY ---------------------------------------------------------------

class SettingsNotify : public ::testing::Test {
protected:
    SettingsNotify() : pageAdvanced(defaultAdvancedSettings("/page")) {}
    NotifyReceipt deliver(const SettingsNotification& n)
    {
        return receiveSettingsNotify(n.wParam, n.lParam, pageAdvanced, pageProtect);
    }
    AdvancedSettings pageAdvanced;
    FlashProtectSettings pageProtect{1, 0, 0, 1};
};

TEST_F(SettingsNotify, CodeZeroCopiesTheWholeRecord)
{
    AdvancedSettings dialog = defaultAdvancedSettings("/dialog");
    dialog.saved_hex = 1;
    dialog.ffe3_value = 0x11;
    const SettingsNotification n = notifyAdvancedSettings(dialog);
    EXPECT_EQ(n.lParam, 0);
    EXPECT_EQ(deliver(n).effect, NotifyEffect::AdvancedSettingsCopied);
    EXPECT_TRUE(pageAdvanced == dialog);
}

TEST_F(SettingsNotify, CodeZeroClearsSavedHexWhenShowMcuIsSet)
{
    AdvancedSettings dialog = defaultAdvancedSettings("/dialog");
    dialog.saved_hex = 1;
    dialog.show_mcu = 1;
    deliver(notifyAdvancedSettings(dialog));
    EXPECT_EQ(pageAdvanced.saved_hex, 0);
    EXPECT_EQ(pageAdvanced.show_mcu, 1);
    EXPECT_EQ(dialog.saved_hex, 1) << "the sender's record is not touched";
}

TEST_F(SettingsNotify, CodeOneCopiesTheTitleAndAlwaysTerminatesIt)
{
    TextField title;
    std::memset(title, 'Q', sizeof title);   // no terminator at all
    EXPECT_EQ(deliver(notifyTitle(title)).effect, NotifyEffect::TitleCopied);
    EXPECT_EQ(textOf(pageAdvanced.user_title), std::string(259, 'Q'));
    EXPECT_EQ(pageAdvanced.checkVGAconn_delay, 500) << "only the title changes";
}

TEST_F(SettingsNotify, CodesTwoAndThreeHandBackTheFolder)
{
    const char* folder = "/media/usb/backup";
    const NotifyReceipt firmware = deliver(notifyExportFolder(SettingsNotifyCode::ExportSavedFirmware, folder));
    EXPECT_EQ(firmware.effect, NotifyEffect::ExportSavedFirmware);
    EXPECT_EQ(firmware.folder, folder);
    const NotifyReceipt ld = deliver(notifyExportFolder(SettingsNotifyCode::ExportLdFiles, folder));
    EXPECT_EQ(ld.effect, NotifyEffect::ExportLdFiles);
    EXPECT_EQ(ld.folder, folder);
    EXPECT_TRUE(pageAdvanced == defaultAdvancedSettings("/page"));
}

TEST_F(SettingsNotify, CodeFourCopiesTheFourWordsInOrder)
{
    const std::int32_t words[4] = {0, 3, 2, 0};   // enable_protect, scalar_type, pin_type, value
    const SettingsNotification n{reinterpret_cast<std::uintptr_t>(words), 4};
    EXPECT_EQ(deliver(n).effect, NotifyEffect::FlashProtectCopied);
    EXPECT_EQ(protectWords(pageProtect), (std::array<std::int32_t, 4>{0, 3, 2, 0}));
}

TEST_F(SettingsNotify, NullPayloadAndUnknownCodesChangeNothing)
{
    const AdvancedSettings before = pageAdvanced;
    EXPECT_EQ(deliver(SettingsNotification{0, 0}).effect, NotifyEffect::Ignored);
    EXPECT_EQ(deliver(SettingsNotification{0, 4}).effect, NotifyEffect::Ignored);
    const AdvancedSettings other = defaultAdvancedSettings("/x");
    EXPECT_EQ(deliver(SettingsNotification{reinterpret_cast<std::uintptr_t>(&other), 5}).effect,
              NotifyEffect::Ignored);
    EXPECT_TRUE(pageAdvanced == before);
    EXPECT_EQ(protectWords(pageProtect), (std::array<std::int32_t, 4>{1, 0, 0, 1}));
}
