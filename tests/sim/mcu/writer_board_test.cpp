#include <gtest/gtest.h>

#include <algorithm>

#include "mcu_harness.hpp"
#include "mvx/sim/writer_board.hpp"

namespace mvx::sim::test {
namespace {

class WriterBoardTest : public ::testing::Test {
protected:
    explicit WriterBoardTest(const std::string& ini = "") : bus(clock), config(boardConfig(ini)), board(clock, config)
    {
        board.attach(bus);
    }
    // Mass erase as the writer steps do it: no preparation, busy polled without sleeping.
    bool massErase(McuLink& link)
    {
        link.write(0x90, 0xC0);
        for (int reads = 0; reads <= 5001; ++reads)
            if ((link.read(0x90) & 0x80) == 0)
                return true;
        return false;
    }

    VirtualClock clock;
    I2cBus bus;
    BoardConfig config;
    WriterBoard board;
    McuLink m1{bus, 0x94};
    McuLink m2{bus, 0x90};
};

// ---- the two writer MCUs ----

TEST_F(WriterBoardTest, EachMcuAnswersAtItsOwnAddresses)
{
    EXPECT_EQ(m1.enterIsp() & 0x40, 0x40);
    EXPECT_TRUE(board.m1Chip().inIspMode());
    EXPECT_FALSE(board.m2Chip().inIspMode());
    EXPECT_EQ(m2.enterIsp() & 0x40, 0x40);
    EXPECT_EQ(board.m1().size(), 0x28000u);
    board.endOfCall();
    EXPECT_FALSE(board.m1Chip().inIspMode());
    EXPECT_FALSE(board.m2Chip().inIspMode());
}

TEST_F(WriterBoardTest, MassEraseNeedsNoPreparationAndTouchesOnlyItsMcu)
{
    std::fill(board.m1().begin(), board.m1().end(), 0x00);
    std::fill(board.m2().begin(), board.m2().end(), 0x00);
    m2.enterIsp();
    EXPECT_TRUE(massErase(m2));
    EXPECT_EQ(std::count(board.m2().begin(), board.m2().end(), 0xFF), 0x28000);
    EXPECT_EQ(std::count(board.m1().begin(), board.m1().end(), 0x00), 0x28000);
}

// ---- writer banks and checksum units ----

TEST_F(WriterBoardTest, ThreeWriterBanksProgramAndAnswerTheirChecksums)
{
    const Bytes bank0 = randomBytes(0x10000, 9);
    const Bytes bank1 = randomBytes(0x10000, 10);
    const Bytes bank2 = randomBytes(0x8000, 11);
    for (McuLink* link : {&m1, &m2}) {
        link->enterIsp();
        ASSERT_TRUE(massErase(*link));
        link->programBank(0x40, bank0);
        link->programBank(0x44, bank1);
        link->programBank(0x60, bank2);
        EXPECT_EQ(link->unit(0x40, 0x80, 0x10000), wordSum(bank0.data(), 0x10000));
        EXPECT_EQ(link->unit(0x44, 0x90, 0x10000), wordSum(bank1.data(), 0x10000));
        EXPECT_EQ(link->unit(0x60, 0x80, 0x8000), wordSum(bank2.data(), 0x8000));
    }
    for (auto* flash : {&board.m1(), &board.m2()}) {
        EXPECT_TRUE(std::equal(bank0.begin(), bank0.end(), flash->begin()));
        EXPECT_TRUE(std::equal(bank1.begin(), bank1.end(), flash->begin() + 0x10000));
        EXPECT_TRUE(std::equal(bank2.begin(), bank2.end(), flash->begin() + 0x20000));
    }
}

TEST_F(WriterBoardTest, HeaderPageWrittenAfterTheBankLandsOnItsBlankBytes)
{
    Bytes bank0 = randomBytes(0x10000, 12);
    std::fill(bank0.begin() + 0x3FAC, bank0.begin() + 0x4000, 0xFF);
    m1.enterIsp();
    ASSERT_TRUE(massErase(m1));
    m1.programBank(0x40, bank0);
    Bytes page(bank0.begin() + 0x3F00, bank0.begin() + 0x4000);
    std::fill(page.begin() + 0xAC, page.end(), 0x5C);
    m1.write(0x90, 0x40);
    m1.programPage(0x3F, page);
    EXPECT_EQ(board.m1()[0x3FAB], bank0[0x3FAB]);
    EXPECT_EQ(board.m1()[0x3FAC], 0x5C);
    EXPECT_EQ(board.m1()[0x3FFF], 0x5C);
}

// ---- faults ----

class WriterBoardFaults : public WriterBoardTest {
protected:
    WriterBoardFaults() : WriterBoardTest("[faults]\ncrc_mismatch_once = 1\nstuck_busy = 1\n") {}
};

TEST_F(WriterBoardFaults, OnlyM1SpoilsItsFirstChecksumAndBothStickBusy)
{
    for (McuLink* link : {&m1, &m2}) {
        link->enterIsp();
        link->programPage(0, Bytes(256, 0x00));
        EXPECT_EQ(link->read(0x90) & 0x10, 0x10);
        clock.sleepMicros(10'000'000);
        EXPECT_EQ(link->read(0x90) & 0x10, 0x10);
    }
    EXPECT_EQ(board.m1()[0], 0x00);
    EXPECT_EQ(board.m1()[1], 0xFF);   // the stuck controller took only the first byte
    const std::uint16_t sum = wordSum(board.m1().data(), 0x10000);
    EXPECT_NE(m1.unit(0x40, 0x80, 0x10000), sum);
    EXPECT_EQ(m1.unit(0x40, 0x80, 0x10000), sum);
    EXPECT_EQ(m2.unit(0x40, 0x80, 0x10000), sum);
}

}  // namespace
}  // namespace mvx::sim::test
