// The settings file "ISP__PSI.ini" and the two registry values.
//
// There is no settings object shared between pages: each page reads the keys
// it needs when it opens (loadCustomerSettings, loadAssemblySettings) and
// writes them when it saves.  Reads never fail: a missing file, section or
// key gives the default of the tables below.  Writes keep every other line of
// the file and replace it atomically; a file that exists but cannot be read
// is never overwritten.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "mvx/platform/ini.hpp"
#include "shell/option_records.hpp"

namespace mvx::tool {

// ---- sections ------------------------------------------------------------

inline constexpr std::string_view kSettingSection = "Setting";
inline constexpr std::string_view kAssemblySection = "ASS_ISP";
inline constexpr std::string_view kAdvancedSection = "ad_setting";
inline constexpr std::string_view kProtectSection = "flashprotect_setting";
inline constexpr std::string_view kSavedHexSection = "Saved_HEX";
inline constexpr std::string_view kSavedBinSection = "Saved_BIN";
inline constexpr std::string_view kSavedLdSection = "Saved_LD";
inline constexpr std::string_view kSavedHdcpSection = "Saved_hdcpkey";

// ---- MCU modes and their option keys ------------------------------------

// "mcu": 0 5310, 1 5312, 2 serial flash, 3..5 the same driving four targets.
inline constexpr int kModeCount = 6;
inline constexpr std::array<std::string_view, kModeCount> kModePrefixes{
    "5310", "5312", "SerialFlash", "5310_1to4", "5312_1to4", "SF_1to4"};

// The twelve options every mode keeps under "<prefix>_<key>" in [Setting].
struct ModeOptions {
    int interface = 0;     // AdapterKind
    int ispaddr = 0;
    int check = 0;
    int brand = 0;         // flash brand index
    int isptype = 0;
    int erase = 0;
    int extend = 0;
    int ex_size = 0;
    int filecheck = 0;     // bit n: file row n+1 selected
    int ispfiletype = 0;   // 0 hex files, 1 one binary file
    int ispoption = 0;
    int ssttype = 0;
    bool operator==(const ModeOptions&) const = default;
};

struct ModeKey {
    std::string_view name;
    int ModeOptions::*field;
    std::array<int, kModeCount> defaults;   // by mode 0..5
};

inline constexpr std::array<ModeKey, 12> kModeKeys{{
    {"interface", &ModeOptions::interface, {0, 0, 0, 2, 2, 3}},
    {"ispaddr", &ModeOptions::ispaddr, {2, 1, 1, 2, 1, 1}},
    {"check", &ModeOptions::check, {0, 0, 0, 0, 0, 0}},
    {"brand", &ModeOptions::brand, {6, 6, 0, 6, 6, 0}},
    {"isptype", &ModeOptions::isptype, {0, 0, 0, 0, 0, 0}},
    {"erase", &ModeOptions::erase, {0, 0, 0, 0, 0, 0}},
    {"extend", &ModeOptions::extend, {0, 0, 0, 0, 0, 0}},
    {"ex_size", &ModeOptions::ex_size, {29, 0, 0, 0, 0, 0}},
    {"filecheck", &ModeOptions::filecheck, {3, 7, 7, 3, 7, 7}},
    {"ispfiletype", &ModeOptions::ispfiletype, {0, 0, 0, 0, 0, 0}},
    {"ispoption", &ModeOptions::ispoption, {0, 0, 0, 1, 1, 1}},
    {"ssttype", &ModeOptions::ssttype, {2, 2, 0, 2, 2, 0}},
}};

// The column of defaults of one mode (mode 0 for a mode outside 0..5).
ModeOptions modeDefaults(int mode);

// ---- file names ------------------------------------------------------------

// The LD families: path keys "<family>_1".."_4" in [Setting], member and
// saved names "<family>file1".."4".
inline constexpr std::array<std::string_view, 3> kLdFamilies{"5310", "5312", "SF"};
inline constexpr int kHexRows = 9;        // file1_name .. file9_name
inline constexpr int kPackedHexImages = 4;   // hexfile1 .. hexfile4
inline constexpr int kLdFilesPerFamily = 4;

using LdTable = std::array<std::array<std::string, kLdFilesPerFamily>, kLdFamilies.size()>;

// The names of the job's files as the operator chose them; the files
// themselves sit in the work folder under their member names.
struct SavedFileNames {
    std::array<std::string, kPackedHexImages> hex;   // [Saved_HEX] hexfile1..4
    std::string bin;                                  // [Saved_BIN] binfile.bin
    LdTable ld;                                       // [Saved_LD] 5310file1 .. SFfile4
    std::string hdcpKey;                              // [Saved_hdcpkey] hdcpkey.bin
    bool operator==(const SavedFileNames&) const = default;
};

// ---- the customer page's settings -----------------------------------------

struct CustomerSettings {
    int mcu = 0;
    std::array<ModeOptions, kModeCount> modes{};
    std::array<std::string, kHexRows> hexPaths;   // [Setting] file1_name..file9_name
    std::string binPath;                          // [Setting] binfile_name
    LdTable ldPaths;                              // [Setting] 5310_1 .. SF_4
    AdvancedSettings advanced{};
    FlashProtectSettings protect = kCustomerProtectDefaults;
    SavedFileNames saved;

