// The PC's first parallel port with the I2C cable on it, as the port-I/O
// calls (write a byte to a port, read a byte from a port) see it.
//
//   0x378 data     bit 7 set pulls SDA low (0x8F), clear releases it (0x0F)
//   0x379 status   bit 7 reads SDA back, in the sense of the cable's wiring
//   0x37A control  bit 3 clear pulls SCL low (0x00), set releases it (0x08)
//
// The two cables differ only in the read-back: the CVT wiring shows SDA high
// as status bit 7 = 1, the Norvane wiring shows SDA low as bit 7 = 1.  The
// other status inputs are not connected and read high (bits 3-6); the
// reserved bits 0-2 read 0.  The data and control ports read back the value
// last written.  Any other port is not decoded: writes go nowhere and reads
// see a floating bus (0xFF).
//
// The lines are open-drain and shared with the device on the I2cBus, so SDA
// reads low whenever the slave pulls it (its acknowledges and 0 bits).
//
// Time: the cable has no clock of its own, so the port sets the bus speed,
// not the board's bus_khz.  Every port access costs kAccessNanos: an outb or
// inb to a parallel port behind the LPC bridge takes about a microsecond
// (the ISA-compatible I/O cycle), and ppdev adds its ioctl round trip, well
// under that.  The cable's yields between accesses (a sched_yield with
// nothing else to run: a system call round trip) cost kYieldNanos.  A
// written bit is three accesses and three yields, so the cable clocks SCL at
// about 1 / (3 x 1.3 us) = 260 kHz whatever the board is rated for.
#pragma once

#include <cstdint>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/i2c_lines.hpp"

namespace mvx::sim {

enum class ParallelWiring { Cvt, Norvane };

class VirtualParallelPort {
public:
    static constexpr std::uint16_t kDataPort = 0x378;
    static constexpr std::uint16_t kStatusPort = 0x379;
    static constexpr std::uint16_t kControlPort = 0x37A;

    static constexpr std::uint8_t kSdaLowBit = 0x80;      // data port
    static constexpr std::uint8_t kSclReleaseBit = 0x08;  // control port
    static constexpr std::uint8_t kSdaStatusBit = 0x80;   // status port

    static constexpr std::uint64_t kAccessNanos = 1'000;
    static constexpr std::uint64_t kYieldNanos = 300;

    VirtualParallelPort(I2cBus& bus, ParallelWiring wiring);

    // The cable on the port; a run of the other kind swaps it.
    ParallelWiring wiring() const { return wiring_; }
    void setWiring(ParallelWiring wiring) { wiring_ = wiring; }

    void write(std::uint16_t port, std::uint8_t value);
    std::uint8_t read(std::uint16_t port);
    // The cable code giving up its time slice between accesses.
    void yield();

    const I2cLines& lines() const { return lines_; }
    std::uint64_t portWrites() const { return writes_; }
    std::uint64_t portAccesses() const { return accesses_; }

private:
    I2cLines lines_;
    VirtualClock& clock_;
    std::uint64_t accesses_ = 0;
    ParallelWiring wiring_;
    std::uint8_t data_ = 0x0F;     // SDA released
    std::uint8_t control_ = 0x08;  // SCL released
    std::uint64_t writes_ = 0;
};

}  // namespace mvx::sim
