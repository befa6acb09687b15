// Names of the engine's result codes, for logs, the command line and tests.
#pragma once

#include "mvxisp.h"

namespace mvx {

// A short English description of a result code; "unknown result code" for a
// number the engine never returns.
constexpr const char* resultName(int code)
{
    switch (code) {
    case MVX_OK: return "success";
    case MVX_ERR_ADAPTER_KIND: return "adapter kind outside 0..3";
    case MVX_ERR_OPERATION: return "operation outside 0..5";
    case MVX_ERR_ERASE_ONLY_FLAG: return "erase-only flag outside 0..1";
    case MVX_ERR_SLAVE_SELECTOR: return "slave selector not accepted";
    case MVX_ERR_FILE_FORMAT: return "file format outside 0..2";
    case MVX_ERR_VERIFY_MODE: return "verify mode outside 0..1";
    case MVX_ERR_ERASE_MODE: return "erase mode outside 0..1";
    case MVX_ERR_FLASH_BRAND: return "flash brand outside 0..5";
    case MVX_ERR_ERASE_LENGTH: return "partial-erase length does not fit the image";
    case MVX_ERR_NO_FILE_TABLE: return "no file table or no entry";
    case MVX_ERR_BANK: return "bank not valid for this target";
    case MVX_ERR_BRIDGE_MISSING: return "USB bridge device missing";
    case MVX_ERR_ISP_MODE: return "the device could not be put into ISP mode";
    case MVX_ERR_FILE: return "firmware file missing, unreadable or empty";
    case MVX_ERR_HEX_RECORD: return "malformed HEX record";
    case MVX_ERR_NOT_BLANK: return "a bank is not blank after its erase";
    case MVX_ERR_NULL_BUFFER: return "read into a null buffer";
    case MVX_ERR_TIMEOUT: return "the device did not finish in time, or did not acknowledge";
    case MVX_ERR_CRC_MISMATCH: return "CRC mismatch";
    case MVX_ERR_CHECKSUM_MISMATCH: return "checksum mismatch";
    case MVX_ERR_LIBRARY_READ: return "the adapter library's read failed";
    case MVX_ERR_LIBRARY_WRITE: return "the adapter library's write failed";
    case MVX_ERR_WRITE_PROTECTED: return "the flash is write-protected";
    case MVX_ERR_EEPROM_NEEDS_PMC: return "the image asks for flash-to-EEPROM but the flash is not a PMC part";
    case MVX_ERR_IC_CODE_MISMATCH: return "IC code differs from the expected one";
    case MVX_ERR_BUS_BUSY: return "the bus is in use by another run";
    default: return "unknown result code";
    }
}

}  // namespace mvx
