// The six calls of the library object: answers, settings, calls in any
// order, a missing bus, and the virtual board session that the development
// aid opens and saves.
#include "mvx/i2cdev/iic_library.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "mvx/sim/board.hpp"
#include "recording_layer.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

using mvx::i2cdev::I2cDevMaster;
using mvx::i2cdev::IicLibrary;
using mvx::i2cdev::Session;
using mvx::test::LayerCall;
using mvx::test::RecordingLayer;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using Kind = LayerCall::Kind;

namespace {

// Sessions over recording layers; the test keeps a handle on the latest.
struct RecordingSessions {
    RecordingLayer* layer = nullptr;
    int made = 0;
    bool available = true;
    std::uint8_t probeAddress = 0x94;
    std::vector<int> openAnswers;

    IicLibrary::SessionFactory factory()
    {
        return [this](std::string* problem) -> std::unique_ptr<Session> {
            if (!available) {
                *problem = "no I2C bus chosen";
                return nullptr;
            }
            ++made;
            auto session = std::make_unique<Session>();
            auto recording = std::make_unique<RecordingLayer>();
            recording->openAnswers.assign(openAnswers.begin(), openAnswers.end());
            layer = recording.get();
            session->layer = std::move(recording);
            session->master = std::make_unique<I2cDevMaster>(*session->layer, clock, "/dev/i2c-4");
            session->probeAddress = probeAddress;
            return session;
        };
    }
    mvx::sim::VirtualClock clock;
};

}  // namespace

// ---- answers ----

TEST(IicLibrary, InitializeOpensTheBusAndAnswersWhetherItOpened)
{
    RecordingSessions sessions;
    IicLibrary library(sessions.factory());
    EXPECT_EQ(library.initialize(), 1);
    ASSERT_NE(sessions.layer, nullptr);
    ASSERT_EQ(sessions.layer->callsOf(Kind::Open).size(), 1u);
    EXPECT_EQ(sessions.layer->callsOf(Kind::Open)[0].path, "/dev/i2c-4");
    sessions.openAnswers = {-ENOENT};
    EXPECT_EQ(library.initialize(), 0);
}

TEST(IicLibrary, WriteAndReadCarryTheBytesAndAnswerOne)
{
    RecordingSessions sessions;
    IicLibrary library(sessions.factory());
    const unsigned char data[] = {0x06, 0x50};
    EXPECT_EQ(library.debugWrite(0x94, 0x62, data, 2, 2, 0), 1);
    unsigned char got[3] = {};
    EXPECT_EQ(library.debugRead(0x94, 0x67, got, 3, 3, 0), 1);
    const auto transfers = sessions.layer->callsOf(Kind::Transfer);
    ASSERT_EQ(transfers.size(), 2u);
    EXPECT_EQ(transfers[0].messages[0].bytes, (std::vector<std::uint8_t>{0x62, 0x06, 0x50}));
    EXPECT_EQ(transfers[1].messages[1], mvx::test::readMessage(0x4A, 3));
    EXPECT_EQ(got[0], 0xA0);
    EXPECT_EQ(got[2], 0xA2);
}

TEST(IicLibrary, FailedTransfersAnswerZero)
{
    RecordingSessions sessions;
    IicLibrary library(sessions.factory());
    ASSERT_EQ(library.initialize(), 1);
    sessions.layer->transferAnswers = {-ENXIO, -ENXIO, -ENXIO};
    const unsigned char byte = 0x80;
    unsigned char got = 0;
    EXPECT_EQ(library.debugWrite(0x94, 0x6F, &byte, 1, 1, 0), 0);
    EXPECT_EQ(library.debugRead(0x94, 0x6F, &got, 1, 1, 0), 0);
    EXPECT_EQ(library.targetBoardTest(), 0);
    EXPECT_EQ(library.debugRead(0x94, 0x6F, nullptr, 1, 1, 0), 0);
    EXPECT_EQ(library.debugWrite(0x94, 0x6F, &byte, -1, 1, 0), 0);
}

TEST(IicLibrary, TargetBoardTestProbesTheChosenAddress)
{
    RecordingSessions sessions;
    sessions.probeAddress = 0x98;
    IicLibrary library(sessions.factory());
    EXPECT_EQ(library.targetBoardTest(), 1);
    const auto transfers = sessions.layer->callsOf(Kind::Transfer);
    ASSERT_EQ(transfers.size(), 1u);
    EXPECT_EQ(transfers[0].messages, (std::vector{mvx::test::writeMessage(0x4C, {})}));
}

// ---- without a bus ----

TEST(IicLibrary, WithoutABusEveryTransferAnswersZeroAndSettingsStillTake)
{
    RecordingSessions sessions;
    sessions.available = false;
    IicLibrary library(sessions.factory());
    EXPECT_EQ(library.initialize(), 0);
    unsigned char buffer[1] = {};
    EXPECT_EQ(library.debugRead(0x94, 0x6F, buffer, 1, 1, 0), 0);
    EXPECT_EQ(library.debugWrite(0x94, 0x6F, buffer, 1, 1, 0), 0);
    EXPECT_EQ(library.targetBoardTest(), 0);
    EXPECT_EQ(library.setPolling(4), 1);
    EXPECT_EQ(library.setWorkDelay(5), 1);
    EXPECT_EQ(sessions.made, 0);
    // A bus that turns up later is used by the next call, with the settings.
    sessions.available = true;
    EXPECT_EQ(library.debugWrite(0x94, 0x6F, buffer, 1, 1, 0), 1);
    ASSERT_NE(library.session(), nullptr);
    EXPECT_EQ(library.session()->master->retries(), 4);
    EXPECT_EQ(library.session()->master->idleGap(), 500u);
}

