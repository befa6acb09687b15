// SPI NOR flash parts as the scaler's flash controller sees them: chip select,
// bytes exchanged on the SPI bus, chip deselect.  Commands that change the
// array or the status register take effect when the chip is deselected, as on
// the real parts; the part then stays busy (status bit 0) for its datasheet
// time on the virtual clock.
#pragma once

#include <array>
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
};

}  // namespace mvx::sim
