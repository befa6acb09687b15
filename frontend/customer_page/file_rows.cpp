#include "customer_page/file_rows.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>

#include "job/isp_call.hpp"
#include "shell/text.hpp"
#include "mvx/platform/atomic_file.hpp"
#include "mvx/platform/ini.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp_file_limits.hpp"

namespace mvx::customer_page {
namespace {

namespace fs = std::filesystem;

constexpr int kBankBytes = 65536;
constexpr int kLastBankBytes = 0x8000;
constexpr int kTrueSizes = 32;

std::size_t at(int r)
{
    return static_cast<std::size_t>(r);
}

int family(int mcuType)
{
    return mcuType % 3;
}

std::string fileNameOf(const std::string& path)
{
    return fs::path(path).filename().string();
}

// The path without its last extension, the base of the companion names.
std::string withoutExtension(const std::string& path)
{
    const auto dot = path.rfind('.');
    const auto slash = path.rfind('/');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return path;
    return path.substr(0, dot);
}

bool isRegularFile(const std::string& path)
{
    std::error_code error;
    return !path.empty() && fs::is_regular_file(path, error);
}

// The ticked rows as an action left them so far.
std::uint16_t ticksOf(const RowsReport& report, const RowOptions& options)
{
    return report.tickedRows.value_or(options.tickedRows);
}

void tick(RowsReport& report, const RowOptions& options, int r, bool on)
{
    const auto bit = static_cast<std::uint16_t>(1u << r);
    const std::uint16_t ticks = ticksOf(report, options);
    report.tickedRows = static_cast<std::uint16_t>(on ? (ticks | bit) : (ticks & ~bit));
}

std::string storedHexMember(int r)
{
    return "hexfile" + std::to_string(r + 1);
}

std::string inFolder(const std::string& folder, std::string_view member)
{
    return (fs::path(folder) / member).string();
}

// The stored copy of LD file i (0..3) of a family: "5310file1" ...
std::string ldMember(std::size_t family, int i)
{
    return std::string(tool::kLdFamilies[family]) + "file" + std::to_string(i + 1);
}

// The largest file a row of this format can hold.
std::uint64_t limitOf(int format)
{
    switch (format) {
    case MVX_FORMAT_BINARY: return kMaxBinaryFileBytes;
    case MVX_FORMAT_WHOLE_DEVICE: return kMaxImageFileBytes;
    default: return kMaxHexFileBytes;
    }
}

// Copies a file over target atomically; nullopt or the reason it failed.
std::optional<std::string> copyFile(const std::string& source, const std::string& target, std::uint64_t limit)
{
    const platform::FileBytes file = platform::readRegularFile(source, limit);
    if (!file.ok())
        return "cannot copy '" + source + "': it " + file.problem.message();
    if (auto error = platform::replaceFileAtomically(target, file.bytes, "stored copy"))
        return error;
    return std::nullopt;
}

// The first regular file of the folder (by name) whose name ends in tail,
// letters compared without regard to case.
std::optional<std::string> firstMatch(const std::string& folder, std::string_view tail)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > tail.size() && tool::endsWithIgnoringCase(name, tail) && entry.is_regular_file(error))
            names.push_back(entry.path().string());
    }
    if (names.empty())
        return std::nullopt;
    return *std::min_element(names.begin(), names.end());
}

}  // namespace

int rowCountOf(int mcuType)
{
    return job::bankCountOf(family(mcuType));
}

std::array<std::string, kFileRows> bankLabels(int mcuType, int fileType)
{
    std::array<std::string, kFileRows> labels;
    if (fileType == kFileTypeBin) {
        labels[0] = "BigBin";
        return labels;
    }
    for (int r = 0; r < rowCountOf(mcuType); ++r)
        labels[at(r)] = job::bankLabel(family(mcuType), r);
    return labels;
}

std::vector<OpenFilter> openFilters(int row, int fileType)
{
    if (row == 0 && fileType == kFileTypeBin)
        return {{"bin Files", {"*.bin", "*.BIN", "*Bin"}}};
    return {{"hex Files", {"*.h*"}}, {"bin Files", {"*.bin"}}};
}

