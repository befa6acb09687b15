// A whole flash written the way the engine writes it, through the assembled
// board in its folder, and found again in flash.bin.
#include <gtest/gtest.h>

#include <span>

#include "mvx/sim/board.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

using mvx::sim::Board;
using mvx::test::firmwarePattern;
using mvx::test::referenceCrc8;
using mvx::test::ScalerDriver;
using mvx::test::TempFolder;

TEST(WholeFlash, EightBanksProgrammedPageByPageVerifyAndLandInFlashBin)
{
    TempFolder folder;
    std::string error;
    auto board = Board::open(folder.path(), &error);
    ASSERT_NE(board, nullptr) << error;
    // Start from a flash that is not blank, so the erases matter.
    std::fill(board->flash()->array().begin(), board->flash()->array().end(), std::uint8_t{0x00});

    const auto image = firmwarePattern(512 * 1024);
    ScalerDriver isp(board->bus(), board->clock());
    ASSERT_TRUE(isp.ready(0x00));
    for (std::uint32_t bank = 0; bank < 8; ++bank) {
        ASSERT_TRUE(isp.eraseBlock64(static_cast<std::uint8_t>(bank))) << bank;
        EXPECT_EQ(isp.crc(bank << 16, (bank << 16) | 0xFFFF), 0xDE) << "blank bank " << bank;
        isp.setUp();
        isp.write(0x6D, {0x02});
        isp.write(0x71, {0xFF});
        for (std::uint32_t page = 0; page < 256; ++page) {
            const std::uint32_t at = (bank << 16) | (page << 8);
            ASSERT_TRUE(isp.programPage(at, std::span(image).subspan(at, 256))) << bank << ":" << page;
        }
        const auto bankBytes = std::span(image).subspan(bank << 16, 0x10000);
        EXPECT_EQ(isp.crc(bank << 16, (bank << 16) | 0xFFFF), referenceCrc8(bankBytes)) << bank;
    }
    ASSERT_TRUE(board->finishCall(&error)) << error;

    const std::string saved = mvx::test::readWholeFile(folder.file("flash.bin"));
    ASSERT_EQ(saved.size(), image.size());
    EXPECT_TRUE(std::equal(image.begin(), image.end(), reinterpret_cast<const std::uint8_t*>(saved.data())));
    const auto run = mvx::platform::loadIni(folder.file("run.ini"));
    ASSERT_TRUE(run.has_value());
    // 2,048 pages of 258-byte frames at least went over the bus.
    EXPECT_GT(std::stoull(run->value("run", "bus_bytes").value_or("0")), 2048ull * 258ull);
    EXPECT_GT(std::stoull(run->value("run", "virtual_ms").value_or("0")), 1000ull);
}
