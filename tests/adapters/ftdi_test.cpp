// The FTDI transport (kind 1 with library) against the virtual FTDI chip on
// a bus with one register device: what the chip is set to, the MPSSE streams
// of writes and reads, what the device holds afterwards, and the life of the
// process's one FTDI object.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ftdi/d2xx.hpp"
#include "ftdi/ftdi_dispatcher.hpp"
#include "ftdi/ftdi_iic.hpp"
#include "mvx/sim/ftdi_device.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvxisp.h"
#include "temp_folder.hpp"

using mvx::adapters::D2xxApi;
using mvx::adapters::FtdiDispatcher;
using mvx::adapters::FtHandle;
using mvx::adapters::FtStatus;
using mvx::adapters::processFtdi;
using mvx::adapters::TFtdiIIC_Base;
namespace d2xx = mvx::adapters::d2xx;

namespace {

using Bytes = std::vector<std::uint8_t>;

// 256 registers behind a pointer that a write's first byte sets; reads go
// on from the pointer.  Logs each read byte's acknowledge.
class Registers final : public mvx::sim::I2cDevice {
public:
    std::array<std::uint8_t, 256> regs{};
    std::vector<std::string> log;
    std::uint8_t pointer = 0;

    bool onStart(std::uint8_t, bool read) override
    {
        log.push_back(read ? "R" : "W");
        expectPointer_ = !read;
        return true;
    }
    bool onWrite(std::uint8_t byte) override
    {
        if (expectPointer_)
            pointer = byte;
        else
            regs[pointer++] = byte;
        expectPointer_ = false;
        return true;
    }
    std::uint8_t onRead() override { return regs[pointer++]; }
    void onReadAck(bool acknowledged) override { log.push_back(acknowledged ? "ack" : "nack"); }
    void onStop() override { log.push_back("stop"); }

private:
    bool expectPointer_ = false;
};

// The stream the transport must queue, sequence by sequence.
class Mpsse {
public:
    Bytes bytes;

    Mpsse& start()
    {
        low_ |= 0x03;
        pins(4);
        low_ &= 0xFD;
        pins(3);
        low_ &= 0xFE;
        pins(4);
        return *this;
    }
    Mpsse& send(std::uint8_t byte) { return append({0x13, 0x07, byte, 0x13, 0x00, 0xFF}); }
    Mpsse& receive()
    {
        low_ |= 0x02;
        pins(2);
        return append({0x22, 0x07, 0x87});
    }
    Mpsse& acknowledge() { return append({0x13, 0x00, 0x00}); }
    Mpsse& noAcknowledge() { return append({0x13, 0x00, 0xFF}); }
    Mpsse& stop()
    {
        low_ &= 0xFC;
        pins(5);
        low_ = static_cast<std::uint8_t>((low_ & 0xFD) | 0x01);
        pins(4);
        low_ |= 0x03;
        pins(6);
        return *this;
    }

private:
    void pins(int times)
    {
        for (int i = 0; i < times; ++i)
            append({0x80, low_, 0x13});
    }
    Mpsse& append(std::initializer_list<std::uint8_t> more)
    {
        bytes.insert(bytes.end(), more);
        return *this;
    }

