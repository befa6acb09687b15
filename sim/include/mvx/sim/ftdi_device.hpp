// The FTDI USB chip of the "FTDi USB" adapter, as its seven D2XX calls see it
// (open, close, read, write, latency timer, bit mode, queue status), with the
// chip's MPSSE engine wired to the board's I2C lines:
//
//   ADBUS0  SCK  -> SCL       (output low pulls SCL low, anything else releases it)
//   ADBUS1  DO   -> SDA       (output low pulls SDA low, anything else releases it)
//   ADBUS2  DI   <- SDA       (reads the line, the slave's acknowledges and bits included)
//
// DO drives SDA through the cable's series resistor, so a high DO loses to a
// slave pulling the line low: for the bus it is as good as released.
//
// Bytes written in MPSSE mode are commands, interpreted as the chip does,
// also across write boundaries (a command waits for its missing bytes):
//   0x80 / 0x82 value direction   set the low / high GPIO byte
//   0x81 / 0x83                   read the low / high GPIO byte (one byte back)
//   0x84 / 0x85                   loopback on / off (DI reads DO)
//   0x86 low high                 clock divisor
//   0x87                          send immediate: queued answers go to the host now
//   0x10-0x3F                     clock data bits or bytes out and / or in
//                                 (bit 0 out on -ve edge, bit 1 bit mode, bit 2 in on
//                                 -ve edge, bit 3 LSB first, bit 4 out, bit 5 in)
//   0x4A 0x4B 0x6A 0x6B 0x6E 0x6F clock TMS bits (TMS is not wired; DO holds bit 7)
//   0x8A 0x8B 0x8C 0x8D 0x96 0x97 clock options; 0x9E drive-zero mask (2 bytes)
//   0x8E / 0x8F                   clock bits / bytes without data
//   0x88 0x89 0x94 0x95 0x9C 0x9D waits on GPIOL1, which is not wired: they end at once
// Any other opcode is a bad command: the chip answers 0xFA and the opcode.
//
// Answers (bytes clocked in, GPIO reads, bad-command replies) collect in the
// chip and reach the host's receive queue on a send-immediate, when a full
// USB packet (510 bytes) has collected, or when the latency timer runs out
// since the first of them; only then do the queue status and FT_Read see them.
//
// Time: every USB transfer (each FT_Write, each batch of answers to the host,
// each latency-timer or bit-mode request) costs kUsbTransferMicros of virtual
// time.  The MPSSE engine, not the board's bus_khz, sets the bus pace: every
// bit it clocks takes one period of its clock, 12 MHz / ((1 + divisor) x 2)
// with the divide-by-5 prescaler on (as the chip comes up, and as the engine
// leaves it: divisor 14 gives 400 kHz, 59 gives 100 kHz), 60 MHz /
// ((1 + divisor) x 2) with it off; and every GPIO command (0x80..0x83) takes
// kGpioCommandNanos (FTDI's I2C application notes repeat the set-pins
// command four times to hold a line for 600 ns: about 150 ns each).
// FT_Read never blocks longer than the latency timer: what has not arrived by
// then is not coming, and the read returns short.
#pragma once

#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/i2c_lines.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

// D2XX status codes, with the library's numbers.
enum class FtStatus : std::uint32_t {
    Ok = 0,
    InvalidHandle = 1,
    DeviceNotFound = 2,
    DeviceNotOpened = 3,
    IoError = 4,
    InvalidParameter = 6,
};

class VirtualFtdiDevice {
public:
    // A high-speed USB microframe per transfer.
    static constexpr std::uint64_t kUsbTransferMicros = 125;
    static constexpr std::uint64_t kGpioCommandNanos = 150;
    // One period of the MPSSE clock at the current divisor and prescaler.
    std::uint64_t bitNanos() const;
    static constexpr std::uint8_t kBitModeReset = 0x00;
    static constexpr std::uint8_t kBitModeMpsse = 0x02;
    static constexpr std::uint8_t kDefaultLatencyMillis = 16;
    static constexpr std::size_t kPacketPayload = 510;      // 512-byte packet less 2 status bytes
    static constexpr std::size_t kHostQueueLimit = 65536;   // the driver's receive buffer
    static constexpr std::uint8_t kBadCommand = 0xFA;

