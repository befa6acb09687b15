// SPI NOR flash parts as the scaler's flash controller sees them: chip select,
// bytes exchanged on the SPI bus, chip deselect.  Commands that change the
// array or the status register take effect when the chip is deselected, as on
// the real parts; the part then stays busy (status bit 0) for its datasheet
// time on the virtual clock.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mvx/sim/board_config.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

struct FlashPart {
    const char* name;                    // as the chip list names it, e.g. "W25X40A"
    std::uint8_t brand;                  // 0 PMC, 1 Winbond, 2 MXIC, 3 EON, 4 SST, 5 AMIC, 255 unknown
    int typeIndex;                       // index within its brand's table, -1 when none
    std::uint32_t sizeBytes;
    std::array<std::uint8_t, 3> jedecId; // answer to 0x9F
    std::uint8_t signature;              // answer to 0xAB (electronic signature)
    std::uint8_t manufacturerId;         // answers to 0x90: manufacturer ...
    std::uint8_t deviceId;               // ... and device ID
    std::uint8_t protectMask;            // status-register block-protect bits
    bool sstByteProgram;                 // SST: byte program 0x02 / auto-increment 0xAF or 0xAD, no page program
    std::uint32_t pageProgramMicros;
    std::uint32_t byteProgramMicros;
    std::uint32_t sectorEraseMicros;     // 4 KB
    std::uint32_t block32EraseMicros;
    std::uint32_t block64EraseMicros;
    std::uint32_t chipEraseMicros;
    std::uint32_t statusWriteMicros;

    // The rest of the part's instruction set, as far as it differs between parts.
    std::uint32_t blockD8Bytes = 0x10000; // what 0xD8 erases (64 KB or 32 KB); 0 when the part lacks 0xD8
    bool block32Erase52 = false;         // 0x52 erases a 32 KB block
    bool sectorEraseD7 = false;          // 0xD7 erases a 4 KB sector as 0x20 does
    bool chipEraseC7 = true;             // 0xC7 erases the chip as 0x60 does
    std::uint8_t aaiOpcode = 0;          // auto-address-increment program: 0xAF byte-wise, 0xAD word-wise; 0 none
    bool statusWriteNeedsEwsr = false;   // WRSR counts only right after EWSR 0x50 (or WREN, below), not by WEL
    bool wrenArmsStatusWrite = false;    // ... where WREN right before WRSR arms it as EWSR does
    std::uint8_t powerUpStatus = 0;      // status register when the board powers up
};

// Every part of the chip list, and "unknown" (IDs no table knows).
std::span<const FlashPart> flashParts();
// The part with this name (case-insensitive), or nullptr.
const FlashPart* findFlashPart(std::string_view name);

struct SpiFlashStats {
    std::uint64_t commands = 0;
    std::uint64_t programmedBytes = 0;
    std::uint64_t erases = 0;
    std::uint64_t ignoredWrites = 0;     // program / erase / status writes refused (WEL clear, protected, busy)
};

class SpiFlash {
public:
    // board_config supplies write_protect (status writes ignored, array stays
    // protected), stuck_busy and bad_byte.
    SpiFlash(const FlashPart& part, VirtualClock& clock, const BoardConfig& config);

    const FlashPart& part() const { return part_; }

    // ---- the SPI bus ----
    void select();
    std::uint8_t transfer(std::uint8_t mosi);
    void deselect();

    // ---- what tests and the board look at ----
    bool busy() const;                            // status bit 0 now
    std::uint8_t status() const;                  // the status register now
    bool writeEnabled() const;                    // status bit 1
    std::vector<std::uint8_t>& array() { return array_; }
    const std::vector<std::uint8_t>& array() const { return array_; }
    const SpiFlashStats& stats() const { return stats_; }

private:
    void execute();                               // the command just deselected

    const FlashPart& part_;
    VirtualClock& clock_;
    BoardConfig config_;
    std::vector<std::uint8_t> array_;
    std::vector<std::uint8_t> command_;           // bytes received since select
    bool selected_ = false;
    std::uint8_t statusRegister_ = 0;
    std::uint64_t busyUntil_ = 0;
    SpiFlashStats stats_;
    // Further state as the commands need it (SST auto-increment address, ...).
    std::uint32_t aaiAddress_ = 0;
    bool aaiActive_ = false;

    std::uint8_t respond(std::size_t index, std::uint8_t mosi);
    bool writeAllowed();                          // WEL set and the array unprotected; counts refusals
    void finishWrite(std::uint64_t busyMicros, bool programOrErase);  // WEL drops, busy starts
    void startBusy(std::uint64_t busyMicros, bool programOrErase);
    void program(std::uint32_t address, std::uint8_t value);
    void erase(std::uint32_t address, std::uint32_t bytes, std::uint64_t busyMicros);
    void executeAai();
    std::uint32_t address() const;                // bytes 1..3 of the command, within the array

    std::uint64_t received_ = 0;                  // bytes clocked in since select
    std::uint8_t opcode_ = 0;
    bool ignored_ = false;                        // the command arrived while the part could not take it
    std::uint8_t previousOpcode_ = 0;             // the command before this one, status reads aside
    std::uint8_t welWhileBusy_ = 0;               // WEL as status reads show it until the write completes
    std::array<std::uint8_t, 256> pageLatch_{};   // page program data, by byte of the page
    std::array<bool, 256> pageLatchUsed_{};
};

}  // namespace mvx::sim
