// The scaler's ISP port and the flash controller behind it, as the I2C bus
// sees them.  The port answers at two addresses: the primary slave
// (board.ini scaler_address, 0x94 by default) and the secondary slave two
// above it; both reach the same register file.  A write transaction's first
// byte sets the register pointer, every further byte is written at the
// pointer and moves it on; a read answers the register at the pointer and
// moves it on.  The data port 0x70 keeps the pointer where it is, so a burst
// to it fills the page buffer (or, read, streams flash data).
//
// Registers with behaviour of their own (all others simply hold what was
// written):
//   0x60  flash command: the form value, started when written with bit 0 set;
//         bit 0 reads 1 while the command runs, and the register is locked
//         until then.  Form bits 7..5 pick the kind: 1 plain, 2 read (all of
//         0x67..0x69 come back), 3 status write behind the write enable of
//         0x62, 4 status write behind the status-write enable of 0x63, 5 erase
//         behind the write enable of 0x62.  Bits 4..3 tell how many bytes of
//         0x64..0x66 follow the opcode.  Kinds 3 to 5 hold bit 0 until the
//         flash is no longer busy.  A read whose opcode is the read opcode of
//         0x6A sends the address of 0x64..0x66 and opens the read stream.
//   0x61  the command's opcode
//   0x62  write-enable opcode (0xFF at reset)
//   0x63  status-write enable opcode (0xFF at reset)
//   0x64..0x66  address (or data) of the next command, page program, CRC or
//         read stream; page programs move it on by the bytes they wrote
//   0x67..0x69  bytes a command read back
//   0x6A  read opcode of the CRC engine and the read stream (0x03 at reset)
//   0x6D  page-program opcode: a program sends the write enable of 0x62, then
//         this opcode with the address and 0x71 + 1 bytes of the page buffer;
//         in auto-increment mode one byte per command, the first with the
//         address
//   0x6F  bit 7 ISP enable; a write with bit 7 and bit 5 set starts a page
//         program (bit 6 set: auto-increment mode), with bit 7 and bit 2 a
//         CRC run; reads bit 5 program busy, bit 4 page buffer ready, bit 2
//         CRC busy, bit 1 CRC done
//   0x70  page buffer (write; each write transaction to it starts at the
//         buffer's first byte, and bytes are not acknowledged while a
//         program runs) / flash read stream (read)
//   0x71  bytes per page program minus one
//   0x72..0x74  last address of the CRC engine
//   0x75  CRC-8 result (read only)
//   0xF4 / 0xF5  index / value of the scaler's internal registers; index 0x00
//         answers the IC code and ignores writes
// Without ISP mode (0x6F bit 7 clear) nothing reaches the flash: starts are
// ignored, the page buffer refuses bytes and the read stream answers 0xFF.
//
// The controller clocks its SPI bus at a fixed rate.  Commands, programs and
// CRC runs happen on the flash at once and then read busy for their SPI time
// (and the flash's own busy time) on the virtual clock, which the bus
// master's waits move on.  The one wait the controller makes itself is its
// status polling between auto-increment bytes, which moves the clock on by
// the time the flash takes.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "mvx/sim/board_config.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

struct ScalerIspStats {
    std::uint64_t flashCommands = 0;     // commands started through 0x60
    std::uint64_t pagePrograms = 0;      // page programs started through 0x6F
    std::uint64_t crcRuns = 0;           // CRC runs started through 0x6F
    std::uint64_t refusedStarts = 0;     // starts ignored: ISP mode off, or the controller busy
    std::uint64_t refusedPageBytes = 0;  // page-buffer bytes refused (not ready)
    std::uint64_t spiBytes = 0;          // bytes clocked on the flash's SPI bus
};

class ScalerIsp final : public I2cDevice {
public:
    // The controller's SPI clock.
    static constexpr std::uint32_t kSpiClockHz = 24'000'000;

