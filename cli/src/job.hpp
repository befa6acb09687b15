// Turning mvxisp's options into one mvxISP call (job/isp_call.hpp), checked
// before anything is loaded.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"
#include "job/isp_call.hpp"
#include "job/rsp_job.hpp"
#include "mvxisp.h"

namespace mvx::cli {

// Exit statuses of the program's own failures; everything below 64 is an
// engine result code (14 also for a firmware or key file that cannot be read
// before the engine is called).
using job::kStatusBadData;   // 65
using job::kStatusNoInput;   // 66
using job::kStatusUsage;     // 64: a wrong command, option or value
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
inline constexpr std::string_view kEraseNames[] = {"mass", "page"};
inline constexpr std::string_view kVerifyNames[] = {"crc", "checksum"};
inline constexpr std::string_view kLibraryModeNames[] = {"0", "1", "auto"};
inline constexpr std::string_view kKeyKindNames[] = {"bin", "text"};
inline constexpr std::string_view kKeyVerifyNames[] = {"crc", "read-back"};
inline constexpr std::string_view kSeriesNames[] = {"q", "vq", "txq", "txm"};

// The operation for an --mcu value ("serial-flash" is "sf"); nullopt with
// *error otherwise.
std::optional<int> operationFromName(std::string_view text, std::string* error);

using job::bankCountOf;
using job::bankFileFormat;
using job::bankLabel;
using job::BankFile;
using job::Built;
using job::checksumText;
using job::fileLimitOf;
using job::isOneToFourOperation;
using job::isSerialFlashOperation;
using job::IspCall;
using job::ldEntriesOf;
using job::readable;
using job::RunPlan;
using job::setEntry;

// Why an explicit --library-mode cannot drive the adapter kind, or nullopt.
std::optional<std::string> libraryModeProblem(int adapterKind, std::optional<int> libraryMode);

// IspOptions at the tool's defaults (the Advanced Setting values).
using job::defaultIspOptions;

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

// The mvxISP call of an ISP file's job (job/rsp_job.hpp) with the overrides
// of the command line: --interface, --library-mode, --bus, --slave-address,
// --ld.
Built buildRspRun(const job::RspJob& job, const ParsedArguments& args, const std::string& ldFolder);

}  // namespace mvx::cli