std::optional<std::uint16_t> wholeFileSum(const std::string& path)
{
    const platform::FileBytes file = platform::readRegularFile(path, kMaxImageFileBytes);
    if (!file.ok())
        return std::nullopt;
    unsigned sum = 0;
    for (const char byte : file.bytes)
        sum += static_cast<unsigned char>(byte);
    return static_cast<std::uint16_t>(sum);
}

std::string fileDateTimeText(const std::string& path)
{
    std::error_code error;
    const auto written = fs::last_write_time(path, error);
    if (error)
        return std::string(kDateTimeCaption);
    const auto since = std::chrono::file_clock::to_sys(written);
    const std::time_t seconds = std::chrono::system_clock::to_time_t(since);
    std::tm local{};
    if (localtime_r(&seconds, &local) == nullptr)
        return std::string(kDateTimeCaption);
    char text[32] = {};
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return std::string(kDateTimeCaption) + text;
}

// ---- names and files ---------------------------------------------------------------------

std::string FileRows::rowName(int r, const RowOptions& options) const
{
    if (options.packageMode && r < kStoredRows)
        return options.fileType == kFileTypeBin ? (r == 0 ? storedBin_ : std::string()) : storedHex_[at(r)];
    return rows_[at(r)].path;
}

std::string FileRows::fileOf(int r, const RowOptions& options) const
{
    if (!options.packageMode)
        return options.fileType == kFileTypeBin ? rows_[0].path : rows_[at(r)].path;
    return inFolder(options.workFolder,
                    options.fileType == kFileTypeBin ? std::string(kStoredBinName) : storedHexMember(r));
}

// ---- reading a row -----------------------------------------------------------------------

void FileRows::fill(int r, const FileInfoAnswer& answer)
{
    FileRow& row = rows_[at(r)];
    row.fileLengthText = std::to_string(answer.dataLength);
    row.programLengthText = std::to_string(answer.programLength);
    row.checksumText = job::checksumText(answer.checksum & 0xFFFF);
    row.crc = static_cast<std::uint32_t>(answer.crc);
    row.loaded = true;
}

void FileRows::clear(int r)
{
    FileRow& row = rows_[at(r)];
    row.loaded = false;
    row.checksumText.clear();
    row.fileLengthText.clear();
    row.programLengthText.clear();
    row.crc = 0;
}

std::optional<FileInfoAnswer> FileRows::ask(FileInfoRequest request, RowsReport& report)
{
    auto answer = engine_.fileInfo(request);
    if (!answer || answer->result != MVX_ERR_ERASE_LENGTH)
        return answer;
    // The last bank's erase size does not fit the file: once, take the
    // size the file needs (whole KB, rounded up) and ask again.
    const int kb = (answer->dataLength + 1023) / 1024;
    if (kb < 1 || kb > kTrueSizes)
        return answer;
    report.trueSizeIndex = kb - 1;
    request.eraseLength = kb * 1024;
    return engine_.fileInfo(request);
}

bool FileRows::hexInfo(int r, const RowOptions& options, std::optional<int> length, RowsReport& report)
{
    const std::string name = rowName(r, options);
    if (name.empty()) {
        clear(r);
        return false;
    }
    FileRow& row = rows_[at(r)];
    row.format = job::bankFileFormat(name);
    const int trueSize = report.trueSizeIndex.value_or(options.trueSizeIndex);
    if (!length)
        length = (r == 1 || r == 2) ? (options.extTrueSize ? (trueSize + 1) * 1024 : -1) : 0;
    const auto answer = ask({fileOf(r, options), row.format, r, options.mcuType, options.eraseType, *length,
                             options.sectorEraseFlag, options.sectorEraseBank},
                            report);
    if (answer && answer->result == MVX_OK) {
        if (answer->dataLength < 1 || answer->dataLength > kBankBytes)
            return false;
        fill(r, *answer);
        return true;
    }
    clear(r);
    return false;
}

