#include "mvx/sim/scaler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <vector>

#include "scaler_driver.hpp"

namespace mvx::sim {
namespace {

std::uint8_t crc8(const std::uint8_t* data, std::size_t length)
{
    return mvx::test::referenceCrc8(std::span(data, length));
}

std::vector<std::uint8_t> pattern(std::size_t length, unsigned seed = 7)
{
    std::vector<std::uint8_t> data(length);
    for (std::size_t i = 0; i < length; ++i)
        data[i] = static_cast<std::uint8_t>(i * 31 + seed + (i >> 8));
    return data;
}

// A scaler with its flash on a 100 kHz bus, driven with the register
// sequences of the ISP software.
struct Devices {
    Devices(const char* part, const BoardConfig& board)
        : config(board), flash(*findFlashPart(part), clock, config), isp(flash, clock, config)
    {
        isp.attach(bus);
    }
    VirtualClock clock;
    BoardConfig config;
    SpiFlash flash;
    I2cBus bus{clock};
    ScalerIsp isp;
};

struct Board : Devices, mvx::test::ScalerDriver {
    explicit Board(const char* part = "W25X40A", BoardConfig board = {})
        : Devices(part, board), ScalerDriver(bus, clock, isp.primaryAddress())
    {
    }
    using ScalerDriver::programPage;
    using ScalerDriver::sendPage;
    bool sendPage(const std::uint8_t* data) { return sendPage(std::span(data, 256)); }
    bool programPage(std::uint32_t at, const std::uint8_t* data) { return programPage(at, std::span(data, 256)); }
    void fill(std::uint32_t from, std::size_t length, std::uint8_t value)
    {
        std::fill_n(flash.array().begin() + from, length, value);
    }
};

// ---- addresses, registers and the indirect registers ----

TEST(ScalerIsp, AnswersAtTheScalerAddressAndTheOneAboveIt)
{
    BoardConfig config;
    config.scalerAddress = 0x98;
    Board board("W25X40A", config);
    std::uint8_t probe = 0;
    EXPECT_FALSE(board.bus.readRegister(0x94, 0x6F, {&probe, 1}));
    EXPECT_TRUE(board.write(0x64, {0x03, 0xF0, 0x12}, true));   // 0x9A
    std::uint8_t bytes[3] = {};
    EXPECT_TRUE(board.bus.readRegister(0x98, 0x64, bytes));
    EXPECT_EQ((std::vector<std::uint8_t>{bytes, bytes + 3}), (std::vector<std::uint8_t>{0x03, 0xF0, 0x12}));
}

TEST(ScalerIsp, IndirectIndexZeroAnswersTheIcCodeAndPinSetUpIsKept)
{
    BoardConfig config;
    config.icCode = 0x35;
    Board board("W25X40A", config);
    board.write(0xF4, {0x00, 0x77});
    EXPECT_EQ(board.read(0xF5), 0x35);
    // Write-protect pin set-up of scaler series 1, pin 0, level 1.
    board.write(0x01, {0x00});
    for (auto [index, value] : {std::pair{0x8B, 0xC3}, {0x8C, 0x02}, {0x9F, 0x10}, {0xAD, 0x08}})
        board.write(0xF4, {std::uint8_t(index)}), board.write(0xF5, {std::uint8_t(value)});
    board.write(0xD4, {0x01});
    board.write(0xE2, {0x12, 0x34});
    EXPECT_EQ(board.isp.indirectValue(0x8B), 0xC3);
    EXPECT_EQ(board.isp.indirectValue(0xAD), 0x08);
    board.write(0xF4, {0x9F});
    EXPECT_EQ(board.read(0xF5), 0x10);
    EXPECT_EQ(board.read(0xD4), 0x01);
    EXPECT_EQ(board.read(0xE3), 0x34);
}

// ---- ISP mode ----

TEST(ScalerIsp, EntryEnablesIspModeAndClearsModeBitOfIndex09)
{
    Board board;
    EXPECT_EQ(board.isp.indirectValue(0x09) & 0x04, 0x04);
    board.enter();
    EXPECT_EQ(board.read(0x6F), 0x90);   // enabled, page buffer ready
    EXPECT_EQ(board.isp.indirectValue(0x09), 0x00);
    EXPECT_EQ(board.read(0xED), 0x88);
    EXPECT_EQ(board.read(0xEE), 0x04);
}

TEST(ScalerIsp, WithoutIspModeNothingReachesTheFlash)
{
    Board board;
    board.write(0x67, {0x5A});
    board.write(0x60, {0x46}), board.write(0x61, {0x9F}), board.write(0x60, {0x47});
    EXPECT_EQ(board.read(0x60) & 0x01, 0);
    EXPECT_EQ(board.read(0x67), 0x5A);
    EXPECT_FALSE(board.write(0x70, {0x11, 0x22}));
    EXPECT_EQ(board.read(0x70), 0xFF);
    board.write(0x6F, {0x24});
    EXPECT_EQ(board.flash.stats().commands, 0u);
    EXPECT_EQ(board.isp.stats().refusedStarts, 2u);
}

// ---- identification ----

TEST(ScalerIsp, IdentificationFormsReturnThePartsAnswers)
{
    Board board;
    board.enter();
    board.command(0x46, 0x9F);
    EXPECT_EQ(board.read(0x67), 0xEF);
    EXPECT_EQ(board.read(0x68), 0x30);
    EXPECT_EQ(board.read(0x69), 0x13);
    board.command(0x5A, 0xAB, {0, 0, 0});
    EXPECT_EQ(board.read(0x67), 0x12);
    board.command(0x5E, 0x90, {0, 0, 0});
    EXPECT_EQ(board.read(0x67), 0xEF);
    EXPECT_EQ(board.read(0x68), 0x12);
    board.command(0x42, 0x05);
    EXPECT_EQ(board.read(0x67), 0x00);
}

TEST(ScalerIsp, SstSignatureReadLeavesTheDeviceIdIn0x68)
{
    Board board("SST25LF040A");
    board.enter();
    board.command(0x5A, 0xAB, {0, 0, 0});
    EXPECT_EQ(board.read(0x67), 0xBF);
    EXPECT_EQ(board.read(0x68), 0x44);
}

// ---- status writes and erases ----

TEST(ScalerIsp, StatusWritesAndErasesGoOutBehindTheWriteEnableOf0x62)
{
    Board board;
    board.fill(0, 0x10000, 0x00);
    board.enter();
    board.setUp();
    EXPECT_TRUE(board.command(0x68, 0x01, {0x1C}));
    EXPECT_EQ(board.flash.status(), 0x1C);
    EXPECT_TRUE(board.command(0x68, 0x01, {0x00}));
    board.reset();   // 0x62 = 0xFF: no write enable goes out any more
    EXPECT_TRUE(board.command(0x68, 0x01, {0x1C}));
    EXPECT_TRUE(board.command(0xB8, 0xD8, {0x00, 0x00, 0x00}, 400));
    EXPECT_EQ(board.flash.status(), 0x00);
    EXPECT_EQ(board.flash.array()[0x1234], 0x00);
}

TEST(ScalerIsp, SectorEraseBlanksTheHdcpSectorWhoseCrcIs09)
{
    Board board;
    board.fill(0x030000, 0x10000, 0x00);
    ASSERT_TRUE(board.ready());
    board.address(0x03F000);
    board.write(0x60, {0xB8}), board.write(0x61, {0x20}), board.write(0x60, {0xB9});
    EXPECT_EQ(board.read(0x60), 0xB9);   // running until the flash is done
    EXPECT_TRUE(board.waitClear(0x60, 0x01, 400));
    EXPECT_EQ(board.crc(0x03F000, 0x03FFFF), 0x09);
    EXPECT_EQ(board.flash.array()[0x03EFFF], 0x00);
    EXPECT_EQ(board.flash.array()[0x03F000], 0xFF);
}

TEST(ScalerIsp, BlockAndChipEraseGiveBlankBanks)
{
    Board board;
    board.fill(0, board.flash.array().size(), 0x00);
    ASSERT_TRUE(board.ready());
    EXPECT_TRUE(board.command(0xB8, 0xD8, {0x01, 0x00, 0x00}, 400));
    EXPECT_EQ(board.crc(0x010000, 0x01FFFF), 0xDE);
    EXPECT_EQ(board.crc(0x000000, 0x00FFFF), 0x00);
    board.write(0x60, {0xA0}), board.write(0x61, {0xC7}), board.write(0x60, {0xA1});
    board.clock.sleepMicros(50'000);
    EXPECT_FALSE(board.waitClear(0x60, 0x01, 10));   // a whole chip takes seconds
    EXPECT_TRUE(board.waitClear(0x60, 0x01, 900));
    EXPECT_TRUE(std::all_of(board.flash.array().begin(), board.flash.array().end(),
                            [](std::uint8_t byte) { return byte == 0xFF; }));
}

TEST(ScalerIsp, ProtectBitsBlockEraseAndProgram)
{
    Board board;
    board.fill(0, 0x10000, 0x00);
    ASSERT_TRUE(board.ready(0xFC));
    EXPECT_TRUE(board.command(0xB8, 0xD8, {0x00, 0x00, 0x00}, 400));
    const auto data = pattern(256);
    EXPECT_TRUE(board.programPage(0x000000, data.data()));
    EXPECT_TRUE(std::all_of(board.flash.array().begin(), board.flash.array().begin() + 0x10000,
                            [](std::uint8_t byte) { return byte == 0x00; }));
    EXPECT_EQ(board.crc(0, 0xFFFF), crc8(board.flash.array().data(), 0x10000));
}

// ---- page programming ----

TEST(ScalerIsp, TransferBlockFrameProgramsOnePageWhileBit5ReadsBusy)
{
    Board board;
    ASSERT_TRUE(board.ready());
    board.address(0x012000);
    const auto data = pattern(256);
    EXPECT_TRUE(board.sendPage(data.data()));
    board.write(0x6F, {0xA0});
    EXPECT_EQ(board.read(0x6F) & 0x30, 0x20);   // busy, buffer not ready
    EXPECT_FALSE(board.write(0x70, {0x55}));    // refused while programming
    EXPECT_TRUE(board.waitClear(0x6F, 0x20, 150));
    EXPECT_EQ(board.read(0x6F) & 0x30, 0x10);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), board.flash.array().begin() + 0x012000));
    EXPECT_EQ(board.read(0x65), 0x21);   // the address moved on by a page
    EXPECT_EQ(board.crc(0x012000, 0x0120FF), crc8(data.data(), 256));
}

