#include "job/isp_call.hpp"

#include <array>
#include <cstring>

#include "mvxisp_file_limits.hpp"
#include "shell/option_records.hpp"
#include "shell/text.hpp"

namespace mvx::job {
namespace {

constexpr std::array<int, 4> kLd5310{16, 17, 18, 19};
constexpr std::array<int, 4> kLd5312{9, 10, 11, 12};
constexpr std::array<int, 4> kLdSerialFlash{22, 23, 25, 26};

}  // namespace

bool isSerialFlashOperation(int operation)
{
    return operation == MVX_OP_SERIAL_FLASH || operation == MVX_OP_SERIAL_FLASH_1TO4;
}

bool isOneToFourOperation(int operation)
{
    return operation >= MVX_OP_5310_1TO4;
}

int bankCountOf(int operation)
{
    switch (operation) {
    case MVX_OP_MCU_5310:
    case MVX_OP_5310_1TO4: return 2;
    case MVX_OP_MCU_5312:
    case MVX_OP_5312_1TO4: return 3;
    case MVX_OP_SERIAL_FLASH_1TO4: return 4;
    default: return 9;
    }
}

std::string bankLabel(int operation, int bank)
{
    const std::string name = "Bank" + std::to_string(bank);
    const int family = operation % 3;
    if (family == MVX_OP_MCU_5310 && bank <= 1)
        return name + (bank == 0 ? " (0-64)" : " (64-96)");
    if (family == MVX_OP_MCU_5312 && bank <= 2)
        return name + (bank == 2 ? " (128-160)" : bank == 1 ? " (64-128)" : " (0-64)");
    if (family == MVX_OP_SERIAL_FLASH && bank <= 7)
        return name + " (" + std::to_string(bank * 64) + "-" + std::to_string(bank * 64 + 64) + ")";
    if (family == MVX_OP_SERIAL_FLASH && bank == 8)
        return "BankN (LD File)";
    return name;
}

std::span<const int> ldEntriesOf(int operation)
{
    switch (operation) {
    case MVX_OP_5310_1TO4: return kLd5310;
    case MVX_OP_5312_1TO4: return kLd5312;
    case MVX_OP_SERIAL_FLASH_1TO4: return kLdSerialFlash;
    default: return {};
    }
}

int bankFileFormat(std::string_view path)
{
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash))
        return MVX_FORMAT_HEX;
    return tool::equalsIgnoringCase(path.substr(dot), ".bin") ? MVX_FORMAT_BINARY : MVX_FORMAT_HEX;
}

std::string checksumText(int value)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    auto v = static_cast<unsigned>(value);
    do {
        text.insert(text.begin(), kDigits[v & 0xFu]);
        v >>= 4;
    } while (v != 0);
    if (text.size() < 4)
        text.insert(0, 4 - text.size(), '0');
    return text;
}

bool setEntry(FileTableEntry& entry, std::uint8_t inUse, int format, std::string_view path)
{
    if (path.size() >= MVX_PATH_CAPACITY)
        return false;
    entry = FileTableEntry{};
    entry.inUse = inUse;
    entry.format = format;
    std::memcpy(entry.path, path.data(), path.size());
    entry.path[path.size()] = '\0';
    return true;
}

IspOptions IspCall::optionsForCall() const
{
    IspOptions copy = options;
    copy.hdcp_key_file = hdcpKeyFile.empty() ? nullptr : hdcpKeyFile.c_str();
    copy.saveread_hdcp_key_file_path = readBackFolder.empty() ? nullptr : readBackFolder.c_str();
    return copy;
}

IspOptions defaultIspOptions()
{
    const tool::AdvancedSettings a = tool::defaultAdvancedSettings(".");
    IspOptions o{};
    o.checkVGAconn_delay = a.checkVGAconn_delay;
    o.beforeshowCKSM_delay = a.beforeshowCKSM_delay;
    o.isprepeat_counter = a.isprepeat_counter;
    o.ffe2_value = a.ffe2_value;
    o.ffe3_value = a.ffe3_value;
    o.ic_code_check_value = a.ic_code_check_value;
    o.norvane_usb_frequency = a.norvane_usb_frequency;
    o.norvane_usb_ispspeed = a.norvane_usb_ispspeed;
    o.other_usb_ispspeed = a.other_usb_ispspeed;
    o.norvane_iic_ispspeed = a.norvane_iic_ispspeed;
    o.flashstatus_value = a.flashstatus_value;
    return o;
}

bool readable(const std::string& path, std::string* why, std::uint64_t limit)
{
    const platform::FileProblem problem = platform::checkRegularFile(path, limit);
    if (!problem.ok())
        *why = "it " + problem.message();
    return problem.ok();
}

std::uint64_t fileLimitOf(int format)
{
    switch (format) {
    case MVX_FORMAT_HEX: return kMaxHexFileBytes;
    case MVX_FORMAT_BINARY: return kMaxBinaryFileBytes;
    default: return kMaxImageFileBytes;
    }
}

}  // namespace mvx::job
