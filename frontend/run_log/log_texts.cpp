#include "run_log/log_texts.hpp"

#include <array>
#include <cctype>
#include <charconv>
#include <chrono>
#include <string_view>
#include <system_error>

namespace mvx::runlog {

namespace {

// Lower-case hex digits of the 32-bit pattern of `value`.
std::string hexDigits(std::int32_t value)
{
    std::array<char, 8> digits{};
    const auto [end, ec] = std::to_chars(digits.data(), digits.data() + digits.size(),
                                         static_cast<std::uint32_t>(value), 16);
    if (ec != std::errc())
        return "0";
    return std::string(digits.data(), end);
}

std::string number(std::int64_t value)
{
    return std::to_string(value);
}

// The chip names of each brand, by type index.
constexpr std::string_view kPmcChips[] = {"Pm25LV512A", "Pm25LV010A", "Pm25LV020", "Pm25LV040",
                                          "Pm25LD010",  "Pm25LD020",  "Pm25LD040"};
constexpr std::string_view kWinbondChips[] = {"W25X10A", "W25X20A", "W25X40A", "W25X80A"};
constexpr std::string_view kMxicChips[] = {"MX25L1005", "MX25L2005", "MX25L2026", "MX25L4005", "MX25L8005"};
constexpr std::string_view kEonChips[] = {"EN25F20", "EN25F10"};
constexpr std::string_view kSstChips[] = {"SST25LF020A", "SST25LF040A", "SST25LF010A", "SST25LF080B",
                                          "SST25VF020B"};
constexpr std::string_view kAmicChips[] = {"A25L020", "A25L010"};

struct BrandChips {
    std::string_view family;   // the name used when only the brand is known
    std::span<const std::string_view> chips;
};

constexpr BrandChips kBrands[] = {
    {"P", kPmcChips},   {"Winbond", kWinbondChips}, {"MXIC", kMxicChips},
    {"EON", kEonChips}, {"SST", kSstChips},         {"AMIC", kAmicChips},
};

// The programming-line names of the 1To4 slot codes; every other bank code
// is a plain bank.
struct SlotName {
    int firstCode;
    int lastCode;
    std::string_view name;
};

constexpr SlotName kSlotNames[] = {
    {9, 10, "Program 5312 1To4 M1 Bank"},  {11, 12, "Program 5312 1To4 M2 Bank"},
    {16, 17, "Program 5310 1To4 M1 Bank"}, {18, 19, "Program 5310 1To4 M2 Bank"},
    {22, 24, "Program SF 1To4 M1 Bank"},   {25, 27, "Program SF 1To4 M2 Bank"},
};

}  // namespace

// ---- numbers ----

std::string crcHex(std::int32_t value)
{
    if (value >= 0 && value < 16)
        return "0x0" + hexDigits(value);
    return "0x" + hexDigits(value);
}

std::string checksumHex(std::int32_t value)
{
    return hexDigits(value);
}

// ---- erase, program and verify ----

std::string pageErasingPrefix()
{
    return "Page Erasing";
}

std::string pageErasingLine(std::int32_t percent)
{
    return pageErasingPrefix() + " " + number(percent) + "%";
}

std::optional<std::string> eraseResultLine(std::int32_t outcome)
{
    switch (outcome) {
    case MVX_ERASE_BANK_OK: return "Bank Erase OK";
    case MVX_ERASE_BANK_FAILED: return "Bank Erase Failed";
    case MVX_ERASE_MASS_OK: return "Mass Erase OK";
    case MVX_ERASE_MASS_FAILED: return "Mass Erase Failed";
    case MVX_ERASE_PAGE_OK: return "Page Erase OK";
    case MVX_ERASE_PAGE_FAILED: return "Page Erase Failed";
    default: return std::nullopt;
    }
}

std::string programPrefix(int bankCode)
{
    for (const SlotName& slot : kSlotNames) {
        if (bankCode >= slot.firstCode && bankCode <= slot.lastCode)
            return std::string(slot.name) + number(bankCode - slot.firstCode);
    }
    return "Program Bank" + number(bankCode);
}

std::string programLine(int bankCode, std::int32_t percent)
{
    return programPrefix(bankCode) + " " + number(percent) + "%";
}

std::string calculatedCrcLine(int bank, std::int32_t crc)
{
    return "Calculate CRC Bank " + number(bank) + " " + crcHex(crc);
}

std::string readCrcLine(int bank, std::int32_t crc)
{
    return "Read CRC Bank " + number(bank) + " " + crcHex(crc);
}

std::string crcResultLine(int bank, std::int32_t match)
{
    return "Bank " + number(bank) + (match == 1 ? " CRC OK" : " CRC failed");
}

std::string calculatedChecksumLine(std::int32_t sum)
{
    return "Calculate CkSum  " + checksumHex(sum);
}

std::string readChecksumLine(std::int32_t sum)
{
    return "Read CkSum  " + checksumHex(sum);
}

std::string checksumResultLine(int bank, std::int32_t match)
{
    const char* outcome = match != 0 ? "CkSum OK" : "CkSum Failed";
    if (bank >= 22)
        return outcome;
    return "Bank " + number(bank) + " " + outcome;
}

std::string loadFailLine(int bank)
{
    return "Bank " + number(bank) + " Load Fail";
}

std::string beyondFlashLine(int bank, std::int32_t flashKb)
{
    return "Bank " + number(bank) + " lies beyond the end of the " + number(flashKb) + " KB flash";
}

// ---- run end ----

std::string errorLine(std::int32_t result)
{
    std::string line = "Error Code: " + number(result);
    switch (result) {
    case MVX_ERR_ISP_MODE: return line + " MCU link error!";
    case MVX_ERR_TIMEOUT: return line + " MCU write link error!";
    case MVX_ERR_CRC_MISMATCH: return line + " Check CRC fail!";
    case MVX_ERR_WRITE_PROTECTED: return line + " Flash write protection!";
    case MVX_ERR_IC_CODE_MISMATCH: return line + " Scalar IC code mismatch!";
    default: return line;
    }
}

std::string flashToEepromLine()
{
    return "Only p-flash supports flash to eeprom!!";
}

// ---- flash chip report ----

std::optional<std::string> chipReport(int brand, std::int32_t typeIndex)
{
    if (brand == MVX_BRAND_UNKNOWN)
        return "Current Chip is an unknown type chip.";
    if (brand < 0 || brand >= static_cast<int>(std::size(kBrands)))
        return std::nullopt;
    const BrandChips& chips = kBrands[brand];
    if (typeIndex == -1)
        return "Current Chip is " + std::string(chips.family) + "-flash but no more detail infor.";
    if (typeIndex < 0 || static_cast<std::size_t>(typeIndex) >= chips.chips.size())
        return std::nullopt;
    return "Current Chip is " + std::string(chips.chips[static_cast<std::size_t>(typeIndex)]) + ".";
}

// ---- IC code ----

std::string icCodeText(std::int32_t icCode)
{
    std::string digits = hexDigits(icCode);
    if (icCode >= 0 && icCode < 16)
        digits.insert(digits.begin(), '0');
    for (char& c : digits)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return "IC Code: 0x" + digits;
}

// ---- file dates ----

std::string fileDateHeading()
{
    return "File Date Time: ";
}

std::optional<std::string> dateTimeText(std::time_t time)
{
    std::tm local{};
    if (::localtime_r(&time, &local) == nullptr)
        return std::nullopt;
    char text[64];
    const std::size_t length = std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    if (length == 0)
        return std::nullopt;
    return std::string(text, length);
}

std::optional<std::string> fileDateTimeText(const std::filesystem::path& file)
{
    std::error_code error;
    if (file.empty() || !std::filesystem::is_regular_file(file, error))
        return std::nullopt;
    const auto written = std::filesystem::last_write_time(file, error);
    if (error)
        return std::nullopt;
    const auto system = std::chrono::file_clock::to_sys(written);
    return dateTimeText(std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(system)));
}

std::string unknownFileDateText()
{
    return "(file not found)";
}

std::string fileTablePath(std::span<const FileTableEntry> table, std::int32_t index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= table.size())
        return {};
    const FileTableEntry& entry = table[static_cast<std::size_t>(index)];
    const std::string_view path(entry.path, sizeof entry.path);
    return std::string(path.substr(0, path.find('\0')));
}

}  // namespace mvx::runlog
