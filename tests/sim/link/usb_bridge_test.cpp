#include "mvx/sim/usb_bridge.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "register_file.hpp"

using mvx::sim::I2cBus;
using mvx::sim::UsbStatus;
using mvx::sim::VirtualClock;
using mvx::sim::VirtualUsbBridge;
using mvx::test::RegisterFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The host's packets, laid out as the bridge transport builds them.
Bytes writePacket(std::uint8_t address, std::uint8_t subAddress, const Bytes& data)
{
    Bytes p{address, subAddress, static_cast<std::uint8_t>(data.size() >> 8),
            static_cast<std::uint8_t>(data.size() & 0xFF), 0x81, 0x11};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

Bytes readPacket(std::uint8_t address, std::uint8_t subAddress, std::uint8_t sequence, bool flag = true)
{
    Bytes p(17, 0);
    p[0] = address;
    p[1] = subAddress;
    p[2] = subAddress;
    p[3] = flag ? 0xFF : 0x00;
    p[4] = 16;
    p[5] = 0x04;
    p[16] = sequence;
    return p;
}

Bytes blockPacket(std::uint8_t address, std::uint8_t subAddress, std::uint16_t offset, const Bytes& data)
{
    Bytes p{address, subAddress, static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset & 0xFF),
            0x00, 0x08};
    p.insert(p.end(), data.begin(), data.end());
    return p;
}

struct Bench {
    Bench() { bus.attach(0x94, device); }
    VirtualClock clock;
    I2cBus bus{clock};
    RegisterFile device;
    VirtualUsbBridge bridge{bus, clock};

    // One read request and its answer.
    Bytes ask(std::uint8_t address, std::uint8_t subAddress, std::uint8_t sequence, bool flag = true)
    {
        EXPECT_EQ(bridge.bulkOut(readPacket(address, subAddress, sequence, flag)).status, UsbStatus::Ok);
        Bytes answer(256, 0xEE);
        const auto result = bridge.bulkIn(answer);
        EXPECT_EQ(result.status, UsbStatus::Ok);
        answer.resize(result.length);
        return answer;
    }
};

}  // namespace

// ---- the four packets ----

TEST(UsbBridge, RegisterWriteThenReadRoundTrip)
{
    Bench b;
    EXPECT_EQ(b.bridge.bulkOut(writePacket(0x94, 0x10, {0xA5, 0x3C})).status, UsbStatus::Ok);
    EXPECT_EQ(b.device.regs[0x10], 0xA5);
    EXPECT_EQ(b.device.regs[0x11], 0x3C);
    EXPECT_EQ(b.bridge.lastWriteMode(), 0x81);

    const Bytes answer = b.ask(0x94, 0x10, 7);
    ASSERT_EQ(answer.size(), VirtualUsbBridge::kReadAnswerLength);
    EXPECT_EQ(answer[0], 0xA5);
    EXPECT_EQ(answer[1], 0x3C);
    EXPECT_EQ(answer[16], 7);   // the request's sequence byte
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "stop", "W148", "R149", "ack", "ack", "ack", "ack",
                                                      "ack", "ack", "ack", "ack", "ack", "ack", "ack", "ack", "ack",
                                                      "ack", "ack", "nack", "stop"}));
    EXPECT_EQ(b.bridge.rejectedPackets(), 0u);
}

TEST(UsbBridge, ReadWithFlagZeroReadsOnFromTheCurrentRegister)
{
    Bench b;
    b.device.regs[0x40] = 0x99;
    b.device.pointer = 0x40;
    const Bytes answer = b.ask(0x94, 0x00, 1, false);
    EXPECT_EQ(answer[0], 0x99);
    EXPECT_EQ(b.device.log.front(), "R149");
}

TEST(UsbBridge, SequenceEchoWrapsFrom255To0)
{
    Bench b;
    EXPECT_EQ(b.ask(0x94, 0x00, 255)[16], 255);
    EXPECT_EQ(b.ask(0x94, 0x00, 0)[16], 0);
}

TEST(UsbBridge, CountOfAWriteIsTakenFromItsHeader)
{
    Bench b;
    // 300 bytes through the engine's write arrive as count 44 with 44 bytes.
    Bytes data(44, 0x5A);
    b.bridge.bulkOut(writePacket(0x94, 0x00, data));
    EXPECT_EQ(b.device.regs[43], 0x5A);
    EXPECT_EQ(b.device.regs[44], 0x00);
    EXPECT_EQ(b.bus.stats().bytes, 46u);
}

TEST(UsbBridge, BlockWriteSetsThePageAddressThenSendsItsDataAsOneFrame)
{
    Bench b;
    RegisterFile secondary;
    b.bus.attach(0x96, secondary);
    Bytes block{0x94, 0x00};
    for (int i = 0; i < 256; ++i)
        block.push_back(static_cast<std::uint8_t>(255 - i));
    EXPECT_EQ(b.bridge.bulkOut(blockPacket(0x96, 0x92, 0x0300, block)).length, 264u);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(b.device.regs[static_cast<std::size_t>(i)], 255 - i) << i;
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "stop"}));
    // The page address went first, through the header's address and register.
    EXPECT_EQ(secondary.log, (std::vector<std::string>{"W150", "stop"}));
    EXPECT_EQ(secondary.regs[0x92], 0x03);
    EXPECT_EQ(secondary.regs[0x93], 0x00);
    EXPECT_EQ(b.bridge.lastBlock().address, 0x96);
    EXPECT_EQ(b.bridge.lastBlock().subAddress, 0x92);
    EXPECT_EQ(b.bridge.lastBlock().offset, 0x0300);
    EXPECT_EQ(b.bridge.lastBlock().length, 258u);
}

