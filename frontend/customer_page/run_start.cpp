#include "customer_page/run_start.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "mvx/platform/ini.hpp"
#include "shell/file_io.hpp"

namespace mvx::customer_page {

namespace {

std::string joinPath(const std::string& folder, std::string_view name)
{
    return (std::filesystem::path(folder) / std::string(name)).string();
}

bool equalsNoCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i]))
            return false;
    }
    return true;
}

}  // namespace

std::string missingEngineMessage(std::string_view engineFile)
{
    return "Please copy " + std::string(engineFile) +
           " to the same folder with this program and restart the program.";
}

int slaveSelectorOf(const PageOptions& options)
{
    if (options.addressMode == kAddressDefault)
        return 1;
    if (options.addressText.empty())
        return 2;
    // The edit takes hexadecimal digits only; anything else counts as empty.
    return parseAddressText(options.addressText).value_or(2);
}

int operationOf(const PageOptions& options)
{
    return engineMode(options);
}

std::int32_t hdcpKeyFileKind(std::string_view keyFile, std::int32_t current)
{
    const std::size_t dot = keyFile.rfind('.');
    if (dot == std::string_view::npos)
        return current;
    const std::string_view extension = keyFile.substr(dot);
    if (equalsNoCase(extension, ".bin"))
        return 0;
    if (equalsNoCase(extension, ".txt"))
        return 1;
    return current;
}

IspOptions ispOptionsOf(const tool::AdvancedSettings& a, const PageOptions& options)
{
    IspOptions o{};
    o.checkVGAconn_delay = a.checkVGAconn_delay;
    o.beforeshowCKSM_delay = a.beforeshowCKSM_delay;
    o.enable_isprepeattest = a.enable_isprepeattest;
    o.isprepeat_counter = a.isprepeat_counter;
    o.enable_sete2e3output = a.enable_sete2e3output;
    o.ffe2_value = a.ffe2_value;
    o.ffe3_value = a.ffe3_value;
    o.enable_read_ic_code = a.enable_read_ic_code;
    o.enable_show_isp_enableoption = a.enable_show_isp_enableoption;
    o.enable_check_ic_code_before_isp = a.enable_check_ic_code_before_isp;
    o.ic_code_check_value = a.ic_code_check_value;
    o.ispEnable = options.ispEnable;
    o.enable_masserasebeforeauto4flash = a.enable_masserasebeforeauto4flash;
    o.enable_bankerasebeforeauto4flash = a.enable_bankerasebeforeauto4flash;
    o.bankindex_erasebeforeauto4flash = a.bankindex_erasebeforeauto4flash;
    o.norvane_usb_frequency = a.norvane_usb_frequency;
    o.norvane_usb_ispspeed = a.norvane_usb_ispspeed;
    o.other_usb_ispspeed = a.other_usb_ispspeed;
    o.norvane_iic_ispspeed = a.norvane_iic_ispspeed;
    o.enable_hdcp_key_fire = a.enable_hdcp_key_fire;
    o.autoload_hdcp_key_file_method = a.autoload_hdcp_key_file_method;
    o.hdcp_key_fire_check_method = a.hdcp_key_fire_check_method;
    o.enable_save_readed_hdcp_key = a.enable_save_readed_hdcp_key;
    o.hdcp_key_file_kind = hdcpKeyFileKind(tool::textOf(a.autoload_hdcp_key_file_pathname), a.hdcp_key_file_kind);
    o.enable_setflashstatusafterisp = a.enable_setflashstatusafterisp;
    o.flashstatus_value = a.flashstatus_value;
    return o;
}

std::array<std::string, kLdFiles> ldPathsOf(const PageOptions& options, const tool::CustomerSettings& settings,
                                             const std::string& workFolder)
{
    std::array<std::string, kLdFiles> paths;
    if (!job::isOneToFourOperation(engineMode(options)))
        return paths;
    const auto family = static_cast<std::size_t>(mcuFamily(options.mcuType));
    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (settings.advanced.saved_ld != 0)
            paths[i] = joinPath(workFolder, std::string(tool::kLdFamilies[family]) + "file" + std::to_string(i + 1));
        else
            paths[i] = settings.ldPaths[family][i];
    }
    return paths;
}

std::array<bool, kLdFiles> ldLoadedOf(const std::array<std::string, kLdFiles>& paths)
{
    std::array<bool, kLdFiles> loaded{};
    for (std::size_t i = 0; i < paths.size(); ++i)
        loaded[i] = !paths[i].empty() && tool::fileExists(paths[i]);
    return loaded;
}