bool FileRows::binInfo(const RowOptions& options, RowsReport& report)
{
    const std::string name = rowName(0, options);
    if (name.empty()) {
        bigBinChecksum_.clear();
        return false;
    }
    const std::string image = fileOf(0, options);
    const auto sum = wholeFileSum(image);
    bigBinChecksum_ = sum ? job::checksumText(*sum) : std::string();

    int banks = rowCountOf(options.mcuType);
    const bool serialFlash = family(options.mcuType) == MVX_OP_SERIAL_FLASH;
    if (serialFlash) {
        std::error_code error;
        const auto size = fs::file_size(image, error);
        banks = error ? 0 : static_cast<int>((size + kBankBytes - 1) / kBankBytes);
        for (int r = 0; r < kStoredRows; ++r)
            tick(report, options, r, false);
        // The image fills banks 0..7; the LD bank is never cut from it.
        banks = std::min(banks, kFileRows - 1);
        dateTime_ = fileDateTimeText(image);
    }
    bool all = banks > 0;
    for (int bank = 0; bank < banks; ++bank) {
        const int trueSize = report.trueSizeIndex.value_or(options.trueSizeIndex);
        const int length = (bank == 1 || bank == 2) ? (options.extTrueSize ? (trueSize + 1) * 1024 : -1) : 0;
        const FileInfoRequest request{image, MVX_FORMAT_WHOLE_DEVICE, bank, options.mcuType, options.eraseType,
                                      length, options.sectorEraseFlag, options.sectorEraseBank};
        const auto answer = serialFlash ? engine_.fileInfo(request) : ask(request, report);
        FileRow& row = rows_[at(bank)];
        row.format = MVX_FORMAT_WHOLE_DEVICE;
        if (!answer || answer->result != MVX_OK) {
            clear(bank);
            all = false;
            continue;
        }
        if (answer->dataLength < 1 || answer->dataLength > kBankBytes)
            return false;
        fill(bank, *answer);
        tick(report, options, bank, true);
    }
    return all;
}

bool FileRows::fileInfo(int index, const RowOptions& options, RowsReport& report)
{
    if (index < 1 || index > kFileRows)
        return false;
    if (options.fileType == kFileTypeBin)
        return index == 1 && binInfo(options, report);
    return hexInfo(index - 1, options, std::nullopt, report);
}

// ---- stored copies -----------------------------------------------------------------------

bool FileRows::storeCopy(int r, const RowOptions& options, RowsReport& report)
{
    if (r >= kStoredRows || options.packageMode)
        return true;
    const bool bin = options.fileType == kFileTypeBin;
    if (bin && r != 0)
        return true;
    const FileRow& row = rows_[at(r)];
    const std::string target = inFolder(options.workFolder, bin ? std::string(kStoredBinName) : storedHexMember(r));
    if (auto error = copyFile(row.path, target, limitOf(bin ? MVX_FORMAT_WHOLE_DEVICE : row.format))) {
        report.copyErrors.push_back(*error);
        return false;
    }
    // The stored name changes only with the copy it names.
    if (bin)
        storedBin_ = fileNameOf(row.path);
    else
        storedHex_[at(r)] = fileNameOf(row.path);
    return true;
}

std::vector<std::string> FileRows::writeStoredFiles(const std::string& folder, const RowOptions& options) const
{
    std::vector<std::string> errors;
    auto write = [&](const std::string& member, const std::string& name, std::uint64_t limit) {
        if (name.empty())
            return;
        if (auto error = copyFile(inFolder(options.workFolder, member), inFolder(folder, fileNameOf(name)), limit))
            errors.push_back(*error);
    };
    if (options.fileType == kFileTypeBin) {
        write(std::string(kStoredBinName), storedBin_, kMaxImageFileBytes);
        return errors;
    }
    for (int r = 0; r < kStoredRows; ++r)
        write(storedHexMember(r), storedHex_[at(r)], kMaxHexFileBytes);
    return errors;
}

