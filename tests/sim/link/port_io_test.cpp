#include "mvx/sim/port_io.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "register_file.hpp"

using mvx::sim::I2cBus;
using mvx::sim::ParallelWiring;
using mvx::sim::VirtualClock;
using mvx::sim::VirtualParallelPort;
using mvx::test::RegisterFile;

namespace {

constexpr std::uint16_t kData = 0x378;
constexpr std::uint16_t kStatus = 0x379;
constexpr std::uint16_t kControl = 0x37A;
constexpr std::uint8_t kSdaLow = 0x8F;
constexpr std::uint8_t kSdaRelease = 0x0F;
constexpr std::uint8_t kSclLow = 0x00;
constexpr std::uint8_t kSclRelease = 0x08;
constexpr unsigned kStart = 1;
constexpr unsigned kStop = 2;

// The cable code as the host runs it, one port write per step.  Yields are
// zero-length sleeps and change nothing on the virtual port, so they are left out.
class ParallelMaster {
public:
    ParallelMaster(VirtualParallelPort& port, ParallelWiring wiring) : port_(port), wiring_(wiring) {}

    bool sdaHigh() const
    {
        const bool bit7 = (port_.read(kStatus) & 0x80) != 0;
        return wiring_ == ParallelWiring::Cvt ? bit7 : !bit7;
    }

    // Frame write: 1 when every byte was acknowledged, else 0.
    int frameWrite(const std::vector<std::uint8_t>& bytes, unsigned flags)
    {
        port_.write(kData, kSdaLow);
        if (flags & kStart) {
            port_.write(kData, kSdaLow);
            port_.write(kControl, kSclLow);
        }
        std::size_t acknowledged = 0;
        for (std::uint8_t byte : bytes) {
            for (int bit = 7; bit >= 0; --bit) {
                const bool one = ((byte >> bit) & 1) != 0;
                port_.write(kControl, kSclLow);
                port_.write(kData, one ? kSdaRelease : kSdaLow);
                if (one && wiring_ == ParallelWiring::Cvt && !sdaHigh())
                    ++sdaFails;
                port_.write(kControl, kSclRelease);
            }
            port_.write(kControl, kSclLow);
            port_.write(kData, kSdaRelease);
            port_.write(kControl, kSclRelease);
            if (!sdaHigh())
                ++acknowledged;
        }
        if (flags & kStop) {
            port_.write(kControl, kSclLow);
            port_.write(kData, kSdaLow);
            if (!sdaHigh()) {
                port_.write(kControl, kSclRelease);
                port_.write(kData, kSdaRelease);
            }
        }
        return acknowledged == bytes.size() ? 1 : 0;
    }

    // Register read: 0, 17 (no buffer) or 18 (no acknowledge).
    int registerRead(std::uint8_t address, std::uint8_t subAddress, std::size_t count, std::uint8_t* buffer)
    {
        if (buffer == nullptr)
            return 17;
        for (std::size_t i = 0; i < count; ++i)
            buffer[i] = 0;
        port_.write(kControl, kSclLow);
        port_.write(kControl, kSclRelease);
        port_.write(kData, kSdaLow);
        port_.write(kControl, kSclLow);
        if (!sendChecked(address) || !sendChecked(subAddress))
            return 18;
        port_.write(kControl, kSclLow);
        port_.write(kControl, kSclRelease);
        port_.write(kData, kSdaLow);
        port_.write(kControl, kSclLow);
        if (!sendChecked(static_cast<std::uint8_t>(address | 1)))
            return 18;
        for (std::size_t i = 0; i < count; ++i) {
            std::uint8_t byte = 0;
            for (int bit = 0; bit < 8; ++bit) {
                port_.write(kControl, kSclLow);
                port_.write(kData, kSdaRelease);
                port_.write(kControl, kSclRelease);
                byte = static_cast<std::uint8_t>((byte << 1) | (sdaHigh() ? 1 : 0));
            }
            buffer[i] = byte;
            port_.write(kControl, kSclLow);
            if (i + 1 < count)
                port_.write(kData, kSdaLow);
            port_.write(kControl, kSclRelease);
        }
        port_.write(kControl, kSclLow);
        port_.write(kData, kSdaLow);
        port_.write(kControl, kSclRelease);
        port_.write(kData, kSdaRelease);
        return 0;
    }

    // Probe (the two 20 ms sleeps pass no bus time): 1 when SDA floats high.
    int probe()
    {
        port_.write(kData, kSdaLow);
        port_.write(kData, kSdaRelease);
        return sdaHigh() ? 1 : 0;
    }

    int sdaFails = 0;

private:
    bool sendChecked(std::uint8_t byte)
    {
        for (int bit = 7; bit >= 0; --bit) {
            port_.write(kControl, kSclLow);
            port_.write(kData, ((byte >> bit) & 1) != 0 ? kSdaRelease : kSdaLow);
            port_.write(kControl, kSclRelease);
        }
        port_.write(kControl, kSclLow);
        port_.write(kData, kSdaRelease);
        port_.write(kControl, kSclRelease);
        return !sdaHigh();
    }

