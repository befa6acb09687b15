// The engine's side of the scaler's ISP port, as plain register sequences on a
// virtual I2C bus: what tests and benchmarks use to drive the board the way
// the engine will.
#pragma once

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::test {

class ScalerDriver {
public:
    ScalerDriver(sim::I2cBus& bus, sim::VirtualClock& clock, std::uint8_t primary = 0x94)
        : bus_(bus), clock_(clock), primary_(primary)
    {
    }

    std::uint8_t primary() const { return primary_; }
    std::uint8_t secondary() const { return static_cast<std::uint8_t>(primary_ + 2); }

    bool write(std::uint8_t reg, std::initializer_list<std::uint8_t> data, bool viaSecondary = false)
    {
        const std::vector<std::uint8_t> bytes(data);
        return bus_.writeRegister(viaSecondary ? secondary() : primary_, reg, bytes);
    }
    std::uint8_t read(std::uint8_t reg)
    {
        std::uint8_t value = 0;
        bus_.readRegister(primary_, reg, {&value, 1});
        return value;
    }
    // Three address bytes (bank, page, byte) as one burst through the secondary slave.
    void address(std::uint32_t at, std::uint8_t reg = 0x64)
    {
        write(reg, {std::uint8_t(at >> 16), std::uint8_t(at >> 8), std::uint8_t(at)}, true);
    }
    // Read once; while the bits are set sleep 10 ms and read again, giving up
    // at the (limit + 2)-th re-read.
    bool waitClear(std::uint8_t reg, std::uint8_t mask, int limit)
    {
        std::uint8_t value = read(reg);
        for (int reread = 1; value & mask; ++reread) {
            clock_.sleepMicros(10'000);
            value = read(reg);
            if (reread == limit + 2)
                return false;
        }
        return true;
    }
    void enter()
    {
        write(0x6F, {0x80});
        write(0xEA, {0x00});
        write(0xF4, {0x09});
        if (read(0xF5) & 0x04)
            write(0xF4, {0x09, 0x00});
        write(0xED, {0x88});
        write(0xEE, {0x04});
    }
    void setUp()
    {
        write(0x62, {0x06, 0x50});
        write(0x6A, {0x03, 0x0B, 0x00});
    }
    void reset()
    {
        write(0x60, {0xFE});
        write(0x61, {0xFF});
        write(0x62, {0xFF});
        write(0x63, {0xFF});
        write(0x6D, {0xFF});
    }
    bool command(std::uint8_t form, std::uint8_t opcode, std::initializer_list<std::uint8_t> data = {},
                 int limit = 10)
    {
        write(0x60, {form});
        write(0x61, {opcode});
        if (data.size() != 0)
            write(0x64, data, data.size() == 3);
        write(0x60, {std::uint8_t(form | 1)});
        return waitClear(0x60, 0x01, limit);
    }
    bool writeStatus(std::uint8_t value) { return command(0x20, 0x06) && command(0x68, 0x01, {value}); }
    // ISP mode, controller set up, protect bits as given, page programs of 256 bytes.
    bool ready(std::uint8_t status = 0x02)
    {
        enter();
        setUp();
        write(0x6D, {0x02});
        write(0x71, {0xFF});
        return writeStatus(status);
    }
    bool eraseBlock64(std::uint8_t bank) { return command(0xB8, 0xD8, {bank, 0, 0}, 400); }
    bool sendPage(std::span<const std::uint8_t> data)
    {
        std::vector<std::uint8_t> block{primary_, 0x70};
        block.insert(block.end(), data.begin(), data.end());
        block.resize(258, 0xFF);
        return bus_.writeFrame(block);
    }
    int crc(std::uint32_t first, std::uint32_t last, int rereads = 52)
    {
        address(first);
        address(last, 0x72);
        write(0x6F, {std::uint8_t(read(0x6F) | 0x84)});
        clock_.sleepMicros(5'000);
        std::uint8_t control = read(0x6F);
        for (int reread = 1; (control & 0x04) && !(control & 0x02); ++reread) {
            if (reread > rereads)
                return -1;
            clock_.sleepMicros(1'000);
            control = read(0x6F);
        }
        return read(0x75);
    }
    bool programPage(std::uint32_t at, std::span<const std::uint8_t> data)
    {
        address(at);
        for (int reread = 0; !(read(0x6F) & 0x10); ++reread)
            if (reread > 101)
                return false;
        sendPage(data);
        write(0x6F, {0xA0});
        return waitClear(0x6F, 0x20, 150);
    }

private:
    sim::I2cBus& bus_;
    sim::VirtualClock& clock_;
    std::uint8_t primary_;
};

// CRC-8 with polynomial 0x07 and initial value 0, bit by bit: the reference
// the tests hold the device's CRC engine to.
inline std::uint8_t referenceCrc8(std::span<const std::uint8_t> data)
{
    std::uint8_t crc = 0;
    for (std::uint8_t byte : data) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

// A reproducible pseudo-random firmware image.
inline std::vector<std::uint8_t> firmwarePattern(std::size_t length, unsigned seed = 7)
{
    std::vector<std::uint8_t> data(length);
    unsigned state = seed;
    for (auto& byte : data) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return data;
}

}  // namespace mvx::test
