#include "mvx/sim/i2c_lines.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "register_file.hpp"

using mvx::sim::I2cBus;
using mvx::sim::I2cLines;
using mvx::sim::VirtualClock;
using mvx::test::RegisterFile;

namespace {

struct Lines {
    Lines() { bus.attach(0x94, device); }
    VirtualClock clock;
    I2cBus bus{clock};
    RegisterFile device;
    I2cLines lines{bus};

    void start()
    {
        lines.driveSda(false);
        lines.driveScl(false);
    }
    // One clock with the master's bit on SDA; answers the level seen while SCL was high.
    bool clock1(bool bit)
    {
        lines.driveSda(bit);
        lines.driveScl(true);
        const bool seen = lines.sda();
        lines.driveScl(false);
        return seen;
    }
    void byteOut(std::uint8_t byte)
    {
        for (int bit = 7; bit >= 0; --bit)
            clock1(((byte >> bit) & 1) != 0);
    }
    // Eight clocks with SDA released: the byte the slave presents.
    std::uint8_t byteIn()
    {
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit)
            byte = static_cast<std::uint8_t>((byte << 1) | (clock1(true) ? 1 : 0));
        return byte;
    }
    void stop()
    {
        lines.driveSda(false);
        lines.driveScl(true);
        lines.driveSda(true);
    }
};

}  // namespace

// ---- START and STOP ----

TEST(I2cLines, SdaMovingWhileSclHighIsStartOrStop)
{
    Lines t;
    t.lines.driveSda(false);
    EXPECT_EQ(t.lines.startConditions(), 1u);
    t.lines.driveSda(true);
    EXPECT_EQ(t.lines.stopConditions(), 1u);
    // With SCL low the same moves are data changes.
    t.lines.driveScl(false);
    t.lines.driveSda(false);
    t.lines.driveSda(true);
    EXPECT_EQ(t.lines.startConditions(), 1u);
    EXPECT_EQ(t.lines.stopConditions(), 1u);
}

TEST(I2cLines, ClocksOutsideATransferReachNobody)
{
    Lines t;
    t.lines.driveScl(false);
    t.byteOut(0x94);
    t.lines.driveScl(false);
    EXPECT_TRUE(t.device.log.empty());
    EXPECT_EQ(t.bus.stats().bytes, 0u);
}

TEST(I2cLines, ChangingBothLinesAtOnceNeverMakesAStartOrStop)
{
    Lines t;
    t.lines.drive(false, true);   // SCL low
    t.lines.drive(true, false);   // data set up before the rising edge
    EXPECT_EQ(t.lines.startConditions(), 0u);
    t.lines.drive(false, true);   // data changes after the falling edge
    EXPECT_EQ(t.lines.stopConditions(), 0u);
    EXPECT_FALSE(t.lines.scl());
    EXPECT_TRUE(t.lines.sda());
}

// ---- the slave's acknowledge ----

TEST(I2cLines, SlaveHoldsItsAcknowledgeForTheNinthClockOnly)
{
    Lines t;
    t.start();
    t.byteOut(0x94);
    EXPECT_EQ(t.device.log, (std::vector<std::string>{"W148"}));   // decided after the eighth clock
    t.lines.driveSda(true);
    EXPECT_FALSE(t.lines.sda());   // pulled low before the ninth clock rises
    t.lines.driveScl(true);
    EXPECT_FALSE(t.lines.sda());
    // The master cannot make a STOP against it: the line does not move.
    t.lines.driveSda(false);
    t.lines.driveSda(true);
    EXPECT_EQ(t.lines.stopConditions(), 0u);
    t.lines.driveScl(false);
    EXPECT_TRUE(t.lines.sda());    // released as the ninth clock falls
}

TEST(I2cLines, NobodyAcknowledgesAnUnknownAddress)
{
    Lines t;
    t.start();
    t.byteOut(0x96);
    EXPECT_TRUE(t.clock1(true));   // SDA stays high through the ninth clock
    EXPECT_EQ(t.bus.stats().nacks, 1u);
    t.byteOut(0x10);
    EXPECT_TRUE(t.clock1(true));   // the data byte is not acknowledged either
    t.stop();
    EXPECT_TRUE(t.device.log.empty());
    EXPECT_FALSE(t.bus.inTransaction());
}