TEST(UsbBridge, StartCommandIsCountedWithoutBusTraffic)
{
    Bench b;
    EXPECT_EQ(b.bridge.bulkOut(Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x15, 0x00}).status, UsbStatus::Ok);
    EXPECT_EQ(b.bridge.startCommands(), 1u);
    EXPECT_EQ(b.bridge.lastStartArgument(), 0);
    EXPECT_EQ(b.bus.stats().starts, 0u);
}

// ---- what the firmware does not understand ----

TEST(UsbBridge, MalformedPacketsAreDroppedWithoutTouchingTheBus)
{
    Bench b;
    Bytes overlong = writePacket(0x94, 0x10, {1, 2});
    overlong[3] = 3;                                  // claims three data bytes
    Bytes shortRead = readPacket(0x94, 0x10, 9);
    shortRead.resize(16);                             // no sequence byte
    Bytes unknown = writePacket(0x94, 0x10, {1});
    unknown[5] = 0x33;
    for (const Bytes& packet : {overlong, shortRead, unknown, Bytes{0x94, 0x10, 0x00},
                                blockPacket(0x96, 0x92, 0, {}), Bytes{0x01, 0, 0, 0, 0, 0x15}})
        EXPECT_EQ(b.bridge.bulkOut(packet).status, UsbStatus::Ok);
    EXPECT_EQ(b.bridge.rejectedPackets(), 6u);
    EXPECT_EQ(b.bridge.answersWaiting(), 0u);
    EXPECT_EQ(b.bus.stats().starts, 0u);
    EXPECT_EQ(b.bridge.startCommands(), 0u);
}

// ---- the in endpoint ----

TEST(UsbBridge, ReadWithNothingWaitingTimesOutAfterTenSeconds)
{
    Bench b;
    std::array<std::uint8_t, 17> buffer{};
    const auto result = b.bridge.bulkIn(buffer);
    EXPECT_EQ(result.status, UsbStatus::Timeout);
    EXPECT_EQ(result.length, 0u);
    EXPECT_EQ(b.clock.nowMicros(), 10'000'000u);
}

TEST(UsbBridge, StaleAnswerEchoesTheEarlierSequence)
{
    Bench b;
    b.bridge.answerStaleReads(1);
    EXPECT_EQ(b.ask(0x94, 0x00, 0)[16], 255);
    EXPECT_EQ(b.ask(0x94, 0x00, 0)[16], 0);
}

TEST(UsbBridge, AnswersQueueUpToTheirDepth)
{
    Bench b;
    for (unsigned i = 0; i < VirtualUsbBridge::kAnswerQueueDepth + 2; ++i)
        b.bridge.bulkOut(readPacket(0x94, 0x00, static_cast<std::uint8_t>(i)));
    EXPECT_EQ(b.bridge.answersWaiting(), VirtualUsbBridge::kAnswerQueueDepth);
    std::array<std::uint8_t, 17> buffer{};
    b.bridge.bulkIn(buffer);
    EXPECT_EQ(buffer[16], 2);   // the two oldest were pushed out
}

TEST(UsbBridge, ShortHostBufferLosesTheRestOfTheAnswer)
{
    Bench b;
    b.bridge.bulkOut(readPacket(0x94, 0x00, 3));
    std::array<std::uint8_t, 8> buffer{};
    const auto result = b.bridge.bulkIn(buffer);
    EXPECT_EQ(result.status, UsbStatus::Overflow);
    EXPECT_EQ(result.length, 8u);
    EXPECT_EQ(b.bridge.answersWaiting(), 0u);
}

// ---- absent and silent ----

TEST(UsbBridge, DetachedBridgeMovesNothing)
{
    Bench b;
    b.bridge.setAttached(false);
    EXPECT_EQ(b.bridge.bulkOut(writePacket(0x94, 0x10, {1})).status, UsbStatus::NoDevice);
    std::array<std::uint8_t, 17> buffer{};
    EXPECT_EQ(b.bridge.bulkIn(buffer).status, UsbStatus::NoDevice);
    EXPECT_EQ(b.device.regs[0x10], 0);
    EXPECT_EQ(b.bridge.usbTransfers(), 0u);
    EXPECT_EQ(b.clock.nowMicros(), 0u);
}

TEST(UsbBridge, AbsentDeviceReadsAsTheReleasedLine)
{
    Bench b;
    const Bytes answer = b.ask(0x98, 0x00, 4);
    EXPECT_EQ(answer[0], 0xFF);
    EXPECT_EQ(answer[15], 0xFF);
    EXPECT_EQ(answer[16], 4);
}

// ---- time ----

TEST(UsbBridge, EveryTransferCostsOneFrameOnTopOfBusTime)
{
    Bench b;
    b.bridge.bulkOut(Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x15, 0x00});
    EXPECT_EQ(b.clock.nowMicros(), VirtualUsbBridge::kUsbTransferMicros);
    b.bridge.bulkOut(writePacket(0x94, 0x10, {1}));
    // START + three bytes + STOP at 100 kHz: 29 clocks of 10 us.
    EXPECT_EQ(b.clock.nowMicros(), 2 * VirtualUsbBridge::kUsbTransferMicros + 290u);
    EXPECT_EQ(b.bridge.usbTransfers(), 2u);
}
