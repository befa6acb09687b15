#include "mvx/sim/board_config.hpp"

#include <gtest/gtest.h>

#include "temp_folder.hpp"

using mvx::sim::BoardConfig;
using mvx::sim::BoardTarget;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

TEST(BoardConfig, MissingFileGivesTheDefaultBoard)
{
    TempFolder folder;
    std::string error;
    const BoardConfig config = BoardConfig::load(folder.file("board.ini"), &error);
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(config.target, BoardTarget::SerialFlash);
    EXPECT_EQ(config.flashPart, "W25X40A");
    EXPECT_EQ(config.icCode, 2);
    EXPECT_EQ(config.scalerAddress, 0x94);
    EXPECT_FALSE(config.writeProtect);
    EXPECT_FALSE(config.linkDead);
    EXPECT_EQ(config.busKhz, 100u);
    EXPECT_FALSE(config.faults.stuckBusy);
    EXPECT_FALSE(config.faults.badByte.has_value());
    EXPECT_FALSE(config.faults.nackAfter.has_value());
}

TEST(BoardConfig, EveryKeyIsRead)
{
    TempFolder folder;
    writeWholeFile(folder.file("board.ini"),
                   "[board]\ntarget=5312\nflash=MX25L4005\nic_code=0x61\nscaler_address=0x98\n"
                   "write_protect=1\nlink=dead\nbus_khz=400\nhold_ms=1500\n"
                   "[faults]\nstuck_busy=1\ncrc_mismatch_once=1\nbad_byte=0x3F000\nnack_after=12\n");
    std::string error;
    const BoardConfig config = BoardConfig::load(folder.file("board.ini"), &error);
    EXPECT_TRUE(error.empty()) << error;
    EXPECT_EQ(config.target, BoardTarget::Mcu5312);
    EXPECT_EQ(config.flashPart, "MX25L4005");
    EXPECT_EQ(config.icCode, 0x61);
    EXPECT_EQ(config.scalerAddress, 0x98);
    EXPECT_TRUE(config.writeProtect);
    EXPECT_TRUE(config.linkDead);
    EXPECT_EQ(config.busKhz, 400u);
    EXPECT_EQ(config.holdMillis, 1500u);
    EXPECT_TRUE(config.faults.stuckBusy);
    EXPECT_TRUE(config.faults.crcMismatchOnce);
    EXPECT_EQ(config.faults.badByte, 0x3F000u);
    EXPECT_EQ(config.faults.nackAfter, 12u);
}

TEST(BoardConfig, ValuesThatCannotBeUnderstoodAreErrors)
{
    const char* bad[] = {
        "[board]\ntarget=5311\n",       "[board]\nic_code=300\n",   "[board]\nic_code=two\n",
        "[board]\nscaler_address=0x95\n", "[board]\nbus_khz=0\n",   "[faults]\nbad_byte=-1\n",
        "[faults]\nnack_after=many\n",  "[board]\nhold_ms=-5\n",
    };
    for (const char* text : bad) {
        std::string error;
        BoardConfig::parse(mvx::platform::IniDocument::parse(text), &error);
        EXPECT_FALSE(error.empty()) << text;
        EXPECT_EQ(error.rfind("board.ini: ", 0), 0u) << error;
    }
}

TEST(BoardConfig, TargetNamesRoundTrip)
{
    for (auto target : {BoardTarget::SerialFlash, BoardTarget::Mcu5310, BoardTarget::Mcu5312,
                        BoardTarget::OneToFour}) {
        std::string error;
        auto ini = mvx::platform::IniDocument::parse(std::string("[board]\ntarget=") +
                                                     mvx::sim::targetName(target) + "\n");
        EXPECT_EQ(BoardConfig::parse(ini, &error).target, target);
        EXPECT_TRUE(error.empty());
    }
}
