#include "mvx/sim/ftdi_device.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "register_file.hpp"

using mvx::sim::FtStatus;
using mvx::sim::I2cBus;
using mvx::sim::VirtualClock;
using mvx::sim::VirtualFtdiDevice;
using mvx::test::RegisterFile;

namespace {

using Bytes = std::vector<std::uint8_t>;

// The command stream the FTDI transport queues, sequence by sequence.
class MpsseStream {
public:
    Bytes bytes;

    void start()
    {
        low_ |= 0x03;
        pins(4);
        low_ &= static_cast<std::uint8_t>(~0x02);
        pins(3);
        low_ &= static_cast<std::uint8_t>(~0x01);
        pins(4);
    }
    void send(std::uint8_t byte) { append({0x13, 0x07, byte, 0x13, 0x00, 0xFF}); }
    void receive()
    {
        low_ |= 0x02;
        pins(2);
        append({0x22, 0x07, 0x87});
    }
    void acknowledge() { append({0x13, 0x00, 0x00}); }
    void noAcknowledge() { append({0x13, 0x00, 0xFF}); }
    void stop()
    {
        low_ &= static_cast<std::uint8_t>(~0x03);
        pins(5);
        low_ = static_cast<std::uint8_t>((low_ & ~0x02) | 0x01);
        pins(4);
        low_ |= 0x03;
        pins(6);
    }

private:
    void pins(int times)
    {
        for (int i = 0; i < times; ++i)
            append({0x80, low_, 0x13});
    }
    void append(std::initializer_list<std::uint8_t> more) { bytes.insert(bytes.end(), more); }

    std::uint8_t low_ = 0x03;
};

struct Bench {
    Bench() { bus.attach(0x94, device); }
    VirtualClock clock;
    I2cBus bus{clock};
    RegisterFile device;
    VirtualFtdiDevice chip{bus, clock};

    FtStatus send(const Bytes& bytes)
    {
        std::uint32_t written = 0;
        const FtStatus status = chip.write(bytes, written);
        EXPECT_EQ(written, status == FtStatus::Ok ? bytes.size() : 0u);
        return status;
    }
    std::uint32_t waiting()
    {
        std::uint32_t count = 0;
        EXPECT_EQ(chip.getQueueStatus(count), FtStatus::Ok);
        return count;
    }
    Bytes readAll()
    {
        Bytes out(waiting());
        std::uint32_t got = 0;
        EXPECT_EQ(chip.read(out, got), FtStatus::Ok);
        out.resize(got);
        return out;
    }

    // The transport's initialisation: open, latency, reset and MPSSE mode,
    // drain, then pins, high byte, divisor and loopback off in one write.
    void init(std::uint16_t divisor = 14)
    {
        ASSERT_EQ(chip.open(0), FtStatus::Ok);
        ASSERT_EQ(chip.setLatencyTimer(16), FtStatus::Ok);
        ASSERT_EQ(chip.setBitMode(0, 0), FtStatus::Ok);
        ASSERT_EQ(chip.setBitMode(0, 2), FtStatus::Ok);
        readAll();
        ASSERT_EQ(send({0x80, 0x03, 0x13, 0x82, 0x0F, 0x0F, 0x86, static_cast<std::uint8_t>(divisor & 0xFF),
                        static_cast<std::uint8_t>(divisor >> 8), 0x85}),
                  FtStatus::Ok);
    }
    void writeBytes(std::uint8_t address, const Bytes& data)
    {
        MpsseStream s;
        s.start();
        s.send(address);
        for (std::uint8_t byte : data)
            s.send(byte);
        s.stop();
        send(s.bytes);
    }
    // A read as the transport does it: empty the queue, queue the read, then
    // collect the last `count` bytes of what arrived.
    Bytes readBytes(std::uint8_t address, std::size_t count)
    {
        readAll();
        MpsseStream s;
        s.start();
        s.send(address);
        for (std::size_t i = 0; i + 1 < count; ++i) {
            s.receive();
            s.acknowledge();
        }
        s.receive();
        s.noAcknowledge();
        s.stop();
        send(s.bytes);
        clock.sleepMicros(300);
        Bytes all = readAll();
        if (all.size() < count)
            return {};
        return Bytes(all.end() - static_cast<std::ptrdiff_t>(count), all.end());
    }
};

}  // namespace

