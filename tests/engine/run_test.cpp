// The export calls end to end on the virtual board: argument checks, the
// messages the owner window receives, the failure box and the retry.
#include "run.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mvx/sim/board.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "run_fixtures.hpp"

using mvx::engine::FileInfoArguments;
using mvx::engine::getFileInfo;
using mvx::engine::IspArguments;
using mvx::engine::runIsp;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

using mvx::test::BoardFolder;
using mvx::test::RecordingWindow;
using Firmware = mvx::test::FirmwareFiles;
using VirtualBoard = BoardFolder;

IspArguments serialFlashRun(const Firmware& firmware, const RecordingWindow& window, const IspOptions& options)
{
    IspArguments a;
    a.adapterKind = MVX_ADAPTER_NORVANE_IIC;
    a.operation = MVX_OP_SERIAL_FLASH;
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    return a;
}

}  // namespace

// ---- argument checks ----

TEST(IspRun, AdapterKindAndOperationOutOfRangeSendNothing)
{
    RecordingWindow window;
    IspOptions options{};
    IspArguments a;
    a.ownerWindow = &window.window;
    a.options = &options;
    a.adapterKind = 4;
    EXPECT_EQ(runIsp(a), MVX_ERR_ADAPTER_KIND);
    a.adapterKind = 2;
    a.operation = 6;
    EXPECT_EQ(runIsp(a), MVX_ERR_OPERATION);
    EXPECT_TRUE(window.messages.empty());
    EXPECT_TRUE(window.boxes.empty());
}

TEST(IspRun, RejectedSlaveSelectorIsReportedWithTheBox)
{
    VirtualBoard board("[board]\ntarget=5312\n");
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536});
    IspArguments a;
    a.adapterKind = MVX_ADAPTER_NORVANE_IIC;
    a.operation = MVX_OP_MCU_5312;
    a.slaveSelector = 2;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    EXPECT_EQ(runIsp(a), MVX_ERR_SLAVE_SELECTOR);
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0].code, MVX_MSG_RUN_FAILED);
    EXPECT_EQ(window.messages[0].value, MVX_ERR_SLAVE_SELECTOR);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"ISP process has failed!"}));
    EXPECT_EQ(window.captions, (std::vector<std::string>{"Error"}));
}

// ---- serial flash end to end ----

TEST(IspRun, SerialFlashRunLeavesTheImageInFlashBinAndPasses)
{
    VirtualBoard board;
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536, 65536, 65536});
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_OK);
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), 512u * 1024u);
    for (int bank = 0; bank < 3; ++bank)
        EXPECT_EQ(0, std::memcmp(flash.data() + bank * 65536, firmware.banks[static_cast<std::size_t>(bank)].data(), 65536))
            << bank;
    EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 0);
    ASSERT_FALSE(window.messages.empty());
    EXPECT_EQ(window.messages.back().code, MVX_MSG_OVERALL_PERCENT);
    EXPECT_EQ(window.messages.back().value, 100);
    EXPECT_TRUE(window.boxes.empty());
}

TEST(IspRun, OneWrongCrcIsHealedByTheRetry)
{
    VirtualBoard board("[faults]\ncrc_mismatch_once=1\n");
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536});
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_OK);
    EXPECT_EQ(0, std::memcmp(board.flash().data(), firmware.banks[0].data(), 65536));
    // Two complete runs of messages: the first ends in a mismatch.
    EXPECT_EQ(window.count(MVX_MSG_FLASH_IDENTIFIED), 2);
    EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1);
    EXPECT_TRUE(window.boxes.empty());
}

TEST(IspRun, RepeatTestModeNeitherRetriesNorShowsTheBox)
{
    VirtualBoard board("[faults]\ncrc_mismatch_once=1\n");
    RecordingWindow window;
    IspOptions options{};
    options.enable_isprepeattest = 1;
    Firmware firmware({65536});
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_ERR_CRC_MISMATCH);
    EXPECT_EQ(window.count(MVX_MSG_FLASH_IDENTIFIED), 1);
    EXPECT_TRUE(window.boxes.empty());
    // The chip was erased after the mismatch: no half-verified image stays.
    const std::string flash = board.flash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.begin() + 65536, [](char c) { return c == '\xFF'; }));
}

TEST(IspRun, DeadLinkFailsToEnterIspModeWithItsBoxText)
{
    VirtualBoard board("[board]\nlink=dead\n");
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536});
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"ISP process has failed!\r\r\n Into ISP mode Fail!!"}));
}

TEST(IspRun, ABadBoardFolderIsAFailedRunNotACrash)
{
    VirtualBoard board("[board]\nflash=NoSuchPart\n");
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536});
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 1);
}

// ---- file information ----