    // board_config supplies scaler_address, ic_code, stuck_busy (page-program
    // and erase busy bits never clear) and crc_mismatch_once: the first CRC
    // run over a finished bank answers a wrong value, later ones are right.
    // A bank counts as finished once pages were programmed and then the
    // program opcode was rewritten (the controller reset) or the run reaches
    // past one page, so the check of the first page while programming is
    // answered correctly.
    ScalerIsp(SpiFlash& flash, VirtualClock& clock, const BoardConfig& config);

    // Answers at the primary and the secondary address of the bus.
    void attach(I2cBus& bus);
    void detach(I2cBus& bus);
    std::uint8_t primaryAddress() const { return primary_; }
    std::uint8_t secondaryAddress() const { return static_cast<std::uint8_t>(primary_ + 2); }

    // ---- what tests and the board look at ----
    // What a read of the register would answer now; reading 0x70 this way
    // answers the last byte the stream delivered and fetches nothing.
    std::uint8_t registerValue(std::uint8_t reg);
    std::uint8_t indirectValue(std::uint8_t index) const;
    bool ispEnabled() const { return (regs_[0x6F] & 0x80u) != 0; }
    bool commandRunning();
    bool programRunning();
    bool crcRunning();
    std::span<const std::uint8_t, 256> pageBuffer() const { return pageBuffer_; }
    const ScalerIspStats& stats() const { return stats_; }

    // ---- I2cDevice ----
    bool onStart(std::uint8_t address, bool read) override;
    bool onWrite(std::uint8_t byte) override;
    std::uint8_t onRead() override;
    void onStop() override;

private:
    // The port.
    bool writeRegister(std::uint8_t reg, std::uint8_t value);
    std::uint8_t readRegister(std::uint8_t reg);
    std::uint8_t controlStatus() const;
    void writeControl(std::uint8_t value);

    // The flash controller.
    void refresh();
    void startCommand(std::uint8_t form);
    void startProgram(bool autoIncrement);
    void programAutoIncrement(std::uint32_t address, std::uint32_t count);
    void startCrc();
    std::uint8_t streamRead();
    bool controllerIdle() const { return !commandActive_ && !programActive_ && !crcActive_; }
    std::uint32_t addressRegisters() const;
    void setAddressRegisters(std::uint32_t address);
    void spiCommand(std::uint8_t opcode);
    std::uint8_t spi(std::uint8_t mosi);
    void spiAddress(std::uint32_t address);
    std::uint64_t spiDoneAt(std::uint64_t bytes);

    SpiFlash& flash_;
    VirtualClock& clock_;
    std::uint8_t primary_;
    std::uint8_t icCode_;
    bool stuckBusy_;
    bool crcMismatchOnce_;

    std::array<std::uint8_t, 256> regs_{};
    std::array<std::uint8_t, 256> indirect_{};
    std::uint8_t pointer_ = 0;
    bool expectRegister_ = false;

    std::array<std::uint8_t, 256> pageBuffer_{};
    std::uint8_t pageFill_ = 0;

    // The running command (0x60).
    bool commandActive_ = false;
    bool commandPolls_ = false;
    bool commandIsErase_ = false;
    std::uint64_t commandSpiDoneAt_ = 0;

    // The running page program (0x6F bit 5).
    bool programActive_ = false;
    std::uint64_t programSpiDoneAt_ = 0;
    bool autoIncrementSession_ = false;    // the flash is inside an auto-increment sequence

    // The CRC engine.
    bool crcActive_ = false;
    bool crcDone_ = false;
    std::uint8_t crcValue_ = 0;
    std::uint64_t crcDoneAt_ = 0;
    bool programmedSinceFault_ = false;     // a page was programmed and the fault has not fired
    bool programOpcodeRewritten_ = false;   // 0x6D written since the last page program
    bool crcFaultSpent_ = false;

    // The read stream of 0x70.
    bool streamArmed_ = false;
    std::uint32_t streamAddress_ = 0;
    std::uint8_t lastStreamByte_ = 0xFF;

    ScalerIspStats stats_;
};

}  // namespace mvx::sim
