// The bank loader: turns one firmware file-table entry into a 64 KB load
// buffer, its data length, program length and bank checksum.
//
// Three file formats are read: Intel-HEX text, raw binary, and a
// whole-device binary from which the bank is cut by operation and bank
// code.  The loader also decides which bank codes each operation accepts,
// applies the partial-erase and sector-erase rules to the program length and
// recognises the flash-to-EEPROM marker.  A file is read whole (bounded by
// its format's limit) and then parsed from memory; nothing beyond the
// 65,536-byte load buffer is ever written, and of a whole-device file only
// the bank's window is used.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "bank_image.hpp"
#include "mvxisp.h"

namespace mvx::engine {

inline constexpr std::size_t kLoadBufferSize = 65536;

// What the loader needs to know of the running call.
struct LoadRules {
    int operation = MVX_OP_MCU_5310;  // 0..5
    int eraseMode = 0;                // 0 whole-device erase, nonzero partial erase
    int eraseLength = 32;             // partial-erase length E in bytes
    int sectorEraseFlag = 0;          // 1 = the sector-erase bank is aligned up to whole 4 KB
    int sectorEraseBank = 0;          // BankCode of the sector-erase bank
};

// The outcome of one load.  The numbers are filled as far as the loader got,
// also when `result` is a failure: a parse failure still reports the data
// length found so far, while program length, summed length and checksum stay
// 0 until the program-length rules have passed.
struct LoadedBank {
    int result = MVX_OK;
    int dataLength = 0;      // bytes found in the file
    int programLength = 0;   // L: bytes programmed, CRC-checked and counted in pages
    int summedLength = 0;    // S: bytes the checksum covers
    int checksum = 0;        // 0..65,535 over load-buffer bytes 0..S-1
    bool eepromMarker = false;  // AA 55 55 AA at the offset named by bytes 1..2
    int eraseLength = 0;     // the partial-erase length after the last-bank rule
    std::uint64_t wholeDeviceLength = 0;  // a whole-device file's length in bytes, else 0
    std::vector<std::uint8_t> buffer;  // the load buffer, kLoadBufferSize bytes
};

// Loads one bank.  Results: 0; 2 operation outside 0..5; 5 entry format
// outside 0..2; 9 partial-erase length does not fit; 10 no entry; 11 bank
// code not valid for the operation (also the serial flash's LD bank 8 from a
// whole-device image, which never holds it); 14 file missing, unreadable, not
// a regular file (a pipe or device is never waited on), empty or larger than
// its format's limit (fileLimitOf); 15 malformed HEX record.
LoadedBank loadBank(const FileTableEntry* entry, std::uint8_t bankCode, const LoadRules& rules);

// The loader on a file's bytes already in memory: what loadBank gives for a
// file holding exactly `file` in `format` (0 HEX, 1 raw binary, 2 whole
// device).
LoadedBank loadBankFromBytes(std::span<const std::uint8_t> file, int format, std::uint8_t bankCode,
                             const LoadRules& rules);

// The largest file loadBank reads in a format (mvxisp_file_limits.hpp).
std::uint64_t fileLimitOf(int format);

// Where a loaded bank is kept: bank codes 0..8 in the bank image, 9..31 (the
// 1To4 slots) in the writer images of the 1To4 operations, others nowhere.
enum class BankStore { BankImage, OneToFourImages, None };
BankStore bankStoreFor(std::uint8_t bankCode);

// Stores a successfully loaded bank whose code belongs in the bank image:
// every block header becomes (primarySlave, 0x70) for the serial flash
// (operation 2) or (primarySlave, primarySlave) otherwise, then load-buffer
// bytes 0..L-1 are copied.  Returns false, leaving the image as it was, for a
// failed load or a code that is not kept in the bank image.
bool storeInBankImage(BankImage& image, const LoadedBank& bank, std::uint8_t bankCode, int operation,
                      std::uint8_t primarySlave);

// ---- the rules, for callers that need them without a file ----

// The window of a whole-device binary that holds a bank.  The 5310 image is
// a 64 KB bank and a 32 KB last bank, the 5312 image two 64 KB banks and a
// 32 KB last bank; the serial-flash image is cut in 64 KB banks, bank codes
// 0..8 and from 32 on naming their own bank, the 1To4 target slots 28..31
// banks 0..3 and the other 1To4 slots (9..27) bank 0.
struct DeviceWindow {
    std::uint64_t offset = 0;  // file offset of the bank's first byte
    int count = 0;             // bytes read from there (missing bytes stay 0xFF)
    int dataLength = 0;        // data length reported for the bank
    int flashBank = -1;        // serial-flash bank number (operations 2, 5), else -1
};
DeviceWindow wholeDeviceWindow(int operation, std::uint8_t bankCode, std::uint64_t fileLength);

// Sector-erase alignment of a data length n: from 4,096 on it becomes
// (n / 4096 + 1) * 4096, at most the 65,536 bytes of a bank; below it stays n.
int sectorAlignedLength(int dataLength);

// True when the load buffer holds AA 55 55 AA at the big-endian offset in
// its bytes 1 and 2.
bool hasEepromMarker(const std::vector<std::uint8_t>& buffer);

}  // namespace mvx::engine