// ---- initialisation ----

TEST(FtdiDevice, InitialisationSetsMpssePinsAndClock)
{
    Bench b;
    b.init(40);
    EXPECT_EQ(b.chip.bitMode(), 0x02);
    EXPECT_EQ(b.chip.latencyTimer(), 16);
    EXPECT_EQ(b.chip.lowValue(), 0x03);
    EXPECT_EQ(b.chip.lowDirection(), 0x13);
    EXPECT_EQ(b.chip.highValue(), 0x0F);
    EXPECT_EQ(b.chip.highDirection(), 0x0F);
    EXPECT_EQ(b.chip.clockDivisor(), 40);
    EXPECT_FALSE(b.chip.loopback());
    EXPECT_TRUE(b.chip.lines().scl());
    EXPECT_TRUE(b.chip.lines().sda());
    EXPECT_EQ(b.waiting(), 0u);
    EXPECT_EQ(b.chip.badCommands(), 0u);
    // Latency timer, two bit modes and one write: four transfers of 125 us.
    EXPECT_EQ(b.chip.usbTransfers(), 4u);
    EXPECT_EQ(b.clock.nowMicros(), 4u * VirtualFtdiDevice::kUsbTransferMicros);
}

// ---- register writes and reads as MPSSE streams ----

TEST(FtdiDevice, WriteStreamReachesTheRegisters)
{
    Bench b;
    b.init();
    b.writeBytes(0x94, {0x10, 0xA5, 0x3C});
    EXPECT_EQ(b.device.regs[0x10], 0xA5);
    EXPECT_EQ(b.device.regs[0x11], 0x3C);
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"W148", "stop"}));
    EXPECT_EQ(b.waiting(), 0u);   // nothing is read while writing
    EXPECT_TRUE(b.chip.lines().scl());
    EXPECT_TRUE(b.chip.lines().sda());
}

TEST(FtdiDevice, ReadStreamQueuesTheClockedInBytes)
{
    Bench b;
    b.init();
    b.device.regs[0x20] = 0x12;
    b.device.regs[0x21] = 0xF0;
    b.device.regs[0x22] = 0x0F;
    b.writeBytes(0x94, {0x20});
    b.device.log.clear();
    EXPECT_EQ(b.readBytes(0x95, 3), (Bytes{0x12, 0xF0, 0x0F}));
    // Two acknowledges and a no-acknowledge, then STOP.
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"R149", "ack", "ack", "nack", "stop"}));
    EXPECT_EQ(b.waiting(), 0u);
    EXPECT_FALSE(b.bus.inTransaction());
}

TEST(FtdiDevice, OneByteReadAsTheLiteralCommandStream)
{
    Bench b;
    b.init();
    b.device.pointer = 0x07;
    b.device.regs[0x07] = 0xC3;
    const Bytes stream{
        0x80, 0x03, 0x13, 0x80, 0x03, 0x13, 0x80, 0x03, 0x13, 0x80, 0x03, 0x13,   // START: both high
        0x80, 0x01, 0x13, 0x80, 0x01, 0x13, 0x80, 0x01, 0x13,                     // SDA low
        0x80, 0x00, 0x13, 0x80, 0x00, 0x13, 0x80, 0x00, 0x13, 0x80, 0x00, 0x13,   // SCL low
        0x13, 0x07, 0x95, 0x13, 0x00, 0xFF,                                       // address, ack slot
        0x80, 0x02, 0x13, 0x80, 0x02, 0x13, 0x22, 0x07, 0x87,                     // receive
        0x13, 0x00, 0xFF,                                                         // no acknowledge
        0x80, 0x00, 0x13, 0x80, 0x00, 0x13, 0x80, 0x00, 0x13, 0x80, 0x00, 0x13,   // STOP: both low
        0x80, 0x00, 0x13,
        0x80, 0x01, 0x13, 0x80, 0x01, 0x13, 0x80, 0x01, 0x13, 0x80, 0x01, 0x13,   // SCL high
        0x80, 0x03, 0x13, 0x80, 0x03, 0x13, 0x80, 0x03, 0x13, 0x80, 0x03, 0x13,   // SDA high
        0x80, 0x03, 0x13, 0x80, 0x03, 0x13,
    };
    ASSERT_EQ(b.send(stream), FtStatus::Ok);
    EXPECT_EQ(b.readAll(), (Bytes{0xC3}));
    EXPECT_EQ(b.device.log, (std::vector<std::string>{"R149", "nack", "stop"}));
    EXPECT_EQ(b.chip.lines().stopConditions(), 1u);
}

