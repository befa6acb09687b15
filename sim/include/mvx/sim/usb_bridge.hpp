// The USB-to-I2C bridge board of the "Norvane USB" adapter, as its two bulk
// endpoints see it.  The host sends request packets out and reads answers in;
// the bridge firmware runs each request as whole I2C transactions on the bus.
// Byte 5 of a packet says what it is:
//
//   register write  addr, sub, count >> 8, count & 0xFF, mode, 0x11, count data bytes
//                   -> START addr sub data... STOP
//   register read   addr, sub, sub, flag, count, 0x04, zeros, sequence at offset 16
//                   -> flag 0x00: START addr|1, bytes, STOP (from the device's
//                      current register); any other flag: START addr sub,
//                      repeated START addr|1, bytes, STOP.  Up to 16 bytes are
//                      read; the answer (17 bytes) carries them from offset 0,
//                      zeros after them, and the request's sequence byte at 16.
//   block write     addr, sub, offset >> 8, offset & 0xFF, 0x00, 0x08, data...
//                   -> first the block's place: START addr sub (offset >> 8)
//                      (offset & 0xFF) STOP, which is where a page address
//                      register takes it (the MCU's 0x92 / 0x93); then the
//                      data, a complete I2C write frame (its first byte the
//                      device address), as START data... STOP.  The header is
//                      kept for inspection (lastBlock()).
//   start command   0x01, 0x00, 0x00, 0x00, 0x00, 0x15, argument
//                   -> no bus traffic; counted, argument kept.
//
// A packet the firmware cannot understand (too short for its type, a write
// whose count runs past its data, an unknown type byte) is dropped without
// touching the bus and counted in rejectedPackets(); the USB transfer itself
// still completes.  The bridge has no I2C status of its own to report: a
// register nobody acknowledges reads as the released line (0xFF bytes).
//
// Up to kAnswerQueueDepth read answers wait for the host; a further request
// pushes out the oldest.  A bulk-in with no answer waiting runs into the
// host's transfer time-out.
//
// Time: every bulk transfer costs kUsbTransferMicros of virtual time (a
// full-speed USB frame), a timed-out one its time-out instead; the bus adds
// the I2C time of what the firmware does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <span>
#include <vector>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

enum class UsbStatus {
    Ok,
    Timeout,    // nothing to read before the time-out
    NoDevice,   // the bridge is not attached
    Overflow,   // the answer was longer than the host's buffer (the rest is lost)
};

struct UsbTransferResult {
    UsbStatus status = UsbStatus::Ok;
    std::size_t length = 0;   // bytes moved
};

struct BridgeBlock {
    std::uint8_t address = 0;
    std::uint8_t subAddress = 0;
    std::uint16_t offset = 0;
    std::size_t length = 0;   // data bytes
};

class VirtualUsbBridge {
public:
    static constexpr std::uint64_t kUsbTransferMicros = 1000;
    static constexpr std::uint64_t kTransferTimeoutMicros = 10'000'000;   // the host's 10 s
    static constexpr std::uint8_t kBulkOutEndpoint = 0x02;
    static constexpr std::uint8_t kBulkInEndpoint = 0x81;

    static constexpr std::uint8_t kWritePacket = 0x11;
    static constexpr std::uint8_t kReadPacket = 0x04;
    static constexpr std::uint8_t kBlockPacket = 0x08;
    static constexpr std::uint8_t kCommandPacket = 0x15;
    static constexpr std::size_t kHeaderLength = 6;
    static constexpr std::size_t kSequenceOffset = 16;
    static constexpr std::size_t kReadDataLimit = 16;
    static constexpr std::size_t kReadAnswerLength = 17;
    static constexpr std::size_t kAnswerQueueDepth = 8;

    VirtualUsbBridge(I2cBus& bus, VirtualClock& clock);

    // A bridge that is not attached is not found when the host looks for it,
    // and its transfers fail.
    void setAttached(bool attached) { attached_ = attached; }
    bool attached() const { return attached_; }

    // One transfer on the bulk-out / bulk-in endpoint.
    UsbTransferResult bulkOut(std::span<const std::uint8_t> packet);
    UsbTransferResult bulkIn(std::span<std::uint8_t> buffer,
                             std::uint64_t timeoutMicros = kTransferTimeoutMicros);

    // Fault: the next `count` read answers echo the sequence byte before the
    // one asked for (a stale answer), so the host has to ask again.
    void answerStaleReads(unsigned count) { staleReads_ = count; }

    std::uint64_t usbTransfers() const { return usbTransfers_; }
    std::uint64_t packets() const { return packets_; }
    std::uint64_t rejectedPackets() const { return rejected_; }
    std::uint64_t startCommands() const { return startCommands_; }
    std::uint8_t lastStartArgument() const { return lastStartArgument_; }
    std::uint8_t lastWriteMode() const { return lastWriteMode_; }
    const BridgeBlock& lastBlock() const { return lastBlock_; }
    std::size_t answersWaiting() const { return answers_.size(); }

private:
    void transfer(std::uint64_t micros);
    bool registerWrite(std::span<const std::uint8_t> packet);
    bool registerRead(std::span<const std::uint8_t> packet);
    bool blockWrite(std::span<const std::uint8_t> packet);
    bool startCommand(std::span<const std::uint8_t> packet);

    I2cBus& bus_;
    VirtualClock& clock_;
    bool attached_ = true;
    std::deque<std::vector<std::uint8_t>> answers_;
    unsigned staleReads_ = 0;
    std::uint64_t usbTransfers_ = 0;
    std::uint64_t packets_ = 0;
    std::uint64_t rejected_ = 0;
    std::uint64_t startCommands_ = 0;
    std::uint8_t lastStartArgument_ = 0;
    std::uint8_t lastWriteMode_ = 0;
    BridgeBlock lastBlock_;
};

}  // namespace mvx::sim
