// Register access to the scaler's ISP port and the MCUs: single-register
// writes and reads through the primary slave, 3-byte bursts through the
// secondary slave, the bounded wait for status bits, and entering and leaving
// MCU ISP mode.  Everything the engine does to a device is built from these.
#pragma once

#include <cstdint>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::engine {

class Link {
public:
    Link(adapters::AdapterOps& ops, platform::Clock& clock, std::uint8_t primary = 0x94,
         std::uint8_t secondary = 0x96)
        : ops_(ops), clock_(clock), primary_(primary), secondary_(secondary)
    {
    }

    adapters::AdapterOps& ops() { return ops_; }
    platform::Clock& clock() { return clock_; }
    std::uint8_t primary() const { return primary_; }
    std::uint8_t secondary() const { return secondary_; }
    void setSlaves(std::uint8_t primary, std::uint8_t secondary)
    {
        primary_ = primary;
        secondary_ = secondary;
    }

    // One byte to a register of the primary slave (count 1, fifth value 1).
    int writeRegister(std::uint8_t reg, std::uint8_t value);
    int writeRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t value);
    // One byte from a register of the primary slave.
    int readRegister(std::uint8_t reg, std::uint8_t& value);
    int readRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t& value);
    // count bytes through the secondary slave (fifth value count, sixth 1).
    int burst(std::uint8_t reg, const std::uint8_t* bytes, int count);
    int burst3(std::uint8_t reg, std::uint8_t a, std::uint8_t b, std::uint8_t c)
    {
        const std::uint8_t bytes[] = {a, b, c};
        return burst(reg, bytes, 3);
    }

    // Reads the register once; while (value & mask) is set, sleeps 10 ms and
    // reads again.  A failed re-read or the (limit + 2)-th re-read ends the
    // wait with false; true once the bits read clear.
    bool waitClear(std::uint8_t reg, std::uint8_t mask, int limit);

    // One attempt at MCU ISP mode: 0x90 = 0x40, 0x36 = 0x00, then 0x90 must
    // read 0x40 (5310) or have bit 6 set (5312).
    bool enterMcuIsp(bool is5312);
    // Two attempts; 0 or 13.
    int enterMcuIspTwice(bool is5312);
    // 0x39 = 0x02, twice; results ignored.
    void leaveMcuIsp();

private:
    adapters::AdapterOps& ops_;
    platform::Clock& clock_;
    std::uint8_t primary_;
    std::uint8_t secondary_;
};

}  // namespace mvx::engine
