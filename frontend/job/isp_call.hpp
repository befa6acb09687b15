// One mvxISP call, the argument set both front ends build: the 17 arguments,
// the FileTable and the IspOptions record, and what a run plans around it.
// The rows and their labels are those of the customer page.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mvx/platform/regular_file.hpp"
#include "mvxisp.h"

namespace mvx::job {

// Why a job cannot be built (mvxisp exits with these); everything below 64 is
// an engine result code (14 also for a firmware or key file that cannot be
// read before the engine is called).
inline constexpr int kStatusUsage = 64;     // a wrong choice or value
inline constexpr int kStatusBadData = 65;   // an ISP file or image that cannot be used
inline constexpr int kStatusNoInput = 66;   // an ISP file or settings file that cannot be read

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

// IspOptions at the tool's defaults (the Advanced Setting values).
IspOptions defaultIspOptions();

// A bank file of a run.
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
    std::optional<std::string> bus;   // the i2c-dev bus node for the IIC library
    int runs = 1;                     // the repeat test's runs
    std::vector<BankFile> files;      // the bank files (for info and notes)
};

struct Built {
    RunPlan plan;
    int status = 0;          // nonzero: the job cannot run
    std::string error;       // one line
};

// Whether path is a regular file of at most `limit` bytes that can be opened
// for reading (looked at without ever blocking on a pipe or device); *why
// says why not ("it is a named pipe, not a file", "it does not exist", ...).
bool readable(const std::string& path, std::string* why, std::uint64_t limit = platform::kNoFileLimit);

// The largest bank file of a format (0 HEX, 1 raw binary, 2 whole image).
std::uint64_t fileLimitOf(int format);

}  // namespace mvx::job