TEST(ScalerIsp, ImageOf300BytesVerifiesAgainstTheDeviceCrc)
{
    Board board;
    ASSERT_TRUE(board.ready());
    auto image = pattern(512);
    std::fill(image.begin() + 300, image.end(), 0xFF);
    ASSERT_TRUE(board.programPage(0x020000, image.data()));
    // The second page through the 256-byte register burst.
    board.address(0x020100);
    ASSERT_TRUE(board.bus.writeRegister(board.primary(), 0x70, {image.data() + 256, 256}));
    board.write(0x6F, {0xA0});
    ASSERT_TRUE(board.waitClear(0x6F, 0x20, 150));
    EXPECT_EQ(board.crc(0x020000, 0x02012B), crc8(image.data(), 300));
}

TEST(ScalerIsp, SstByteModeProgramsOneByteper0x6FStart)
{
    Board board("SST25LF040A");
    board.enter();
    board.setUp();
    ASSERT_TRUE(board.command(0x20, 0x06, {}, 400) && board.command(0x88, 0x01, {0x00}, 400));
    board.write(0x6F, {0x80}), board.write(0x71, {0x00}), board.write(0x6D, {0x02});
    board.address(0x001000);
    const auto data = pattern(20);
    for (std::uint8_t byte : data) {
        board.write(0x70, {byte});
        board.write(0x6F, {0xA0});
        ASSERT_TRUE(board.waitClear(0x6F, 0x20, 200));
    }
    EXPECT_TRUE(std::equal(data.begin(), data.end(), board.flash.array().begin() + 0x001000));
    EXPECT_EQ(board.flash.array()[0x001000 + 20], 0xFF);
}