TEST(FtdiDevice, MissingDeviceReadsTheReleasedLineAndWritesGoNowhere)
{
    Bench b;
    b.init();
    b.writeBytes(0x96, {0x10, 0x55});
    EXPECT_EQ(b.readBytes(0x97, 2), (Bytes{0xFF, 0xFF}));
    EXPECT_TRUE(b.device.log.empty());
    EXPECT_EQ(b.bus.stats().nacks, 4u);   // two addresses, the two bytes written
}

TEST(FtdiDevice, CommandsSplitAcrossWritesWaitForTheirBytes)
{
    Bench b;
    b.init();
    b.send({0x80, 0x01});
    EXPECT_EQ(b.chip.lowValue(), 0x03);
    EXPECT_TRUE(b.chip.lines().sda());
    b.send({0x13});
    EXPECT_EQ(b.chip.lowValue(), 0x01);
    EXPECT_FALSE(b.chip.lines().sda());
    EXPECT_EQ(b.chip.lines().startConditions(), 1u);
}

// ---- the receive queue ----

TEST(FtdiDevice, AnswersWaitForSendImmediateOrTheLatencyTimer)
{
    Bench b;
    b.init();
    b.send({0x81});                 // read the low pins, no send-immediate
    EXPECT_EQ(b.waiting(), 0u);
    b.clock.sleepMicros(15'999);
    EXPECT_EQ(b.waiting(), 0u);
    b.clock.sleepMicros(1);
    EXPECT_EQ(b.waiting(), 1u);
    // SCL and SDA high, DI reads SDA high, the other inputs float high.
    EXPECT_EQ(b.readAll(), (Bytes{0xEF}));

    b.send({0x81, 0x87});
    EXPECT_EQ(b.waiting(), 1u);
    EXPECT_EQ(b.readAll().size(), 1u);
}

TEST(FtdiDevice, ReadWaitsNoLongerThanTheLatencyTimer)
{
    Bench b;
    b.init();
    b.send({0x81});
    const std::uint64_t before = b.clock.nowMicros();
    std::array<std::uint8_t, 4> buffer{};
    std::uint32_t got = 0;
    EXPECT_EQ(b.chip.read(buffer, got), FtStatus::Ok);
    EXPECT_EQ(got, 1u);               // short: nothing more is coming
    EXPECT_GE(b.clock.nowMicros() - before, 16'000u);
    EXPECT_EQ(b.chip.read(buffer, got), FtStatus::Ok);
    EXPECT_EQ(got, 0u);
}

TEST(FtdiDevice, UnknownOpcodeAnswersBadCommand)
{
    Bench b;
    b.init();
    b.send({0xAA, 0xAB, 0x87});
    EXPECT_EQ(b.readAll(), (Bytes{0xFA, 0xAA, 0xFA, 0xAB}));
    EXPECT_EQ(b.chip.badCommands(), 2u);
    // Clock options are commands the chip knows.
    b.send({0x8A, 0x97, 0x8C, 0x9E, 0x03, 0x00, 0x87});
    EXPECT_EQ(b.waiting(), 0u);
    EXPECT_FALSE(b.chip.divideBy5());
    EXPECT_TRUE(b.chip.threePhaseClocking());
    EXPECT_EQ(b.chip.driveZeroMask(), 0x0003);
}

TEST(FtdiDevice, HostQueueKeepsNoMoreThanTheDriverBuffer)
{
    Bench b;
    b.init();
    Bytes many(VirtualFtdiDevice::kHostQueueLimit + 100, 0x81);
    many.push_back(0x87);
    b.send(many);
    EXPECT_EQ(b.waiting(), VirtualFtdiDevice::kHostQueueLimit);
    EXPECT_EQ(b.chip.lostBytes(), 100u);
}

// ---- data shifting in loopback ----

TEST(FtdiDevice, LoopbackClocksOutBitsBackIn)
{
    Bench b;
    b.init();
    b.send({0x84});
    EXPECT_TRUE(b.chip.loopback());
    b.send({0x31, 0x01, 0x00, 0xA5, 0x3C,   // two bytes out -ve, in +ve, MSB first
            0x39, 0x00, 0x00, 0x81,         // one byte LSB first
            0x33, 0x02, 0xA0,               // three bits MSB first: 101
            0x87});
    EXPECT_EQ(b.readAll(), (Bytes{0xA5, 0x3C, 0x81, 0x05}));
}

// ---- D2XX call results ----

TEST(FtdiDevice, OpenCloseAndCallsOnAClosedDevice)
{
    Bench b;
    std::uint32_t count = 0;
    EXPECT_EQ(b.chip.getQueueStatus(count), FtStatus::InvalidHandle);
    EXPECT_EQ(b.chip.open(1), FtStatus::DeviceNotFound);
    EXPECT_EQ(b.chip.open(0), FtStatus::Ok);
    EXPECT_EQ(b.chip.open(0), FtStatus::DeviceNotOpened);
    EXPECT_EQ(b.chip.setLatencyTimer(1), FtStatus::InvalidParameter);
    EXPECT_EQ(b.chip.setBitMode(0, 0x03), FtStatus::InvalidParameter);
    EXPECT_EQ(b.chip.close(), FtStatus::Ok);
    EXPECT_EQ(b.chip.close(), FtStatus::InvalidHandle);
    EXPECT_EQ(b.send({0x80, 0x00, 0x13}), FtStatus::InvalidHandle);
    EXPECT_EQ(b.chip.usbTransfers(), 0u);

    b.chip.setPlugged(false);
    EXPECT_EQ(b.chip.open(0), FtStatus::DeviceNotFound);
    b.chip.setPlugged(true);
    EXPECT_EQ(b.chip.open(0), FtStatus::Ok);
    b.chip.setPlugged(false);
    EXPECT_EQ(b.chip.getQueueStatus(count), FtStatus::IoError);
}

TEST(FtdiDevice, ResetModeTakesTheEngineOffTheLines)
{
    Bench b;
    b.init();
    b.send({0x80, 0x00, 0x13});
    EXPECT_FALSE(b.chip.lines().scl());
    ASSERT_EQ(b.chip.setBitMode(0, 0), FtStatus::Ok);
    EXPECT_TRUE(b.chip.lines().scl());
    EXPECT_TRUE(b.chip.lines().sda());
    b.send({0xAA, 0x87, 0x80, 0x00, 0x13});   // UART bytes: nobody interprets them
    EXPECT_EQ(b.waiting(), 0u);
    EXPECT_TRUE(b.chip.lines().scl());
    // Back in MPSSE mode every pin starts as an input.
    ASSERT_EQ(b.chip.setBitMode(0, 2), FtStatus::Ok);
    EXPECT_EQ(b.chip.lowDirection(), 0);
    EXPECT_TRUE(b.chip.lines().scl());
}

TEST(FtdiDevice, TheDivisorAndPrescalerSetTheTimeOfEveryClockedBit)
{
    struct Row {
        std::uint16_t divisor;
        bool prescalerOff;       // 0x8A: the 60 MHz clock undivided
        std::uint64_t byteMicros;
    };
    // 12 MHz / ((1 + divisor) x 2): 59 gives 100 kHz, 14 gives 400 kHz.
    for (const Row row : {Row{59, false, 80}, Row{14, false, 20}, Row{29, true, 8}}) {
        Bench b;
        b.init(row.divisor);
        if (row.prescalerOff) {
            ASSERT_EQ(b.send({0x8A}), FtStatus::Ok);
        }
        const std::uint64_t before = b.clock.nowMicros();
        ASSERT_EQ(b.send({0x11, 0x00, 0x00, 0x5A}), FtStatus::Ok);   // one byte out
        EXPECT_EQ(b.clock.nowMicros() - before, VirtualFtdiDevice::kUsbTransferMicros + row.byteMicros)
            << row.divisor;
    }
}
