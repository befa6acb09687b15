#include "parallel/port_io.hpp"

#include <gtest/gtest.h>

#include <filesystem>

#include "mvx/adapters/transports.hpp"
#include "mvx/sim/virtual_clock.hpp"
#include "mvxisp.h"
#include "parallel/parallel_iic.hpp"

using mvx::adapters::ParallelIic;
using mvx::adapters::PpdevPortIo;
using mvx::adapters::Wiring;

// ---- a machine without the port device ----

TEST(Ppdev, MissingDeviceIsUnavailableAndAnswersFloatingReads)
{
    PpdevPortIo port("/nonexistent/parport9");
    EXPECT_FALSE(port.available());
    EXPECT_FALSE(port.available());   // tried again, still missing
    port.write(PpdevPortIo::kDataPort, 0x8F);
    EXPECT_EQ(port.read(PpdevPortIo::kStatusPort), 0xFF);
}

TEST(Ppdev, CableOnAMissingDeviceWritesNothingReadsNothingAndPassesItsProbe)
{
    PpdevPortIo port("/nonexistent/parport9");
    mvx::sim::VirtualClock clock;
    ParallelIic iic(Wiring::Norvane, port, clock);
    const std::uint8_t value = 0x80;
    EXPECT_EQ(iic.frameWrite(&value, 1, ParallelIic::kStart | ParallelIic::kStop), -1);
    EXPECT_EQ(iic.write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_OK);
    std::uint8_t back = 0xEE;
    EXPECT_EQ(iic.read(0x94, 0x6F, &back, 1, {1, 0, 0}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(iic.probe(), -1);
    EXPECT_EQ(iic.probeTarget(), MVX_OK);
    EXPECT_EQ(clock.sleeps(), 0u);
}

TEST(Ppdev, SelectedCablesWithoutTheMachinesPortDoNoHarm)
{
    if (std::filesystem::exists(PpdevPortIo::kDefaultDevice))
        GTEST_SKIP() << "this machine has " << PpdevPortIo::kDefaultDevice << "; the cable would drive it";
    mvx::sim::VirtualClock clock;
    for (int kind : {2, 3}) {
        mvx::adapters::TransportSettings settings;
        settings.adapterKind = kind;
        auto ops = mvx::adapters::makeTransport(settings, nullptr, clock);
        ASSERT_NE(ops, nullptr);
        EXPECT_EQ(ops->open(), MVX_OK);
        const std::uint8_t value = 0x80;
        EXPECT_EQ(ops->write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_OK) << kind;
        std::uint8_t back = 0xEE;
        EXPECT_EQ(ops->read(0x94, 0x6F, &back, 1, {1, 0, 0}), MVX_ERR_TIMEOUT) << kind;
        EXPECT_EQ(ops->probeTarget(), MVX_OK) << kind;
    }
}
