// The two exports of the engine library.  No exception crosses this boundary:
// whatever escapes the engine is reported as a failed run.
#include "mvxisp.h"

#include <exception>
#include <string>

#include "mvx/platform/debug_output.hpp"
#include "run.hpp"

extern "C" int mvxISP(int adapterKind, int operation, int eraseOnly, int slaveSelector, int verifyByChecksum,
                      int eraseMode, int eraseLength, int flashBrand, int reserved,
                      const FileTableEntry* fileTable, int libraryMode, int idReadMode,
                      const MvxWindow* ownerWindow, const FlashProtectSettings* protectSettings,
                      int sectorEraseFlag, int sectorEraseBank, const IspOptions* options)
{
    try {
        return mvx::engine::runIsp({adapterKind, operation, eraseOnly, slaveSelector, verifyByChecksum, eraseMode,
                                    eraseLength, flashBrand, reserved, fileTable, libraryMode, idReadMode,
                                    ownerWindow, protectSettings, sectorEraseFlag, sectorEraseBank, options});
    } catch (const std::exception& error) {
        mvx::platform::debugOutput(std::string("mvxISP: ") + error.what());
    } catch (...) {
        mvx::platform::debugOutput("mvxISP: unexpected failure");
    }
    return MVX_ERR_ISP_MODE;
}

extern "C" int mvxGetFileInfo(const char* path, int format, int bank, int operation, int eraseMode,
                              int eraseLength, int* dataLength, int* programLength, int* checksum, int* crc,
                              const MvxWindow* ownerWindow, int sectorEraseFlag, int sectorEraseBank)
{
    try {
        return mvx::engine::getFileInfo({path, format, bank, operation, eraseMode, eraseLength, dataLength,
                                         programLength, checksum, crc, ownerWindow, sectorEraseFlag,
                                         sectorEraseBank});
    } catch (const std::exception& error) {
        mvx::platform::debugOutput(std::string("mvxGetFileInfo: ") + error.what());
    } catch (...) {
        mvx::platform::debugOutput("mvxGetFileInfo: unexpected failure");
    }
    return MVX_ERR_FILE;
}
