// Protection and erasing of the serial flash: the brand- and type-specific
// unprotect and protect sequences, the write-protect pin set-up, whole-chip,
// bank and sector erases with their blank checks, the erase plan that runs
// before programming, and erase only.
//
// The erase functions report their own outcome as message 1 (sub = bank, 0
// for the whole chip; lParam 1 / 0 for a bank, 2 / 3 for the whole chip).
// Leaving ISP mode and the FailureStage after a failure are the caller's.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace mvx::engine {

struct IspContext;

// A whole 64 KB bank.
inline constexpr int kFlashBankBytes = 0x10000;
inline constexpr int kFlashSectorBytes = 0x1000;
// Banks 0..7 can be named in the erase plan's bank mask.
inline constexpr int kErasePlanBanks = 8;
// The device CRC of a blank (0xFF) 64 KB bank.
inline constexpr int kBlankBankCrc = 0xDE;

// Clears the status register's protect bits; 0 or 18.
[[nodiscard]] int unprotectFlash(IspContext& ctx);
// Sets them again; 0 or 18.
[[nodiscard]] int protectFlash(IspContext& ctx);

// Drives the write-protect pin as ctx.protect describes (nothing unless
// enable_protect is 1).  A scaler series or pin outside the tables is not
// driven (a diagnostic is written instead).
void setUpWriteProtectPin(IspContext& ctx);

// The write-protect pin table's row for a scaler series and pin: (pin-mux
// index register, mux value, output register); nullopt outside the tables.
std::optional<std::array<std::uint8_t, 3>> writeProtectPinRow(int scalarType, int pinType);

enum class EraseReport { Messages, Quiet };

// Whole-chip erase followed by the blank check of bank 0; sends message 1
// (sub 0, lParam 2 or 3) unless told to stay quiet.  0, 16 or 18.
[[nodiscard]] int eraseChipAndCheck(IspContext& ctx, EraseReport report = EraseReport::Messages);

// Erases what of `bank` will hold `programLength` bytes (a bank that already
// reads blank is left alone, the sector-erase bank is erased by 4 KB
// sectors), then checks the first programLength bytes read blank; sends
// message 4 with the device CRC and message 1 (sub bank, lParam 1 or 0).
// 0, 16 or 18.
[[nodiscard]] int eraseBankAndCheck(IspContext& ctx, std::uint8_t bank, int programLength);

// The up-front erase of operation 2 (options 48, 52, 56 in ctx.erasePlan):
// the whole chip, or the banks of the mask, each followed by message 12.
// 0, 16 or 18.
[[nodiscard]] int runErasePlan(IspContext& ctx);

// Erase only: the whole chip (erase mode 0) or every used table entry's bank
// from 255 down (erase mode 1), each bank followed by message 12.  0, 16 or
// 18; leaving ISP mode is the caller's.
[[nodiscard]] int runEraseOnly(IspContext& ctx);

}  // namespace mvx::engine
