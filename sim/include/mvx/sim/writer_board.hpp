// The 1To4 writer board: two 5312-style MCUs, M1 answering at 0x94 / 0x96 and
// M2 at 0x90 / 0x92, each with three writer banks (64 + 64 + 32 KB) and the
// 5312's checksum and CRC units.  The writer MCUs take ISP mode like a 5312
// (0x90 = 0x40, 0x36 = 0x00) but their flash has no lock: mass erase and
// programming work without the flash preparation.  The board's firmware and
// the information block in writer bank 0 are whatever was programmed.
//
// board.ini: mcu_reset and stuck_busy apply to both MCUs; crc_mismatch_once
// spoils the first checksum / CRC result of M1 only, so the board shows one
// mismatch per run as a single chip would.
#pragma once

#include <cstdint>
#include <vector>

#include "mvx/sim/board_config.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvx/sim/mcu.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

class WriterBoard {
public:
    static constexpr std::uint8_t kM1Address = 0x94;
    static constexpr std::uint8_t kM2Address = 0x90;

    WriterBoard(VirtualClock& clock, const BoardConfig& config);

    // M1 at 0x94 / 0x96, M2 at 0x90 / 0x92.
    void attach(I2cBus& bus);

    // The writer MCUs' whole flash (Mcu::flashSize(McuType::Writer) bytes),
    // as the state files writer_m1.bin and writer_m2.bin hold it.
    std::vector<std::uint8_t>& m1() { return m1_.flash(); }
    std::vector<std::uint8_t>& m2() { return m2_.flash(); }

    Mcu& m1Chip() { return m1_; }
    Mcu& m2Chip() { return m2_; }

    // Both MCUs as at the end of an engine call (Mcu::endOfCall).
    void endOfCall();

private:
    Mcu m1_;
    Mcu m2_;
};

}  // namespace mvx::sim
