#include "shell/settings_store.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "mvx/platform/ini.hpp"
#include "mvx/platform/registry.hpp"
#include "temp_folder.hpp"

using namespace mvx::tool;
using mvx::platform::readProfileInt;
using mvx::platform::readProfileString;
using mvx::test::readWholeFile;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

constexpr const char* kProgramFolder = "/opt/norvane/bin";

// Every value different from its default, so a key that is not saved or not
// loaded shows up in a comparison.
CustomerSettings distinctSettings(int mcu, int fileType)
{
    CustomerSettings s;
    s.mcu = mcu;
    for (int mode = 0; mode < kModeCount; ++mode) {
        int n = 100 * (mode + 1);
        for (const ModeKey& key : kModeKeys)
            s.modes[static_cast<std::size_t>(mode)].*key.field = ++n;
    }
    s.modes[static_cast<std::size_t>(mcu)].ispfiletype = fileType;
    for (int row = 0; row < kHexRows; ++row)
        s.hexPaths[static_cast<std::size_t>(row)] = "/jobs/bank" + std::to_string(row) + ".hex";
    s.binPath = "/jobs/whole image.bin";
    for (std::size_t family = 0; family < 3; ++family) {
        for (std::size_t n = 0; n < 4; ++n) {
            s.ldPaths[family][n] = "/ld/" + std::to_string(family) + "_" + std::to_string(n) + ".ld";
            s.saved.ld[family][n] = "ld" + std::to_string(family) + std::to_string(n) + ".hex";
        }
    }
    for (std::size_t n = 0; n < 4; ++n)
        s.saved.hex[n] = "saved" + std::to_string(n) + ".hex";
    s.saved.bin = "saved.bin";

    AdvancedSettings& a = s.advanced;
    a = defaultAdvancedSettings(kProgramFolder);
    int value = 1000;
    for (std::int32_t* field : {&a.saved_hex, &a.dis_open, &a.dis_check, &a.startpage, &a.show_mcu,
                                &a.showinfo, &a.Auto_detect, &a.saved_ld, &a.Enable_sectorerase_extendbank,
                                &a.Sectorerase_bankindex, &a.checkVGAconn_delay, &a.beforeshowCKSM_delay,
                                &a.enable_isprepeattest, &a.isprepeat_counter, &a.enable_autorunisp,
                                &a.enable_sete2e3output, &a.ffe2_value, &a.ffe3_value,
                                &a.enable_autoload_fw_files, &a.enable_read_ic_code,
                                &a.enable_show_isp_enableoption, &a.enable_check_ic_code_before_isp,
                                &a.ic_code_check_value, &a.enable_masserasebeforeauto4flash,
                                &a.enable_bankerasebeforeauto4flash, &a.bankindex_erasebeforeauto4flash,
                                &a.norvane_usb_frequency, &a.norvane_usb_ispspeed, &a.other_usb_ispspeed,
                                &a.norvane_iic_ispspeed, &a.enable_hdcp_key_fire,
                                &a.autoload_hdcp_key_file_method, &a.hdcp_key_fire_check_method,
                                &a.enable_save_readed_hdcp_key, &a.enable_setflashstatusafterisp,
                                &a.flashstatus_value})
        *field = ++value;
    setText(a.user_title, "Line 7 programmer");
    setText(a.autoload_directory_pathname, "/srv/firmware drop");
    setText(a.autoload_hdcp_key_file_pathname, "/keys/hdcp.bin");
    setText(a.saveread_hdcp_key_file_path, "/keys/readback");
    s.protect = FlashProtectSettings{0, 3, 2, 0};
    return s;
}

void expectSameSettings(const CustomerSettings& loaded, const CustomerSettings& saved)
{
    EXPECT_EQ(loaded.mcu, saved.mcu);
    for (int mode = 0; mode < kModeCount; ++mode)
        EXPECT_EQ(loaded.modes[static_cast<std::size_t>(mode)], saved.modes[static_cast<std::size_t>(mode)]) << mode;
    EXPECT_TRUE(sameBlock(loaded.advanced, saved.advanced));
    EXPECT_EQ(textOf(loaded.advanced.user_title), textOf(saved.advanced.user_title));
    EXPECT_EQ(protectWords(loaded.protect), protectWords(saved.protect));
    EXPECT_EQ(loaded.ldPaths, saved.ldPaths);
    EXPECT_EQ(loaded.saved.ld, saved.saved.ld);
}

}  // namespace