TEST(I2cLines, APartialByteCutByAStartIsDropped)
{
    Lines t;
    t.start();
    t.byteOut(0x94);
    t.clock1(true);
    t.clock1(false);   // three bits of a data byte
    t.clock1(true);
    t.clock1(true);
    t.lines.driveSda(true);
    t.lines.driveScl(true);
    t.lines.driveSda(false);   // repeated START
    t.lines.driveScl(false);
    t.byteOut(0x94);
    EXPECT_FALSE(t.clock1(true));
    t.byteOut(0x40);
    t.clock1(true);
    t.byteOut(0x77);
    t.clock1(true);
    t.stop();
    EXPECT_EQ(t.device.regs[0x40], 0x77);
    EXPECT_EQ(t.device.log, (std::vector<std::string>{"W148", "W148", "stop"}));
}

// ---- bytes from the slave ----

TEST(I2cLines, SlavePresentsEachBitWhileSclIsLow)
{
    Lines t;
    t.device.pointer = 0x20;
    t.device.regs[0x20] = 0x5A;   // 0101 1010
    t.start();
    t.byteOut(0x95);
    EXPECT_FALSE(t.clock1(true));   // address acknowledged
    // The first bit (0) is on the line as soon as the acknowledge clock has fallen.
    EXPECT_FALSE(t.lines.sda());
    t.lines.driveScl(true);
    EXPECT_FALSE(t.lines.sda());
    t.lines.driveScl(false);
    EXPECT_TRUE(t.lines.sda());     // the second bit (1), put out after SCL fell
    std::uint8_t rest = 0;
    for (int bit = 0; bit < 7; ++bit)
        rest = static_cast<std::uint8_t>((rest << 1) | (t.clock1(true) ? 1 : 0));
    EXPECT_EQ(rest, 0x5A);
    EXPECT_TRUE(t.lines.sda());     // released for the master's acknowledge
}

TEST(I2cLines, MasterAcknowledgeFetchesTheNextByteAndNoAcknowledgeEndsTheRead)
{
    Lines t;
    t.device.regs[0] = 0x81;
    t.device.regs[1] = 0x7E;
    t.device.regs[2] = 0x00;
    t.start();
    t.byteOut(0x95);
    t.clock1(true);
    EXPECT_EQ(t.byteIn(), 0x81);
    t.clock1(false);                // acknowledge
    EXPECT_EQ(t.byteIn(), 0x7E);
    t.clock1(true);                 // no acknowledge
    // Off the line now: further clocks read the released line and fetch nothing.
    EXPECT_EQ(t.byteIn(), 0xFF);
    EXPECT_EQ(t.device.pointer, 2);
    t.stop();
    EXPECT_EQ(t.device.log, (std::vector<std::string>{"R149", "ack", "nack", "stop"}));
}

TEST(I2cLines, ReadFromNobodySeesTheReleasedLine)
{
    Lines t;
    t.start();
    t.byteOut(0x97);
    EXPECT_TRUE(t.clock1(true));
    EXPECT_EQ(t.byteIn(), 0xFF);
    t.clock1(true);
    t.stop();
    EXPECT_FALSE(t.bus.inTransaction());
    EXPECT_EQ(t.bus.stats().transactions, 1u);
}

// ---- time ----

TEST(I2cLines, TheMasterDrivingTheLinesSetsThePaceNotTheBus)
{
    Lines t;
    t.start();
    t.byteOut(0x94);
    t.clock1(true);
    t.byteOut(0x10);
    t.clock1(true);
    t.stop();
    // The bytes went through (20 clocks), but their time is the master's to charge.
    EXPECT_EQ(t.bus.stats().bytes, 2u);
    EXPECT_EQ(t.clock.nowMicros(), 0u);
}
