#include <gtest/gtest.h>

#include <algorithm>

#include "mcu_harness.hpp"

namespace mvx::sim::test {
namespace {

class Mcu5312 : public ::testing::Test {
protected:
    Mcu5312() : bus(clock), config(boardConfig("")), mcu(McuType::M5312, clock, config) { mcu.attach(bus, 0x94); }

    VirtualClock clock;
    I2cBus bus;
    BoardConfig config;
    Mcu mcu;
    McuLink link{bus, 0x94};
};

// ---- ISP handshake and flash preparation ----

TEST_F(Mcu5312, HandshakeSetsBit6AndTheUnlockNeedsThe5312FlashMode)
{
    EXPECT_EQ(link.enterIsp() & 0x40, 0x40);
    link.prepare(0x80);   // the 5310's value
    EXPECT_FALSE(mcu.flashUnlocked());
    link.prepare(0x84);
    EXPECT_TRUE(mcu.flashUnlocked());
}

// ---- banks and erase ----

TEST_F(Mcu5312, BankSelectsPlaceDataInTheThreeBanks)
{
    link.enterIsp();
    link.prepare(0x84);
    const std::uint8_t selects[] = {0x40, 0x44, 0x60};
    for (std::uint8_t bank = 0; bank < 3; ++bank) {
        link.write(0x90, selects[bank]);
        EXPECT_EQ(link.read(0x90), selects[bank]);
        link.programPage(2, Bytes(256, bank));
        EXPECT_EQ(mcu.flash()[bank * 0x10000 + 0x200], bank);
    }
    EXPECT_EQ(mcu.stats().programmedBytes, 3 * 256u);
}

TEST_F(Mcu5312, PageEraseReachesBank2ThroughTheUpperWindow)
{
    std::fill(mcu.flash().begin(), mcu.flash().end(), 0x00);
    link.enterIsp();
    link.prepare(0x84);
    link.write(0x90, 0x40);
    link.write(0x91, 0x80 | 64);
    EXPECT_TRUE(link.waitClear(0x91, 0x80, 400));
    link.write(0x90, 0x42);
    link.write(0x91, 0x80 | 3);
    EXPECT_TRUE(link.waitClear(0x91, 0x80, 400));
    EXPECT_EQ(std::count(mcu.flash().begin(), mcu.flash().end(), 0xFF), 2048);
    EXPECT_EQ(mcu.flash()[0x10000], 0xFF);
    EXPECT_EQ(mcu.flash()[0x20C00], 0xFF);
    EXPECT_EQ(mcu.flash()[0x20BFF], 0x00);
}

// ---- CRC and checksum units ----

TEST_F(Mcu5312, Crc16MatchesThePublishedCheckValue)
{
    const std::string text = "123456789";
    std::copy(text.begin(), text.end(), mcu.flash().begin());
    link.enterIsp();
    EXPECT_EQ(link.unit(0x40, 0xA0, 9), 0x31C3);
}

TEST_F(Mcu5312, UnitsTakeTheBankHalfFromTheStartCode)
{
    const Bytes image = randomBytes(0x28000, 7);
    std::copy(image.begin(), image.end(), mcu.flash().begin());
    const std::uint8_t* bank0 = image.data();
    const std::uint8_t* bank1 = bank0 + 0x10000;
    const std::uint8_t* bank2 = bank0 + 0x20000;
    link.enterIsp();
    EXPECT_EQ(link.unit(0x40, 0xA0, 0x10000), crc16Xmodem(bank0, 0x10000));
    EXPECT_EQ(link.unit(0x44, 0xB0, 0x10000), crc16Xmodem(bank1, 0x10000));
    EXPECT_EQ(link.unit(0x60, 0xA0, 0x8000), crc16Xmodem(bank2, 0x8000));
    EXPECT_EQ(link.unit(0x44, 0xA0, 0x10000), crc16Xmodem(bank0, 0x10000));
    EXPECT_EQ(link.unit(0x40, 0x80, 0x10000), wordSum(bank0, 0x10000));
    EXPECT_EQ(link.unit(0x44, 0x90, 300), wordSum(bank1, 300));
    EXPECT_EQ(link.unit(0x60, 0x80, 0x8000), wordSum(bank2, 0x8000));
}

TEST_F(Mcu5312, ResetPublishesNoChecksums)
{
    std::fill(mcu.flash().begin(), mcu.flash().end(), 0x12);
    link.enterIsp();
    link.write(0x39, 0x02);
    clock.sleepMicros(2'000'000);
    link.write(0x90, 0x40);
    EXPECT_EQ(link.read(0xA0) | link.read(0xA1) | link.read(0x92) | link.read(0x93), 0);
}

// ---- a whole run: page erase, three banks, CRC and checksum ----

TEST_F(Mcu5312, PageEraseRunProgramsAndVerifiesAllThreeBanks)
{
    std::fill(mcu.flash().begin(), mcu.flash().end(), 0x00);
    const Bytes image = randomBytes(0x20000 + 20 * 1024, 8);
    ASSERT_EQ(link.enterIsp() & 0x40, 0x40);
    link.prepare(0x84);
    link.write(0x90, 0x40);
    for (int page = 0; page < 128; ++page) {
        link.write(0x91, static_cast<std::uint8_t>(0x80 | page));
        ASSERT_TRUE(link.waitClear(0x91, 0x80, 400));
    }
    link.write(0x90, 0x42);
    for (int page = 0; page < 20; ++page) {
        link.write(0x91, static_cast<std::uint8_t>(0x80 | page));
        ASSERT_TRUE(link.waitClear(0x91, 0x80, 400));
    }
    const std::uint8_t selects[] = {0x40, 0x44, 0x60};
    const std::uint8_t crcStarts[] = {0xA0, 0xB0, 0xA0};
    const std::uint8_t sumStarts[] = {0x80, 0x90, 0x80};
    for (int bank = 2; bank >= 0; --bank) {
        const std::uint32_t length = bank == 2 ? 20 * 1024 : 0x10000;
        const Bytes bankImage(image.begin() + bank * 0x10000, image.begin() + bank * 0x10000 + length);
        link.programBank(selects[bank], bankImage);
        EXPECT_EQ(link.unit(selects[bank], crcStarts[bank], length), crc16Xmodem(bankImage.data(), length));
        EXPECT_EQ(link.unit(selects[bank], sumStarts[bank], length), wordSum(bankImage.data(), length));
    }
    link.write(0x39, 0x02);
    link.write(0x39, 0x02);
    EXPECT_FALSE(mcu.inIspMode());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), mcu.flash().begin()));
    EXPECT_EQ(mcu.flash()[0x20000 + 20 * 1024], 0x00);   // past the erased pages
}

}  // namespace
}  // namespace mvx::sim::test