// ---- defaults --------------------------------------------------------------

TEST(SettingsDefaults, MissingFileGivesEveryDefault)
{
    TempFolder folder;
    const CustomerSettings s = loadCustomerSettings(folder.file("ISP__PSI.ini"), kProgramFolder);

    EXPECT_EQ(s.mcu, 0);
    for (int mode = 0; mode < kModeCount; ++mode)
        EXPECT_EQ(s.modes[static_cast<std::size_t>(mode)], modeDefaults(mode)) << mode;
    EXPECT_TRUE(sameBlock(s.advanced, defaultAdvancedSettings(kProgramFolder)));
    EXPECT_EQ(protectWords(s.protect), (std::array<std::int32_t, 4>{1, 0, 0, 1}));
    for (const std::string& path : s.hexPaths)
        EXPECT_EQ(path, "");
    EXPECT_EQ(s.saved, SavedFileNames{});
    EXPECT_FALSE(std::filesystem::exists(folder.file("ISP__PSI.ini"))) << "reading must not create the file";
}

TEST(SettingsDefaults, ModeWithoutKeysTakesItsOwnColumnWhileOthersAreStored)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    writeWholeFile(ini, "[Setting]\nmcu=5\n5312_interface=1\n5312_ex_size=4\n");
    const CustomerSettings s = loadCustomerSettings(ini, kProgramFolder);
    EXPECT_EQ(s.mcu, 5);
    EXPECT_EQ(s.modes[5].interface, 3);
    EXPECT_EQ(s.modes[0].ex_size, 29);
    EXPECT_EQ(s.modes[0].filecheck, 3);
    EXPECT_EQ(s.modes[1].interface, 1);
    EXPECT_EQ(s.modes[1].ex_size, 4);
    EXPECT_EQ(s.modes[1].filecheck, 7);
}

TEST(SettingsDefaults, FileWithoutAdSettingSectionGivesTheAdvancedDefaults)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    writeWholeFile(ini, "[Setting]\nmcu=2\n[flashprotect_setting]\nvalue=0\n");
    const CustomerSettings s = loadCustomerSettings(ini, kProgramFolder);
    EXPECT_EQ(textOf(s.advanced.user_title), "Norvane ISP Tool V2.2");
    EXPECT_EQ(s.advanced.checkVGAconn_delay, 500);
    EXPECT_EQ(s.advanced.ffe2_value, 253);
    EXPECT_EQ(s.advanced.ffe3_value, 191);
    EXPECT_EQ(s.advanced.flashstatus_value, 127);
    EXPECT_EQ(s.advanced.showinfo, 1);
    EXPECT_EQ(s.advanced.Sectorerase_bankindex, 2);
    EXPECT_EQ(s.advanced.isprepeat_counter, 1);
    EXPECT_EQ(s.advanced.ic_code_check_value, 2);
    EXPECT_EQ(s.advanced.other_usb_ispspeed, 14);
    EXPECT_EQ(textOf(s.advanced.autoload_directory_pathname), kProgramFolder);
    EXPECT_EQ(protectWords(s.protect), (std::array<std::int32_t, 4>{1, 0, 0, 0}));
}

TEST(SettingsDefaults, StoredMcuOutsideTheSixModesReadsAsZero)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    writeWholeFile(ini, "[Setting]\nmcu=9\n");
    EXPECT_EQ(loadCustomerSettings(ini, kProgramFolder).mcu, 0);
    writeWholeFile(ini, "[Setting]\nmcu=-1\n");
    EXPECT_EQ(loadCustomerSettings(ini, kProgramFolder).mcu, 0);
}

// ---- start page -----------------------------------------------------------------

TEST(StartPage, ZeroOpensAssemblyAndAnyOtherValueTheCustomerPage)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    EXPECT_EQ(readStartPage(ini), kAssemblyPage);
    for (const auto& [stored, page] : {std::pair{"0", kAssemblyPage}, {"1", kCustomerPage},
                                       {"2", kCustomerPage}, {"7", kCustomerPage}, {"-3", kCustomerPage}}) {
        writeWholeFile(ini, std::string("[ad_setting]\nstartpage=") + stored + "\n");
        EXPECT_EQ(readStartPage(ini), page) << stored;
    }
}

// ---- saving and loading -----------------------------------------------------------