std::vector<std::string> FileRows::writeStoredLdFiles(const std::string& folder, const RowOptions& options,
                                                      const tool::LdTable& savedNames)
{
    std::vector<std::string> errors;
    // 0 the 5310 types, 1 the 5312 types, 2 the serial flash: a four-board
    // serial flash job loads LD files of its own too.
    const int family = options.mcuType % 3;
    for (int i = 0; i < tool::kLdFilesPerFamily; ++i) {
        const std::string& name = savedNames[static_cast<std::size_t>(family)][static_cast<std::size_t>(i)];
        if (name.empty())
            continue;
        const std::string member = ldMember(static_cast<std::size_t>(family), i);
        if (auto error = copyFile(inFolder(options.workFolder, member), inFolder(folder, fileNameOf(name)),
                                  kMaxHexFileBytes))
            errors.push_back(*error);
    }
    return errors;
}

std::vector<std::string> FileRows::storeLdCopies(const std::string& workFolder, std::size_t family,
                                                 const std::array<std::string, tool::kLdFilesPerFamily>& paths,
                                                 std::array<std::string, tool::kLdFilesPerFamily>& savedNames)
{
    std::vector<std::string> errors;
    for (int i = 0; i < tool::kLdFilesPerFamily; ++i) {
        const std::string& path = paths[at(i)];
        if (path.empty())
            continue;
        if (auto error = copyFile(path, inFolder(workFolder, ldMember(family, i)), kMaxHexFileBytes))
            errors.push_back(*error);
        else
            savedNames[at(i)] = fileNameOf(path);
    }
    return errors;
}

// ---- the operator's actions --------------------------------------------------------------

void FileRows::logCrc(int r, RowsReport& report) const
{
    report.crcRows.push_back(r);
}

RowsReport FileRows::openRow(int r, const std::string& path, const RowOptions& options)
{
    RowsReport report;
    report.filesChanged = true;
    if (r < 0 || r >= kFileRows)
        return report;
    if (r != 0) {
        rows_[at(r)].path = path;
        if (fileInfo(r + 1, options, report)) {
            storeCopy(r, options, report);
        } else {
            clear(r);
            report.openError = true;
        }
        logCrc(r, report);
        return report;
    }

    for (int row = 0; row < kStoredRows; ++row) {
        rows_[at(row)].path.clear();
        clear(row);
    }
    report.rowMaskCleared = true;
    rows_[0].path = path;

    // Companions beside the chosen file take the next rows.
    const std::string base = withoutExtension(path);
    std::vector<std::string> companions;
    if (options.mcuType == MVX_OP_MCU_5310)
        companions = {"_Extend.hex"};
    else if (options.mcuType == MVX_OP_MCU_5312)
        companions = {".H01", "_Extend.hex"};
    else if (options.mcuType == MVX_OP_SERIAL_FLASH && options.fileType == kFileTypeHex)
        companions = {".H01", ".H02", ".H03"};
    for (std::size_t i = 0; i < companions.size(); ++i) {
        FileRow& row = rows_[i + 1];
        const std::string candidate = base + companions[i];
        const bool found = isRegularFile(candidate);
        tick(report, options, static_cast<int>(i) + 1, found);
        row.path = found ? candidate : std::string();
    }

    if (fileInfo(1, options, report)) {
        dateTime_ = fileDateTimeText(path);
        storeCopy(0, options, report);
    } else {
        clear(0);
        report.openError = true;
    }

    if (options.fileType == kFileTypeBin) {
        for (int row = 0; row < kFileRows; ++row)
            if (rows_[at(row)].crc != 0)
                logCrc(row, report);
        return report;
    }
    logCrc(0, report);
    for (int row = 1; row < kStoredRows; ++row) {
        if (fileInfo(row + 1, options, report)) {
            storeCopy(row, options, report);
            logCrc(row, report);
        } else {
            rows_[at(row)].path.clear();
        }
    }
    return report;
}

RowsReport FileRows::refreshBankRows(const RowOptions& options)
{
    RowsReport report;
    if (options.fileType == kFileTypeBin) {
        fileInfo(1, options, report);
        return report;
    }
    for (int r = 0; r < rowCountOf(options.mcuType); ++r)
        fileInfo(r + 1, options, report);
    return report;
}

