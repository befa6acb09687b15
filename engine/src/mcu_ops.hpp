// The 5310 and 5312 MCUs' own flash: preparation and unlock, mass and page
// erase, bank programming over each kind of page path, and the device's CRC
// and checksum units.
//
// Registers (primary slave unless noted):
//   0x90        bank select and status: 5310 0x40 / 0x60 = bank 0 / 1;
//               5312 0x40 / 0x44 / 0x60 = bank 0 / 1 / 2; 0xC0 starts a mass
//               erase; reads bit 7 mass erase busy, bit 4 page program busy,
//               bit 3 CRC unit busy
//   0x91        page erase: page | 0x80; bit 7 busy
//   0x92, 0x93  page address (page, 0) through the secondary slave; after a
//               reset the 5310 leaves its bank 1 checksum here (high, low)
//   0x94        page data port
//   0xA0, 0xA1  end offset of the CRC unit through the secondary slave; after
//               a reset the 5310 leaves its bank 0 checksum here (high, low)
//   0xA2        unit control: start code; bit 7 busy, bit 6 done
//   0xA3, 0xA4  unit result, low and high byte
//   0x38, 0x10, 0x12, 0xB0  flash interface set-up and unlock
#pragma once

#include <array>
#include <cstdint>

#include "bank_image.hpp"
#include "link.hpp"
#include "progress.hpp"

namespace mvx::engine {

enum class McuChip { M5310, M5312 };

// The chip's flash unlock code, written to 0xB0 as one 5-byte burst.
inline constexpr std::array<std::uint8_t, 5> kMcuFlashUnlockCode{0xA5, 0x5A, 0xC3, 0x3C, 0x96};

// The MCUs' flash is 64 KB banks, the last one programmed for at most 32 KB.
inline constexpr int kMcuBankBytes = 0x10000;
inline constexpr int kMcuLastBankBytes = 0x8000;

// How page data reaches the chip.
enum class McuPagePath {
    Library,    // page address burst, then 256 bytes to 0x94 (fifth value 256)
    Bridge,     // 0x93 = 0 once, then WriteBlock(block, 258, secondary, 0x92, page << 8)
    RawFrame,   // a 4-byte frame (secondary, 0x92, page, 0), then the 258-byte block
    None,       // the transport cannot send pages
};

// The page path of a transport: library mode, else the bridge for kind 0 and
// raw frames for the parallel-port kinds 2 and 3; kind 1 without library mode
// has none.
McuPagePath mcuPagePathFor(int adapterKind, int libraryMode, bool transportHasPagePath);

// Pages of a program length L: ((L - 1) >> 8) + 1 for L in 1..65,536, none for 0.
[[nodiscard]] int mcuPageCount(int length);

// What the CRC or checksum unit answered.  On a time-out `finished` is false
// and `value` holds what the chip's convention reports then (0 for the 5310,
// 18 for the 5312); such a reading never counts as a match.
struct McuUnitReading {
    int value = 0;
    bool finished = false;
};

// The checksums the 5310's boot code leaves after a reset.
struct McuBootChecksums {
    int bank0 = 0;
    int bank1 = 0;
    bool read = false;   // false when a register read failed
};

class McuFlash {
public:
    // `plan` is read when progress is sent, so a bank window selected on it
    // later applies to the following bank.
    McuFlash(Link& link, McuChip chip, const ProgressSink& progress, const ProgressPlan& plan)
        : link_(link), chip_(chip), progress_(progress), plan_(plan)
    {
    }

    McuChip chip() const { return chip_; }

    // Sets up the flash interface (0x38, 0x10, 0x12, each up to 10 writes
    // until it reads back) and sends the unlock code.  Always succeeds.
    void prepare();

    // 0xC0 to 0x90, then waits for bit 7: 0 or 18.
    [[nodiscard]] int massErase();
    // Erases bank 0 and bank 1 (5312) page by page and the first
    // ceil(eraseLength / 1024) KB of the last bank (clamped to 0..32 KB),
    // with code 0 and code 13 progress: 0 or 18.
    [[nodiscard]] int pageErase(int eraseLength);
    // Mass erase for erase mode 0, page erase otherwise.
    [[nodiscard]] int erase(int eraseMode, int eraseLength);

    // The value 0x90 takes to select a bank.
    std::uint8_t bankSelect(std::uint8_t bank) const;

    // Programs `length` bytes of the image into the bank with code 2 and code
    // 13 progress.  0; 18 when a status read fails or the chip stays busy for
    // more than 200 re-reads over the bank; a transport's write failure; 25
    // when there is no page path.
    [[nodiscard]] int programBank(const BankImage& image, std::uint8_t bank, int length, McuPagePath path);

    // The device's CRC of bank bytes 0..length-1: CRC-8 (5310) or CRC-16 (5312).
    [[nodiscard]] McuUnitReading deviceCrc(std::uint8_t bank, int length);
    // The 5312's word checksum of bank bytes 0..length-1.
    [[nodiscard]] McuUnitReading deviceChecksum(std::uint8_t bank, int length);

    // 5310: resets the chip out of ISP mode and reads the checksums its boot
    // code leaves (sleeps 100 ms before and 2 s after the reset).
    [[nodiscard]] McuBootChecksums bootChecksums();

private:
    [[nodiscard]] McuUnitReading runUnit(std::uint8_t bank, int length, std::uint8_t startCode);
    [[nodiscard]] int erasePage(std::uint8_t page);
    void reportErase(int sub, int done, int total) const;
    [[nodiscard]] bool writeUntilReadBack(std::uint8_t reg, std::uint8_t value);

    Link& link_;
    McuChip chip_;
    const ProgressSink& progress_;
    const ProgressPlan& plan_;
};

// The byte sum (5310) or 16-bit little-endian word sum (5312) of image bytes
// 0..length-1, modulo 65,536.
[[nodiscard]] int mcuImageChecksum(const BankImage& image, int length, McuChip chip);

}  // namespace mvx::engine
