#include "shell/settings_store.hpp"

#include <filesystem>
#include <system_error>

#include "mvx/platform/registry.hpp"

namespace mvx::tool {

using platform::IniDocument;
using platform::IniError;
using platform::readProfileInt;
using platform::readProfileString;

namespace {

struct IntKey {
    std::string_view name;
    std::int32_t AdvancedSettings::*field;
};

struct TextKey {
    std::string_view name;
    TextField AdvancedSettings::*field;
};

// [ad_setting]: every key with its field; the defaults are those of
// defaultAdvancedSettings().
constexpr std::array<IntKey, 36> kAdvancedInts{{
    {"saved_hex", &AdvancedSettings::saved_hex},
    {"dis_open", &AdvancedSettings::dis_open},
    {"dis_check", &AdvancedSettings::dis_check},
    {"startpage", &AdvancedSettings::startpage},
    {"show_mcu", &AdvancedSettings::show_mcu},
    {"showinfo", &AdvancedSettings::showinfo},
    {"Auto_detect", &AdvancedSettings::Auto_detect},
    {"saved_ld", &AdvancedSettings::saved_ld},
    {"Enable_sectorerase_extendbank", &AdvancedSettings::Enable_sectorerase_extendbank},
    {"Sectorerase_bankindex", &AdvancedSettings::Sectorerase_bankindex},
    {"checkVGAconn_delay", &AdvancedSettings::checkVGAconn_delay},
    {"beforeshowCKSM_delay", &AdvancedSettings::beforeshowCKSM_delay},
    {"enable_isprepeattest", &AdvancedSettings::enable_isprepeattest},
    {"isprepeat_counter", &AdvancedSettings::isprepeat_counter},
    {"enable_autorunisp", &AdvancedSettings::enable_autorunisp},
    {"enable_sete2e3output", &AdvancedSettings::enable_sete2e3output},
    {"ffe2_value", &AdvancedSettings::ffe2_value},
    {"ffe3_value", &AdvancedSettings::ffe3_value},
    {"enable_autoload_fw_files", &AdvancedSettings::enable_autoload_fw_files},
    {"enable_read_ic_code", &AdvancedSettings::enable_read_ic_code},
    {"enable_show_isp_enableoption", &AdvancedSettings::enable_show_isp_enableoption},
    {"enable_check_ic_code_before_isp", &AdvancedSettings::enable_check_ic_code_before_isp},
    {"ic_code_check_value", &AdvancedSettings::ic_code_check_value},
    {"enable_masserasebeforeauto4flash", &AdvancedSettings::enable_masserasebeforeauto4flash},
    {"enable_bankerasebeforeauto4flash", &AdvancedSettings::enable_bankerasebeforeauto4flash},
    {"bankindex_erasebeforeauto4flash", &AdvancedSettings::bankindex_erasebeforeauto4flash},
    {"norvane_usb_frequency", &AdvancedSettings::norvane_usb_frequency},
    {"norvane_usb_ispspeed", &AdvancedSettings::norvane_usb_ispspeed},
    {"other_usb_ispspeed", &AdvancedSettings::other_usb_ispspeed},
    {"norvane_iic_ispspeed", &AdvancedSettings::norvane_iic_ispspeed},
    {"enable_hdcp_key_fire", &AdvancedSettings::enable_hdcp_key_fire},
    {"autoload_hdcp_key_file_method", &AdvancedSettings::autoload_hdcp_key_file_method},
    {"hdcp_key_fire_check_method", &AdvancedSettings::hdcp_key_fire_check_method},
    {"enable_save_readed_hdcp_key", &AdvancedSettings::enable_save_readed_hdcp_key},
    {"enable_setflashstatusafterisp", &AdvancedSettings::enable_setflashstatusafterisp},
    {"flashstatus_value", &AdvancedSettings::flashstatus_value},
}};

constexpr std::array<TextKey, 4> kAdvancedTexts{{
    {"user_title", &AdvancedSettings::user_title},
    {"autoload_directory_pathname", &AdvancedSettings::autoload_directory_pathname},
    {"autoload_hdcp_key_file_pathname", &AdvancedSettings::autoload_hdcp_key_file_pathname},
    {"saveread_hdcp_key_file_path", &AdvancedSettings::saveread_hdcp_key_file_path},
}};

struct ProtectKey {
    std::string_view name;
    std::int32_t FlashProtectSettings::*field;
};

constexpr std::array<ProtectKey, 4> kProtectKeys{{
    {"enable_protect", &FlashProtectSettings::enable_protect},
    {"pin_type", &FlashProtectSettings::pin_type},
    {"scalar_type", &FlashProtectSettings::scalar_type},
    {"value", &FlashProtectSettings::value},
}};

// The eleven keys of an exported job, in the order the export writes them.
constexpr std::array<std::string_view, 10> kExportedModeKeys{
    "interface", "brand", "isptype", "ispaddr", "erase", "ex_size", "check", "extend",
    "filecheck", "ispfiletype"};

std::string modeKey(int mode, std::string_view key)
{
    return std::string(kModePrefixes[static_cast<std::size_t>(mode)]) + "_" + std::string(key);
}

std::string numbered(std::string_view stem, int n)
{
    return std::string(stem) + std::to_string(n);
}

std::string ldPathKey(std::size_t family, int n)
{
    return std::string(kLdFamilies[family]) + "_" + std::to_string(n);
}

std::string ldSavedKey(std::size_t family, int n)
{
    return numbered(std::string(kLdFamilies[family]) + "file", n);
}

const ModeKey* findModeKey(std::string_view name)
{
    for (const ModeKey& key : kModeKeys) {
        if (key.name == name)
            return &key;
    }
    return nullptr;
}

// Collects the writes of one save and replaces the file once at the end.
class ProfileBatch {
public:
    explicit ProfileBatch(const std::string& path) : path_(path)
    {
        if (auto doc = platform::loadIni(path)) {
            doc_ = std::move(*doc);
        } else {
            std::error_code ignored;
            if (std::filesystem::exists(path, ignored)) {
                // Present but unreadable: never overwrite what could not be read.
                error_ = IniError{"cannot read settings file '" + path + "'"};
            }
        }
    }

