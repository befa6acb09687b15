#include "mvx/sim/maker_libraries.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "register_file.hpp"

using mvx::sim::I2cBus;
using mvx::sim::VirtualClock;
using mvx::sim::VirtualMakerIicLibrary;
using mvx::sim::VirtualMakerUsbLibrary;
using mvx::test::RegisterFile;

namespace {

struct Bench {
    Bench() { bus.attach(0x94, device); }
    VirtualClock clock;
    I2cBus bus{clock};
    RegisterFile device;
    VirtualMakerUsbLibrary usb{bus, clock};
    VirtualMakerIicLibrary iic{bus};
};

}  // namespace

// ---- the USB adapter library ----

TEST(MakerUsbLibrary, OpeningCallsAnswerSuccessAndKeepTheirSettings)
{
    Bench b;
    EXPECT_EQ(b.usb.initialize(), 1);
    EXPECT_EQ(b.usb.setUsbPolling(4, 0), 1);
    EXPECT_EQ(b.usb.setUsbSpeedMode(2, 0), 1);
    EXPECT_EQ(b.usb.setUsbDelay(9, 0), 1);
    EXPECT_EQ(b.usb.polling(), 4);
    EXPECT_EQ(b.usb.speedMode(), 2);
    EXPECT_EQ(b.usb.delay(), 9);
}

TEST(MakerUsbLibrary, WriteAndReadAreWholeRegisterTransactions)
{
    Bench b;
    b.usb.initialize();
    const std::uint8_t data[] = {0x06, 0x50};
    EXPECT_EQ(b.usb.debugWrite(0x94, 0x62, data, 2, 2, 0, 0), 1);
    EXPECT_EQ(b.device.regs[0x62], 0x06);
    EXPECT_EQ(b.device.regs[0x63], 0x50);
    std::array<std::uint8_t, 2> out{};
    EXPECT_EQ(b.usb.debugRead(0x94, 0x62, out.data(), 2, 2, 0, 0), 1);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0x06, 0x50}));
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "stop", "W148", "R149", "ack", "nack", "stop"}));
}

TEST(MakerUsbLibrary, DeadOrAbsentDeviceAnswersZero)
{
    Bench b;
    b.usb.initialize();
    const std::uint8_t one = 1;
    std::uint8_t out = 0;
    EXPECT_EQ(b.usb.debugWrite(0x96, 0x10, &one, 1, 1, 0, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x96, 0x10, &out, 1, 1, 0, 0), 0);
    EXPECT_EQ(out, 0xFF);
    b.bus.setDead(true);
    EXPECT_EQ(b.usb.debugWrite(0x94, 0x10, &one, 1, 1, 0, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x94, 0x10, &out, 1, 1, 0, 0), 0);
    EXPECT_EQ(b.device.regs[0x10], 0);
}

TEST(MakerUsbLibrary, NothingWorksBeforeInitialiseOrWhileUnplugged)
{
    Bench b;
    std::uint8_t out = 0;
    EXPECT_EQ(b.usb.debugRead(0x94, 0x10, &out, 1, 1, 0, 0), 0);
    EXPECT_EQ(b.usb.setUsbPolling(4, 0), 0);
    b.usb.setPlugged(false);
    EXPECT_EQ(b.usb.initialize(), 0);
    b.usb.setPlugged(true);
    EXPECT_EQ(b.usb.initialize(), 1);
    b.usb.setPlugged(false);
    EXPECT_EQ(b.usb.setUsbDelay(1, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x94, 0x10, &out, 1, 1, 0, 0), 0);
    EXPECT_EQ(b.bus.stats().starts, 0u);
}

TEST(MakerUsbLibrary, ArgumentsTheAdapterCannotCarryAnswerZeroWithoutBusTraffic)
{
    Bench b;
    b.usb.initialize();
    std::array<std::uint8_t, 4> buffer{};
    EXPECT_EQ(b.usb.debugRead(0x194, 0x10, buffer.data(), 1, 0, 0, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x94, 0x100, buffer.data(), 1, 0, 0, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x94, 0x10, buffer.data(), -1, 0, 0, 0), 0);
    EXPECT_EQ(b.usb.debugRead(0x94, 0x10, nullptr, 1, 0, 0, 0), 0);
    EXPECT_EQ(b.usb.debugWrite(0x94, 0x10, nullptr, 2, 0, 0, 0), 0);
    EXPECT_EQ(b.usb.debugWrite(0x94, 0x10, buffer.data(), VirtualMakerUsbLibrary::kMaxTransfer + 1, 0, 0, 0), 0);
    EXPECT_EQ(b.bus.stats().starts, 0u);
    // A page of 256 bytes is within reach.
    std::vector<std::uint8_t> page(256, 0x33);
    EXPECT_EQ(b.usb.debugWrite(0x94, 0x00, page.data(), 256, 256, 0, 0), 1);
    EXPECT_EQ(b.device.regs[255], 0x33);
}

