// The scaler's flash controller as the engine drives it: the command forms of
// register 0x60, the controller's opcode set-up and reset, its CRC engine,
// and entering and leaving serial-flash ISP mode.
//
// A flash command is: 0x60 = form, 0x61 = opcode, the data or address bytes
// the form carries in 0x64..0x66, then 0x60 = form + 1 to start it.  Bit 0
// of 0x60 reads 1 while the command runs; write-type commands wait for it to
// clear, read-type commands sleep a fixed time and then take their answer
// from 0x67..0x69.
#pragma once

#include <array>
#include <cstdint>

#include "link.hpp"

namespace mvx::engine {

struct IspContext;

// Registers of the scaler's ISP port (primary slave).
namespace scaler {
inline constexpr std::uint8_t kPinControl = 0x01;
inline constexpr std::uint8_t kCommandControl = 0x60;
inline constexpr std::uint8_t kCommandOpcode = 0x61;
inline constexpr std::uint8_t kWriteEnableOpcode = 0x62;
inline constexpr std::uint8_t kStatusEnableOpcode = 0x63;
inline constexpr std::uint8_t kAddress = 0x64;     // 0x64..0x66: bank, page, byte (or data)
inline constexpr std::uint8_t kReturned = 0x67;    // 0x67..0x69
inline constexpr std::uint8_t kReadOpcode = 0x6A;  // 0x6A..0x6C: read, fast read, dummy
inline constexpr std::uint8_t kProgramOpcode = 0x6D;
inline constexpr std::uint8_t kIspControl = 0x6F;
inline constexpr std::uint8_t kDataPort = 0x70;
inline constexpr std::uint8_t kProgramLength = 0x71;
inline constexpr std::uint8_t kCrcEnd = 0x72;      // 0x72..0x74
inline constexpr std::uint8_t kCrcResult = 0x75;
inline constexpr std::uint8_t kOutputE2 = 0xE2;
inline constexpr std::uint8_t kOutputE3 = 0xE3;
inline constexpr std::uint8_t kEntryHold = 0xEA;
inline constexpr std::uint8_t kModeED = 0xED;
inline constexpr std::uint8_t kModeEE = 0xEE;
inline constexpr std::uint8_t kIndirectIndex = 0xF4;
inline constexpr std::uint8_t kIndirectValue = 0xF5;

// 0x6F bits and values.
inline constexpr std::uint8_t kIspEnable = 0x80;
inline constexpr std::uint8_t kAutoIncrementMode = 0xC0;
inline constexpr std::uint8_t kProgramBusy = 0x20;
inline constexpr std::uint8_t kPageBufferReady = 0x10;
inline constexpr std::uint8_t kCrcStart = 0x84;
inline constexpr std::uint8_t kCrcBusy = 0x04;
inline constexpr std::uint8_t kCrcDone = 0x02;
inline constexpr std::uint8_t kStartProgram = 0xA0;
inline constexpr std::uint8_t kStartAutoIncrementProgram = 0xE0;

// Values of the mode registers while in serial-flash ISP mode, and after.
inline constexpr std::uint8_t kModeEDInIsp = 0x88;
inline constexpr std::uint8_t kModeEEInIsp = 0x04;
inline constexpr std::uint8_t kModeEEAfterIsp = 0x06;

// Internal registers behind 0xF4 / 0xF5.
inline constexpr std::uint8_t kInternalIcCode = 0x00;
inline constexpr std::uint8_t kInternalMode = 0x09;
}  // namespace scaler

// Command forms of 0x60 (the start value is form + 1).
namespace form {
inline constexpr std::uint8_t kOpcodeOnly = 0x20;
inline constexpr std::uint8_t kStatusWrite = 0x68;      // opcode + one byte, behind the write enable
inline constexpr std::uint8_t kSstStatusWrite = 0x88;   // opcode + one byte, behind the status-write enable
inline constexpr std::uint8_t kThreeDataBytes = 0x38;
inline constexpr std::uint8_t kAddressed = 0xB8;        // sector and block erases
inline constexpr std::uint8_t kChipErase = 0xA0;
inline constexpr std::uint8_t kReadStatus = 0x42;
inline constexpr std::uint8_t kReadJedecId = 0x46;
inline constexpr std::uint8_t kReadSignature = 0x5A;
inline constexpr std::uint8_t kReadManufacturerId = 0x5E;
}  // namespace form

// SPI opcodes the engine sends.
namespace opcode {
inline constexpr std::uint8_t kWriteStatus = 0x01;
inline constexpr std::uint8_t kPageProgram = 0x02;
inline constexpr std::uint8_t kWriteDisable = 0x04;
inline constexpr std::uint8_t kReadStatus = 0x05;
inline constexpr std::uint8_t kWriteEnable = 0x06;
inline constexpr std::uint8_t kSectorErase = 0x20;
inline constexpr std::uint8_t kSstBlockErase = 0x52;
inline constexpr std::uint8_t kSstChipErase = 0x60;
inline constexpr std::uint8_t kManufacturerId = 0x90;
inline constexpr std::uint8_t kJedecId = 0x9F;
inline constexpr std::uint8_t kSignature = 0xAB;
inline constexpr std::uint8_t kSstAutoIncrement = 0xAF;
inline constexpr std::uint8_t kSstAutoIncrementIdle = 0xAD;
inline constexpr std::uint8_t kChipErase = 0xC7;
inline constexpr std::uint8_t kBlockErase = 0xD8;
inline constexpr std::uint8_t kMagicC3 = 0xC3;
inline constexpr std::uint8_t kMagicA5 = 0xA5;
}  // namespace opcode

// Wait limits (re-reads of 10 ms) of WaitClear.
inline constexpr int kShortWait = 10;
inline constexpr int kEraseWait = 400;
inline constexpr int kChipEraseWait = 900;

// Re-read limits of the device CRC wait.
inline constexpr int kBankCrcRereads = 52;
inline constexpr int kPageCrcRereads = 12;

// ---- flash commands (results 0 or 18) ----

// An opcode-only command (form 0x20) with its wait.
[[nodiscard]] int flashCommand(Link& link, std::uint8_t opcode, int waitLimit);
// An opcode-only command started without waiting for it.
void startFlashCommand(Link& link, std::uint8_t opcode);
// A command of `commandForm` with one data byte in 0x64.
[[nodiscard]] int flashCommandWithByte(Link& link, std::uint8_t commandForm, std::uint8_t opcode, std::uint8_t data,
                         int waitLimit);
// A command of `commandForm` with three bytes in 0x64..0x66 (one burst
// through the secondary slave).
[[nodiscard]] int flashCommandWithBytes(Link& link, std::uint8_t commandForm, std::uint8_t opcode,
                          const std::array<std::uint8_t, 3>& bytes, int waitLimit);
// A whole-chip erase: form 0xA0, a 50 ms pause, then the wait.
[[nodiscard]] int chipEraseCommand(Link& link, std::uint8_t opcode, int waitLimit);

[[nodiscard]] int writeEnable(Link& link, int waitLimit);
[[nodiscard]] int writeDisable(Link& link, int waitLimit);
// Write status register, form 0x68 (all brands but SST).
[[nodiscard]] int writeStatus(Link& link, std::uint8_t value, int waitLimit);
// Write status register, form 0x88 (SST).
[[nodiscard]] int writeStatusSst(Link& link, std::uint8_t value, int waitLimit);

// ---- read commands (a fixed pause, no wait) ----

std::uint8_t readFlashStatus(Link& link);
// JEDEC ID: manufacturer, memory type, capacity.
std::array<std::uint8_t, 3> readJedecId(Link& link);
// Electronic signature read at address 0: the three bytes of 0x67..0x69.
std::array<std::uint8_t, 3> readSignature(Link& link);
// Manufacturer and device ID at address 0.
std::array<std::uint8_t, 2> readManufacturerId(Link& link);

// ---- the controller ----

// 0x62 = 0x06, 0x63 = 0x50, 0x6A = 0x03, 0x6B = 0x0B, 0x6C = 0x00.  The
// controller sends 0x62 as the write enable of erases, status writes and page
// programs, so this comes before every erase and program.
void controllerSetUp(Link& link);
// 0x60 = 0xFE, 0x61 = 0xFF, 0x62 = 0xFF, 0x63 = 0xFF, 0x6D = 0xFF.
void controllerReset(Link& link);

// The CRC-8 of flash bytes bank:0000 .. bank:end computed by the controller,
// or -1 when it does not finish within `rereadLimit` re-reads of 1 ms (or the
// link fails).
[[nodiscard]] int deviceCrc(Link& link, std::uint8_t bank, std::uint16_t end, int rereadLimit = kBankCrcRereads);
// The same over flash bytes bank:first .. bank:end.
[[nodiscard]] int deviceRangeCrc(Link& link, std::uint8_t bank, std::uint16_t first, std::uint16_t end,
                   int rereadLimit = kBankCrcRereads);

// The scaler's IC code (internal register 0x00); false when the read failed.
[[nodiscard]] bool readIcCode(Link& link, std::uint8_t& code);

// ---- serial-flash ISP mode ----

// One attempt: ISP enable, mode set-up, the transport's settings again in
// library mode, identification (with message 14 in ID read mode 1) and, for
// SST parts, the status register cleared.  False when the device did not
// enter, or an SST status wait failed.
[[nodiscard]] bool enterSerialFlashIspOnce(IspContext& ctx);
// Two attempts; 0 or 13.
[[nodiscard]] int enterSerialFlashIsp(IspContext& ctx);

// Hands the flash back: unprotect, then the final status byte (option 108
// when option 104 is 1, else 0xFC; SST parts 0x8C), the controller reset and
// 0xEE = 0x06.  Returns 0, or 18 when one of the waits failed (the sequence
// still runs to its end).
[[nodiscard]] int leaveSerialFlashIsp(IspContext& ctx);

// After identification: the clock set-up values of 0x1B..0x20 and 0x2C..0x2E
// chosen by the IC code, the read opcodes and the mode registers.
void postIdentificationSetUp(Link& link);

}  // namespace mvx::engine
