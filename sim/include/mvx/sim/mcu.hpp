// The 5310 and 5312 MCUs as their ISP port sees them, and the 5312-style
// MCUs of the 1To4 writer board.
//
// Flash
//   5310   96 KB: bank 0 = 0x00000..0x0FFFF, bank 1 = 0x10000..0x17FFF
//   5312   160 KB: banks 0, 1 = 0x00000, 0x10000 (64 KB each), bank 2 = 0x20000..0x27FFF
//   Writer 160 KB, laid out as the 5312
// Erased bytes read 0xFF; programming can only clear bits (the byte becomes
// old & new), so a page written without an erase holds the AND of both.
//
// I2C ports
//   The chip answers at two addresses, the primary and primary + 2 (the
//   secondary), both onto one register file.  The first byte of a write sets
//   the register pointer.  On the primary slave every further byte goes to that
//   same register; on the secondary slave the pointer moves on by one after
//   every byte written or read, so (page, byte) or (high, low) pairs go out as
//   one burst.  The two port registers 0x94 (page data) and 0xB0 (unlock key)
//   never move the pointer on either slave.
//
// ISP mode
//   Writing 0x90 with bit 6 set asks for ISP mode; writing 0x36 = 0x00 after
//   that halts the CPU and the chip is in ISP mode.  Register 0x90 reads bit 6
//   set only in ISP mode; the 5310 then reads exactly 0x40 with bank 0
//   selected and nothing busy.  Writing 0x39 = 0x02 resets the chip out of ISP
//   mode (see mcu_reset).  Outside ISP mode only 0x90, 0x36 and 0x39 take
//   writes; the other registers keep what they hold.
//
// Registers in ISP mode
//   0x90  write: bank select, 5310: 0x40 bank 0, 0x60 bank 1; 5312: 0x40 bank 0,
//         0x44 bank 1, 0x60 bank 2 (bit 1 moves the page-erase window up by
//         128 KB, so 0x42 reaches bank 2 there).  0xC0 starts a mass erase.
//         read: 0x40 | select bits | bit 7 mass erase busy | bit 4 page program
//         busy | bit 3 CRC / checksum unit busy
//   0x91  write page | 0x80: erase that 1 KB page (5310: page 0..95 over the
//         whole flash; 5312: page 0..127 of the window); read bit 7 = busy
//   0x92, 0x93  page and byte of the next data byte in the selected bank
//   0x94  page data port: each byte is programmed at (bank, 0x92, 0x93) as it
//         arrives, and 0x93 steps on within the page (it wraps at the page end);
//         bytes take McuTiming::byteProgramMicros each, one after another, and
//         0x90 bit 4 stays set until the last one is in
//   0xA0, 0xA1  end offset (inclusive) of the CRC / checksum unit; the unit
//         starts at (0x92, 0x93) of the bank
//   0xA2  unit control: a write with bit 7 set starts it; reads bit 7 busy,
//         bit 6 done.  5310: always CRC-8/SMBUS of the selected bank.  5312:
//         bit 5 set = CRC-16/XMODEM, clear = checksum (16-bit little-endian
//         words summed); bit 4 = the upper 64 KB half of the 128 KB window that
//         0x90 bit 5 chooses (0xA0 / 0x80 for banks 0 and 2, 0xB0 / 0x90 for bank 1)
//   0xA3, 0xA4  unit result, low and high byte (the 5310 leaves 0xA4 at 0)
//   0x38, 0x10, 0x12  flash interface set-up: 0x38 = 0x80 (5310) or 0x84
//         (5312), 0x10 = 0xC1, 0x12 = 0x10; they read back what was written
//   0xB0  unlock key port: the five bytes of kMcuUnlockCode in one transaction,
//         while the set-up registers hold their values, unlock the flash
// Until unlocked, the 5310 and 5312 ignore every erase and program (the
// writer MCUs have no lock).  A wrong or incomplete key, a reset and leaving
// ISP mode lock it again.
// Erase and program commands arriving while an erase runs are ignored.
// Erases and programs change the flash when commanded; their busy bits then
// stay set for the times of McuTiming on the virtual clock.
//
// After a reset (0x39 = 0x02) the chip's boot code runs for a while; the 5310
// then leaves the byte sum of bank 0 in 0xA0 (high) / 0xA1 (low) and that of
// bank 1 in 0x92 (high) / 0x93 (low), readable through the primary slave.
//
// board.ini
//   [board]  mcu_reset = checksums (default): 0x39 = 0x02 resets the chip as
//                        above and so does the end of an engine call;
//                        clear: the reset publishes no checksums (registers read 0);
//                        stay: the reset line does nothing, the chip stays in
//                        ISP mode, also across the end of a call
//            mcu_last_bank_kb = 1..32 (default 32): flash fitted in the last
//                        bank (5310 bank 1, 5312 bank 2); beyond it nothing
//                        can be programmed, it reads 0xFF, and the 5310's boot
//                        checksum of bank 1 covers exactly this size
//   [faults] stuck_busy: program and erase busy bits never clear and the flash
//                        controller takes no further command;
//            crc_mismatch_once: the first CRC / checksum unit result after flash
//                        was programmed is wrong (once per chip)
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "mvx/sim/board_config.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

enum class McuType { M5310, M5312, Writer };

// The code the flash preparation writes to register 0xB0 to unlock the flash.
inline constexpr std::array<std::uint8_t, 5> kMcuUnlockCode{0xA5, 0x5A, 0xC3, 0x3C, 0x96};

