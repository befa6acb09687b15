#include "parallel/parallel_iic.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "adapter_test_support.hpp"
#include "mvx/sim/port_io.hpp"
#include "mvx/sim/scaler.hpp"
#include "mvxisp.h"

using mvx::adapters::ParallelIic;
using mvx::adapters::SimPortIo;
using mvx::adapters::Wiring;
using mvx::test::ScriptedPort;

namespace mvx::adapters {
void PrintTo(Wiring wiring, std::ostream* out)
{
    *out << (wiring == Wiring::Cvt ? "CVT wiring" : "Norvane wiring");
}
}  // namespace mvx::adapters

namespace {

// Status bit 7 as each cable shows an SDA level.
std::uint8_t status(Wiring wiring, bool sdaHigh)
{
    const bool bit7 = wiring == Wiring::Cvt ? sdaHigh : !sdaHigh;
    return bit7 ? 0xF8 : 0x78;
}

// ---- the cable's step lists, token by token (see ScriptedPort) ----

std::string level(std::uint8_t byte, int bit)
{
    return ((byte >> bit) & 1) != 0 ? "D0F " : "D8F ";
}

std::string frameStart()
{
    return "D8F Y D8F Y C00 ";
}

std::string frameByte(std::uint8_t byte, Wiring wiring)
{
    std::string steps;
    for (int bit = 7; bit >= 0; --bit) {
        const bool one = ((byte >> bit) & 1) != 0;
        steps += "Y C00 Y " + level(byte, bit) + (one && wiring == Wiring::Cvt ? "S " : "") + "Y C08 ";
    }
    return steps + "Y C00 Y D0F Y C08 Y Y Y S ";
}

std::string frameStop(bool sdaWentLow)
{
    return std::string("Y C00 Y D8F S ") + (sdaWentLow ? "Y C08 Y D0F " : "");
}

std::string readStart()
{
    return "C00 C08 Y D8F Y C00 ";
}

std::string readAddressByte(std::uint8_t byte)
{
    std::string steps;
    for (int bit = 7; bit >= 0; --bit)
        steps += "Y C00 " + level(byte, bit) + "C08 ";
    return steps + "Y C00 Y D0F Y C08 Y S ";
}

std::string repeatedStart()
{
    return "Y C00 Y C08 Y D8F Y C00 ";
}

std::string readDataByte(bool last)
{
    std::string steps;
    for (int bit = 0; bit < 8; ++bit)
        steps += "C00 D0F Y C08 Y S Y ";
    return steps + "Y C00 " + (last ? "" : "D8F ") + "C08 ";
}

std::string readStop()
{
    return "Y C00 Y D8F Y C08 Y D0F ";
}

struct Scripted {
    explicit Scripted(Wiring wiring) : iic(wiring, port, clock) {}
    ScriptedPort port;
    mvx::sim::VirtualClock clock;
    ParallelIic iic;

    // A probe reaches the port, as the first frame of a run would.
    void reachPort()
    {
        port.status = status(iic.wiring(), true);
        iic.probe();
        port.log.clear();
    }
};

class BothWirings : public ::testing::TestWithParam<Wiring> {};

std::string wiringName(const ::testing::TestParamInfo<Wiring>& info)
{
    return info.param == Wiring::Cvt ? "Cvt" : "Norvane";
}

}  // namespace

// ---- frame write, step by step ----

TEST_P(BothWirings, RegisterWriteIsOneFrameWithEveryStepInOrder)
{
    Scripted s(GetParam());
    s.port.status = status(GetParam(), false);   // every byte acknowledged
    const std::uint8_t value = 0x80;
    EXPECT_EQ(s.iic.write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_OK);
    EXPECT_EQ(s.port.log, frameStart() + frameByte(0x94, GetParam()) + frameByte(0x6F, GetParam()) +
                              frameByte(0x80, GetParam()) + frameStop(true));
    EXPECT_EQ(s.port.availableCalls, 1);
}