    std::uint8_t low_ = 0x03;
};

// What the transport asked of the driver, across every load of it.
struct DriverLog {
    int loads = 0;
    std::vector<std::string> calls;
    std::vector<Bytes> writes;
    int statusCalls = 0;
    bool hideAnswers = false;   // the queue never shows the bytes the chip sent
};

// The board's driver calls, logged.
class RecordingD2xx final : public D2xxApi {
public:
    RecordingD2xx(mvx::sim::VirtualFtdiDevice& chip, DriverLog& log) : inner_(mvx::adapters::makeBoardD2xx(chip)), log_(log)
    {
        ++log_.loads;
    }
    FtStatus open(int index, FtHandle* handle) override
    {
        log_.calls.push_back("open " + std::to_string(index));
        return inner_->open(index, handle);
    }
    FtStatus close(FtHandle handle) override
    {
        log_.calls.push_back("close");
        return inner_->close(handle);
    }
    FtStatus read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* returned) override
    {
        log_.calls.push_back("read " + std::to_string(size));
        return inner_->read(handle, buffer, size, returned);
    }
    FtStatus write(FtHandle handle, const std::uint8_t* bytes, std::uint32_t size, std::uint32_t* written) override
    {
        log_.calls.push_back("write");
        log_.writes.emplace_back(bytes, bytes + size);
        return inner_->write(handle, bytes, size, written);
    }
    FtStatus setLatencyTimer(FtHandle handle, std::uint8_t millis) override
    {
        log_.calls.push_back("latency " + std::to_string(millis));
        return inner_->setLatencyTimer(handle, millis);
    }
    FtStatus setBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override
    {
        log_.calls.push_back("bitmode " + std::to_string(mask) + " " + std::to_string(mode));
        return inner_->setBitMode(handle, mask, mode);
    }
    FtStatus getQueueStatus(FtHandle handle, std::uint32_t* waiting) override
    {
        ++log_.statusCalls;
        const FtStatus status = inner_->getQueueStatus(handle, waiting);
        if (log_.hideAnswers)
            *waiting = 0;
        return status;
    }
    const char* name() const override { return "recording"; }

private:
    std::unique_ptr<D2xxApi> inner_;
    DriverLog& log_;
};

constexpr std::uint8_t kDevice = 0x50;

struct Bench {
    Bench() { bus.attach(kDevice, registers); }
    ~Bench() { processFtdi().reset(); }

    std::unique_ptr<FtdiDispatcher> dispatcher(int clockDivisor = 30)
    {
        auto loader = [this]() -> std::unique_ptr<D2xxApi> { return std::make_unique<RecordingD2xx>(chip, log); };
        return std::make_unique<FtdiDispatcher>(loader, clockDivisor, clock, TFtdiIIC_Base::Delays::Sleep);
    }
    std::unique_ptr<FtdiDispatcher> opened(int clockDivisor = 30)
    {
        auto d = dispatcher(clockDivisor);
        EXPECT_TRUE(d->openChip());
        log.calls.clear();
        log.writes.clear();
        log.statusCalls = 0;
        registers.log.clear();
        return d;
    }

    mvx::sim::VirtualClock clock;
    mvx::sim::I2cBus bus{clock};
    Registers registers;
    mvx::sim::VirtualFtdiDevice chip{bus, clock};
    DriverLog log;
};

std::vector<std::string> calls(std::initializer_list<const char*> names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

}  // namespace

// ---- opening the chip ----

TEST(FtdiOpen, PutsTheChipIntoMpsseWithBothLinesReleased)
{
    Bench bench;
    auto d = bench.dispatcher(60);
    EXPECT_EQ(d->open(), MVX_OK);
    EXPECT_EQ(bench.log.calls, calls({"open 0", "latency 16", "bitmode 0 0", "bitmode 0 2", "write"}));
    ASSERT_EQ(bench.log.writes.size(), 1u);
    EXPECT_EQ(bench.log.writes[0], (Bytes{0x80, 0x03, 0x13, 0x82, 0x0F, 0x0F, 0x86, 60, 0x00, 0x85}));
    EXPECT_TRUE(bench.chip.isOpen());
    EXPECT_EQ(bench.chip.bitMode(), d2xx::kBitModeMpsse);
    EXPECT_EQ(bench.chip.latencyTimer(), 16);
    EXPECT_EQ(bench.chip.lowValue(), 0x03);
    EXPECT_EQ(bench.chip.lowDirection(), 0x13);
    EXPECT_EQ(bench.chip.highValue(), 0x0F);
    EXPECT_EQ(bench.chip.highDirection(), 0x0F);
    EXPECT_FALSE(bench.chip.loopback());
    EXPECT_EQ(bench.chip.clockDivisor(), 60);
    EXPECT_TRUE(bench.chip.lines().scl());
    EXPECT_TRUE(bench.chip.lines().sda());
    EXPECT_EQ(bench.chip.badCommands(), 0u);
}

