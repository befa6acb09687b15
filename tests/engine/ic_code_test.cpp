// The scaler's IC code in operation 2: read-only mode (report and stop), the
// check against the expected code, and the output bytes written before it,
// end to end through the export call and on a board in memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "operation_serial_flash.hpp"
#include "run.hpp"
#include "serial_flash_fixture.hpp"

namespace mvx::test {
namespace {

using engine::IspArguments;
using engine::runIsp;
using engine::runSerialFlash;

constexpr std::size_t kFlashSize = 512 * 1024;

std::string text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

struct Window {
    std::vector<Message> messages;
    std::vector<std::string> boxes;
    MvxWindow window{this, &Window::send, &Window::box};

    static intptr_t send(void* self, uint32_t, uintptr_t wParam, intptr_t lParam)
    {
        static_cast<Window*>(self)->messages.push_back({MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), lParam});
        return 0;
    }
    static int box(void* self, const char* text, const char* caption, uint32_t)
    {
        static_cast<Window*>(self)->boxes.push_back(std::string(caption) + ": " + text);
        return MVX_IDOK;
    }
    std::vector<Message> withCode(int code) const
    {
        std::vector<Message> found;
        std::copy_if(messages.begin(), messages.end(), std::back_inserter(found),
                     [code](const Message& m) { return m.code == code; });
        return found;
    }
};

// ---- end to end through the export call ----

// A board folder whose scaler answers `icCode`, with old data in the flash,
// and a serial-flash run of one firmware bank over the Norvane IIC cable.
class IcCodeRun : public ::testing::Test {
protected:
    void useBoard(int icCode, const std::string& extra = "")
    {
        writeWholeFile(board.file("board.ini"), "[board]\nic_code=" + std::to_string(icCode) + "\n" + extra);
        oldFlash = firmwarePattern(kFlashSize, 40);
        writeWholeFile(board.file("flash.bin"), text(oldFlash));
        firmware = firmwarePattern(1000, 41);
        const std::string path = files.file("bank0.bin");
        writeWholeFile(path, text(firmware));
        table[0].inUse = 1;
        table[0].format = MVX_FORMAT_BINARY;
        std::snprintf(table[0].path, sizeof table[0].path, "%s", path.c_str());
        arguments.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        arguments.operation = MVX_OP_SERIAL_FLASH;
        arguments.flashBrand = MVX_BRAND_WINBOND;
        arguments.fileTable = table.data();
        arguments.ownerWindow = &window.window;
        arguments.options = &options;
    }
    std::vector<std::uint8_t> flash() const
    {
        const std::string bytes = readWholeFile(board.file("flash.bin"));
        return {bytes.begin(), bytes.end()};
    }

    TempFolder board;
    ScopedEnv env{"MVX_VIRTUAL_BOARD", board.path().c_str()};
    TempFolder files;
    std::vector<std::uint8_t> oldFlash;
    std::vector<std::uint8_t> firmware;
    std::array<FileTableEntry, MVX_FILE_TABLE_SIZE> table{};
    IspOptions options{};
    IspArguments arguments;
    Window window;
};

TEST_F(IcCodeRun, ReadOnlyModeReportsTheBoardsCodeAndWritesNothing)
{
    useBoard(0x5A);
    options.enable_read_ic_code = 1;
    options.ispEnable = 1;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_EQ(window.withCode(MVX_MSG_IC_CODE), (std::vector<Message>{{MVX_MSG_IC_CODE, 0, 0x5A}}));
    EXPECT_EQ(window.messages.back(), (Message{MVX_MSG_IC_CODE, 0, 0x5A}));
    EXPECT_TRUE(window.withCode(MVX_MSG_RUN_PASSED).empty());
    EXPECT_TRUE(window.withCode(MVX_MSG_RUN_FAILED).empty());
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(flash() == oldFlash);
}

TEST_F(IcCodeRun, ReadIcCodeWithIspEnabledProgramsAsUsual)
{
    useBoard(0x5A);
    options.enable_read_ic_code = 1;
    options.ispEnable = 0;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_TRUE(window.withCode(MVX_MSG_IC_CODE).empty());
    EXPECT_EQ(window.withCode(MVX_MSG_RUN_PASSED).size(), 1u);
    const auto now = flash();
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), now.begin()));
}

TEST_F(IcCodeRun, MismatchingCodeFailsWithItsBoxTextAndWritesNothing)
{
    useBoard(3);
    options.enable_check_ic_code_before_isp = 1;
    options.ic_code_check_value = 5;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_IC_CODE_MISMATCH);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"Error: ISP process has failed!\r\r\n IC Code mismatch!!"}));
    EXPECT_EQ(window.withCode(MVX_MSG_RUN_FAILED),
              (std::vector<Message>{{MVX_MSG_RUN_FAILED, 0, MVX_ERR_IC_CODE_MISMATCH}}));
    EXPECT_TRUE(flash() == oldFlash);
}