    ModeOptions& current() { return modes[static_cast<std::size_t>(mcu)]; }
    const ModeOptions& current() const { return modes[static_cast<std::size_t>(mcu)]; }
};

// Everything the customer page reads at start: the title, "mcu", all six
// modes, the current mode's file paths (hex rows or the binary image, by its
// ispfiletype), the LD paths, [ad_setting], [flashprotect_setting] and the
// [Saved_*] names.  A stored "mcu" outside 0..5 reads as 0.  The auto-load
// folder defaults to programFolder.
CustomerSettings loadCustomerSettings(const std::string& iniPath, std::string_view programFolder);

// Writes every [ad_setting] and [flashprotect_setting] key, "mcu" and all six
// modes' options.
std::optional<platform::IniError> saveCustomerSettings(const std::string& iniPath,
                                                       const CustomerSettings& settings);

// Writes the current mode's file paths with their saved names (hex job:
// file1_name..file9_name and [Saved_HEX] hexfile1..4; binary job:
// binfile_name and [Saved_BIN] binfile.bin), the LD paths and [Saved_LD].
std::optional<platform::IniError> saveFileNames(const std::string& iniPath,
                                                const CustomerSettings& settings);

// ---- the assembly page's reduced set ----------------------------------------

struct AssemblySettings {
    std::string recfile;                       // [ASS_ISP] recfile
    int last1to4 = 0;                          // [Setting] last1to4
    FlashProtectSettings protect = kAssemblyProtectDefaults;
    int Enable_sectorerase_extendbank = 0;     // [ad_setting] ...
    int Auto_detect = 0;
    int Sectorerase_bankindex = 2;
    int checkVGAconn_delay = 500;
    int beforeshowCKSM_delay = 0;
};

AssemblySettings loadAssemblySettings(const std::string& iniPath);
// Writes back only "last1to4" and "recfile".
std::optional<platform::IniError> saveAssemblySettings(const std::string& iniPath,
                                                       const AssemblySettings& settings);

// The job options of an exported ISP file: [Setting] without prefix, each
// with the default of defaultsMode's column.
ModeOptions readUnprefixedModeOptions(const std::string& iniPath, int defaultsMode);
// The eleven keys an export writes: "mcu" and the mode's options without
// prefix (all but ispoption and ssttype).
void setUnprefixedModeOptions(platform::IniDocument& doc, int mcu, const ModeOptions& options);

// ---- start page ------------------------------------------------------------

inline constexpr int kAssemblyPage = 0;
inline constexpr int kCustomerPage = 1;
// [ad_setting] "startpage": 0 the assembly page; any other value the customer page.
int readStartPage(const std::string& iniPath);

// ---- registry ---------------------------------------------------------------

// Mirrors the main window's title into "isp_title", where a second instance
// looks for it.
std::optional<platform::IniError> mirrorWindowTitle(const std::string& registryPath,
                                                    std::string_view title);
std::string mirroredWindowTitle(const std::string& registryPath);

}  // namespace mvx::tool