TEST(FtdiOpen, ClockDivisorOutsideFourteenToTwoHundredBecomesFourteen)
{
    for (const auto& [given, used] : {std::pair{13, 14}, std::pair{201, 14}, std::pair{0, 14}, std::pair{-5, 14},
                                      std::pair{14, 14}, std::pair{200, 200}, std::pair{100, 100}}) {
        Bench bench;
        auto d = bench.dispatcher(given);
        ASSERT_TRUE(d->openChip()) << given;
        EXPECT_EQ(bench.chip.clockDivisor(), used) << given;
        EXPECT_EQ(processFtdi()->clockDivisor(), used) << given;
    }
}

TEST(FtdiOpen, SecondOpenUsesTheOpenChipWithoutReinitialising)
{
    Bench bench;
    auto first = bench.opened();
    TFtdiIIC_Base* object = processFtdi().get();
    const auto transfers = bench.chip.usbTransfers();

    EXPECT_TRUE(first->openChip());
    auto second = bench.dispatcher(99);   // another run's dispatcher, another divisor
    EXPECT_EQ(second->open(), MVX_OK);

    EXPECT_TRUE(bench.log.calls.empty());
    EXPECT_EQ(bench.log.loads, 1);
    EXPECT_EQ(processFtdi().get(), object);
    EXPECT_EQ(bench.chip.usbTransfers(), transfers);
    EXPECT_EQ(bench.chip.clockDivisor(), 30);
}

