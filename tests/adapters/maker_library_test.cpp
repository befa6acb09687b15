#include "maker/maker_libraries.hpp"
#include "maker/maker_transports.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "mvx/adapters/transports.hpp"
#include "mvx/platform/dynamic_library.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/sim/virtual_clock.hpp"
#include "mvxisp.h"
#include "temp_folder.hpp"

using mvx::adapters::AdapterOps;
using mvx::adapters::LoadedMakerIicLibrary;
using mvx::adapters::LoadedMakerUsbLibrary;
using mvx::adapters::makeTransport;
using mvx::adapters::TransportSettings;
using mvx::platform::DynamicLibrary;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;

namespace {

// The test's own handle on a fake library: the same loaded copy the
// transport uses, so its record of calls can be read and reset.
class FakeLibrary {
public:
    FakeLibrary(const std::string& folder, const char* name)
    {
        const std::string path = folder + "/" + name + ".so";
        EXPECT_TRUE(library_.open(path)) << library_.error();
        calls_ = library_.function<const char* (*)()>("fake_calls");
        reset_ = library_.function<void (*)()>("fake_reset");
        setAnswer_ = library_.function<void (*)(int)>("fake_set_answer");
        setTargetAnswer_ = library_.function<void (*)(int)>("fake_set_target_answer");
        register_ = library_.function<unsigned char (*)(int)>("fake_register");
        EXPECT_TRUE(calls_ && reset_ && setAnswer_ && setTargetAnswer_ && register_);
        reset();
    }
    std::string calls() const { return calls_(); }
    void reset() { reset_(); }
    void setAnswer(int answer) { setAnswer_(answer); }
    void setTargetAnswer(int answer) { setTargetAnswer_(answer); }
    std::uint8_t reg(int index) const { return register_(index); }

private:
    DynamicLibrary library_;
    const char* (*calls_)() = nullptr;
    void (*reset_)() = nullptr;
    void (*setAnswer_)(int) = nullptr;
    void (*setTargetAnswer_)(int) = nullptr;
    unsigned char (*register_)(int) = nullptr;
};

TransportSettings librarySettings(int kind)
{
    TransportSettings settings;
    settings.adapterKind = kind;
    settings.libraryMode = 1;
    settings.usbFrequency = 1;
    settings.usbDelay = 0x1F7;
    settings.iicWorkDelay = 0x309;
    return settings;
}

class MakerLibraries : public ::testing::Test {
protected:
    ScopedEnv folder{"MVX_SYSTEM_DIR", MVX_FAKE_LIBRARIES};
    FakeLibrary usb{MVX_FAKE_LIBRARIES, "MVXUSBDLL"};
    FakeLibrary iic{MVX_FAKE_LIBRARIES, "MVXIICDLL"};
    mvx::sim::VirtualClock clock;
};

}  // namespace

// ---- set-up calls ----

TEST_F(MakerLibraries, UsbLibrarySetUpInitializesThenMakesTheThreeSettingsCalls)
{
    auto ops = makeTransport(librarySettings(0), nullptr, clock);
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(ops->open(), MVX_OK);
    EXPECT_EQ(usb.calls(), "_Initialize();_SetUSBPolling(4,0);_SetUSBSpeedMode(2,0);_SetUSBDelay(247,0);");
    EXPECT_EQ(iic.calls(), "");
}

TEST_F(MakerLibraries, UsbSpeedModeFollowsTheFrequencyOption)
{
    for (auto [frequency, mode] : {std::pair{2, 4}, std::pair{0, 1}, std::pair{5, 1}}) {
        usb.reset();
        TransportSettings settings = librarySettings(0);
        settings.usbFrequency = frequency;
        auto ops = makeTransport(settings, nullptr, clock);
        ASSERT_EQ(ops->open(), MVX_OK);
        EXPECT_NE(usb.calls().find("_SetUSBSpeedMode(" + std::to_string(mode) + ",0);"), std::string::npos)
            << frequency << ": " << usb.calls();
    }
}