TEST(ScalerIsp, SstAutoIncrementModeProgramsWholePages)
{
    Board board("SST25LF020A");
    board.enter();
    board.setUp();
    ASSERT_TRUE(board.command(0x20, 0x06, {}, 400) && board.command(0x88, 0x01, {0x00}, 400));
    board.write(0x6F, {0xC0}), board.write(0x6D, {0xAF}), board.write(0x71, {0xFF});
    const auto data = pattern(512);
    board.address(0x010000);
    for (int page = 0; page < 2; ++page) {
        board.sendPage(data.data() + page * 256);
        board.write(0x6F, {0xE0});
        ASSERT_TRUE(board.waitClear(0x6F, 0x20, 200));
    }
    ASSERT_TRUE(board.command(0x20, 0x04));
    board.write(0x6F, {0x80}), board.write(0x6D, {0xAD});
    EXPECT_TRUE(std::equal(data.begin(), data.end(), board.flash.array().begin() + 0x010000));
    EXPECT_EQ(board.crc(0x010000, 0x0101FF), crc8(data.data(), 512));
}

// ---- the CRC engine and the read-back path ----

TEST(ScalerIsp, CrcEngineReadsBusyForTheSpiTimeOfItsRange)
{
    Board board;
    board.enter();
    board.address(0x000000);
    board.address(0x00FFFF, 0x72);
    board.write(0x6F, {0x84});
    EXPECT_EQ(board.read(0x6F) & 0x06, 0x04);
    board.clock.sleepMicros(65'540ull * 8'000'000 / ScalerIsp::kSpiClockHz);   // command and 64 KB
    EXPECT_EQ(board.read(0x6F) & 0x06, 0x02);
    EXPECT_EQ(board.read(0x75), 0xDE);
    EXPECT_EQ(board.crc(0x000010, 0x00000F), 0x00);   // end below start: nothing read
}

TEST(ScalerIsp, ReadBackStreamsTheFlashFromTheByteBeforeTheFirst)
{
    Board board;
    const auto data = pattern(4096, 3);
    std::copy(data.begin(), data.end(), board.flash.array().begin() + 0x03F000);
    board.enter();
    EXPECT_EQ(board.read(0x70), 0xFF);   // no read started yet
    board.write(0x60, {0x46}), board.write(0x61, {0x03});
    board.address(0x03EFFF);
    board.write(0x6A, {0x03});
    board.write(0x60, {0x47});
    ASSERT_TRUE(board.waitClear(0x60, 0x01, 10));
    board.read(0x70);
    std::vector<std::uint8_t> back(4096);
    for (std::size_t at = 0; at < back.size(); at += 256)
        board.bus.readRegister(board.primary(), 0x70, {back.data() + at, 256});
    EXPECT_EQ(back, data);
}

// ---- faults ----

TEST(ScalerIsp, StuckBusyKeepsEraseAndProgramBusyBitsSet)
{
    BoardConfig config;
    config.faults.stuckBusy = true;
    Board board("W25X40A", config);
    ASSERT_TRUE(board.ready());
    const auto data = pattern(256);
    EXPECT_FALSE(board.programPage(0x000000, data.data()));
    EXPECT_TRUE(board.isp.programRunning());

    Board eraser("W25X40A", config);
    ASSERT_TRUE(eraser.ready());
    EXPECT_FALSE(eraser.command(0xB8, 0xD8, {0x00, 0x00, 0x00}, 400));
}

TEST(ScalerIsp, CrcMismatchOnceSpoilsOnlyTheFirstCheckOfAFinishedBank)
{
    BoardConfig config;
    config.faults.crcMismatchOnce = true;
    Board board("W25X40A", config);
    ASSERT_TRUE(board.ready());
    EXPECT_EQ(board.crc(0, 0xFFFF), 0xDE);   // nothing programmed yet
    const auto image = pattern(512);
    ASSERT_TRUE(board.programPage(0x000000, image.data()));
    EXPECT_EQ(board.crc(0, 0xFF), crc8(image.data(), 256));   // first-page check
    ASSERT_TRUE(board.programPage(0x000100, image.data() + 256));
    board.reset();
    const int expected = crc8(image.data(), 512);
    EXPECT_NE(board.crc(0, 0x1FF), expected);
    EXPECT_EQ(board.crc(0, 0x1FF), expected);
}

}  // namespace
}  // namespace mvx::sim