TEST(FtdiOpen, OpenAfterALostChipStartsAFreshObjectAndReopensTheChip)
{
    Bench bench;
    auto d = bench.opened();
    const std::uint8_t value = 0x5A;
    bench.chip.setPlugged(false);
    EXPECT_EQ(d->write(kDevice, 0x10, &value, 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_FALSE(processFtdi()->isOpen());
    bench.chip.setPlugged(true);
    // Until the next open the object stays closed, even with the chip back.
    EXPECT_EQ(d->write(kDevice, 0x10, &value, 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(bench.registers.regs[0x10], 0x00);

    bench.log.calls.clear();
    ASSERT_TRUE(d->openChip());
    EXPECT_EQ(bench.log.loads, 2);
    // The old object let go of the chip before the new one opened it.
    EXPECT_EQ(bench.log.calls, calls({"close", "open 0", "latency 16", "bitmode 0 0", "bitmode 0 2", "write"}));
    EXPECT_EQ(d->write(kDevice, 0x10, &value, 1, {}), MVX_OK);
    EXPECT_EQ(bench.registers.regs[0x10], 0x5A);
}

TEST(FtdiOpen, CloseDestroysTheObjectAndReleasesTheChip)
{
    Bench bench;
    auto d = bench.opened();
    d->close();
    EXPECT_EQ(processFtdi(), nullptr);
    EXPECT_FALSE(bench.chip.isOpen());
    EXPECT_EQ(bench.log.calls, calls({"close"}));
    // Transfers after the close fail without touching anything.
    const std::uint8_t value = 1;
    EXPECT_EQ(d->write(kDevice, 0x10, &value, 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(bench.log.writes.size(), 0u);
}

TEST(FtdiOpen, ADispatcherDestroyedWithoutCloseStillReleasesTheChip)
{
    Bench bench;
    bench.opened();   // opened, then destroyed at once
    EXPECT_EQ(processFtdi(), nullptr);
    EXPECT_FALSE(bench.chip.isOpen());
}

// ---- no chip, no driver ----

TEST(FtdiMissing, WithoutAChipOpenFailsQuietlyAndEveryTransferFails)
{
    Bench bench;
    bench.chip.setPlugged(false);
    mvx::test::ScopedEnv debug("MVX_DEBUG", "1");
    testing::internal::CaptureStderr();
    auto d = bench.dispatcher();
    EXPECT_EQ(d->open(), MVX_OK);
    std::uint8_t buffer[2] = {0xAB, 0xCD};
    const std::uint8_t value = 0x11;
    EXPECT_EQ(d->write(kDevice, 0x10, &value, 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(d->read(kDevice, 0x10, buffer, 2, {}), MVX_ERR_LIBRARY_READ);
    const std::string diagnostics = testing::internal::GetCapturedStderr();
    EXPECT_NE(diagnostics.find("m_ftHandle InitFTDI open fail"), std::string::npos) << diagnostics;
    EXPECT_NE(diagnostics.find("Open fail"), std::string::npos);
    EXPECT_NE(diagnostics.find("debug write fail"), std::string::npos);
    EXPECT_NE(diagnostics.find("debug Read fail"), std::string::npos);
    EXPECT_EQ(bench.log.calls, calls({"open 0"}));
    EXPECT_EQ(buffer[0], 0xAB);
    EXPECT_EQ(bench.registers.log.size(), 0u);
    d->close();
    EXPECT_EQ(processFtdi(), nullptr);
}

TEST(FtdiMissing, WithoutTheDriverLibraryNothingIsCalled)
{
    Bench bench;
    FtdiDispatcher d([] { return std::unique_ptr<D2xxApi>(); }, 30, bench.clock, TFtdiIIC_Base::Delays::Sleep);
    EXPECT_FALSE(d.openChip());
    ASSERT_NE(processFtdi(), nullptr);
    EXPECT_FALSE(processFtdi()->libraryLoaded());
    std::uint8_t byte = 0;
    EXPECT_EQ(d.write(kDevice, 0x10, &byte, 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(d.read(kDevice, 0x10, &byte, 1, {}), MVX_ERR_LIBRARY_READ);
    EXPECT_FALSE(bench.chip.isOpen());
}

TEST(FtdiMissing, LibftdiWithoutAChipAnswersDeviceNotFound)
{
    auto api = mvx::adapters::makeLibftdiD2xx();
    FtHandle handle = reinterpret_cast<FtHandle>(1);
    // No FTDI chip is attached to the machines the tests run on; one that
    // is would have to be the first (index 0), not index 250.
    EXPECT_EQ(api->open(250, &handle), d2xx::kDeviceNotFound);
    EXPECT_EQ(handle, nullptr);
    std::uint32_t waiting = 7;
    EXPECT_EQ(api->getQueueStatus(nullptr, &waiting), d2xx::kInvalidHandle);
    EXPECT_EQ(waiting, 0u);
}

TEST(FtdiMissing, AMissingFtd2xxLibraryIsReportedNotLoaded)
{
    std::string error;
    EXPECT_EQ(mvx::adapters::loadFtd2xx("libmvx-no-such-driver.so", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

// ---- writes ----

TEST(FtdiWrite, NBytesGoOutAsOneStreamWithTheSubAddressFirst)
{
    Bench bench;
    auto d = bench.opened();
    const Bytes data{0xA1, 0xB2, 0xC3, 0xD4};
    EXPECT_EQ(d->write(kDevice, 0x20, data.data(), 4, {4, 1, 0}), MVX_OK);
    ASSERT_EQ(bench.log.writes.size(), 1u);
    Mpsse expected;
    expected.start().send(kDevice).send(0x20);
    for (std::uint8_t byte : data)
        expected.send(byte);
    expected.stop();
    EXPECT_EQ(bench.log.writes[0], expected.bytes);
    EXPECT_EQ(bench.registers.regs[0x20], 0xA1);
    EXPECT_EQ(bench.registers.regs[0x23], 0xD4);
    EXPECT_EQ(bench.registers.log, calls({"W", "stop"}));
    EXPECT_TRUE(bench.chip.lines().scl());
    EXPECT_TRUE(bench.chip.lines().sda());
}

TEST(FtdiWrite, ZeroDataBytesStillSendTheSubAddress)
{
    Bench bench;
    auto d = bench.opened();
    EXPECT_EQ(d->write(kDevice, 0x33, nullptr, 0, {}), MVX_OK);
    ASSERT_EQ(bench.log.writes.size(), 1u);
    EXPECT_EQ(bench.log.writes[0], Mpsse().start().send(kDevice).send(0x33).stop().bytes);
    EXPECT_EQ(bench.registers.pointer, 0x33);
}

TEST(FtdiWrite, LargestWriteFitsOneStreamAndLargerOnesAreRefused)
{
    Bench bench;
    auto d = bench.opened();
    Bytes data(FtdiDispatcher::kMaxWriteData + 1, 0x77);
    EXPECT_EQ(d->write(kDevice, 0x00, data.data(), FtdiDispatcher::kMaxWriteData + 1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(d->write(kDevice, 0x00, data.data(), -1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(d->write(kDevice, 0x00, nullptr, 3, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_TRUE(bench.log.writes.empty());
    EXPECT_EQ(d->write(kDevice, 0x00, data.data(), FtdiDispatcher::kMaxWriteData, {}), MVX_OK);
    ASSERT_EQ(bench.log.writes.size(), 1u);
    EXPECT_EQ(bench.log.writes[0].size(), 33u + 6u * (2u + FtdiDispatcher::kMaxWriteData) + 45u);
    EXPECT_EQ(bench.registers.regs[0xFF], 0x77);
}

TEST(FtdiWrite, ATransferBlockIsOneWriteOfItsAddressRegisterAndData)
{
    Bench bench;
    auto d = bench.opened();
    Bytes block(258);
    block[0] = kDevice;
    block[1] = 0x00;
    for (std::size_t i = 2; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(i * 3);
    EXPECT_EQ(d->writeBlock(block.data(), 258, 0x96, 0x92, 0x100), MVX_OK);
    ASSERT_EQ(bench.log.writes.size(), 1u);
    Mpsse expected;
    expected.start();
    for (std::uint8_t byte : block)
        expected.send(byte);
    expected.stop();
    EXPECT_EQ(bench.log.writes[0], expected.bytes);
    EXPECT_EQ(bench.registers.regs[0xFF], block[257]);
    EXPECT_EQ(d->writeBlock(block.data(), 1, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(d->probeTarget(), MVX_OK);
}

// ---- reads ----

TEST(FtdiRead, OneByteIsASubAddressWriteThenAReadEndingWithNoAcknowledge)
{
    Bench bench;
    bench.registers.regs[0x40] = 0xC7;
    auto d = bench.opened();
    std::uint8_t value = 0;
    EXPECT_EQ(d->read(kDevice, 0x40, &value, 1, {1, 0, 0}), MVX_OK);
    EXPECT_EQ(value, 0xC7);
    ASSERT_EQ(bench.log.writes.size(), 2u);
    EXPECT_EQ(bench.log.writes[0], Mpsse().start().send(kDevice).send(0x40).stop().bytes);
    EXPECT_EQ(bench.log.writes[1], Mpsse().start().send(kDevice | 1).receive().noAcknowledge().stop().bytes);
    // Separate transactions: no repeated start.
    EXPECT_EQ(bench.registers.log, calls({"W", "stop", "R", "nack", "stop"}));
}

TEST(FtdiRead, ThreeBytesAreAcknowledgedTwiceThenNotAcknowledged)
{
    Bench bench;
    bench.registers.regs[0x80] = 0x11;
    bench.registers.regs[0x81] = 0x22;
    bench.registers.regs[0x82] = 0x33;
    auto d = bench.opened();
    std::uint8_t values[3] = {};
    EXPECT_EQ(d->read(kDevice, 0x80, values, 3, {3, 0, 0}), MVX_OK);
    EXPECT_EQ(values[0], 0x11);
    EXPECT_EQ(values[1], 0x22);
    EXPECT_EQ(values[2], 0x33);
    ASSERT_EQ(bench.log.writes.size(), 2u);
    EXPECT_EQ(bench.log.writes[1], Mpsse()
                                       .start()
                                       .send(kDevice | 1)
                                       .receive()
                                       .acknowledge()
                                       .receive()
                                       .acknowledge()
                                       .receive()
                                       .noAcknowledge()
                                       .stop()
                                       .bytes);
    EXPECT_EQ(bench.registers.log, calls({"W", "stop", "R", "ack", "ack", "nack", "stop"}));
}

TEST(FtdiRead, StaleAnswersAreDroppedAndTheReadGetsItsOwnBytes)
{
    Bench bench;
    bench.registers.regs[0x05] = 0x99;
    auto d = bench.opened();
    // Something left two answers in the receive queue.
    const Bytes readPins{0x81, 0x81, 0x87};
    std::uint32_t written = 0;
    bench.chip.write(readPins, written);
    std::uint8_t value = 0;
    EXPECT_EQ(d->read(kDevice, 0x05, &value, 1, {}), MVX_OK);
    EXPECT_EQ(value, 0x99);
    std::uint32_t waiting = 1;
    bench.chip.getQueueStatus(waiting);
    EXPECT_EQ(waiting, 0u);
}

TEST(FtdiRead, BytesThatNeverArriveFailTheReadAndLeaveTheBuffer)
{
    Bench bench;
    auto d = bench.opened();
    bench.log.hideAnswers = true;
    std::uint8_t value = 0x3C;
    const auto before = bench.clock.nowMicros();
    EXPECT_EQ(d->read(kDevice, 0x05, &value, 1, {}), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(value, 0x3C);
    // One look to empty the queue, then the 2,000 polls of the collection.
    EXPECT_EQ(bench.log.statusCalls, 1 + TFtdiIIC_Base::kCollectPolls);
    // 300 us twice, 10 us per poll, plus the bus and USB time of the transfers.
    EXPECT_GE(bench.clock.nowMicros() - before, 600u + 10u * 2001u);
}

TEST(FtdiRead, RefusedReadsTouchNothing)
{
    Bench bench;
    auto d = bench.opened();
    std::uint8_t value = 0;
    EXPECT_EQ(d->read(kDevice, 0x05, nullptr, 1, {}), MVX_ERR_NULL_BUFFER);
    EXPECT_EQ(d->read(kDevice, 0x05, &value, -1, {}), MVX_ERR_LIBRARY_READ);
    Bytes big(TFtdiIIC_Base::kMaxReadCount + 1);
    EXPECT_EQ(d->read(kDevice, 0x05, big.data(), TFtdiIIC_Base::kMaxReadCount + 1, {}), MVX_ERR_LIBRARY_READ);
    EXPECT_TRUE(bench.log.writes.empty());
    // A read of nothing still sets the sub-address.
    EXPECT_EQ(d->read(kDevice, 0x05, &value, 0, {}), MVX_OK);
    EXPECT_EQ(bench.log.writes.size(), 1u);
    EXPECT_EQ(bench.registers.pointer, 0x05);
}

TEST(FtdiRead, LongestReadComesBackWhole)
{
    Bench bench;
    for (int i = 0; i < 256; ++i)
        bench.registers.regs[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(255 - i);
    auto d = bench.opened();
    Bytes values(TFtdiIIC_Base::kMaxReadCount, 0);
    EXPECT_EQ(d->read(kDevice, 0x00, values.data(), TFtdiIIC_Base::kMaxReadCount, {}), MVX_OK);
    for (std::size_t i = 0; i < values.size(); ++i)
        ASSERT_EQ(values[i], static_cast<std::uint8_t>(255 - (i % 256))) << i;
    EXPECT_EQ(bench.chip.lostBytes(), 0u);
}