TEST_P(BothWirings, FrameWithoutAcknowledgeStillAnswersZeroAndSkipsTheStop)
{
    Scripted s(GetParam());
    s.port.status = status(GetParam(), true);   // SDA floats: nobody answers, STOP cannot be made
    const std::uint8_t value = 0x01;
    EXPECT_EQ(s.iic.write(0x94, 0x10, &value, 1, {}), MVX_OK);
    EXPECT_EQ(s.port.log, frameStart() + frameByte(0x94, GetParam()) + frameByte(0x10, GetParam()) +
                              frameByte(0x01, GetParam()) + frameStop(false));
}

TEST_P(BothWirings, FrameWriteReportsAcknowledgesAndHonoursItsFlags)
{
    Scripted s(GetParam());
    const std::uint8_t bytes[] = {0x94, 0x00};
    s.port.status = status(GetParam(), false);
    EXPECT_EQ(s.iic.frameWrite(bytes, 2, 0), 1);
    // No START: only the opening SDA low, then the bytes; no STOP.
    EXPECT_EQ(s.port.log, "D8F " + frameByte(0x94, GetParam()) + frameByte(0x00, GetParam()));

    // The first byte answers, the second does not (zero bytes: no CVT read-back in between).
    const std::uint8_t zeros[] = {0x00, 0x00};
    s.port.queued = {status(GetParam(), false)};
    s.port.status = status(GetParam(), true);
    EXPECT_EQ(s.iic.frameWrite(zeros, 2, ParallelIic::kStart | ParallelIic::kStop), 0);
    EXPECT_TRUE(s.port.queued.empty());
}

TEST(ParallelIicFrame, WriteOfUpTo256DataBytesGoesOutAsOneFrame)
{
    Scripted s(Wiring::Norvane);
    s.port.status = status(Wiring::Norvane, false);
    std::vector<std::uint8_t> data(256, 0x00);
    EXPECT_EQ(s.iic.write(0x94, 0x70, data.data(), 256, {256, 0, 0}), MVX_OK);
    EXPECT_EQ(s.port.log, frameStart() + frameByte(0x94, Wiring::Norvane) + frameByte(0x70, Wiring::Norvane) +
                              [] {
                                  std::string bytes;
                                  for (int i = 0; i < 256; ++i)
                                      bytes += frameByte(0x00, Wiring::Norvane);
                                  return bytes;
                              }() + frameStop(true));
}

