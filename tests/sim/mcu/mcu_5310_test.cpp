#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "mcu_harness.hpp"

namespace mvx::sim::test {
namespace {

class Mcu5310 : public ::testing::Test {
protected:
    Mcu5310() { build(""); }
    // A fresh chip on a fresh bus, for the board.ini text given.
    void build(const std::string& ini, unsigned busKhz = 100)
    {
        bus = std::make_unique<I2cBus>(clock, busKhz);
        config = boardConfig(ini);
        mcu = std::make_unique<Mcu>(McuType::M5310, clock, config);
        mcu->attach(*bus, 0x94);
        link = std::make_unique<McuLink>(*bus, 0x94);
    }
    void enterAndPrepare()
    {
        ASSERT_EQ(link->enterIsp(), 0x40);
        link->prepare(0x80);
        ASSERT_TRUE(mcu->flashUnlocked());
    }
    bool blank(std::size_t from, std::size_t to) const
    {
        return std::all_of(mcu->flash().begin() + from, mcu->flash().begin() + to, [](auto b) { return b == 0xFF; });
    }

    VirtualClock clock;
    std::unique_ptr<I2cBus> bus;
    BoardConfig config;
    std::unique_ptr<Mcu> mcu;
    std::unique_ptr<McuLink> link;
};

// ---- ISP handshake and reset ----

TEST_F(Mcu5310, HandshakeReadsExactly0x40AndNeedsTheCpuHalt)
{
    link->write(0x90, 0x40);
    EXPECT_EQ(link->read(0x90), 0x00);
    EXPECT_EQ(link->enterIsp(), 0x40);
    EXPECT_TRUE(mcu->inIspMode());
    link->write(0x39, 0x02);
    EXPECT_FALSE(mcu->inIspMode());
    EXPECT_EQ(link->read(0x90) & 0x40, 0);
}

TEST_F(Mcu5310, OutsideIspModeTheFlashControllerTakesNoWrites)
{
    link->write(0x90, 0x40);
    link->burst(0x92, {7, 9});
    link->write(0x94, 0x00);
    EXPECT_EQ(link->read(0x92), 0);
    EXPECT_TRUE(blank(0, mcu->flash().size()));
}

// ---- flash preparation and lock ----

TEST_F(Mcu5310, SetupRegistersReadBackAndTheUnlockOpensTheFlash)
{
    link->enterIsp();
    link->prepare(0x80);
    EXPECT_EQ(link->read(0x38), 0x80);
    EXPECT_EQ(link->read(0x10), 0xC1);
    EXPECT_EQ(link->read(0x12), 0x10);
    EXPECT_TRUE(mcu->flashUnlocked());
    link->write(0x39, 0x02);
    link->enterIsp();
    EXPECT_FALSE(mcu->flashUnlocked());
}

TEST_F(Mcu5310, LockedFlashIgnoresEraseAndProgram)
{
    std::fill(mcu->flash().begin(), mcu->flash().end(), 0x5A);
    link->enterIsp();
    link->burst(0xB0, Bytes(kMcuUnlockCode.begin(), kMcuUnlockCode.end()));   // before the set-up: refused
    EXPECT_FALSE(mcu->flashUnlocked());
    link->write(0x90, 0xC0);
    EXPECT_EQ(link->read(0x90), 0x40);
    link->programPage(0, Bytes(256, 0x00));
    EXPECT_EQ(std::count(mcu->flash().begin(), mcu->flash().end(), 0x5A), 0x18000);
    EXPECT_GT(mcu->stats().refused, 256u);
}

TEST_F(Mcu5310, WrongOrShortUnlockCodeLocksTheFlashAgain)
{
    link->enterIsp();
    link->prepare(0x80);
    Bytes wrong(kMcuUnlockCode.begin(), kMcuUnlockCode.end());
    wrong[4] ^= 1;
    link->burst(0xB0, wrong);
    EXPECT_FALSE(mcu->flashUnlocked());
    link->burst(0xB0, Bytes(kMcuUnlockCode.begin(), kMcuUnlockCode.begin() + 4));
    EXPECT_FALSE(mcu->flashUnlocked());
}

// ---- erase ----

TEST_F(Mcu5310, MassEraseBlanksTheFlashAndStaysBusyUntilDone)
{
    std::fill(mcu->flash().begin(), mcu->flash().end(), 0x00);
    enterAndPrepare();
    link->write(0x90, 0xC0);
    EXPECT_EQ(link->read(0x90), 0xC0);
    clock.sleepMicros(90'000);
    EXPECT_EQ(link->read(0x90) & 0x80, 0x80);
    EXPECT_TRUE(link->waitClear(0x90, 0x80, 400));
    EXPECT_EQ(link->read(0x90), 0x40);
    EXPECT_TRUE(blank(0, 0x18000));
    EXPECT_EQ(link->unit(0x40, 0x80, 0x10000), 0xDE);   // CRC-8 of 64 KB of 0xFF
}

TEST_F(Mcu5310, PageEraseClearsOnlyItsKilobyteAndIgnoresPagesPastTheFlash)
{
    std::fill(mcu->flash().begin(), mcu->flash().end(), 0x00);
    enterAndPrepare();
    link->write(0x90, 0x40);
    link->write(0x91, 0x80 | 66);
    EXPECT_EQ(link->read(0x91), 0x80 | 66);
    EXPECT_TRUE(link->waitClear(0x91, 0x80, 400));
    EXPECT_TRUE(blank(66 * 1024, 67 * 1024));
    EXPECT_EQ(mcu->flash()[66 * 1024 - 1], 0x00);
    EXPECT_EQ(mcu->flash()[67 * 1024], 0x00);
    link->write(0x91, 0x80 | 100);
    EXPECT_EQ(link->read(0x91), 100);
    EXPECT_EQ(mcu->stats().pageErases, 1u);
}

// ---- programming ----

TEST_F(Mcu5310, ProgramsPagesThroughThePageRegistersAndTheTransferBlock)
{
    enterAndPrepare();
    const Bytes first = randomBytes(256, 1);
    const Bytes second = randomBytes(256, 2);
    link->write(0x90, 0x40);
    link->programPage(5, first);
    link->write(0x90, 0x60);
    EXPECT_EQ(link->read(0x90), 0x60);
    link->programPageByFrames(3, second);
    EXPECT_TRUE(std::equal(first.begin(), first.end(), mcu->flash().begin() + 0x0500));
    EXPECT_TRUE(std::equal(second.begin(), second.end(), mcu->flash().begin() + 0x10300));
    EXPECT_EQ(mcu->stats().programmedBytes, 512u);
}

TEST_F(Mcu5310, ProgrammingWithoutEraseOnlyClearsBits)
{
    std::fill(mcu->flash().begin(), mcu->flash().end(), 0x0F);
    enterAndPrepare();
    link->programPage(0, Bytes(256, 0xF3));
    EXPECT_EQ(mcu->flash()[0], 0x03);
    EXPECT_EQ(mcu->flash()[255], 0x03);
}

TEST_F(Mcu5310, PrimarySlaveKeepsTheRegisterSoAPageAddressBurstThereMisses)
{
    enterAndPrepare();
    bus->writeRegister(0x94, 0x92, Bytes{5, 0x10});
    bus->writeRegister(0x94, 0x94, Bytes{0x00});
    EXPECT_EQ(mcu->flash()[0x1000], 0x00);
    EXPECT_EQ(mcu->flash()[0x0500], 0xFF);
}

TEST_F(Mcu5310, Bank1PagesPast32KbAreRefused)
{
    enterAndPrepare();
    link->write(0x90, 0x60);
    link->programPage(0x80, Bytes(256, 0x00));
    EXPECT_TRUE(blank(0, mcu->flash().size()));
    EXPECT_EQ(mcu->stats().refused, 256u);
}

TEST_F(Mcu5310, ProgramBusyBitStaysUpWhileTheFlashCatchesUp)
{
    build("", 100000);
    enterAndPrepare();
    link->programPage(0, Bytes(256, 0x00));
    EXPECT_EQ(link->read(0x90), 0x50);
    clock.sleepMicros(256 * McuTiming::byteProgramMicros);
    EXPECT_EQ(link->read(0x90), 0x40);
}

// ---- CRC unit ----

TEST_F(Mcu5310, CrcUnitAnswersTheCrc8OfTheRangeOnlyWhenDone)
{
    enterAndPrepare();
    const Bytes image = randomBytes(0x8000, 3);
    link->programBank(0x60, image);
    link->write(0x90, 0x60);
    link->burst(0x92, {0, 0});
    link->burst(0xA0, {0x7F, 0xFF});
    link->write(0xA2, 0x80);
    EXPECT_EQ(link->read(0xA2), 0x80);
    EXPECT_EQ(link->read(0x90), 0x68);
    EXPECT_EQ(link->read(0xA3), 0x00);
    clock.sleepMicros(0x8000 / McuTiming::unitBytesPerMicro);
    EXPECT_EQ(link->read(0xA2), 0x40);
    EXPECT_EQ(link->read(0xA3), crc8Smbus(image.data(), image.size()));
    EXPECT_EQ(link->read(0xA4), 0x00);
    EXPECT_EQ(link->unit(0x60, 0x80, 300), crc8Smbus(image.data(), 300));   // end offset 0x012B
}

// ---- checksums after reset ----

TEST_F(Mcu5310, ResetLeavesTheBankChecksumsIn0xA0And0x92AfterBoot)
{
    const Bytes bank0 = randomBytes(0x10000, 4);
    const Bytes bank1 = randomBytes(0x8000, 5);
    std::copy(bank0.begin(), bank0.end(), mcu->flash().begin());
    std::copy(bank1.begin(), bank1.end(), mcu->flash().begin() + 0x10000);
    link->enterIsp();
    link->write(0x39, 0x02);
    link->write(0x39, 0x02);
    link->write(0x90, 0x40);
    EXPECT_EQ(link->read(0xA0), 0x00);   // the boot code has not got there yet
    clock.sleepMicros(2'000'000);
    link->write(0x90, 0x40);
    const std::uint16_t sum0 = byteSum(bank0.data(), bank0.size());
    const std::uint16_t sum1 = byteSum(bank1.data(), bank1.size());
    EXPECT_EQ(link->read(0xA0), sum0 >> 8);
    EXPECT_EQ(link->read(0xA1), sum0 & 0xFF);
    EXPECT_EQ(link->read(0x92), sum1 >> 8);
    EXPECT_EQ(link->read(0x93), sum1 & 0xFF);
}

TEST_F(Mcu5310, EndOfCallTakesTheChipOutOfIspMode)
{
    link->enterIsp();
    mcu->endOfCall();
    EXPECT_FALSE(mcu->inIspMode());
}

TEST_F(Mcu5310, ResetPublishesNoChecksums)
{
    build("[board]\nmcu_reset = clear\n");
    std::fill(mcu->flash().begin(), mcu->flash().end(), 0x12);
    link->enterIsp();
    link->write(0x39, 0x02);
    clock.sleepMicros(2'000'000);
    EXPECT_EQ(link->read(0xA0) | link->read(0xA1) | link->read(0x92) | link->read(0x93), 0);
    EXPECT_FALSE(mcu->inIspMode());
}

TEST_F(Mcu5310, ChipStaysInIspModeAcrossResetAndEndOfCall)
{
    build("[board]\nmcu_reset = stay\n");
    enterAndPrepare();
    link->write(0x39, 0x02);
    mcu->endOfCall();
    EXPECT_TRUE(mcu->inIspMode());
    EXPECT_TRUE(mcu->flashUnlocked());
}

TEST_F(Mcu5310, LastBankSizeLimitsProgrammingAndTheBootChecksum)
{
    build("[board]\nmcu_last_bank_kb = 20\n");
    enterAndPrepare();
    link->write(0x90, 0x60);
    link->programPage(0x4F, Bytes(256, 0x01));
    link->programPage(0x50, Bytes(256, 0x01));
    EXPECT_EQ(mcu->flash()[0x14FFF], 0x01);
    EXPECT_EQ(mcu->flash()[0x15000], 0xFF);
    link->write(0x39, 0x02);
    clock.sleepMicros(2'000'000);
    const unsigned sum1 = (0x5000 - 256) * 0xFF + 256 * 0x01;
    EXPECT_EQ(link->read(0x92), (sum1 >> 8) & 0xFF);
    EXPECT_EQ(link->read(0x93), sum1 & 0xFF);
}

// ---- faults ----

TEST_F(Mcu5310, MassEraseNeverFinishesAndTheControllerTakesNothingMore)
{
    build("[faults]\nstuck_busy = 1\n");
    enterAndPrepare();
    link->write(0x90, 0xC0);
    EXPECT_FALSE(link->waitClear(0x90, 0x80, 400));
    clock.sleepMicros(3'600'000'000ull);
    EXPECT_EQ(link->read(0x90) & 0x80, 0x80);
    link->programPage(0, Bytes(256, 0x00));
    EXPECT_TRUE(blank(0, 256));
}

TEST_F(Mcu5310, FirstCrcAfterProgrammingIsWrongTheNextRight)
{
    build("[faults]\ncrc_mismatch_once = 1\n");
    enterAndPrepare();
    EXPECT_EQ(link->unit(0x40, 0x80, 0x10000), 0xDE);   // nothing programmed yet
    const Bytes image = randomBytes(0x10000, 6);
    link->programBank(0x40, image);
    const std::uint8_t expected = crc8Smbus(image.data(), image.size());
    EXPECT_NE(link->unit(0x40, 0x80, 0x10000), expected);
    EXPECT_EQ(link->unit(0x40, 0x80, 0x10000), expected);
}

// ---- board.ini ----

TEST(McuSettings, BadValuesAreReportedAndKeepTheDefaults)
{
    std::string error;
    auto settings = McuSettings::read(boardConfig("[board]\nmcu_reset = sometimes\n"), &error);
    EXPECT_NE(error.find("mcu_reset"), std::string::npos);
    EXPECT_EQ(settings.reset, McuReset::Checksums);
    error.clear();
    settings = McuSettings::read(boardConfig("[board]\nmcu_last_bank_kb = 33\n"), &error);
    EXPECT_NE(error.find("mcu_last_bank_kb"), std::string::npos);
    EXPECT_EQ(settings.lastBankKb, 32u);
}

}  // namespace
}  // namespace mvx::sim::test