TEST(FileInfo, ReportsLengthsChecksumAndCrcOfABank)
{
    Firmware firmware({300});
    int data = 0, program = 0, checksum = 0, crc = 0;
    FileInfoArguments a{firmware.table[0].path, MVX_FORMAT_BINARY, 0, MVX_OP_SERIAL_FLASH, 0, 0,
                        &data, &program, &checksum, &crc, nullptr, 0, 0};
    EXPECT_EQ(getFileInfo(a), MVX_OK);
    EXPECT_EQ(data, 300);
    EXPECT_EQ(program, 300);
    int sum = 0;
    for (std::size_t i = 0; i < 300; ++i)
        sum += firmware.banks[0][i];
    for (std::size_t i = 300; i < 65536; ++i)
        sum += 0xFF;
    EXPECT_EQ(checksum, sum % 65536);
    EXPECT_EQ(crc, mvx::test::referenceCrc8(std::span(firmware.banks[0]).first(300)));
}

TEST(FileInfo, BadArgumentsLeaveTheOutputsAlone)
{
    int data = -7, program = -7, checksum = -7, crc = -7;
    FileInfoArguments a{"x.bin", 3, 0, 0, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0};
    EXPECT_EQ(getFileInfo(a), MVX_ERR_FILE_FORMAT);
    a.format = MVX_FORMAT_BINARY;
    a.bank = 257;
    EXPECT_EQ(getFileInfo(a), MVX_ERR_BANK);
    const std::string tooLong(260, 'a');
    a.bank = 0;
    a.path = tooLong.c_str();
    EXPECT_EQ(getFileInfo(a), MVX_ERR_FILE);
    EXPECT_EQ(data, -7);
    EXPECT_EQ(crc, -7);
}

TEST(FileInfo, SlotCodesReportTheCrcOfBlankBytes)
{
    Firmware firmware({4096});
    int data = 0, program = 0, checksum = 0, crc = 0;
    // Bank code 22 of operation 5 is a writer slot: its image is not kept in
    // the bank image, so the CRC is that of L bytes of 0xFF.
    FileInfoArguments a{firmware.table[0].path, MVX_FORMAT_BINARY, 22, MVX_OP_SERIAL_FLASH_1TO4, 0, 0,
                        &data, &program, &checksum, &crc, nullptr, 0, 0};
    EXPECT_EQ(getFileInfo(a), MVX_OK);
    EXPECT_EQ(program, 4096);
    EXPECT_EQ(crc, 0x09);   // CRC-8 of 4,096 bytes of 0xFF
}

// ---- every plain operation through every bit-banged and library transport ----

namespace {

struct TransportRow {
    const char* name;
    int adapterKind;
    int libraryMode;
};

const TransportRow kTransports[] = {
    {"Norvane IIC cable", MVX_ADAPTER_NORVANE_IIC, 0},
    {"CVT IIC cable", MVX_ADAPTER_CVT_IIC, 0},
    {"Norvane IIC library", MVX_ADAPTER_NORVANE_IIC, 1},
};

}  // namespace

class EveryTransport : public testing::TestWithParam<TransportRow> {};

TEST_P(EveryTransport, WholeSerialFlashIsWrittenByteForByte)
{
    const TransportRow& row = GetParam();
    VirtualBoard board;
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware({65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536});
    IspArguments a;
    a.adapterKind = row.adapterKind;
    a.libraryMode = row.libraryMode;
    a.operation = MVX_OP_SERIAL_FLASH;
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    a.fileTable = firmware.table.data();
    a.ownerWindow = &window.window;
    a.options = &options;
    ASSERT_EQ(runIsp(a), MVX_OK) << row.name;
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), firmware.image.size());
    EXPECT_EQ(0, std::memcmp(flash.data(), firmware.image.data(), flash.size())) << row.name;
}

TEST_P(EveryTransport, BothMcuTypesAreWrittenByteForByte)
{
    const TransportRow& row = GetParam();
    struct McuRow {
        const char* target;
        int operation;
        std::initializer_list<std::size_t> banks;
    };
    for (const McuRow& mcu : {McuRow{"5310", MVX_OP_MCU_5310, {65536, 32768}},
                              McuRow{"5312", MVX_OP_MCU_5312, {65536, 65536, 32768}}}) {
        VirtualBoard board(std::string("[board]\ntarget=") + mcu.target + "\n");
        RecordingWindow window;
        IspOptions options{};
        Firmware firmware(mcu.banks);
        IspArguments a;
        a.adapterKind = row.adapterKind;
        a.libraryMode = row.libraryMode;
        a.operation = mcu.operation;
        a.fileTable = firmware.table.data();
        a.ownerWindow = &window.window;
        a.options = &options;
        ASSERT_EQ(runIsp(a), MVX_OK) << row.name << " " << mcu.target;
        const std::string chip = mvx::test::readWholeFile(board.path("mcu.bin"));
        ASSERT_EQ(chip.size(), firmware.image.size()) << mcu.target;
        EXPECT_EQ(0, std::memcmp(chip.data(), firmware.image.data(), chip.size())) << row.name << " " << mcu.target;
        EXPECT_EQ(window.count(MVX_MSG_RUN_PASSED), 1);
    }
}

INSTANTIATE_TEST_SUITE_P(Transports, EveryTransport, testing::ValuesIn(kTransports),
                         [](const testing::TestParamInfo<TransportRow>& row) {
                             return std::string(row.param.adapterKind == MVX_ADAPTER_CVT_IIC ? "Cvt" : "Norvane") +
                                    (row.param.libraryMode ? "Library" : "Cable");
                         });