RowsReport FileRows::recomputeShortLastBank(const RowOptions& options)
{
    RowsReport report;
    const int last = family(options.mcuType) == MVX_OP_MCU_5310   ? 1
                     : family(options.mcuType) == MVX_OP_MCU_5312 ? 2
                                                                  : -1;
    if (last < 0 || !rows_[at(last)].loaded)
        return report;
    int length = kLastBankBytes;
    if (options.eraseType == 1) {
        length = -1;
        if (options.extTrueSize) {
            int trueSize = options.trueSizeIndex;
            const int shown = std::atoi(rows_[at(last)].fileLengthText.c_str());
            if ((shown - 1) / 1024 > trueSize && (shown - 1) / 1024 < kTrueSizes) {
                trueSize = (shown - 1) / 1024;
                report.trueSizeIndex = trueSize;
            }
            length = (trueSize + 1) * 1024;
        }
    }
    FileRow& row = rows_[at(last)];
    const auto answer = ask({fileOf(last, options), row.format, last, options.mcuType, options.eraseType, length,
                             options.sectorEraseFlag, options.sectorEraseBank},
                            report);
    if (!answer || answer->result != MVX_OK)
        clear(last);
    else if (answer->dataLength >= 1 && answer->dataLength <= kBankBytes)
        fill(last, *answer);
    return report;
}

// ---- rows from the settings file and from a folder ----------------------------------------

void FileRows::reloadFileRows(const std::string& iniPath, const RowOptions& options)
{
    for (int r = 0; r < kStoredRows; ++r) {
        rows_[at(r)].path.clear();
        clear(r);
    }
    dateTime_ = std::string(kDateTimeCaption);
    if (options.fileType == kFileTypeBin) {
        rows_[0].path = platform::readProfileString(iniPath, "Setting", "binfile_name", "");
        const auto sum = rows_[0].path.empty() ? std::nullopt : wholeFileSum(rows_[0].path);
        bigBinChecksum_ = sum ? job::checksumText(*sum) : std::string();
        return;
    }
    const int rows = rowCountOf(options.mcuType);
    for (int r = 0; r < kFileRows; ++r)
        rows_[at(r)].path = r < rows ? platform::readProfileString(iniPath, "Setting",
                                                                   "file" + std::to_string(r + 1) + "_name", "")
                                     : std::string();
}

FileRows::AutoLoad FileRows::autoLoad(const std::string& folder, RowOptions options)
{
    AutoLoad result;
    for (int r = 0; r < kStoredRows; ++r) {
        rows_[at(r)].path.clear();
        clear(r);
    }
    int found = 0;
    for (; found < kStoredRows; ++found) {
        const auto match = firstMatch(folder, ".H0" + std::to_string(found));
        if (!match)
            break;
        rows_[at(found)].path = *match;
        result.rowMask |= static_cast<std::uint16_t>(1u << found);
    }
    if (found < kStoredRows) {
        if (const auto match = firstMatch(folder, "_EXTEND.hex")) {
            rows_[at(found)].path = *match;
            result.rowMask |= static_cast<std::uint16_t>(1u << found);
        }
    }
    if (found == 0) {
        if (const auto match = firstMatch(folder, ".bin")) {
            result.fileType = kFileTypeBin;
            rows_[0].path = *match;
            result.rowMask = 1;
        }
    }
    options.tickedRows = static_cast<std::uint16_t>((options.tickedRows & ~0xFu) | result.rowMask);
    options.fileType = result.fileType;
    result.report = refreshBankRows(options);
    result.report.tickedRows = result.report.tickedRows.value_or(options.tickedRows);
    result.report.filesChanged = result.rowMask != 0;
    return result;
}

bool FileRows::presentForRun(int r, const RowOptions& options)
{
    const bool bin = options.fileType == kFileTypeBin;
    if (rowName(bin ? 0 : r, options).empty() || !rows_[at(r)].loaded)
        return false;
    if (isRegularFile(fileOf(r, options)))
        return true;
    clear(r);
    return false;
}

}  // namespace mvx::customer_page