TEST(SettingsRoundTrip, HexJobKeepsEveryKey)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    const CustomerSettings saved = distinctSettings(1, 0);
    ASSERT_FALSE(saveCustomerSettings(ini, saved));
    ASSERT_FALSE(saveFileNames(ini, saved));

    const CustomerSettings loaded = loadCustomerSettings(ini, "/elsewhere");
    expectSameSettings(loaded, saved);
    EXPECT_EQ(loaded.hexPaths, saved.hexPaths);
    EXPECT_EQ(loaded.saved.hex, saved.saved.hex);
    EXPECT_EQ(loaded.binPath, "") << "a hex job does not read the binary path";
}

TEST(SettingsRoundTrip, BinaryJobKeepsItsImagePathAndName)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    const CustomerSettings saved = distinctSettings(4, 1);
    ASSERT_FALSE(saveCustomerSettings(ini, saved));
    ASSERT_FALSE(saveFileNames(ini, saved));

    const CustomerSettings loaded = loadCustomerSettings(ini, kProgramFolder);
    expectSameSettings(loaded, saved);
    EXPECT_EQ(loaded.binPath, saved.binPath);
    EXPECT_EQ(loaded.saved.bin, saved.saved.bin);
    for (const std::string& path : loaded.hexPaths)
        EXPECT_EQ(path, "");
    EXPECT_EQ(readProfileString(ini, "Setting", "file1_name", "none"), "none")
        << "a binary job writes no hex rows";
}

TEST(SettingsRoundTrip, KeysAreStoredUnderTheirPrefixedNamesAsDecimalText)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    CustomerSettings s = loadCustomerSettings(ini, kProgramFolder);
    s.mcu = 3;
    s.modes[0].ex_size = 17;
    s.modes[2].brand = 5;
    s.modes[5].interface = 1;
    s.advanced.ffe2_value = -4;
    ASSERT_FALSE(saveCustomerSettings(ini, s));

    EXPECT_EQ(readProfileString(ini, "Setting", "mcu", ""), "3");
    EXPECT_EQ(readProfileString(ini, "Setting", "5310_ex_size", ""), "17");
    EXPECT_EQ(readProfileString(ini, "Setting", "SerialFlash_brand", ""), "5");
    EXPECT_EQ(readProfileString(ini, "Setting", "SF_1to4_interface", ""), "1");
    EXPECT_EQ(readProfileString(ini, "Setting", "5312_1to4_ispoption", ""), "1");
    EXPECT_EQ(readProfileString(ini, "ad_setting", "ffe2_value", ""), "-4");
    EXPECT_EQ(readProfileString(ini, "ad_setting", "user_title", ""), "Norvane ISP Tool V2.2");
    EXPECT_EQ(readProfileString(ini, "flashprotect_setting", "enable_protect", ""), "1");
}

TEST(SettingsRoundTrip, BankEraseFlagAndBankMaskAreIndependent)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    CustomerSettings s = loadCustomerSettings(ini, kProgramFolder);
    s.advanced.enable_bankerasebeforeauto4flash = 0;
    s.advanced.bankindex_erasebeforeauto4flash = 0xA5;
    ASSERT_FALSE(saveCustomerSettings(ini, s));
    const CustomerSettings loaded = loadCustomerSettings(ini, kProgramFolder);
    EXPECT_EQ(loaded.advanced.enable_bankerasebeforeauto4flash, 0);
    EXPECT_EQ(loaded.advanced.bankindex_erasebeforeauto4flash, 0xA5);
}

TEST(SettingsRoundTrip, TitleWithLineBreakIsRefusedAndTheFileKeepsItsContents)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    CustomerSettings s = loadCustomerSettings(ini, kProgramFolder);
    ASSERT_FALSE(saveCustomerSettings(ini, s));
    const std::string before = readWholeFile(ini);
    setText(s.advanced.user_title, "two\n[Setting]\nmcu=4");
    s.mcu = 2;
    const auto error = saveCustomerSettings(ini, s);
    ASSERT_TRUE(error);
    EXPECT_NE(error->message.find("user_title"), std::string::npos);
    EXPECT_EQ(readWholeFile(ini), before);
}

TEST(SettingsRoundTrip, UnreadableFileIsNotOverwritten)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    std::filesystem::create_directory(ini);   // present, but not a readable file
    EXPECT_TRUE(saveCustomerSettings(ini, loadCustomerSettings(ini, kProgramFolder)));
    EXPECT_TRUE(std::filesystem::is_directory(ini));
}

