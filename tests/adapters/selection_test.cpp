#include "mvx/adapters/transports.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "adapter_test_support.hpp"
#include "mvx/sim/ftdi_device.hpp"
#include "mvx/sim/maker_libraries.hpp"
#include "mvx/sim/port_io.hpp"
#include "mvx/sim/scaler.hpp"
#include "mvx/sim/usb_bridge.hpp"
#include "mvxisp.h"

using mvx::adapters::AdapterOps;
using mvx::adapters::makeTransport;
using mvx::adapters::TransportSettings;
using mvx::sim::ParallelWiring;

namespace {

TransportSettings cell(int kind, int libraryMode)
{
    TransportSettings settings;
    settings.adapterKind = kind;
    settings.libraryMode = libraryMode;
    return settings;
}

struct BoardRun {
    explicit BoardRun(TransportSettings settings, mvx::sim::BoardConfig config = {})
        : board(mvx::test::makeBoard(config)), ops(makeTransport(settings, board.get(), board->clock()))
    {
    }
    int writeByte(std::uint8_t reg, std::uint8_t value, std::uint8_t slave = 0x94)
    {
        return ops->write(slave, reg, &value, 1, {1, 0, 0});
    }
    int readByte(std::uint8_t reg, std::uint8_t& value) { return ops->read(0x94, reg, &value, 1, {1, 0, 0}); }

    std::unique_ptr<mvx::sim::Board> board;
    std::unique_ptr<AdapterOps> ops;
};

// The register traffic every carrying transport must get across.
void expectScalerTraffic(BoardRun& run)
{
    ASSERT_NE(run.ops, nullptr);
    ASSERT_EQ(run.ops->open(), MVX_OK);

    // ISP enable written and read back.
    EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_OK);
    EXPECT_TRUE(run.board->scaler()->ispEnabled());
    std::uint8_t value = 0;
    EXPECT_EQ(run.readByte(0x6F, value), MVX_OK);
    EXPECT_EQ(value & 0x80, 0x80);

    // The IC code through the indirect registers.
    EXPECT_EQ(run.writeByte(0xF4, 0x00), MVX_OK);
    EXPECT_EQ(run.readByte(0xF5, value), MVX_OK);
    EXPECT_EQ(value, run.board->config().icCode);

    // A 3-byte address burst through the secondary slave, read back through the primary.
    const std::uint8_t address[] = {0x01, 0x23, 0x45};
    EXPECT_EQ(run.ops->write(0x96, 0x64, address, 3, {3, 1, 0}), MVX_OK);
    std::array<std::uint8_t, 3> back{};
    EXPECT_EQ(run.ops->read(0x94, 0x64, back.data(), 3, {3, 0, 0}), MVX_OK);
    EXPECT_EQ(back, (std::array<std::uint8_t, 3>{0x01, 0x23, 0x45}));

    // A whole transfer block into the page buffer.
    std::vector<std::uint8_t> block{0x94, 0x70};
    for (int i = 0; i < 256; ++i)
        block.push_back(static_cast<std::uint8_t>(255 - i));
    EXPECT_EQ(run.ops->writeBlock(block.data(), 258, 0x96, 0x92, 0), MVX_OK);
    const auto page = run.board->scaler()->pageBuffer();
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(page[static_cast<std::size_t>(i)], 255 - i) << i;

    EXPECT_EQ(run.ops->probeTarget(), MVX_OK);
    EXPECT_TRUE(run.ops->hasPagePath());
}

}  // namespace

// ---- the carrying cells on the virtual board ----

TEST(Selection, NorvaneCableCarriesScalerTrafficOnItsOwnWiring)
{
    mvx::sim::BoardConfig config;
    config.icCode = 0x61;
    BoardRun run(cell(2, 0), config);
    expectScalerTraffic(run);
    EXPECT_GT(run.board->parallelPort(ParallelWiring::Norvane).portWrites(), 0u);
    EXPECT_EQ(run.board->parallelPort(ParallelWiring::Cvt).portWrites(), 0u);
}

TEST(Selection, CvtCableCarriesScalerTrafficOnItsOwnWiring)
{
    BoardRun run(cell(3, 0));
    expectScalerTraffic(run);
    EXPECT_GT(run.board->parallelPort(ParallelWiring::Cvt).portWrites(), 0u);
    EXPECT_EQ(run.board->parallelPort(ParallelWiring::Norvane).portWrites(), 0u);
}