    VirtualFtdiDevice(I2cBus& bus, VirtualClock& clock);

    // An unplugged chip cannot be opened; unplugging an open one makes its
    // calls fail with IoError until it is closed.
    void setPlugged(bool plugged) { plugged_ = plugged; }
    bool plugged() const { return plugged_; }

    // ---- the device side of the seven D2XX calls ----
    // Device index 0 is the only chip on the board.
    FtStatus open(int deviceIndex);
    FtStatus close();
    FtStatus write(std::span<const std::uint8_t> bytes, std::uint32_t& written);
    FtStatus read(std::span<std::uint8_t> buffer, std::uint32_t& returned);
    FtStatus setLatencyTimer(std::uint8_t millis);   // 2 to 255 ms
    FtStatus setBitMode(std::uint8_t mask, std::uint8_t mode);
    FtStatus getQueueStatus(std::uint32_t& bytesWaiting);

    // ---- what the chip is doing ----
    bool isOpen() const { return open_; }
    std::uint8_t bitMode() const { return bitMode_; }
    std::uint8_t latencyTimer() const { return latencyMillis_; }
    std::uint16_t clockDivisor() const { return divisor_; }
    bool divideBy5() const { return divideBy5_; }
    bool loopback() const { return loopback_; }
    bool threePhaseClocking() const { return threePhase_; }
    bool adaptiveClocking() const { return adaptive_; }
    std::uint16_t driveZeroMask() const { return driveZeroMask_; }
    std::uint8_t lowValue() const { return lowValue_; }
    std::uint8_t lowDirection() const { return lowDirection_; }
    std::uint8_t highValue() const { return highValue_; }
    std::uint8_t highDirection() const { return highDirection_; }
    const I2cLines& lines() const { return lines_; }

    std::uint64_t usbTransfers() const { return usbTransfers_; }
    std::uint64_t badCommands() const { return badCommands_; }
    // Answers lost because the host let its receive queue fill up.
    std::uint64_t lostBytes() const { return lostBytes_; }

private:
    FtStatus usable() const;
    void usbTransfer();
    void enterMpsse();
    void leaveMpsse();
    void interpret();
    std::size_t commandSize(std::span<const std::uint8_t> rest) const;
    void execute(std::span<const std::uint8_t> command);
    std::uint8_t clockBits(std::uint8_t opcode, std::uint8_t out, unsigned count);
    void applyPins();
    bool dataIn() const;
    std::uint8_t readLowPins() const;
    void answer(std::uint8_t byte);
    void deliverAnswers();
    void deliverDueAnswers();

    I2cLines lines_;
    VirtualClock& clock_;
    bool plugged_ = true;
    bool open_ = false;
    std::uint8_t bitMode_ = kBitModeReset;
    std::uint8_t latencyMillis_ = kDefaultLatencyMillis;

    // MPSSE state
    std::uint8_t lowValue_ = 0;
    std::uint8_t lowDirection_ = 0;
    std::uint8_t highValue_ = 0;
    std::uint8_t highDirection_ = 0;
    std::uint16_t divisor_ = 0;
    bool divideBy5_ = true;
    bool loopback_ = false;
    bool threePhase_ = false;
    bool adaptive_ = false;
    std::uint16_t driveZeroMask_ = 0;
    std::vector<std::uint8_t> pending_;   // command bytes waiting for the rest of their command

    std::vector<std::uint8_t> chipAnswers_;   // in the chip, not yet sent to the host
    std::uint64_t answersSince_ = 0;
    std::deque<std::uint8_t> hostQueue_;      // arrived at the host, for FT_Read

    std::uint64_t usbTransfers_ = 0;
    std::uint64_t badCommands_ = 0;
    std::uint64_t lostBytes_ = 0;
};

}  // namespace mvx::sim