// ---- settings ----

TEST(IicLibrary, OutOfRangeSettingsAnswerZeroAndChangeNothing)
{
    RecordingSessions sessions;
    IicLibrary library(sessions.factory());
    ASSERT_EQ(library.setPolling(4), 1);
    ASSERT_EQ(library.setWorkDelay(10), 1);
    EXPECT_EQ(library.setPolling(-1), 0);
    EXPECT_EQ(library.setPolling(mvx::i2cdev::kMaxRetries + 1), 0);
    EXPECT_EQ(library.setWorkDelay(-1), 0);
    EXPECT_EQ(library.setWorkDelay(256), 0);
    EXPECT_EQ(library.polling(), 4);
    EXPECT_EQ(library.workDelay(), 10);
}

TEST(IicLibrary, InitializeStartsOverWithFreshSettingsAndANewBus)
{
    RecordingSessions sessions;
    IicLibrary library(sessions.factory());
    ASSERT_EQ(library.initialize(), 1);
    ASSERT_EQ(library.setPolling(4), 1);
    ASSERT_EQ(library.setWorkDelay(5), 1);
    EXPECT_EQ(library.session()->master->retries(), 4);
    EXPECT_EQ(library.session()->master->idleGap(), 5 * mvx::i2cdev::kWorkDelayUnitMicros);
    ASSERT_EQ(library.initialize(), 1);
    EXPECT_EQ(sessions.made, 2);
    EXPECT_EQ(library.polling(), 0);
    EXPECT_EQ(library.workDelay(), 0);
    EXPECT_EQ(library.session()->master->retries(), 0);
    EXPECT_EQ(library.session()->master->idleGap(), 0u);
}

// ---- the virtual board session ----

namespace {

struct BoardFolder {
    explicit BoardFolder(const std::string& ini = "") { mvx::test::writeWholeFile(folder.file("board.ini"), ini); }
    std::string flash() const { return mvx::test::readWholeFile(folder.file("flash.bin")); }
    TempFolder folder;
    ScopedEnv bus{"MVX_I2C_BUS", nullptr};
    ScopedEnv target{"MVX_I2C_TARGET", nullptr};
    ScopedEnv registry{"MVX_REGISTRY", folder.file("registry.ini").c_str()};
    ScopedEnv env{"MVX_I2CDEV_VIRTUAL_BOARD", folder.path().c_str()};
};

// Enter ISP mode and write one register through the library's calls.
void enterIsp(IicLibrary& library)
{
    const unsigned char on = 0x80;
    EXPECT_EQ(library.debugWrite(0x94, 0x6F, &on, 1, 1, 0), 1);
    unsigned char control = 0;
    EXPECT_EQ(library.debugRead(0x94, 0x6F, &control, 1, 1, 0), 1);
    EXPECT_EQ(control & 0x80, 0x80);
}

}  // namespace

TEST(IicLibraryBoard, EndingTheLibrarySavesTheBoard)
{
    BoardFolder board;
    {
        IicLibrary library;
        ASSERT_EQ(library.initialize(), 1);
        EXPECT_EQ(library.targetBoardTest(), 1);
        enterIsp(library);
        EXPECT_TRUE(board.flash().empty() || board.flash().size() == 512u * 1024u);
    }
    EXPECT_EQ(board.flash().size(), 512u * 1024u);
    const std::string runIni = mvx::test::readWholeFile(board.folder.file("run.ini"));
    EXPECT_NE(runIni.find("transactions"), std::string::npos) << runIni;
}

TEST(IicLibraryBoard, BoardIniCanAskForAPlainOnlyDriver)
{
    BoardFolder board("[i2cdev]\nrefuse_combined=1\n");
    IicLibrary library;
    ASSERT_EQ(library.initialize(), 1);
    enterIsp(library);
    EXPECT_TRUE(library.session()->master->plainTransfers());
}

TEST(IicLibraryBoard, BadDriverDescriptionIsNoBus)
{
    BoardFolder board("[i2cdev]\nmax_length=0\n");
    IicLibrary library;
    EXPECT_EQ(library.initialize(), 0);
    EXPECT_EQ(library.session(), nullptr);
    EXPECT_EQ(library.targetBoardTest(), 0);
}

TEST(IicLibraryBoard, TargetBoardTestOnABoardThatDoesNotAnswer)
{
    BoardFolder board("[board]\nlink=dead\n");
    IicLibrary library;
    ASSERT_EQ(library.initialize(), 1);
    ASSERT_EQ(library.setPolling(4), 1);
    EXPECT_EQ(library.targetBoardTest(), 0);
}