    void setInt(std::string_view section, std::string_view key, int value)
    {
        doc_.set(section, key, std::to_string(value));
    }

    void setString(std::string_view section, std::string_view key, std::string_view value)
    {
        if (value.find_first_of("\r\n") != std::string_view::npos) {
            if (!error_) {
                error_ = IniError{"cannot write [" + std::string(section) + "] " + std::string(key) +
                                  " to '" + path_ + "': the value contains a line break"};
            }
            return;
        }
        doc_.set(section, key, value);
    }

    std::optional<IniError> commit()
    {
        if (error_)
            return error_;
        return platform::saveIni(path_, doc_);
    }

private:
    std::string path_;
    IniDocument doc_;
    std::optional<IniError> error_;
};

void readProtect(const std::string& iniPath, FlashProtectSettings& protect)
{
    for (const ProtectKey& key : kProtectKeys)
        protect.*key.field = readProfileInt(iniPath, kProtectSection, key.name, protect.*key.field);
}

}  // namespace

ModeOptions modeDefaults(int mode)
{
    if (mode < 0 || mode >= kModeCount)
        mode = 0;
    ModeOptions options;
    for (const ModeKey& key : kModeKeys)
        options.*key.field = key.defaults[static_cast<std::size_t>(mode)];
    return options;
}

CustomerSettings loadCustomerSettings(const std::string& iniPath, std::string_view programFolder)
{
    CustomerSettings settings;
    settings.advanced = defaultAdvancedSettings(programFolder);
    for (const TextKey& key : kAdvancedTexts) {
        TextField& field = settings.advanced.*key.field;
        setText(field, readProfileString(iniPath, kAdvancedSection, key.name, textOf(field)));
    }
    for (const IntKey& key : kAdvancedInts) {
        std::int32_t& field = settings.advanced.*key.field;
        field = readProfileInt(iniPath, kAdvancedSection, key.name, field);
    }
    readProtect(iniPath, settings.protect);

    settings.mcu = readProfileInt(iniPath, kSettingSection, "mcu", 0);
    if (settings.mcu < 0 || settings.mcu >= kModeCount)
        settings.mcu = 0;
    for (int mode = 0; mode < kModeCount; ++mode) {
        ModeOptions& options = settings.modes[static_cast<std::size_t>(mode)];
        options = modeDefaults(mode);
        for (const ModeKey& key : kModeKeys) {
            options.*key.field =
                readProfileInt(iniPath, kSettingSection, modeKey(mode, key.name), options.*key.field);
        }
    }

    if (settings.current().ispfiletype == 0) {
        for (int row = 0; row < kHexRows; ++row) {
            settings.hexPaths[static_cast<std::size_t>(row)] = readProfileString(
                iniPath, kSettingSection, "file" + std::to_string(row + 1) + "_name", "");
        }
    } else {
        settings.binPath = readProfileString(iniPath, kSettingSection, "binfile_name", "");
    }
    for (std::size_t family = 0; family < kLdFamilies.size(); ++family) {
        for (int n = 1; n <= kLdFilesPerFamily; ++n) {
            const auto slot = static_cast<std::size_t>(n - 1);
            settings.ldPaths[family][slot] =
                readProfileString(iniPath, kSettingSection, ldPathKey(family, n), "");
            settings.saved.ld[family][slot] =
                readProfileString(iniPath, kSavedLdSection, ldSavedKey(family, n), "");
        }
    }
    for (int n = 1; n <= kPackedHexImages; ++n) {
        settings.saved.hex[static_cast<std::size_t>(n - 1)] =
            readProfileString(iniPath, kSavedHexSection, numbered("hexfile", n), "");
    }
    settings.saved.bin = readProfileString(iniPath, kSavedBinSection, "binfile.bin", "");
    settings.saved.hdcpKey = readProfileString(iniPath, kSavedHdcpSection, "hdcpkey.bin", "");
    return settings;
}

std::optional<IniError> saveCustomerSettings(const std::string& iniPath,
                                             const CustomerSettings& settings)
{
    ProfileBatch batch(iniPath);
    for (const TextKey& key : kAdvancedTexts)
        batch.setString(kAdvancedSection, key.name, textOf(settings.advanced.*key.field));
    for (const IntKey& key : kAdvancedInts)
        batch.setInt(kAdvancedSection, key.name, settings.advanced.*key.field);
    for (const ProtectKey& key : kProtectKeys)
        batch.setInt(kProtectSection, key.name, settings.protect.*key.field);
    batch.setInt(kSettingSection, "mcu", settings.mcu);
    for (int mode = 0; mode < kModeCount; ++mode) {
        const ModeOptions& options = settings.modes[static_cast<std::size_t>(mode)];
        for (const ModeKey& key : kModeKeys)
            batch.setInt(kSettingSection, modeKey(mode, key.name), options.*key.field);
    }
    return batch.commit();
}

std::optional<IniError> saveFileNames(const std::string& iniPath, const CustomerSettings& settings)
{
    ProfileBatch batch(iniPath);
    if (settings.current().ispfiletype == 0) {
        for (int row = 0; row < kHexRows; ++row) {
            batch.setString(kSettingSection, "file" + std::to_string(row + 1) + "_name",
                            settings.hexPaths[static_cast<std::size_t>(row)]);
        }
        for (int n = 1; n <= kPackedHexImages; ++n) {
            batch.setString(kSavedHexSection, numbered("hexfile", n),
                            settings.saved.hex[static_cast<std::size_t>(n - 1)]);
        }
    } else {
        batch.setString(kSettingSection, "binfile_name", settings.binPath);
        batch.setString(kSavedBinSection, "binfile.bin", settings.saved.bin);
    }
    for (std::size_t family = 0; family < kLdFamilies.size(); ++family) {
        for (int n = 1; n <= kLdFilesPerFamily; ++n) {
            const auto slot = static_cast<std::size_t>(n - 1);
            batch.setString(kSettingSection, ldPathKey(family, n), settings.ldPaths[family][slot]);
            batch.setString(kSavedLdSection, ldSavedKey(family, n), settings.saved.ld[family][slot]);
        }
    }
    return batch.commit();
}

AssemblySettings loadAssemblySettings(const std::string& iniPath)
{
    AssemblySettings settings;
    settings.recfile = readProfileString(iniPath, kAssemblySection, "recfile", "");
    settings.last1to4 = readProfileInt(iniPath, kSettingSection, "last1to4", settings.last1to4);
    readProtect(iniPath, settings.protect);
    settings.Enable_sectorerase_extendbank = readProfileInt(
        iniPath, kAdvancedSection, "Enable_sectorerase_extendbank", settings.Enable_sectorerase_extendbank);
    settings.Auto_detect = readProfileInt(iniPath, kAdvancedSection, "Auto_detect", settings.Auto_detect);
    settings.Sectorerase_bankindex = readProfileInt(iniPath, kAdvancedSection, "Sectorerase_bankindex",
                                                    settings.Sectorerase_bankindex);
    settings.checkVGAconn_delay = readProfileInt(iniPath, kAdvancedSection, "checkVGAconn_delay",
                                                 settings.checkVGAconn_delay);
    settings.beforeshowCKSM_delay = readProfileInt(iniPath, kAdvancedSection, "beforeshowCKSM_delay",
                                                   settings.beforeshowCKSM_delay);
    return settings;
}

std::optional<IniError> saveAssemblySettings(const std::string& iniPath,
                                             const AssemblySettings& settings)
{
    ProfileBatch batch(iniPath);
    batch.setInt(kSettingSection, "last1to4", settings.last1to4);
    batch.setString(kAssemblySection, "recfile", settings.recfile);
    return batch.commit();
}

ModeOptions readUnprefixedModeOptions(const std::string& iniPath, int defaultsMode)
{
    ModeOptions options = modeDefaults(defaultsMode);
    for (const ModeKey& key : kModeKeys)
        options.*key.field = readProfileInt(iniPath, kSettingSection, key.name, options.*key.field);
    return options;
}

void setUnprefixedModeOptions(IniDocument& doc, int mcu, const ModeOptions& options)
{
    doc.set(kSettingSection, "mcu", std::to_string(mcu));
    for (std::string_view name : kExportedModeKeys) {
        if (const ModeKey* key = findModeKey(name))
            doc.set(kSettingSection, name, std::to_string(options.*key->field));
    }
}

int readStartPage(const std::string& iniPath)
{
    return readProfileInt(iniPath, kAdvancedSection, "startpage", kAssemblyPage) == kAssemblyPage
               ? kAssemblyPage
               : kCustomerPage;
}

std::optional<IniError> mirrorWindowTitle(const std::string& registryPath, std::string_view title)
{
    platform::RegistryStore registry(registryPath);
    if (auto error = registry.createKey(platform::kDebugToolKey))
        return error;
    return registry.writeString(platform::kDebugToolKey, platform::kIspTitleValue, title);
}

std::string mirroredWindowTitle(const std::string& registryPath)
{
    const platform::RegistryStore registry(registryPath);
    return registry.readString(platform::kDebugToolKey, platform::kIspTitleValue).value_or("");
}

}  // namespace mvx::tool