TEST_F(IcCodeRun, MatchingCodeLetsTheRunProgram)
{
    useBoard(0xC3);
    options.enable_check_ic_code_before_isp = 1;
    options.ic_code_check_value = 0xC3;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    const auto now = flash();
    EXPECT_TRUE(std::equal(firmware.begin(), firmware.end(), now.begin()));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(IcCodeRun, MismatchInHdcpModeIsNotBoxedAndLeavesTheKeyAlone)
{
    useBoard(3);
    const std::string key = files.file("key.bin");
    writeWholeFile(key, text(firmwarePattern(288, 42)));
    options.enable_hdcp_key_fire = 1;
    options.hdcp_key_file = key.c_str();
    options.enable_check_ic_code_before_isp = 1;
    options.ic_code_check_value = 4;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_IC_CODE_MISMATCH);
    EXPECT_TRUE(window.boxes.empty());
    EXPECT_TRUE(flash() == oldFlash);
}

// ---- the operation on a board in memory ----

class IcCodeOperation : public SerialFlashFixture {
protected:
    void startWithCode(std::uint8_t code)
    {
        sim::BoardConfig config;
        config.icCode = code;
        start(config);
        useFile(0, firmwarePattern(100, 43));
    }
};

TEST_F(IcCodeOperation, ReadOnlyModeStaysInIspMode)
{
    startWithCode(0x37);
    ctx->options.fields.enable_read_ic_code = 1;
    ctx->options.fields.ispEnable = 1;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_OVERALL_PERCENT, 0, 5}, {MVX_MSG_IC_CODE, 0, 0x37}}));
    EXPECT_EQ(ctx->icCode, 0x37);
    EXPECT_TRUE(board->scaler()->ispEnabled());
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x04);
}

TEST_F(IcCodeOperation, MismatchStaysInIspMode)
{
    startWithCode(0x02);
    ctx->options.fields.enable_check_ic_code_before_isp = 1;
    ctx->options.fields.ic_code_check_value = 0x03;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_IC_CODE_MISMATCH);
    EXPECT_TRUE(board->scaler()->ispEnabled());
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x04);
    EXPECT_EQ(ctx->failureStage, engine::FailureStage::None);
}

TEST_F(IcCodeOperation, ReadOnlyModeTakesPrecedenceOverTheCheck)
{
    startWithCode(0x10);
    ctx->options.fields.enable_read_ic_code = 1;
    ctx->options.fields.ispEnable = 1;
    ctx->options.fields.enable_check_ic_code_before_isp = 1;
    ctx->options.fields.ic_code_check_value = 0x11;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(log.messages.back(), (Message{MVX_MSG_IC_CODE, 0, 0x10}));
}

TEST_F(IcCodeOperation, OutputBytesGoOutBeforeTheCodeIsRead)
{
    startWithCode(0x37);
    ctx->options.fields.enable_read_ic_code = 1;
    ctx->options.fields.ispEnable = 1;
    ctx->options.fields.enable_sete2e3output = 1;
    ctx->options.fields.ffe2_value = 0x12;
    ctx->options.fields.ffe3_value = 0x34;
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(board->scaler()->registerValue(0xE2), 0x12);
    EXPECT_EQ(board->scaler()->registerValue(0xE3), 0x34);
    // 0xE2, 0xE3, then the IC code's index 0x00 to 0xF4, after the entry.
    const auto& writes = adapter->writes;
    const auto at = [&writes](std::uint8_t reg, std::uint8_t value) {
        return std::find_if(writes.begin(), writes.end(),
                            [&](const RecordingAdapter::Write& w) {
                                return w.reg == reg && w.data == std::vector<std::uint8_t>{value};
                            }) -
               writes.begin();
    };
    const auto e2 = at(0xE2, 0x12);
    const auto e3 = at(0xE3, 0x34);
    ASSERT_LT(e3, static_cast<std::ptrdiff_t>(writes.size()));
    EXPECT_LT(at(0xEA, 0x00), e2);
    EXPECT_LT(e2, e3);
    const auto icIndex = std::find_if(writes.begin() + e3, writes.end(), [](const RecordingAdapter::Write& w) {
        return w.reg == 0xF4 && w.data == std::vector<std::uint8_t>{0x00};
    });
    EXPECT_NE(icIndex, writes.end());
}

}  // namespace
}  // namespace mvx::test
