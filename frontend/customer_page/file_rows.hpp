// The customer page's nine firmware file rows: which file each row names,
// what the engine reported for it, the bank labels of the open buttons, the
// companion files found beside a Bank0 file, a whole image ("BigBin") cut
// into its banks, the stored copies in the work folder and the auto-load from
// a folder.  Plain C++: the Qt page draws a FileRows and forwards the
// operator's actions to it; the option values it needs come in a RowOptions.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "customer_page/file_info.hpp"
#include "shell/settings_store.hpp"

namespace mvx::customer_page {

inline constexpr int kFileRows = 9;
inline constexpr int kStoredRows = 4;         // rows 0..3 keep a copy in the work folder
inline constexpr int kFileTypeHex = 0;        // one file per bank
inline constexpr int kFileTypeBin = 1;        // one whole image
inline constexpr std::string_view kOpenFileError = "Open File Error!";
inline constexpr std::string_view kDateTimeCaption = "File Date Time: ";
inline constexpr std::string_view kStoredBinName = "binfile.bin";

// The option values the rows depend on, fed by the page's options.
struct RowOptions {
    int mcuType = MVX_OP_SERIAL_FLASH;   // 0..5: 5310, 5312, serial flash and their 1To4 forms
    int fileType = kFileTypeHex;
    int eraseType = 0;                   // 0 mass, 1 page
    bool extTrueSize = false;
    int trueSizeIndex = 0;               // 0..31: the last bank's erase size in KB, less one
    bool packageMode = false;            // saved_hex: the rows use the copies in the work folder
    int sectorEraseFlag = 0;             // Enable_sectorerase_extendbank
    int sectorEraseBank = 0;             // Sectorerase_bankindex
    std::string workFolder;              // where the stored copies live
    std::uint16_t tickedRows = 0;        // the page's row check boxes, bit i = row i
};

// Whether a row is ticked is the page options' business (RowOptions::tickedRows);
// an action that ticks rows itself reports the new mask (RowsReport::tickedRows).
struct FileRow {
    std::string path;                 // the full path as chosen
    std::string checksumText;         // "001F"; empty when not loaded
    std::string fileLengthText;       // data length, decimal
    std::string programLengthText;    // program length, decimal
    bool loaded = false;              // the engine read the file
    int format = MVX_FORMAT_HEX;      // the format the engine was asked to read
    std::uint32_t crc = 0;
};

// What an action did beyond the rows themselves, for the page to act on.
struct RowsReport {
    bool openError = false;                    // show kOpenFileError
    std::optional<int> trueSizeIndex;          // raised to fit a file's last bank
    std::vector<int> crcRows;                  // rows whose CRC is logged, in order
    std::vector<std::string> copyErrors;       // stored copies that could not be written
    bool rowMaskCleared = false;               // the MCU type's remembered row mask is to be cleared
    std::optional<std::uint16_t> tickedRows;   // the rows ticked from now on, when the action ticked any
    bool filesChanged = false;
};

// Rows of an MCU type: 2 (5310), 3 (5312) or 9 (serial flash).
int rowCountOf(int mcuType);
// The open buttons' captions; empty for rows the type and file type do not use.
std::array<std::string, kFileRows> bankLabels(int mcuType, int fileType);
// One entry of the open-file picker's filter list: "hex Files" with "*.h*".
struct OpenFilter {
    std::string description;
    std::vector<std::string> patterns;
    bool operator==(const OpenFilter&) const = default;
};
// The open-file picker's filters for a row.
std::vector<OpenFilter> openFilters(int row, int fileType);
// The 16-bit sum of every byte of a regular file; nullopt when it cannot be read.
std::optional<std::uint16_t> wholeFileSum(const std::string& path);
// "File Date Time: 2024-05-01 12:00:00" for a file's modification time
// (local time); the bare caption when there is none.
std::string fileDateTimeText(const std::string& path);

class FileRows {
public:
    explicit FileRows(FileInfoSource& engine) : engine_(engine) {}

    const FileRow& row(int r) const { return rows_[static_cast<std::size_t>(r)]; }
    FileRow& row(int r) { return rows_[static_cast<std::size_t>(r)]; }
    // The text of a row's name edit: the path, or in package mode the stored
    // name of rows 0..3.
    std::string rowName(int r, const RowOptions& options) const;
    // The file row r is read from: its path, or in package mode its stored
    // copy ("hexfile<r+1>", "binfile.bin") in the work folder.
    std::string fileOf(int r, const RowOptions& options) const;