enum class McuReset { Checksums, Clear, Stay };

struct McuSettings {
    McuReset reset = McuReset::Checksums;
    unsigned lastBankKb = 32;

    // The MCU keys of board.ini; a value that cannot be understood keeps its
    // default and sets *error.
    static McuSettings read(const BoardConfig& config, std::string* error);
};

struct McuTiming {
    static constexpr std::uint64_t byteProgramMicros = 15;       // 3.84 ms for a page sent at full speed
    static constexpr std::uint64_t pageEraseMicros = 4'000;
    static constexpr std::uint64_t massErase5310Micros = 100'000;
    static constexpr std::uint64_t massErase5312Micros = 160'000;
    static constexpr std::uint64_t unitBytesPerMicro = 16;       // CRC / checksum unit speed
    static constexpr std::uint64_t bootMicros = 300'000;         // reset until the boot checksums are in
};

struct McuStats {
    std::uint64_t programmedBytes = 0;   // data bytes that reached the flash
    std::uint64_t pageErases = 0;
    std::uint64_t massErases = 0;
    std::uint64_t refused = 0;           // erase commands, data bytes and unit starts ignored
                                         // (locked, busy, no flash there)
    std::uint64_t resets = 0;
};

class Mcu final : public I2cDevice {
public:
    // Reads McuSettings from config; see settingsError() for a bad value.
    Mcu(McuType type, VirtualClock& clock, const BoardConfig& config);
    Mcu(const Mcu&) = delete;
    Mcu& operator=(const Mcu&) = delete;

    // Answers at primary and primary + 2 (write-form addresses).
    void attach(I2cBus& bus, std::uint8_t primary);

    // The whole flash, as the state file holds it (flashSize bytes).
    std::vector<std::uint8_t>& flash() { return flash_; }
    const std::vector<std::uint8_t>& flash() const { return flash_; }
    static std::size_t flashSize(McuType type);

    // The engine call ends: the board lets go of the chip, which leaves ISP mode
    // and starts its firmware (unless mcu_reset = stay).
    void endOfCall();

    McuType type() const { return type_; }
    bool inIspMode() const { return isp_; }
    bool flashUnlocked() const { return unlocked_; }
    const McuStats& stats() const { return stats_; }
    const McuSettings& settings() const { return settings_; }
    const std::string& settingsError() const { return settingsError_; }

    // ---- I2cDevice ----
    bool onStart(std::uint8_t address, bool read) override;
    bool onWrite(std::uint8_t byte) override;
    std::uint8_t onRead() override;
    void onStop() override;

private:
    static constexpr std::uint64_t kForever = ~std::uint64_t{0};

    void settle();                                   // lets finished work land
    void endSegment();                               // end of one START ... STOP part
    void writeRegister(std::uint8_t reg, std::uint8_t value);
    std::uint8_t readRegister(std::uint8_t reg);
    void writeBankSelect(std::uint8_t value);
    void massErase();
    void pageErase(std::uint8_t page);
    void programByte(std::uint8_t value);
    void startUnit(std::uint8_t control);
    void keyByte(std::uint8_t value);
    bool setupReady() const;
    void advancePointer();
    void reset();
    void enterIsp();

    bool is5312Style() const { return type_ != McuType::M5310; }
    bool exists(std::uint32_t address) const;
    std::uint8_t flashByte(std::uint32_t address) const;
    std::uint32_t bankBase() const;
    bool busyUntil(std::uint64_t until) const { return until != 0 && clock_.nowMicros() < until; }
    bool eraseBusy() const { return busyUntil(massEraseUntil_) || busyUntil(pageEraseUntil_); }
    bool controllerStuck() const;
    bool flashWritable();                            // counts a refusal when not
    std::uint64_t finishTime(std::uint64_t micros) const;
    std::uint16_t corrupted(std::uint16_t result);

    McuType type_;
    VirtualClock& clock_;
    std::string settingsError_;
    McuSettings settings_;
    bool stuckBusy_;
    bool crcMismatchOnce_;
    std::vector<std::uint8_t> flash_;
    std::uint32_t flashLimit_;                       // first address past the fitted flash

    std::uint8_t primary_ = 0;
    std::uint8_t secondary_ = 0;
    std::array<std::uint8_t, 256> regs_{};

    // the transaction in progress
    bool onSecondary_ = false;
    bool expectRegister_ = false;
    std::uint8_t pointer_ = 0;
    unsigned keyCount_ = 0;
    bool keyMatches_ = true;

    // chip state
    bool isp_ = false;
    bool ispRequested_ = false;
    bool unlocked_ = false;
    std::uint8_t select_ = 0;                        // bank-select bits of 0x90
    std::uint64_t massEraseUntil_ = 0;
    std::uint64_t pageEraseUntil_ = 0;
    std::uint64_t programUntil_ = 0;
    bool programmedSinceCheck_ = false;
    bool crcFaultSpent_ = false;

    bool unitBusy_ = false;
    bool unitDone_ = false;
    std::uint8_t unitControl_ = 0;
    std::uint64_t unitDoneAt_ = 0;
    std::uint16_t unitResult_ = 0;

    bool bootPending_ = false;
    std::uint64_t bootDoneAt_ = 0;
    std::uint16_t bootSum0_ = 0;
    std::uint16_t bootSum1_ = 0;

    McuStats stats_;
};

}  // namespace mvx::sim
