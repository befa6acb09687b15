// Whole runs through the USB bridge board (kind 0 without library): the
// plain operations on the virtual board's bridge, and a machine without any
// bridge.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "run.hpp"
#include "run_fixtures.hpp"

using mvx::engine::IspArguments;
using mvx::engine::runIsp;
using mvx::test::readWholeFile;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

using Message = mvx::test::ProgressMessage;
using Window = mvx::test::RecordingWindow;
using Firmware = mvx::test::FirmwareFiles;

IspArguments bridgeRun(int operation, const Firmware& firmware, const Window& window, const IspOptions& options)
{
    IspArguments a;
    a.adapterKind = MVX_ADAPTER_NORVANE_USB;
    a.libraryMode = 0;
    a.operation = operation;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    return a;
}

// The USB transfers run.ini counted for the last call.
long usbTransfers(const TempFolder& board)
{
    const std::string run = readWholeFile(board.file("run.ini"));
    const auto at = run.find("usb_transfers=");
    return at == std::string::npos ? -1 : std::stol(run.substr(at + 14));
}

}  // namespace

// ---- the plain operations over the board's bridge ----

TEST(BridgeRun, WholeSerialFlashIsWrittenByteForByte)
{
    TempFolder board;
    ScopedEnv env("MVX_VIRTUAL_BOARD", board.path().c_str());
    Window window;
    IspOptions options{};
    Firmware firmware({65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536});
    IspArguments a = bridgeRun(MVX_OP_SERIAL_FLASH, firmware, window, options);
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    ASSERT_EQ(runIsp(a), MVX_OK);
    const std::string flash = readWholeFile(board.file("flash.bin"));
    ASSERT_EQ(flash.size(), firmware.image.size());
    EXPECT_EQ(0, std::memcmp(flash.data(), firmware.image.data(), flash.size()));
    EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 0);
    EXPECT_TRUE(window.boxes.empty());
    // Every page went over USB: at least one block packet per page.
    EXPECT_GT(usbTransfers(board), 8 * 256);
}

TEST(BridgeRun, BothMcuTypesAreWrittenByteForByte)
{
    struct McuRow {
        const char* target;
        int operation;
        std::initializer_list<std::size_t> banks;
    };
    for (const McuRow& mcu : {McuRow{"5310", MVX_OP_MCU_5310, {65536, 32768}},
                              McuRow{"5312", MVX_OP_MCU_5312, {65536, 65536, 32768}}}) {
        TempFolder board;
        writeWholeFile(board.file("board.ini"), std::string("[board]\ntarget=") + mcu.target + "\n");
        ScopedEnv env("MVX_VIRTUAL_BOARD", board.path().c_str());
        Window window;
        IspOptions options{};
        Firmware firmware(mcu.banks);
        ASSERT_EQ(runIsp(bridgeRun(mcu.operation, firmware, window, options)), MVX_OK) << mcu.target;
        const std::string chip = readWholeFile(board.file("mcu.bin"));
        ASSERT_EQ(chip.size(), firmware.image.size()) << mcu.target;
        EXPECT_EQ(0, std::memcmp(chip.data(), firmware.image.data(), chip.size())) << mcu.target;
        EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1) << mcu.target;
        EXPECT_TRUE(window.boxes.empty()) << mcu.target;
    }
}

TEST(BridgeRun, TheMcuCrcVerifyReadsBackOverTheBridge)
{
    TempFolder board;
    writeWholeFile(board.file("board.ini"), "[board]\ntarget=5310\n");
    ScopedEnv env("MVX_VIRTUAL_BOARD", board.path().c_str());
    Window window;
    IspOptions options{};
    Firmware firmware({300});
    ASSERT_EQ(runIsp(bridgeRun(MVX_OP_MCU_5310, firmware, window, options)), MVX_OK);
    // One CRC comparison for the one bank, and it matched.
    ASSERT_EQ(window.count(MVX_MSG_CRC_MATCH), 1);
    for (const Message& m : window.messages) {
        if (m.code == MVX_MSG_CRC_MATCH) {
            EXPECT_EQ(m.value, 1);
        }
    }
    EXPECT_EQ(0, std::memcmp(readWholeFile(board.file("mcu.bin")).data(), firmware.image.data(), 300));
}

// ---- a machine without a bridge ----

TEST(BridgeRun, WithoutABridgeTheRunEndsWithTwelveItsMessageAndNoBox)
{
    // No virtual board: the machine's USB is searched, for an identifier
    // that no device carries.
    ScopedEnv noBoard("MVX_VIRTUAL_BOARD", nullptr);
    TempFolder store;
    writeWholeFile(store.file("registry.ini"),
                   "[NorVane USB Bridge]\nvendor_id=dword:0000fffe\nproduct_id=dword:0000fffe\n");
    ScopedEnv registry("MVX_REGISTRY", store.file("registry.ini").c_str());
    for (int operation : {MVX_OP_MCU_5310, MVX_OP_MCU_5312, MVX_OP_SERIAL_FLASH}) {
        Window window;
        IspOptions options{};
        Firmware firmware({4096, 4096, 4096});
        EXPECT_EQ(runIsp(bridgeRun(operation, firmware, window, options)), MVX_ERR_BRIDGE_MISSING) << operation;
        ASSERT_EQ(window.messages.size(), 1u) << operation;
        EXPECT_EQ(window.messages[0].code, MVX_MSG_RUN_FAILED);
        EXPECT_EQ(window.messages[0].sub, 0);
        EXPECT_EQ(window.messages[0].value, MVX_ERR_BRIDGE_MISSING);
        EXPECT_TRUE(window.boxes.empty()) << operation;
    }
}
