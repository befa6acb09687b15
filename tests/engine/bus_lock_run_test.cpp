// One run per bus: a run on a virtual board that another run holds waits for
// it, then fails with 29, names the holder and leaves the board untouched.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "mvx/platform/bus_lock.hpp"
#include "run.hpp"
#include "run_fixtures.hpp"

using mvx::engine::IspArguments;
using mvx::engine::runIsp;
using mvx::test::BoardFolder;
using mvx::test::RecordingWindow;
using mvx::test::writeWholeFile;

TEST(IspRunBusLock, BusyBoardFailsWith29NamingTheHolderAndIsUntouched)
{
    BoardFolder board;
    const std::string before(512 * 1024, '\xA5');
    writeWholeFile(board.path("flash.bin"), before);
    mvx::test::FirmwareFiles firmware({65536});
    RecordingWindow window;
    IspOptions options{};
    IspArguments a;
    a.adapterKind = MVX_ADAPTER_NORVANE_IIC;
    a.operation = MVX_OP_SERIAL_FLASH;
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;

    // A lock of this process's own on the folder conflicts like another run's.
    mvx::platform::BusLock holder = mvx::platform::BusLock::onPath(board.folder.path());
    ASSERT_TRUE(holder.held()) << holder.error();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(runIsp(a), MVX_ERR_BUS_BUSY);
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(2000));
    EXPECT_LT(waited, std::chrono::milliseconds(6000));
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"ISP process has failed!\r\r\n The bus is busy: process " +
                                                      std::to_string(::getpid()) + " is running ISP on it!!"}));
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].value, MVX_ERR_BUS_BUSY);
    EXPECT_EQ(board.flash(), before);
    EXPECT_FALSE(std::filesystem::exists(board.path("run.ini")));

    holder.release();
    RecordingWindow second;
    a.ownerWindow = &second.window;
    EXPECT_EQ(runIsp(a), MVX_OK);
    EXPECT_TRUE(second.boxes.empty());
    const std::string after = board.flash();
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(after.compare(0, 65536, std::string(firmware.banks[0].begin(), firmware.banks[0].end())), 0);
    // The run's own lock is gone with it.
    EXPECT_TRUE(mvx::platform::BusLock::onPath(board.folder.path(), {0, 1, nullptr}).held());
}