RunStart prepareRun(const RunInputs& in)
{
    RunStart start;
    if (!in.engineBound) {
        start.refusal = missingEngineMessage(in.engineFile);
        return start;
    }
    const tool::CustomerSettings& settings = *in.settings;
    const tool::AdvancedSettings& a = settings.advanced;
    const PageOptions& o = in.options;

    BuiltFileTable table = buildFileTable(*in.rows, in.rowOptions);
    if (!table.ok()) {
        start.refusal = table.error;
        return start;
    }
    const int operation = operationOf(o);
    const auto ldPaths = ldPathsOf(o, settings, in.workFolder);
    const auto ldEntries = job::ldEntriesOf(operation);
    for (std::size_t i = 0; i < ldEntries.size(); ++i) {
        const std::string& path = ldPaths[i];
        // An LD file that is named but gone counts as not selected: the
        // engine would only fail on it half-way into the run.
        if (path.empty() || !tool::fileExists(path) ||
            !job::setEntry(table.entries[static_cast<std::size_t>(ldEntries[i])], 1, MVX_FORMAT_HEX, path)) {
            start.refusal = std::string(operation == MVX_OP_5310_1TO4 && i == 2 ? kLdMissingMessage5310Third
                                                                                 : kLdMissingMessage);
            return start;
        }
    }

    job::IspCall call;
    call.adapterKind = o.interfaceKind;
    call.operation = operation;
    call.eraseOnly = o.ispType;
    call.slaveSelector = slaveSelectorOf(o);
    call.eraseMode = o.eraseType;
    if (o.extTrueSize != 0) {
        call.verifyByChecksum = o.checkType;
        call.eraseLength = (o.trueSizeIndex + 1) * 1024;
        call.idReadMode = 0;
    } else {
        // A mass erase without a true size always verifies by CRC.
        call.verifyByChecksum = o.eraseType == kMassErase ? 0 : o.checkType;
        call.eraseLength = -1;
        call.idReadMode = job::isSerialFlashOperation(operation) ? a.Auto_detect : 0;
    }
    call.flashBrand = o.flashBrand;
    call.reserved = o.sstType;
    call.table = std::move(table.entries);
    call.libraryMode = in.libraryMode;
    call.protect = settings.protect;
    call.sectorEraseFlag = a.Enable_sectorerase_extendbank;
    call.sectorEraseBank = a.Sectorerase_bankindex;
    call.options = ispOptionsOf(a, o);
    call.hdcpKeyFile = a.autoload_hdcp_key_file_method == 1 ? in.hdcpKeyFile
                                                             : std::string(tool::textOf(a.autoload_hdcp_key_file_pathname));
    call.readBackFolder = std::string(tool::textOf(a.saveread_hdcp_key_file_path));
    start.call = std::move(call);
    return start;
}

// ---- HDCP key fire ----------------------------------------------------------

std::optional<std::string_view> hdcpSettingsProblem(const tool::AdvancedSettings& a)
{
    if (a.enable_hdcp_key_fire == 0)
        return std::nullopt;
    if (a.autoload_hdcp_key_file_method == 0 && tool::textOf(a.autoload_hdcp_key_file_pathname).empty())
        return kNoHdcpKeyFileMessage;
    if (a.hdcp_key_fire_check_method == 1 && a.enable_save_readed_hdcp_key != 0 &&
        tool::textOf(a.saveread_hdcp_key_file_path).empty())
        return kNoHdcpSaveFolderMessage;
    return std::nullopt;
}

std::optional<std::string> copyHdcpKey(const std::string& keyFile, const std::string& workFolder,
                                       const std::string& settingsPath)
{
    const std::string target = joinPath(workFolder, kHdcpKeyCopyName);
    std::error_code ignored;
    std::filesystem::remove(target, ignored);
    std::string error;
    const auto bytes = tool::readFileBytes(keyFile, &error);
    if (!bytes)
        return "The HDCP key file " + keyFile + " cannot be read: " + error;
    if (!tool::writeFileBytes(target, *bytes, &error))
        return "The HDCP key cannot be copied to " + target + ": " + error;
    if (const auto failed = platform::writeProfileString(settingsPath, tool::kSavedHdcpSection, kHdcpKeyCopyName,
                                                         kHdcpKeyCopyName))
        return "The HDCP key copy cannot be recorded in " + settingsPath + ": " + failed->message;
    return std::nullopt;
}

int hdcpFailureNumber(int result)
{
    switch (result) {
    case MVX_OK: return 0;
    case 13: return 1;
    case 14: return 2;
    case 26: return 3;
    case 20: return 4;
    default: return 1;
    }
}

std::string hdcpLogLine(int result)
{
    return "0000000" + std::to_string(hdcpFailureNumber(result)) + " burn hdcp key and check " +
           (result == MVX_OK ? "pass" : "fail") + " \r\n";
}

std::optional<std::string> appendHdcpLog(const std::string& folder, std::string_view line)
{
    const std::string path = joinPath(folder, kHdcpLogName);
    // One write to a file opened for appending: a crash never leaves half a
    // line, and earlier lines are never touched.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return "The HDCP log " + path + " cannot be opened: " + std::strerror(errno);
    ssize_t written = -1;
    do {
        written = ::write(fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    const int writeErrno = errno;
    const bool closed = ::close(fd) == 0;
    if (written != static_cast<ssize_t>(line.size()))
        return "The HDCP log " + path + " cannot be written: " +
               (written < 0 ? std::strerror(writeErrno) : std::string("the disk took only part of the line"));
    if (!closed)
        return "The HDCP log " + path + " cannot be written: " + std::strerror(errno);
    return std::nullopt;
}

}  // namespace mvx::customer_page