TEST(Selection, IicLibraryCarriesScalerTrafficAfterItsSetUp)
{
    TransportSettings settings = cell(2, 1);
    settings.iicWorkDelay = 0x1234;   // only the low byte goes to the library
    BoardRun run(settings);
    expectScalerTraffic(run);
    auto& library = run.board->makerIicLibrary();
    EXPECT_TRUE(library.initialized());
    EXPECT_EQ(library.polling(), 4);
    EXPECT_EQ(library.workDelay(), 0x34);
    EXPECT_EQ(run.board->parallelPort(ParallelWiring::Norvane).portWrites(), 0u);

    run.ops->applySerialFlashSettings();
    EXPECT_EQ(library.workDelay(), 5);
    run.ops->reapplySettings();
    EXPECT_EQ(library.workDelay(), 0x34);
    EXPECT_EQ(library.polling(), 4);
}

TEST(Selection, UsbLibraryCarriesScalerTrafficAfterItsSetUp)
{
    TransportSettings settings = cell(0, 1);
    settings.usbFrequency = 2;
    settings.usbDelay = 0x2C7;
    BoardRun run(settings);
    expectScalerTraffic(run);
    auto& library = run.board->makerUsbLibrary();
    EXPECT_TRUE(library.initialized());
    EXPECT_EQ(library.polling(), 4);
    EXPECT_EQ(library.speedMode(), 4);
    EXPECT_EQ(library.delay(), 0xC7);
    EXPECT_GT(library.usbTransfers(), 0u);

    run.ops->applySerialFlashSettings();
    EXPECT_EQ(library.speedMode(), 2);
    EXPECT_EQ(library.delay(), 5);
    run.ops->reapplySettings();
    EXPECT_EQ(library.speedMode(), 4);
    EXPECT_EQ(library.delay(), 0xC7);
}

TEST(Selection, OnlyTheLowByteOfTheLibraryModeCounts)
{
    BoardRun run(cell(2, 0x100));
    ASSERT_EQ(run.ops->open(), MVX_OK);
    EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_OK);
    EXPECT_GT(run.board->parallelPort(ParallelWiring::Norvane).portWrites(), 0u);
    EXPECT_FALSE(run.board->makerIicLibrary().initialized());
}

TEST(Selection, AdapterKindOutsideTheTableHasNoTransport)
{
    mvx::sim::VirtualClock clock;
    EXPECT_EQ(makeTransport(cell(4, 0), nullptr, clock), nullptr);
    EXPECT_EQ(makeTransport(cell(-1, 1), nullptr, clock), nullptr);
}

// ---- library failures on the board ----

TEST(Selection, UnpluggedLibraryAdaptersFailEveryTransfer)
{
    for (int kind : {0, 2}) {
        BoardRun run(cell(kind, 1));
        run.board->makerUsbLibrary().setPlugged(false);
        run.board->makerIicLibrary().setPlugged(false);
        ASSERT_EQ(run.ops->open(), MVX_OK) << kind;
        std::uint8_t value = 0xEE;
        EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_ERR_LIBRARY_WRITE) << kind;
        EXPECT_EQ(run.readByte(0x6F, value), MVX_ERR_LIBRARY_READ) << kind;
        EXPECT_FALSE(run.board->scaler()->ispEnabled());
        EXPECT_EQ(run.board->bus().stats().transactions, 0u);
    }
}

