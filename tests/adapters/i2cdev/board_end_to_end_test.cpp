// The i2c-dev logic over the virtual board's bus: the scaler's ISP sequences
// (enter, set up, program a page, CRC) as i2c-dev transfers, through
// combined transfers and through the plain path of a more limited driver,
// checked by what the flash holds afterwards.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mvx/i2cdev/board_layer.hpp"
#include "mvx/i2cdev/i2c_dev_master.hpp"
#include "mvx/sim/board.hpp"
#include "mvx/sim/scaler.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "scaler_driver.hpp"

using mvx::i2cdev::BoardLayer;
using mvx::i2cdev::Driver;
using mvx::i2cdev::I2cDevMaster;
using Bytes = std::vector<std::uint8_t>;

namespace {

// The engine's register sequences, through the master.
class MasterDriver {
public:
    MasterDriver(I2cDevMaster& master, mvx::sim::VirtualClock& clock) : master_(master), clock_(clock) {}

    bool write(std::uint8_t reg, Bytes data, bool viaSecondary = false)
    {
        return master_.writeRegister(viaSecondary ? 0x96 : 0x94, reg, data.data(), static_cast<int>(data.size()));
    }
    std::uint8_t read(std::uint8_t reg)
    {
        std::uint8_t value = 0;
        master_.readRegister(0x94, reg, &value, 1);
        return value;
    }
    bool waitClear(std::uint8_t reg, std::uint8_t mask, int limit)
    {
        std::uint8_t value = read(reg);
        for (int reread = 1; value & mask; ++reread) {
            clock_.sleepMicros(10'000);
            value = read(reg);
            if (reread == limit + 2)
                return false;
        }
        return true;
    }
    bool command(std::uint8_t form, std::uint8_t opcode, Bytes data = {})
    {
        write(0x60, {form});
        write(0x61, {opcode});
        if (!data.empty())
            write(0x64, data, data.size() == 3);
        write(0x60, {std::uint8_t(form | 1)});
        return waitClear(0x60, 0x01, 10);
    }
    // ISP mode, controller set up, protect bits cleared, 256-byte page programs.
    bool ready()
    {
        if (!write(0x6F, {0x80}))
            return false;
        write(0xEA, {0x00});
        if (!(read(0x6F) & 0x80))
            return false;
        write(0xED, {0x88});
        write(0xEE, {0x04});
        write(0x62, {0x06, 0x50});
        write(0x6A, {0x03, 0x0B, 0x00});
        write(0x6D, {0x02});
        write(0x71, {0xFF});
        return command(0x20, 0x06) && command(0x68, 0x01, {0x00});
    }
    bool programPage(std::uint32_t at, const Bytes& page)
    {
        write(0x64, {std::uint8_t(at >> 16), std::uint8_t(at >> 8), std::uint8_t(at)}, true);
        for (int reread = 0; !(read(0x6F) & 0x10); ++reread)
            if (reread > 101)
                return false;
        if (!master_.writeRegister(0x94, 0x70, page.data(), static_cast<int>(page.size())))
            return false;
        write(0x6F, {0xA0});
        return waitClear(0x6F, 0x20, 150);
    }
    int crc(std::uint32_t first, std::uint32_t last)
    {
        write(0x64, {std::uint8_t(first >> 16), std::uint8_t(first >> 8), std::uint8_t(first)}, true);
        write(0x72, {std::uint8_t(last >> 16), std::uint8_t(last >> 8), std::uint8_t(last)}, true);
        write(0x6F, {std::uint8_t(read(0x6F) | 0x84)});
        clock_.sleepMicros(5'000);
        std::uint8_t control = read(0x6F);
        for (int reread = 1; (control & 0x04) && !(control & 0x02); ++reread) {
            if (reread > 52)
                return -1;
            clock_.sleepMicros(1'000);
            control = read(0x6F);
        }
        return read(0x75);
    }

private:
    I2cDevMaster& master_;
    mvx::sim::VirtualClock& clock_;
};

class BoardEndToEnd : public ::testing::Test {
protected:
    void build(Driver driver = {}, mvx::sim::BoardConfig config = {})
    {
        std::string error;
        board = mvx::sim::Board::create(config, &error);
        ASSERT_TRUE(board) << error;
        layer = std::make_unique<BoardLayer>(board->bus(), "/dev/i2c-1", driver);
        master = std::make_unique<I2cDevMaster>(*layer, board->clock(), "/dev/i2c-1");
        driverSequences = std::make_unique<MasterDriver>(*master, board->clock());
    }
    std::vector<std::uint8_t>& flash() { return board->flash()->array(); }

    std::unique_ptr<mvx::sim::Board> board;
    std::unique_ptr<BoardLayer> layer;
    std::unique_ptr<I2cDevMaster> master;
    std::unique_ptr<MasterDriver> driverSequences;
};

}  // namespace

// ---- programming through each transfer path ----

TEST_F(BoardEndToEnd, PageProgrammedWithCombinedTransfersLandsInTheFlash)
{
    build();
    const Bytes page = mvx::test::firmwarePattern(256);
    ASSERT_TRUE(driverSequences->ready());
    ASSERT_TRUE(driverSequences->programPage(0x010100, page));
    EXPECT_TRUE(std::equal(page.begin(), page.end(), flash().begin() + 0x010100));
    EXPECT_EQ(flash()[0x0100FF], 0xFF);
    EXPECT_EQ(flash()[0x010200], 0xFF);
    EXPECT_EQ(driverSequences->crc(0x010100, 0x0101FF), mvx::test::referenceCrc8(page));
    EXPECT_EQ(board->scaler()->stats().refusedPageBytes, 0u);
    EXPECT_EQ(layer->stats().plainWrites, 0u);
    EXPECT_FALSE(master->plainTransfers());
}

TEST_F(BoardEndToEnd, PageProgrammedThroughAPlainOnlyDriverLandsInTheFlash)
{
    build(Driver{.refuseCombined = true});
    const Bytes page = mvx::test::firmwarePattern(256, 3);
    ASSERT_TRUE(driverSequences->ready());
    ASSERT_TRUE(driverSequences->programPage(0x000000, page));
    EXPECT_TRUE(std::equal(page.begin(), page.end(), flash().begin()));
    EXPECT_EQ(driverSequences->crc(0, 0xFF), mvx::test::referenceCrc8(page));
    EXPECT_TRUE(master->plainTransfers());
    EXPECT_EQ(layer->stats().combinedTransfers, 0u);
    EXPECT_GT(layer->stats().plainWrites, 0u);
    EXPECT_GT(layer->stats().plainReads, 0u);
}

TEST_F(BoardEndToEnd, DriverTooShortForAPageFailsCleanlyAndLeavesTheFlashBlank)
{
    build(Driver{.maxLength = 64});
    const Bytes page = mvx::test::firmwarePattern(256, 5);
    ASSERT_TRUE(driverSequences->ready());
    EXPECT_FALSE(driverSequences->programPage(0x000000, page));
    EXPECT_NE(master->lastError().find("refuses"), std::string::npos) << master->lastError();
    // Nothing of the page reached the buffer, and nothing was programmed.
    EXPECT_EQ(board->scaler()->stats().pagePrograms, 0u);
    EXPECT_TRUE(std::all_of(flash().begin(), flash().begin() + 256, [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(BoardEndToEnd, ShortTransferDriverReadsRegistersInPieces)
{
    build();
    for (std::uint8_t i = 0; i < 16; ++i)
        ASSERT_TRUE(driverSequences->write(static_cast<std::uint8_t>(0xA0 + i), {static_cast<std::uint8_t>(0x30 + i)}));
    layer->driver().maxLength = 8;
    Bytes got(16);
    ASSERT_TRUE(master->readRegister(0x94, 0xA0, got.data(), 16));
    for (std::uint8_t i = 0; i < 16; ++i)
        EXPECT_EQ(got[i], 0x30 + i) << int(i);
    EXPECT_TRUE(master->plainTransfers());
    EXPECT_EQ(master->plainReadChunk(), 8u);
    EXPECT_EQ(layer->stats().plainReads, 2u);
}

// ---- a board that does not answer ----

TEST_F(BoardEndToEnd, DeadLinkFailsAfterThePollingRetries)
{
    mvx::sim::BoardConfig config;
    config.linkDead = true;
    build({}, config);
    master->setRetries(4);
    EXPECT_FALSE(driverSequences->write(0x6F, {0x80}));
    EXPECT_EQ(layer->stats().combinedTransfers, 5u);
    EXPECT_NE(master->lastError().find("no acknowledge"), std::string::npos) << master->lastError();
    EXPECT_FALSE(board->scaler()->ispEnabled());
}

TEST_F(BoardEndToEnd, ProbeFindsTheScalerAndNotAnEmptyAddress)
{
    build();
    EXPECT_TRUE(master->probe(0x94));
    EXPECT_TRUE(master->probe(0x96));
    EXPECT_FALSE(master->probe(0x50));
}

TEST_F(BoardEndToEnd, BoardTimeFollowsTheCallersClock)
{
    std::string error;
    board = mvx::sim::Board::create({}, &error);
    ASSERT_TRUE(board) << error;
    mvx::sim::VirtualClock caller;
    BoardLayer following(board->bus(), "/dev/i2c-1", {}, &caller);
    I2cDevMaster paced(following, board->clock(), "/dev/i2c-1");
    const std::uint8_t byte = 0x80;
    ASSERT_TRUE(paced.writeRegister(0x94, 0x6F, &byte, 1));
    const std::uint64_t before = board->clock().nowMicros();
    caller.sleepMicros(40'000);
    ASSERT_TRUE(paced.writeRegister(0x94, 0x6F, &byte, 1));
    EXPECT_GE(board->clock().nowMicros() - before, 40'000u);
}
