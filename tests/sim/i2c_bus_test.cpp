#include "mvx/sim/i2c.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

using mvx::sim::I2cBus;
using mvx::sim::I2cDevice;
using mvx::sim::VirtualClock;

namespace {

// A register file with an auto-incrementing pointer that records every event.
class RegisterFile final : public I2cDevice {
public:
    std::array<std::uint8_t, 256> regs{};
    std::vector<std::string> log;
    std::uint8_t pointer = 0;
    bool pointerSet = false;
    bool refuseData = false;

    bool onStart(std::uint8_t address, bool read) override
    {
        log.push_back((read ? "R" : "W") + std::to_string(address));
        pointerSet = read;   // a write starts with the register byte
        return true;
    }
    bool onWrite(std::uint8_t byte) override
    {
        if (!pointerSet) {
            pointer = byte;
            pointerSet = true;
            return true;
        }
        if (refuseData)
            return false;
        regs[pointer++] = byte;
        return true;
    }
    std::uint8_t onRead() override { return regs[pointer++]; }
    void onReadAck(bool ack) override { log.push_back(ack ? "ack" : "nack"); }
    void onStop() override { log.push_back("stop"); }
};

}  // namespace

// ---- addressing ----

TEST(I2cBus, OnlyAnAttachedAddressAcknowledges)
{
    VirtualClock clock;
    I2cBus bus(clock);
    RegisterFile device;
    bus.attach(0x94, device);
    EXPECT_TRUE(bus.start(0x94));
    bus.stop();
    EXPECT_TRUE(bus.start(0x95));   // read form of the same device
    bus.stop();
    EXPECT_FALSE(bus.start(0x96));
    EXPECT_FALSE(bus.write(0x12));
    EXPECT_EQ(bus.read(false), 0xFF);   // nobody drives the line
    bus.stop();
    EXPECT_EQ(bus.stats().transactions, 3u);
    EXPECT_EQ(bus.stats().nacks, 2u);
    bus.detach(0x94);
    EXPECT_FALSE(bus.start(0x94));
    bus.stop();
}

TEST(I2cBus, RegisterWriteThenReadThroughRepeatedStart)
{
    VirtualClock clock;
    I2cBus bus(clock);
    RegisterFile device;
    bus.attach(0x94, device);
    const std::uint8_t data[] = {0x11, 0x22, 0x33};
    EXPECT_TRUE(bus.writeRegister(0x94, 0x64, data));
    EXPECT_EQ(device.regs[0x64], 0x11);
    EXPECT_EQ(device.regs[0x66], 0x33);

    device.log.clear();
    std::array<std::uint8_t, 3> out{};
    EXPECT_TRUE(bus.readRegister(0x94, 0x64, out));
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0x11, 0x22, 0x33}));
    // The repeated START keeps the device's pointer: no STOP in between, and
    // the last byte is not acknowledged.
    EXPECT_EQ(device.log, (std::vector<std::string>{"W148", "R148", "ack", "ack", "nack", "stop"}));
    EXPECT_EQ(bus.stats().transactions, 2u);
}

TEST(I2cBus, RefusedDataIsReportedButTheFrameGoesOn)
{
    VirtualClock clock;
    I2cBus bus(clock);
    RegisterFile device;
    bus.attach(0x94, device);
    device.refuseData = true;
    const std::uint8_t frame[] = {0x94, 0x70, 1, 2};
    EXPECT_FALSE(bus.writeFrame(frame));
    EXPECT_EQ(device.log.back(), "stop");
    EXPECT_FALSE(bus.writeFrame({}));
}

// ---- faults ----

TEST(I2cBus, DeadLinkAndNackAfterSilenceTheBus)
{
    VirtualClock clock;
    I2cBus bus(clock);
    RegisterFile device;
    bus.attach(0x94, device);
    bus.setDead(true);
    const std::uint8_t one[] = {7};
    EXPECT_FALSE(bus.writeRegister(0x94, 0x10, one));
    EXPECT_EQ(device.regs[0x10], 0);
    EXPECT_TRUE(device.log.empty());   // the device never saw a thing

    bus.setDead(false);
    bus.setNackAfter(2);
    EXPECT_TRUE(bus.writeRegister(0x94, 0x10, one));   // transaction 2 (the dead one counted)
    EXPECT_FALSE(bus.writeRegister(0x94, 0x11, one));   // unplugged from here on
    EXPECT_EQ(device.regs[0x10], 7);
    EXPECT_EQ(device.regs[0x11], 0);
}

// ---- time ----

TEST(I2cBus, EachByteCostsNineClocksAndStartAndStopOneEach)
{
    VirtualClock clock;
    I2cBus bus(clock, 100);   // 10 us a clock
    RegisterFile device;
    bus.attach(0x94, device);
    const std::uint8_t one[] = {7};
    bus.writeRegister(0x94, 0x10, one);   // start + 3 bytes + stop = 29 clocks
    EXPECT_EQ(clock.nowMicros(), 290u);
    EXPECT_EQ(clock.sleeps(), 0u);

    VirtualClock fastClock;
    I2cBus fast(fastClock, 400);   // 2.5 us a clock: fractions carry over
    fast.attach(0x94, device);
    for (int i = 0; i < 4; ++i)
        fast.writeRegister(0x94, 0x10, one);
    // ... and the three STOP-to-START gaps of fast mode, 1.3 us each.
    EXPECT_EQ(fastClock.nowMicros(), 293u);
}
