// Whole runs through the FTDI adapter (kind 1, library mode): on the virtual
// board's FTDI chip the firmware ends up in the board's memories; without a
// board (and without a chip on the machine) the run fails with the
// transports' results instead of hanging or crashing.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "run.hpp"
#include "run_fixtures.hpp"

using mvx::engine::IspArguments;
using mvx::engine::runIsp;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

using Window = mvx::test::RecordingWindow;
using Firmware = mvx::test::FirmwareFiles;

struct Board : mvx::test::BoardFolder {
    using BoardFolder::BoardFolder;
    std::string file(const char* name) const { return contents(name); }
};

IspArguments ftdiRun(int operation, const Firmware& firmware, const Window& window, const IspOptions& options)
{
    IspArguments a;
    a.adapterKind = MVX_ADAPTER_FTDI_USB;
    a.libraryMode = 1;
    a.operation = operation;
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    return a;
}

}  // namespace

// ---- on the virtual board ----

TEST(FtdiRun, SerialFlashIsWrittenByteForByte)
{
    Board board;
    Window window;
    IspOptions options{};
    options.other_usb_ispspeed = 20;
    Firmware firmware({65536, 65536, 65536, 40000});
    ASSERT_EQ(runIsp(ftdiRun(MVX_OP_SERIAL_FLASH, firmware, window, options)), MVX_OK);
    const std::string flash = board.file("flash.bin");
    ASSERT_GE(flash.size(), firmware.image.size());
    EXPECT_EQ(0, std::memcmp(flash.data(), firmware.image.data(), firmware.image.size()));
    EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1);
    EXPECT_TRUE(window.boxes.empty());
}

TEST(FtdiRun, BothMcuTypesAreWrittenByteForByte)
{
    struct McuRow {
        const char* target;
        int operation;
        std::initializer_list<std::size_t> banks;
    };
    for (const McuRow& mcu : {McuRow{"5310", MVX_OP_MCU_5310, {65536, 32768}},
                              McuRow{"5312", MVX_OP_MCU_5312, {65536, 65536, 32768}}}) {
        Board board(std::string("[board]\ntarget=") + mcu.target + "\n");
        Window window;
        IspOptions options{};
        Firmware firmware(mcu.banks);
        ASSERT_EQ(runIsp(ftdiRun(mcu.operation, firmware, window, options)), MVX_OK) << mcu.target;
        const std::string chip = board.file("mcu.bin");
        ASSERT_EQ(chip.size(), firmware.image.size()) << mcu.target;
        EXPECT_EQ(0, std::memcmp(chip.data(), firmware.image.data(), chip.size())) << mcu.target;
        EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1) << mcu.target;
    }
}

TEST(FtdiRun, ConsecutiveRunsEachOpenTheChipAfresh)
{
    // The chip is let go at the end of every run: a second run in the same
    // process opens it again and passes too.
    Board board("[board]\ntarget=5310\n");
    Firmware firmware({4096});
    for (int run = 0; run < 2; ++run) {
        Window window;
        IspOptions options{};
        EXPECT_EQ(runIsp(ftdiRun(MVX_OP_MCU_5310, firmware, window, options)), MVX_OK) << run;
    }
    EXPECT_EQ(0, std::memcmp(board.file("mcu.bin").data(), firmware.image.data(), firmware.image.size()));
}

TEST(FtdiRun, ABoardThatAcknowledgesNothingCannotEnterIspMode)
{
    // The transport does not look at acknowledges: the dead link shows in
    // what the reads return (0xFF, where entering ISP mode wants 0x40).
    Board board("[board]\ntarget=5310\nlink=dead\n");
    Window window;
    IspOptions options{};
    Firmware firmware({4096});
    EXPECT_EQ(runIsp(ftdiRun(MVX_OP_MCU_5310, firmware, window, options)), MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"ISP process has failed!\r\r\n Into ISP mode Fail!!"}));
}

// ---- without any FTDI chip ----

TEST(FtdiRun, WithoutAChipEveryOperationFailsWithTheTransportResults)
{
    ScopedEnv noBoard("MVX_VIRTUAL_BOARD", nullptr);
    ScopedEnv debug("MVX_DEBUG", "1");
    for (int operation : {MVX_OP_MCU_5310, MVX_OP_MCU_5312, MVX_OP_SERIAL_FLASH}) {
        Window window;
        IspOptions options{};
        Firmware firmware({4096});
        testing::internal::CaptureStderr();
        const int result = runIsp(ftdiRun(operation, firmware, window, options));
        const std::string diagnostics = testing::internal::GetCapturedStderr();
        if (diagnostics.find("InitFTDI open suc") != std::string::npos)
            GTEST_SKIP() << "an FTDI chip is attached to this machine";
        // Every transfer fails (25 / 24), so ISP mode is never entered.
        EXPECT_EQ(result, MVX_ERR_ISP_MODE) << operation;
        EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 1) << operation;
        EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 0) << operation;
        EXPECT_EQ(window.boxes.size(), 1u) << operation;
        EXPECT_NE(diagnostics.find("InitFTDI open fail"), std::string::npos) << diagnostics;
        EXPECT_NE(diagnostics.find("Open fail"), std::string::npos) << diagnostics;
    }
}
