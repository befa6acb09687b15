// The two exports of the engine library.  No exception crosses this boundary.
#include "mvxisp.h"

#include <cstring>

namespace {

constexpr int kAdapterKindCount = 4;
constexpr int kOperationCount = 6;
constexpr int kFormatCount = 3;
constexpr int kMaxBankArgument = 256;

}  // namespace

extern "C" int mvxISP(int adapterKind, int operation, int /*eraseOnly*/, int /*slaveSelector*/,
                      int /*verifyByChecksum*/, int /*eraseMode*/, int /*eraseLength*/,
                      int /*flashBrand*/, int /*reserved*/, const FileTableEntry* /*fileTable*/,
                      int /*libraryMode*/, int /*idReadMode*/, const MvxWindow* /*ownerWindow*/,
                      const FlashProtectSettings* /*protectSettings*/, int /*sectorEraseFlag*/,
                      int /*sectorEraseBank*/, const IspOptions* /*options*/)
{
    if (adapterKind < 0 || adapterKind >= kAdapterKindCount)
        return MVX_ERR_ADAPTER_KIND;
    if (operation < 0 || operation >= kOperationCount)
        return MVX_ERR_OPERATION;
    // No transport is wired in yet, so no device can be put into ISP mode.
    return MVX_ERR_ISP_MODE;
}

extern "C" int mvxGetFileInfo(const char* path, int format, int bank, int operation,
                              int /*eraseMode*/, int /*eraseLength*/, int* /*dataLength*/,
                              int* /*programLength*/, int* /*checksum*/, int* /*crc*/,
                              const MvxWindow* /*ownerWindow*/, int /*sectorEraseFlag*/,
                              int /*sectorEraseBank*/)
{
    if (path == nullptr || std::strlen(path) >= MVX_PATH_CAPACITY)
        return MVX_ERR_FILE;
    if (format < 0 || format >= kFormatCount)
        return MVX_ERR_FILE_FORMAT;
    if (bank < 0 || bank > kMaxBankArgument)
        return MVX_ERR_BANK;
    if (operation < 0 || operation >= kOperationCount)
        return MVX_ERR_OPERATION;
    // The file reader is not built yet: no file can be loaded.
    return MVX_ERR_FILE;
}