TEST(MakerUsbLibrary, EveryUsbTransferCostsItsLatency)
{
    Bench b;
    b.usb.initialize();                         // 1 transfer
    const std::uint8_t one = 1;
    b.usb.debugWrite(0x94, 0x10, &one, 1, 1, 0, 0);   // 1 transfer + 29 bus clocks
    std::uint8_t out = 0;
    b.usb.debugRead(0x94, 0x10, &out, 1, 1, 0, 0);    // 2 transfers + 39 bus clocks
    EXPECT_EQ(b.usb.usbTransfers(), 4u);
    // ... and the 4.7 us of bus free time before the second transaction.
    EXPECT_EQ(b.clock.nowMicros(), 4 * VirtualMakerUsbLibrary::kUsbTransferMicros + 290u + 390u + 4u);
}

// ---- the I2C adapter library ----

TEST(MakerIicLibrary, WriteReadAndSettings)
{
    Bench b;
    EXPECT_EQ(b.iic.initialize(), 1);
    EXPECT_EQ(b.iic.setPolling(4), 1);
    EXPECT_EQ(b.iic.setWorkDelay(3), 1);
    EXPECT_EQ(b.iic.polling(), 4);
    EXPECT_EQ(b.iic.workDelay(), 3);
    const std::uint8_t data[] = {0x88, 0x04};
    EXPECT_EQ(b.iic.debugWrite(0x94, 0xED, data, 2, 2, 0), 1);
    std::array<std::uint8_t, 2> out{};
    EXPECT_EQ(b.iic.debugRead(0x94, 0xED, out.data(), 2, 2, 0), 1);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0x88, 0x04}));
}

TEST(MakerIicLibrary, TargetBoardTestAddressesTheScaler)
{
    Bench b;
    b.iic.initialize();
    EXPECT_EQ(b.iic.targetBoardTest(), 1);
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "stop"}));
    EXPECT_FALSE(b.bus.inTransaction());

    VirtualMakerIicLibrary elsewhere(b.bus, 0x98);
    elsewhere.initialize();
    EXPECT_EQ(elsewhere.targetBoardTest(), 0);   // nobody at 0x98
    EXPECT_EQ(elsewhere.targetAddress(), 0x98);
}

TEST(MakerIicLibrary, DeadOrAbsentBoardAnswersZero)
{
    Bench b;
    b.iic.initialize();
    b.bus.setDead(true);
    EXPECT_EQ(b.iic.targetBoardTest(), 0);
    std::uint8_t out = 0;
    EXPECT_EQ(b.iic.debugRead(0x94, 0x10, &out, 1, 1, 0), 0);
    const std::uint8_t one = 1;
    EXPECT_EQ(b.iic.debugWrite(0x94, 0x10, &one, 1, 1, 0), 0);
    b.bus.setDead(false);
    b.bus.detach(0x94);
    EXPECT_EQ(b.iic.targetBoardTest(), 0);
}

TEST(MakerIicLibrary, NothingWorksBeforeInitialiseOrWhileUnplugged)
{
    Bench b;
    EXPECT_EQ(b.iic.targetBoardTest(), 0);
    EXPECT_EQ(b.iic.setPolling(4), 0);
    b.iic.initialize();
    b.iic.setPlugged(false);
    EXPECT_EQ(b.iic.targetBoardTest(), 0);
    EXPECT_EQ(b.iic.setWorkDelay(1), 0);
    EXPECT_EQ(b.bus.stats().starts, 0u);
}

TEST(MakerLibraries, TheDelaySettingsSpaceTransactionsApart)
{
    const std::uint8_t one = 1;
    // The IIC library: _SetWorkDelay(5) keeps 500 us between the end of one
    // transaction and the start of the next, each call costing its ioctl.
    Bench b;
    b.iic.initialize();
    b.iic.setWorkDelay(5);
    b.iic.debugWrite(0x94, 0x10, &one, 1, 0, 0);   // 29 clocks of 10 us
    const std::uint64_t firstEnd = b.clock.nowMicros();
    EXPECT_EQ(firstEnd, VirtualMakerIicLibrary::kCallMicros + 290u);
    b.iic.debugWrite(0x94, 0x10, &one, 1, 0, 0);
    EXPECT_EQ(b.clock.nowMicros() - firstEnd, 500u + VirtualMakerIicLibrary::kCallMicros + 4u + 290u);

    // The USB library's delay byte paces the same way; its USB frames count towards the gap.
    Bench u;
    u.usb.initialize();
    u.usb.setUsbDelay(5, 0);
    u.usb.debugWrite(0x94, 0x10, &one, 1, 1, 0, 0);
    const std::uint64_t usbFirstEnd = u.clock.nowMicros();
    u.usb.debugWrite(0x94, 0x10, &one, 1, 1, 0, 0);
    EXPECT_EQ(u.clock.nowMicros() - usbFirstEnd, 1000u + 4u + 290u);
}