    VirtualParallelPort& port_;
    ParallelWiring wiring_;
};

struct Bench {
    explicit Bench(ParallelWiring wiring) : port(bus, wiring), master(port, wiring) { bus.attach(0x94, device); }
    VirtualClock clock;
    I2cBus bus{clock};
    RegisterFile device;
    VirtualParallelPort port;
    ParallelMaster master;
};

class BothWirings : public ::testing::TestWithParam<ParallelWiring> {};

std::string wiringName(const ::testing::TestParamInfo<ParallelWiring>& info)
{
    return info.param == ParallelWiring::Cvt ? "Cvt" : "Norvane";
}

}  // namespace

// ---- register access through the bit-banged lines ----

TEST_P(BothWirings, FrameWriteThenRegisterReadGetsTheBytesBack)
{
    Bench b(GetParam());
    EXPECT_EQ(b.master.frameWrite({0x94, 0x10, 0xA5, 0x3C, 0x00}, kStart | kStop), 1);
    EXPECT_EQ(b.device.regs[0x10], 0xA5);
    EXPECT_EQ(b.device.regs[0x11], 0x3C);
    EXPECT_EQ(b.device.regs[0x12], 0x00);
    EXPECT_EQ(b.master.sdaFails, 0);

    std::array<std::uint8_t, 3> out{0xEE, 0xEE, 0xEE};
    b.device.log.clear();
    EXPECT_EQ(b.master.registerRead(0x94, 0x10, out.size(), out.data()), 0);
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0xA5, 0x3C, 0x00}));
    // Sub-address write, repeated START, two acknowledged bytes and a final one without.
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "R149", "ack", "ack", "nack", "stop"}));
    EXPECT_EQ(b.bus.stats().transactions, 2u);
    EXPECT_FALSE(b.bus.inTransaction());
    // Both lines released at the end.
    EXPECT_TRUE(b.port.lines().scl());
    EXPECT_TRUE(b.port.lines().sda());
}

TEST_P(BothWirings, TransferBlockGoesOutAsOneFrame)
{
    Bench b(GetParam());
    std::vector<std::uint8_t> block{0x94, 0x00};
    for (int i = 0; i < 256; ++i)
        block.push_back(static_cast<std::uint8_t>(i ^ 0x5A));
    EXPECT_EQ(b.master.frameWrite(block, kStart | kStop), 1);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(b.device.regs[static_cast<std::size_t>(i)], static_cast<std::uint8_t>(i ^ 0x5A)) << i;
    EXPECT_EQ(b.bus.stats().bytes, 258u);
}

TEST_P(BothWirings, RegisterReadOfNoBytesStillAddressesAndStops)
{
    Bench b(GetParam());
    b.device.regs[0x30] = 0xFF;   // the byte the device puts on the line next keeps SDA free for STOP
    EXPECT_EQ(b.master.registerRead(0x94, 0x30, 0, b.device.regs.data()), 0);
    EXPECT_FALSE(b.bus.inTransaction());
    EXPECT_EQ(b.port.lines().stopConditions(), 1u);
    EXPECT_EQ(b.master.registerRead(0x94, 0x30, 1, nullptr), 17);
}

// ---- a device that does not answer ----

TEST_P(BothWirings, MissingDeviceGivesNoAcknowledge)
{
    Bench b(GetParam());
    EXPECT_EQ(b.master.frameWrite({0x96, 0x10, 0x55}, kStart | kStop), 0);
    std::array<std::uint8_t, 2> out{0xEE, 0xEE};
    EXPECT_EQ(b.master.registerRead(0x96, 0x10, out.size(), out.data()), 18);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0, 0}));
    EXPECT_TRUE(b.device.log.empty());
    // The failed read left the bus mid-transfer; the next START recovers it.
    EXPECT_TRUE(b.bus.inTransaction());
    b.device.regs[0x10] = 0x42;
    EXPECT_EQ(b.master.registerRead(0x94, 0x10, 1, out.data()), 0);
    EXPECT_EQ(out[0], 0x42);
    EXPECT_FALSE(b.bus.inTransaction());
}

TEST_P(BothWirings, DeadLinkAcknowledgesNothing)
{
    Bench b(GetParam());
    b.bus.setDead(true);
    EXPECT_EQ(b.master.frameWrite({0x94, 0x10, 0x55}, kStart | kStop), 0);
    std::uint8_t out = 0xEE;
    EXPECT_EQ(b.master.registerRead(0x94, 0x10, 1, &out), 18);
    EXPECT_EQ(b.device.regs[0x10], 0);
}

