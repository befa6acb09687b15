// The two export calls as plain C++: argument checks, the per-call context,
// the transport set-up, the dispatch to the operations, progress and the
// failure box.  exports.cpp only forwards to these.
#pragma once

#include <string>

#include "mvxisp.h"

namespace mvx::engine {

struct IspArguments {
    int adapterKind = 0;
    int operation = 0;
    int eraseOnly = 0;
    int slaveSelector = 1;
    int verifyByChecksum = 0;
    int eraseMode = 0;
    int eraseLength = 32;
    int flashBrand = 0;
    int reserved = 0;
    const FileTableEntry* fileTable = nullptr;
    int libraryMode = 0;
    int idReadMode = 0;
    const MvxWindow* ownerWindow = nullptr;
    const FlashProtectSettings* protectSettings = nullptr;
    int sectorEraseFlag = 0;
    int sectorEraseBank = 0;
    const IspOptions* options = nullptr;
};

int runIsp(const IspArguments& arguments);

struct FileInfoArguments {
    const char* path = nullptr;
    int format = 0;
    int bank = 0;
    int operation = 0;
    int eraseMode = 0;
    int eraseLength = 0;
    int* dataLength = nullptr;
    int* programLength = nullptr;
    int* checksum = nullptr;
    int* crc = nullptr;
    const MvxWindow* ownerWindow = nullptr;
    int sectorEraseFlag = 0;
    int sectorEraseBank = 0;
};

int getFileInfo(const FileInfoArguments& arguments);

// The text of the failure box for a result ("ISP process has failed!" and,
// for 13, 26, 28 and 29, the reason on a line of its own).  busHolder: for
// 29, the process that holds the bus (0 or less when it is not known).
std::string failureText(int result, long busHolder = 0);

}  // namespace mvx::engine