// ---- the assembly page's reduced set ------------------------------------------------

TEST(AssemblySettingsStore, DefaultsHaveProtectOff)
{
    TempFolder folder;
    const AssemblySettings s = loadAssemblySettings(folder.file("ISP__PSI.ini"));
    EXPECT_EQ(s.recfile, "");
    EXPECT_EQ(s.last1to4, 0);
    EXPECT_EQ(s.Enable_sectorerase_extendbank, 0);
    EXPECT_EQ(s.Auto_detect, 0);
    EXPECT_EQ(s.beforeshowCKSM_delay, 0);
    EXPECT_EQ(protectWords(s.protect), (std::array<std::int32_t, 4>{0, 0, 0, 1}));
    EXPECT_EQ(s.Sectorerase_bankindex, 2);
    EXPECT_EQ(s.checkVGAconn_delay, 500);
}

TEST(AssemblySettingsStore, ReadsItsKeysFromTheSharedSections)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    writeWholeFile(ini,
                   "[Setting]\nlast1to4=1\n[ASS_ISP]\nrecfile=/jobs/a.rsp\n"
                   "[flashprotect_setting]\nenable_protect=1\nscalar_type=2\npin_type=4\nvalue=0\n"
                   "[ad_setting]\nEnable_sectorerase_extendbank=1\nAuto_detect=1\nSectorerase_bankindex=6\n"
                   "checkVGAconn_delay=120\nbeforeshowCKSM_delay=900\n");
    const AssemblySettings s = loadAssemblySettings(ini);
    EXPECT_EQ(s.recfile, "/jobs/a.rsp");
    EXPECT_EQ(s.last1to4, 1);
    EXPECT_EQ(protectWords(s.protect), (std::array<std::int32_t, 4>{1, 2, 4, 0}));
    EXPECT_EQ(s.Enable_sectorerase_extendbank, 1);
    EXPECT_EQ(s.Auto_detect, 1);
    EXPECT_EQ(s.Sectorerase_bankindex, 6);
    EXPECT_EQ(s.checkVGAconn_delay, 120);
    EXPECT_EQ(s.beforeshowCKSM_delay, 900);
}

TEST(AssemblySettingsStore, SavesOnlyLast1to4AndRecfile)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    writeWholeFile(ini, "[ad_setting]\nAuto_detect=0\n");
    AssemblySettings s = loadAssemblySettings(ini);
    s.recfile = "/jobs/b.rsp";
    s.last1to4 = 1;
    s.Auto_detect = 1;
    s.protect.enable_protect = 1;
    ASSERT_FALSE(saveAssemblySettings(ini, s));
    EXPECT_EQ(readWholeFile(ini), "[ad_setting]\nAuto_detect=0\n\n[Setting]\nlast1to4=1\n\n[ASS_ISP]\nrecfile=/jobs/b.rsp\n");
}

// ---- exported job options ----------------------------------------------------------

TEST(ExportedJobOptions, UnprefixedKeysWriteAndReadBack)
{
    TempFolder folder;
    const std::string ini = folder.file("ISP__PSI.ini");
    ModeOptions options = modeDefaults(1);
    options.interface = 1;
    options.ex_size = 12;
    options.filecheck = 5;
    mvx::platform::IniDocument doc;
    setUnprefixedModeOptions(doc, 1, options);
    ASSERT_FALSE(mvx::platform::saveIni(ini, doc));
    EXPECT_EQ(readProfileInt(ini, "Setting", "mcu", -1), 1);
    EXPECT_EQ(readProfileString(ini, "Setting", "ispoption", "absent"), "absent");
    EXPECT_EQ(readUnprefixedModeOptions(ini, 1), options);
}

// ---- registry ----------------------------------------------------------------------

TEST(WindowTitleMirror, TitleGoesToIspTitleOfTheDebugToolKey)
{
    TempFolder folder;
    const std::string registry = folder.file("cfg/registry.ini");
    EXPECT_EQ(mirroredWindowTitle(registry), "");
    ASSERT_FALSE(mirrorWindowTitle(registry, "  Line 7  "));
    EXPECT_EQ(mirroredWindowTitle(registry), "  Line 7  ");
    const mvx::platform::RegistryStore store(registry);
    EXPECT_EQ(store.readString("NorVane DebugTool Configuration Parameters", "isp_title"), "  Line 7  ");
}