    std::array<std::string, kStoredRows>& storedHexNames() { return storedHex_; }
    const std::array<std::string, kStoredRows>& storedHexNames() const { return storedHex_; }
    std::string& storedBinName() { return storedBin_; }
    const std::string& storedBinName() const { return storedBin_; }
    const std::string& bigBinChecksumText() const { return bigBinChecksum_; }
    const std::string& dateTimeText() const { return dateTime_; }

    // The row's information from the engine (index = row + 1; index 0 does
    // nothing).  In Bin mode index 1 reads the whole image into its banks.
    // True when the information was filled.  An MCU's last bank that does
    // not fit the erase size (result 9) is asked once more with the size the
    // file needs, reported as report.trueSizeIndex (when it lies in 1..32 KB).
    bool fileInfo(int index, const RowOptions& options, RowsReport& report);

    // The operator chose `path` with row r's open button.  A file the engine
    // cannot read keeps its path but shows nothing and is not loaded
    // (report.openError).  Row 0 first empties rows 0..3 and takes the
    // companions beside the file ("_Extend.hex", ".H01".."H03", by MCU type);
    // rows 0..3 keep a stored copy of what was read.
    RowsReport openRow(int r, const std::string& path, const RowOptions& options);

    // The information of every bank row of the MCU type again (start-up, a
    // new file type, new advanced settings).
    RowsReport refreshBankRows(const RowOptions& options);

    // The last bank of an MCU again, with the erase length the erase options
    // give it.
    RowsReport recomputeShortLastBank(const RowOptions& options);

    // Rows 0..3 emptied and the rows' paths read again from the settings
    // file for the options' file type (a whole image: its sum shown at once).
    void reloadFileRows(const std::string& iniPath, const RowOptions& options);

    // Bank files found in a folder: "*.H00".."*.H03" in turn, then
    // "*_EXTEND.hex"; with no "*.H00", a "*.bin" as the whole image.
    struct AutoLoad {
        int fileType = kFileTypeHex;
        std::uint16_t rowMask = 0;
        RowsReport report;
    };
    AutoLoad autoLoad(const std::string& folder, RowOptions options);

    // Copies the stored files into `folder` under their stored names
    // (package export of the firmware); one message per failed copy.
    std::vector<std::string> writeStoredFiles(const std::string& folder, const RowOptions& options) const;

    // Copies the four stored LD files of the MCU type's family ("5310file1".."4"
    // for R5310 and its 1To4 form, "5312file1".."4" for R5312 and its 1To4
    // form) from the work folder into `folder` under their saved names;
    // the serial flash types copy nothing.  One message per failed copy.
    static std::vector<std::string> writeStoredLdFiles(const std::string& folder, const RowOptions& options,
                                                       const tool::LdTable& savedNames);

    // Keeps a copy of a family's LD files (0 5310, 1 5312, 2 serial flash) in
    // the work folder as "<family>file1".."4" and records each file's name as
    // its saved LD name.  An empty path is skipped; a copy that fails keeps
    // the old copy and its name.  One message per failed copy.
    static std::vector<std::string> storeLdCopies(const std::string& workFolder, std::size_t family,
                                                  const std::array<std::string, tool::kLdFilesPerFamily>& paths,
                                                  std::array<std::string, tool::kLdFilesPerFamily>& savedNames);

    // Whether row r's file is there for a run: named, read by the engine and
    // still on disk (a file that vanished since counts as missing and loses
    // its loaded flag).
    bool presentForRun(int r, const RowOptions& options);

private:
    bool hexInfo(int r, const RowOptions& options, std::optional<int> length, RowsReport& report);
    bool binInfo(const RowOptions& options, RowsReport& report);
    // One engine call with the one repeat after result 9; nullopt = no engine.
    std::optional<FileInfoAnswer> ask(FileInfoRequest request, RowsReport& report);
    void fill(int r, const FileInfoAnswer& answer);
    void clear(int r);
    bool storeCopy(int r, const RowOptions& options, RowsReport& report);
    void logCrc(int r, RowsReport& report) const;

    FileInfoSource& engine_;
    std::array<FileRow, kFileRows> rows_{};
    std::array<std::string, kStoredRows> storedHex_;
    std::string storedBin_;
    std::string bigBinChecksum_;
    std::string dateTime_{kDateTimeCaption};
};

}  // namespace mvx::customer_page