TEST_P(BothWirings, FrameWithoutStopIsContinuedByTheNextFrame)
{
    Bench b(GetParam());
    EXPECT_EQ(b.master.frameWrite({0x94, 0x20, 0x01}, kStart), 1);
    EXPECT_TRUE(b.bus.inTransaction());
    // SCL is left high and the master has released SDA, but the slave holds
    // its acknowledge until SCL falls, so the line is still low ...
    EXPECT_TRUE(b.port.lines().scl());
    EXPECT_TRUE(b.port.lines().masterSda());
    EXPECT_FALSE(b.port.lines().sda());
    // ... and the next frame's first step (SDA driven low) is no START: its
    // bytes carry on the same write.
    EXPECT_EQ(b.master.frameWrite({0x02, 0x03}, kStop), 1);
    EXPECT_EQ(b.device.regs[0x20], 0x01);
    EXPECT_EQ(b.device.regs[0x21], 0x02);
    EXPECT_EQ(b.device.regs[0x22], 0x03);
    EXPECT_EQ(b.port.lines().startConditions(), 1u);
    EXPECT_FALSE(b.bus.inTransaction());
}

// ---- probe ----

TEST_P(BothWirings, ProbeSeesSdaFloatHighWithoutTouchingScl)
{
    Bench b(GetParam());
    const std::uint64_t writesBefore = b.port.portWrites();
    EXPECT_EQ(b.master.probe(), 1);
    EXPECT_EQ(b.port.portWrites(), writesBefore + 2);
    EXPECT_EQ(b.port.read(kControl), 0x08);
    EXPECT_FALSE(b.bus.inTransaction());
    EXPECT_TRUE(b.device.log.empty());
}

INSTANTIATE_TEST_SUITE_P(ParallelPort, BothWirings,
                         ::testing::Values(ParallelWiring::Cvt, ParallelWiring::Norvane), wiringName);

// ---- the port registers ----

TEST(ParallelPort, StatusBit7ReadsSdaInTheSenseOfTheWiring)
{
    VirtualClock clock;
    I2cBus bus(clock);
    VirtualParallelPort port(bus, ParallelWiring::Cvt);
    EXPECT_EQ(port.read(kStatus), 0xF8);   // SDA floats high
    port.setWiring(ParallelWiring::Norvane);
    EXPECT_EQ(port.read(kStatus), 0x78);
    port.write(kData, kSdaLow);
    EXPECT_EQ(port.read(kStatus), 0xF8);
    port.setWiring(ParallelWiring::Cvt);
    EXPECT_EQ(port.read(kStatus), 0x78);
}

TEST(ParallelPort, OnlyBit7OfDataAndBit3OfControlMoveTheLines)
{
    VirtualClock clock;
    I2cBus bus(clock);
    VirtualParallelPort port(bus, ParallelWiring::Cvt);
    port.write(kData, 0x7F);
    EXPECT_TRUE(port.lines().sda());
    port.write(kData, 0x80);
    EXPECT_FALSE(port.lines().sda());
    port.write(kControl, 0xF7);
    EXPECT_FALSE(port.lines().scl());
    port.write(kControl, 0x08);
    EXPECT_TRUE(port.lines().scl());
    EXPECT_EQ(port.read(kData), 0x80);
    EXPECT_EQ(port.read(kControl), 0x08);
}

TEST(ParallelPort, OtherPortsAreNotDecoded)
{
    VirtualClock clock;
    I2cBus bus(clock);
    VirtualParallelPort port(bus, ParallelWiring::Cvt);
    port.write(0x278, 0x80);
    port.write(kStatus, 0x00);
    EXPECT_EQ(port.portWrites(), 0u);
    EXPECT_TRUE(port.lines().sda());
    EXPECT_EQ(port.read(0x278), 0xFF);
    EXPECT_EQ(port.read(kStatus), 0xF8);
}

TEST(ParallelPort, EveryAccessAndYieldCostsThePortsTimeAndTheBusNothing)
{
    VirtualClock clock;
    I2cBus bus(clock, 100);
    RegisterFile device;
    bus.attach(0x94, device);
    VirtualParallelPort port(bus, ParallelWiring::Cvt);
    // START, then the address byte 0x94 clocked out bit by bit and acknowledged.
    port.write(kData, kSdaLow);
    port.write(kControl, kSclLow);
    for (int bit = 7; bit >= 0; --bit) {
        port.yield();
        port.write(kData, ((0x94 >> bit) & 1) != 0 ? kSdaRelease : kSdaLow);
        port.write(kControl, kSclRelease);
        port.write(kControl, kSclLow);
    }
    port.write(kData, kSdaRelease);
    port.write(kControl, kSclRelease);
    EXPECT_EQ(port.read(kStatus) & 0x80, 0);   // acknowledged (CVT: SDA low reads 0)
    EXPECT_EQ(bus.stats().bytes, 1u);
    // 29 accesses and 8 yields; the address byte's 10 bus clocks add nothing.
    EXPECT_EQ(port.portAccesses(), 29u);
    EXPECT_EQ(clock.nowMicros(), (29 * VirtualParallelPort::kAccessNanos + 8 * VirtualParallelPort::kYieldNanos) / 1000);
}