TEST_F(MakerLibraries, UsbSettingsAreRepeatedAndSwappedForTheSerialFlash)
{
    auto ops = makeTransport(librarySettings(0), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    usb.reset();
    ops->reapplySettings();
    EXPECT_EQ(usb.calls(), "_SetUSBPolling(4,0);_SetUSBSpeedMode(2,0);_SetUSBDelay(247,0);");
    usb.reset();
    ops->applySerialFlashSettings();
    EXPECT_EQ(usb.calls(), "_SetUSBSpeedMode(2,0);_SetUSBDelay(5,0);");
}

TEST_F(MakerLibraries, IicLibrarySetUpInitializesThenSetsPollingAndWorkDelay)
{
    auto ops = makeTransport(librarySettings(2), nullptr, clock);
    ASSERT_NE(ops, nullptr);
    EXPECT_EQ(ops->open(), MVX_OK);
    EXPECT_EQ(iic.calls(), "_Initialize();_SetPolling(4);_SetWorkDelay(9);");
    EXPECT_EQ(usb.calls(), "");

    iic.reset();
    ops->reapplySettings();
    EXPECT_EQ(iic.calls(), "_SetPolling(4);_SetWorkDelay(9);");
    iic.reset();
    ops->applySerialFlashSettings();
    EXPECT_EQ(iic.calls(), "_SetPolling(4);_SetWorkDelay(5);");
}

// ---- transfers ----

TEST_F(MakerLibraries, UsbTransfersPassAllThreeValuesThrough)
{
    auto ops = makeTransport(librarySettings(0), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    usb.reset();
    const std::uint8_t address[] = {0x02, 0x10, 0x20};
    EXPECT_EQ(ops->write(0x96, 0x64, address, 3, {3, 1, 0}), MVX_OK);
    EXPECT_EQ(usb.reg(0x64), 0x02);
    EXPECT_EQ(usb.reg(0x66), 0x20);
    std::array<std::uint8_t, 3> back{};
    EXPECT_EQ(ops->read(0x94, 0x64, back.data(), 3, {3, 0, 7}), MVX_OK);
    EXPECT_EQ(back, (std::array<std::uint8_t, 3>{0x02, 0x10, 0x20}));
    EXPECT_EQ(usb.calls(), "_DebugWrite(150,100,3,3,1,0);_DebugRead(148,100,3,3,0,7);");
}

TEST_F(MakerLibraries, IicTransfersPassTheFirstTwoValuesThrough)
{
    auto ops = makeTransport(librarySettings(2), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    iic.reset();
    const std::uint8_t value = 0x80;
    EXPECT_EQ(ops->write(0x94, 0x6F, &value, 1, {1, 0, 9}), MVX_OK);
    std::uint8_t back = 0;
    EXPECT_EQ(ops->read(0x94, 0x6F, &back, 1, {1, 0, 9}), MVX_OK);
    EXPECT_EQ(back, 0x80);
    EXPECT_EQ(iic.calls(), "_DebugWrite(148,111,1,1,0);_DebugRead(148,111,1,1,0);");
}

TEST_F(MakerLibraries, PageDataBlockBecomesOneWriteOfItsDataBytes)
{
    auto ops = makeTransport(librarySettings(0), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    usb.reset();
    std::array<std::uint8_t, 258> block{};
    block[0] = 0x94;
    block[1] = 0x70;
    block[2] = 0xA1;
    EXPECT_EQ(ops->writeBlock(block.data(), 258, 0x96, 0x92, 0), MVX_OK);
    EXPECT_EQ(usb.calls(), "_DebugWrite(148,112,256,256,0,0);");
    EXPECT_EQ(usb.reg(0x70), 0xA1);
}

TEST_F(MakerLibraries, LibraryAnswerZeroIsAFailedReadOrWrite)
{
    for (int kind : {0, 2}) {
        auto ops = makeTransport(librarySettings(kind), nullptr, clock);
        ASSERT_EQ(ops->open(), MVX_OK);
        usb.setAnswer(0);
        iic.setAnswer(0);
        const std::uint8_t value = 0x80;
        std::uint8_t back = 0;
        EXPECT_EQ(ops->write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE) << kind;
        EXPECT_EQ(ops->read(0x94, 0x6F, &back, 1, {1, 0, 0}), MVX_ERR_LIBRARY_READ) << kind;
        EXPECT_EQ(ops->writeBlock(&value, 1, 0, 0, 0), MVX_ERR_LIBRARY_WRITE) << kind;
    }
}

TEST_F(MakerLibraries, NegativeCountsNeverReachTheLibrary)
{
    auto ops = makeTransport(librarySettings(2), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    iic.reset();
    std::uint8_t byte = 0;
    EXPECT_EQ(ops->write(0x94, 0x6F, &byte, -1, {}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(ops->read(0x94, 0x6F, &byte, -1, {}), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(iic.calls(), "");
}

TEST_F(MakerLibraries, TargetBoardTestAnsweringZeroFailsTheProbe)
{
    auto ops = makeTransport(librarySettings(2), nullptr, clock);
    ASSERT_EQ(ops->open(), MVX_OK);
    EXPECT_EQ(ops->probeTarget(), MVX_OK);
    iic.setTargetAnswer(0);
    EXPECT_EQ(ops->probeTarget(), MVX_ERR_ISP_MODE);
}

// ---- libraries that cannot be had ----

TEST(MakerLibraryMissing, MissingFilesLeaveTheTransportsFailingEveryTransfer)
{
    TempFolder empty;
    ScopedEnv folder("MVX_SYSTEM_DIR", empty.path().c_str());
    mvx::sim::VirtualClock clock;
    for (int kind : {0, 2}) {
        auto ops = makeTransport(librarySettings(kind), nullptr, clock);
        ASSERT_NE(ops, nullptr);
        EXPECT_EQ(ops->open(), MVX_OK) << kind;   // not checked at set-up
        ops->reapplySettings();
        ops->applySerialFlashSettings();
        const std::uint8_t value = 0x80;
        std::uint8_t back = 0xEE;
        EXPECT_EQ(ops->write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE) << kind;
        EXPECT_EQ(ops->read(0x94, 0x6F, &back, 1, {1, 0, 0}), MVX_ERR_LIBRARY_READ) << kind;
        EXPECT_EQ(back, 0xEE);
        ops->close();
    }
    auto iicOps = makeTransport(librarySettings(2), nullptr, clock);
    ASSERT_EQ(iicOps->open(), MVX_OK);
    EXPECT_EQ(iicOps->probeTarget(), MVX_ERR_ISP_MODE);
}

TEST(MakerLibraryMissing, LibraryLackingOneExportIsNotUsed)
{
    std::string error;
    EXPECT_EQ(LoadedMakerUsbLibrary::load(std::string(MVX_INCOMPLETE_LIBRARIES) + "/MVXUSBDLL.so", &error), nullptr);
    EXPECT_NE(error.find("_SetUSBDelay"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(LoadedMakerIicLibrary::load(std::string(MVX_INCOMPLETE_LIBRARIES) + "/MVXIICDLL.so", &error), nullptr);
    EXPECT_NE(error.find("_TargetBoardTest"), std::string::npos) << error;
    error.clear();
    EXPECT_EQ(LoadedMakerUsbLibrary::load(std::string(MVX_INCOMPLETE_LIBRARIES) + "/absent.so", &error), nullptr);
    EXPECT_FALSE(error.empty());
}

TEST(MakerLibraryMissing, IncompleteLibraryGetsNoSetUpCallsAndFailsEveryTransfer)
{
    ScopedEnv folder("MVX_SYSTEM_DIR", MVX_INCOMPLETE_LIBRARIES);
    FakeLibrary usb(MVX_INCOMPLETE_LIBRARIES, "MVXUSBDLL");
    FakeLibrary iic(MVX_INCOMPLETE_LIBRARIES, "MVXIICDLL");
    mvx::sim::VirtualClock clock;
    for (int kind : {0, 2}) {
        auto ops = makeTransport(librarySettings(kind), nullptr, clock);
        ASSERT_EQ(ops->open(), MVX_OK);
        const std::uint8_t value = 0x80;
        std::uint8_t back = 0;
        EXPECT_EQ(ops->write(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE) << kind;
        EXPECT_EQ(ops->read(0x94, 0x6F, &back, 1, {1, 0, 0}), MVX_ERR_LIBRARY_READ) << kind;
    }
    EXPECT_EQ(usb.calls(), "");
    EXPECT_EQ(iic.calls(), "");
}