TEST(ParallelIicFrame, OversizedOrMalformedWritesAreRefusedWithoutTouchingThePort)
{
    Scripted s(Wiring::Cvt);
    std::vector<std::uint8_t> data(300, 0x55);
    EXPECT_EQ(s.iic.write(0x94, 0x70, data.data(), 257, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.write(0x94, 0x70, data.data(), -1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.write(0x94, 0x70, nullptr, 4, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.writeBlock(data.data(), 259, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.writeBlock(nullptr, 258, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.writeBlock(data.data(), 0, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(s.iic.frameWrite(nullptr, 3, ParallelIic::kStart), 0);
    EXPECT_EQ(s.port.log, "");
    EXPECT_EQ(s.port.availableCalls, 0);
}

TEST(ParallelIicFrame, CvtCableReadsEveryReleasedBitBackAndGoesOnWhenItIsLow)
{
    Scripted s(Wiring::Cvt);
    s.port.status = status(Wiring::Cvt, false);   // SDA stuck low: every read-back fails
    const std::uint8_t bytes[] = {0xFF};
    EXPECT_EQ(s.iic.frameWrite(bytes, 1, 0), 1);
    EXPECT_EQ(s.port.log, "D8F " + frameByte(0xFF, Wiring::Cvt));
}

// ---- register read, step by step ----

TEST_P(BothWirings, RegisterReadSendsAddressesRepeatedStartAndAcknowledgesAllButTheLastByte)
{
    Scripted s(GetParam());
    s.reachPort();
    const Wiring w = GetParam();
    // Three acknowledges, then the bits of 0xA5 and 0x3C.
    for (int i = 0; i < 3; ++i)
        s.port.queued.push_back(status(w, false));
    for (std::uint8_t byte : {std::uint8_t{0xA5}, std::uint8_t{0x3C}})
        for (int bit = 7; bit >= 0; --bit)
            s.port.queued.push_back(status(w, ((byte >> bit) & 1) != 0));

    std::array<std::uint8_t, 2> out{0xEE, 0xEE};
    EXPECT_EQ(s.iic.read(0x94, 0x10, out.data(), 2, {2, 0, 0}), MVX_OK);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0xA5, 0x3C}));
    EXPECT_EQ(s.port.log, readStart() + readAddressByte(0x94) + readAddressByte(0x10) + repeatedStart() +
                              readAddressByte(0x95) + readDataByte(false) + readDataByte(true) + readStop());
    EXPECT_TRUE(s.port.queued.empty());
    EXPECT_EQ(s.port.availableCalls, 1);   // the read itself does not reach for the port
}

TEST_P(BothWirings, RegisterReadOfNoBytesStillAddressesBothPhasesAndStops)
{
    Scripted s(GetParam());
    s.reachPort();
    s.port.status = status(GetParam(), false);
    std::uint8_t untouched = 0xEE;
    EXPECT_EQ(s.iic.read(0x94, 0x30, &untouched, 0, {}), MVX_OK);
    EXPECT_EQ(untouched, 0xEE);
    EXPECT_EQ(s.port.log, readStart() + readAddressByte(0x94) + readAddressByte(0x30) + repeatedStart() +
                              readAddressByte(0x95) + readStop());
}

TEST_P(BothWirings, MissingAcknowledgeEndsTheReadAtOnceWith18AndZeroedBuffer)
{
    Scripted s(GetParam());
    s.reachPort();
    s.port.queued = {status(GetParam(), false)};   // the address answers, the register does not
    s.port.status = status(GetParam(), true);
    std::array<std::uint8_t, 3> out{0xEE, 0xEE, 0xEE};
    EXPECT_EQ(s.iic.read(0x94, 0x10, out.data(), 3, {}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(out, (std::array<std::uint8_t, 3>{0, 0, 0}));
    // No STOP after the failed check.
    EXPECT_EQ(s.port.log, readStart() + readAddressByte(0x94) + readAddressByte(0x10));
}

TEST(ParallelIicRead, NullBufferGives17WithoutTouchingThePort)
{
    Scripted s(Wiring::Norvane);
    s.reachPort();
    EXPECT_EQ(s.iic.read(0x94, 0x10, nullptr, 1, {}), MVX_ERR_NULL_BUFFER);
    EXPECT_EQ(s.iic.read(0x94, 0x10, nullptr, 0, {}), MVX_ERR_NULL_BUFFER);
    EXPECT_EQ(s.port.log, "");
}

TEST(ParallelIicRead, ReadBeforeAnyFrameOrProbeLeavesThePortAlone)
{
    Scripted s(Wiring::Cvt);
    std::array<std::uint8_t, 2> out{0xEE, 0xEE};
    EXPECT_EQ(s.iic.read(0x94, 0x10, out.data(), 2, {}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0, 0}));
    EXPECT_EQ(s.port.log, "");
    EXPECT_EQ(s.port.availableCalls, 0);
    EXPECT_EQ(s.iic.read(0x94, 0x10, out.data(), -1, {}), MVX_ERR_LIBRARY_READ);
}

// ---- probe ----

TEST_P(BothWirings, ProbeOfAFloatingLinePassesAfterTwoSettleSleeps)
{
    Scripted s(GetParam());
    s.port.status = status(GetParam(), true);
    EXPECT_EQ(s.iic.probe(), 1);
    EXPECT_EQ(s.port.log, "D8F D0F S ");   // SCL is not touched
    EXPECT_EQ(s.clock.sleeps(), 2u);
    EXPECT_EQ(s.clock.sleptMicros(), 40'000u);
    EXPECT_EQ(s.iic.probeTarget(), MVX_OK);
}

TEST_P(BothWirings, ProbeOfALineHeldLowFailsWith13)
{
    Scripted s(GetParam());
    s.port.status = status(GetParam(), false);
    EXPECT_EQ(s.iic.probe(), 0);
    EXPECT_EQ(s.iic.probeTarget(), MVX_ERR_ISP_MODE);
}

// ---- without a port ----

TEST(ParallelIicNoPort, FramesDoNothingReadsFindNoPortAndTheProbePasses)
{
    Scripted s(Wiring::Norvane);
    s.port.present = false;
    const std::uint8_t value = 0x80;
    EXPECT_EQ(s.iic.frameWrite(&value, 1, ParallelIic::kStart | ParallelIic::kStop), -1);
    EXPECT_EQ(s.iic.write(0x94, 0x6F, &value, 1, {}), MVX_OK);
    EXPECT_EQ(s.iic.writeBlock(&value, 1, 0, 0, 0), MVX_OK);
    std::uint8_t out = 0xEE;
    EXPECT_EQ(s.iic.read(0x94, 0x6F, &out, 1, {}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(s.iic.probe(), -1);
    EXPECT_EQ(s.iic.probeTarget(), MVX_OK);
    EXPECT_EQ(s.port.log, "");
    EXPECT_EQ(s.clock.sleeps(), 0u);
}

// ---- on the virtual board ----

namespace {

struct OnBoard {
    explicit OnBoard(Wiring wiring, mvx::sim::BoardConfig config = {})
        : board(mvx::test::makeBoard(config)),
          port(board->parallelPort(wiring == Wiring::Cvt ? mvx::sim::ParallelWiring::Cvt
                                                         : mvx::sim::ParallelWiring::Norvane)),
          iic(wiring, port, board->clock())
    {
    }
    int writeByte(std::uint8_t address, std::uint8_t reg, std::uint8_t value)
    {
        return iic.write(address, reg, &value, 1, {1, 0, 0});
    }
    std::unique_ptr<mvx::sim::Board> board;
    SimPortIo port;
    ParallelIic iic;
};

}  // namespace

TEST_P(BothWirings, BoardRegisterReadOfNoBytesEndsTheTransaction)
{
    OnBoard b(GetParam());
    ASSERT_EQ(b.writeByte(0x94, 0x10, 0xFF), MVX_OK);
    std::uint8_t unused = 0xEE;
    EXPECT_EQ(b.iic.read(0x94, 0x10, &unused, 0, {}), MVX_OK);
    EXPECT_FALSE(b.board->bus().inTransaction());
}

TEST_P(BothWirings, BoardAbsentSlaveGives18AndTheNextReadRecovers)
{
    OnBoard b(GetParam());
    ASSERT_EQ(b.writeByte(0x94, 0x10, 0x42), MVX_OK);
    std::uint8_t value = 0xEE;
    EXPECT_EQ(b.iic.read(0x50, 0x10, &value, 1, {}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(value, 0);
    EXPECT_EQ(b.iic.read(0x94, 0x10, &value, 1, {}), MVX_OK);
    EXPECT_EQ(value, 0x42);
}

TEST_P(BothWirings, BoardDeadLinkWritesAnswerZeroButChangeNothingAndReadsGive18)
{
    mvx::sim::BoardConfig config;
    config.linkDead = true;
    OnBoard b(GetParam(), config);
    EXPECT_EQ(b.writeByte(0x94, 0x6F, 0x80), MVX_OK);
    EXPECT_FALSE(b.board->scaler()->ispEnabled());
    std::uint8_t value = 0xEE;
    EXPECT_EQ(b.iic.read(0x94, 0x6F, &value, 1, {}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(value, 0);
    // A dead link still floats high: the cable probe passes.
    EXPECT_EQ(b.iic.probeTarget(), MVX_OK);
}

INSTANTIATE_TEST_SUITE_P(Wirings, BothWirings, ::testing::Values(Wiring::Cvt, Wiring::Norvane), wiringName);