TEST(Selection, IicLibraryProbeFollowsTheTargetBoardTest)
{
    BoardRun present(cell(2, 1));
    ASSERT_EQ(present.ops->open(), MVX_OK);
    EXPECT_EQ(present.ops->probeTarget(), MVX_OK);

    mvx::sim::BoardConfig dead;
    dead.linkDead = true;
    BoardRun absent(cell(2, 1), dead);
    ASSERT_EQ(absent.ops->open(), MVX_OK);
    EXPECT_EQ(absent.ops->probeTarget(), MVX_ERR_ISP_MODE);
    std::uint8_t value = 0;
    EXPECT_EQ(absent.readByte(0x6F, value), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(absent.writeByte(0x6F, 0x80), MVX_ERR_LIBRARY_WRITE);
}

TEST(Selection, LibraryReadIntoNullBufferGives17WithoutACall)
{
    for (int kind : {0, 2}) {
        BoardRun run(cell(kind, 1));
        ASSERT_EQ(run.ops->open(), MVX_OK);
        const auto before = run.board->bus().stats();
        EXPECT_EQ(run.ops->read(0x94, 0x6F, nullptr, 1, {1, 0, 0}), MVX_ERR_NULL_BUFFER) << kind;
        EXPECT_EQ(run.ops->write(0x94, 0x6F, nullptr, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE) << kind;
        EXPECT_EQ(run.board->bus().stats().transactions, before.transactions);
    }
}

TEST(Selection, ClosedLibraryTransportNoLongerTransfers)
{
    BoardRun run(cell(2, 1));
    ASSERT_EQ(run.ops->open(), MVX_OK);
    run.ops->close();
    EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_ERR_LIBRARY_WRITE);
    EXPECT_FALSE(run.board->scaler()->ispEnabled());
}

// ---- cells without a transport ----

TEST(Selection, NoTransportCellsSucceedWithoutTouchingTheBus)
{
    for (const TransportSettings& settings : {cell(1, 0), cell(3, 1)}) {
        BoardRun run(settings);
        ASSERT_NE(run.ops, nullptr);
        EXPECT_EQ(run.ops->open(), MVX_OK);
        const auto before = run.board->bus().stats();

        EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_OK);
        std::array<std::uint8_t, 2> out{0xAB, 0xCD};
        EXPECT_EQ(run.ops->read(0x94, 0x6F, out.data(), 2, {2, 0, 0}), MVX_OK);
        EXPECT_EQ(out, (std::array<std::uint8_t, 2>{0xAB, 0xCD}));   // left as it was
        std::vector<std::uint8_t> block(258, 0x11);
        EXPECT_EQ(run.ops->writeBlock(block.data(), 258, 0x96, 0x92, 0), MVX_OK);

        const auto after = run.board->bus().stats();
        EXPECT_EQ(after.transactions, before.transactions);
        EXPECT_EQ(after.bytes, before.bytes);
        EXPECT_EQ(after.starts, before.starts);
        EXPECT_FALSE(run.board->scaler()->ispEnabled());
        EXPECT_EQ(run.board->parallelPort(ParallelWiring::Cvt).portWrites(), 0u);
        EXPECT_EQ(run.board->parallelPort(ParallelWiring::Norvane).portWrites(), 0u);
        EXPECT_EQ(run.board->makerUsbLibrary().usbTransfers(), 0u);
        EXPECT_FALSE(run.board->makerIicLibrary().initialized());
    }
}

TEST(Selection, FtdiWithoutLibraryHasNoPagePathAndNoProbe)
{
    BoardRun run(cell(1, 0));
    EXPECT_FALSE(run.ops->hasPagePath());
    EXPECT_EQ(run.ops->probeTarget(), MVX_OK);
}

TEST(Selection, CvtCellInLibraryModeStillProbesTheCvtCable)
{
    BoardRun run(cell(3, 1));
    ASSERT_EQ(run.ops->open(), MVX_OK);
    EXPECT_TRUE(run.ops->hasPagePath());
    EXPECT_EQ(run.ops->probeTarget(), MVX_OK);
    EXPECT_EQ(run.board->parallelPort(ParallelWiring::Cvt).portWrites(), 2u);   // SDA low, SDA released
    EXPECT_EQ(run.board->clock().sleptMicros(), 40'000u);
    EXPECT_EQ(run.board->bus().stats().transactions, 0u);
}

// ---- cells whose transports are still to come ----

TEST(Selection, UsbBridgeCellReportsTheBridgeMissing)
{
    BoardRun run(cell(0, 0));
    ASSERT_NE(run.ops, nullptr);
    run.board->usbBridge().setAttached(false);
    EXPECT_EQ(run.ops->open(), MVX_ERR_BRIDGE_MISSING);
    std::uint8_t value = 0xEE;
    EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(run.readByte(0x6F, value), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(value, 0xEE);
    EXPECT_EQ(run.ops->probeTarget(), MVX_OK);
    EXPECT_EQ(run.board->bus().stats().transactions, 0u);
}

TEST(Selection, FtdiLibraryCarriesScalerTrafficOverTheBoardsChip)
{
    TransportSettings settings = cell(1, 1);
    settings.ftdiClock = 13;   // outside 14..200: the chip gets 14
    BoardRun run(settings);
    expectScalerTraffic(run);
    EXPECT_TRUE(run.board->ftdi().isOpen());
    EXPECT_EQ(run.board->ftdi().clockDivisor(), 14);
    EXPECT_GT(run.board->ftdi().usbTransfers(), 0u);
    run.ops->close();
    EXPECT_FALSE(run.board->ftdi().isOpen());
}

TEST(Selection, FtdiCellWithoutAChipFailsEveryTransfer)
{
    BoardRun run(cell(1, 1));
    ASSERT_NE(run.ops, nullptr);
    run.board->ftdi().setPlugged(false);
    EXPECT_EQ(run.ops->open(), MVX_OK);
    std::uint8_t value = 0;
    EXPECT_EQ(run.writeByte(0x6F, 0x80), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(run.readByte(0x6F, value), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(run.ops->probeTarget(), MVX_OK);
    EXPECT_TRUE(run.ops->hasPagePath());
    EXPECT_EQ(run.board->bus().stats().transactions, 0u);
}
