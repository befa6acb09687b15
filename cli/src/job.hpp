// Turning mvxisp's options into one mvxISP call: the 17 arguments, the
// FileTable and the IspOptions record, checked before anything is loaded.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp.h"

namespace mvx::cli {

// Exit statuses of the program's own failures; everything below 64 is an
// engine result code (14 also for a firmware or key file that cannot be read
// before the engine is called).
inline constexpr int kStatusUsage = 64;          // a wrong command, option or value
inline constexpr int kStatusBadData = 65;        // an ISP file or image that cannot be used
inline constexpr int kStatusNoInput = 66;        // an ISP file or settings file that cannot be read
inline constexpr int kStatusNoEngine = 69;       // the engine library cannot be loaded
inline constexpr int kStatusInternal = 70;       // a fault of the program itself
inline constexpr int kStatusCannotCreate = 73;   // the log file cannot be written
// A repeat test cut short by an interrupt: 128 + the signal (130 for Ctrl-C).
inline constexpr int kStatusInterruptedBase = 128;

// The one-line meaning of an exit status.
std::string statusMeaning(int status);

// "--mcu" names, by operation code 0..5.
inline constexpr std::string_view kMcuNames[] = {"5310", "5312", "sf", "5310-1to4", "5312-1to4", "sf-1to4"};
inline constexpr std::string_view kInterfaceNames[] = {"usb", "ftdi", "iic", "cvt"};
inline constexpr std::string_view kBrandNames[] = {"pmc", "winbond", "mxic", "eon", "sst", "amic"};

// The operation for an --mcu value ("serial-flash" is "sf"); nullopt with
// *error otherwise.
std::optional<int> operationFromName(std::string_view text, std::string* error);

bool isSerialFlashOperation(int operation);
bool isOneToFourOperation(int operation);
// The plain banks an operation programs: 2, 3 or 9 (0..8), and 2, 3, 4 for
// the 1To4 operations.
int bankCountOf(int operation);
// The label of a bank row as the customer page shows it: "Bank1 (64-96)",
// "BankN (LD File)"; "Bank12" beyond the rows.
std::string bankLabel(int operation, int bank);
// The FileTable entries of the four LD files of a 1To4 operation.
std::span<const int> ldEntriesOf(int operation);

// The file format the tool takes for a bank file: binary for a name ending
// in ".bin" (any case), else Intel HEX.
int bankFileFormat(std::string_view path);

// A checksum as the page shows it: upper-case hex, at least four digits.
std::string checksumText(int value);

// Fills a FileTable entry; false when the path does not fit its 260 bytes.
bool setEntry(FileTableEntry& entry, std::uint8_t inUse, int format, std::string_view path);

// One mvxISP call with everything it points at.
struct IspCall {
    int adapterKind = MVX_ADAPTER_NORVANE_IIC;
    int operation = MVX_OP_SERIAL_FLASH;
    int eraseOnly = 0;
    int slaveSelector = 1;
    int verifyByChecksum = 0;
    int eraseMode = 0;
    int eraseLength = -1;
    int flashBrand = MVX_BRAND_PMC;
    int reserved = 0;
    std::vector<FileTableEntry> table = std::vector<FileTableEntry>(MVX_FILE_TABLE_SIZE);
    int libraryMode = 0;
    int idReadMode = 0;
    FlashProtectSettings protect{};
    int sectorEraseFlag = 0;
    int sectorEraseBank = 0;
    IspOptions options{};            // text fields are set by optionsForCall()
    std::string hdcpKeyFile;
    std::string readBackFolder;

    // The options record with its two texts pointing into this call.
    IspOptions optionsForCall() const;
};

// Why an explicit --library-mode cannot drive the adapter kind, or nullopt.
std::optional<std::string> libraryModeProblem(int adapterKind, std::optional<int> libraryMode);

// IspOptions at the tool's defaults (the Advanced Setting values).
IspOptions defaultIspOptions();

// A bank file named on the command line.
struct BankFile {
    int bank = 0;
    std::string path;
    int format = MVX_FORMAT_HEX;
};

// What to run: the call, how its library mode is decided and the bus.
struct RunPlan {
    IspCall call;
    std::optional<int> libraryMode;   // nullopt: from the interface, as the tool decides it
    int libraryModeInterface = -1;    // the interface that decides it; -1: the call's adapter kind
    std::optional<std::string> bus;   // --bus: the i2c-dev bus node for the IIC library
    int runs = 1;                     // --repeat
    std::vector<BankFile> files;      // the bank files (for info and notes)
};

struct Built {
    RunPlan plan;
    int status = 0;          // nonzero: the command cannot run
    std::string error;       // one line
};

// program, erase, ic-code and hdcp.
Built buildRun(std::string_view command, const ParsedArguments& args);

// The bank files of program and info: FILE... for banks 0, 1, ..., --bank
// N=FILE, or --image FILE cut into the operation's banks (format 2).
struct BankFiles {
    std::vector<BankFile> files;
    std::optional<std::string> image;   // --image
    int status = 0;
    std::string error;
};
BankFiles collectBankFiles(int operation, const ParsedArguments& args);

// The erase type and length of --erase and --erase-size: (mode, length).
struct EraseChoice {
    int mode = 0;
    int length = -1;
    std::string error;
};
EraseChoice eraseChoiceOf(int operation, const ParsedArguments& args);

// A bus given as N, i2c-N or a path, as the path of its node.
std::optional<std::string> busNodeFrom(std::string_view text);

// Whether path is a regular file of at most `limit` bytes that can be opened
// for reading (looked at without ever blocking on a pipe or device); *why
// says why not ("it is a named pipe, not a file", "it does not exist", ...).
bool readable(const std::string& path, std::string* why, std::uint64_t limit = platform::kNoFileLimit);

// The largest bank file of a format (0 HEX, 1 raw binary, 2 whole image).
std::uint64_t fileLimitOf(int format);

}  // namespace mvx::cli
