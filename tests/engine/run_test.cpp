// The export calls end to end on the virtual board: argument checks, the
// messages the owner window receives, the failure box and the retry.
#include "run.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "mvx/sim/board.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

using mvx::engine::FileInfoArguments;
using mvx::engine::getFileInfo;
using mvx::engine::IspArguments;
using mvx::engine::runIsp;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

struct Message {
    int code;
    int sub;
    long value;
};

// An owner window that records what the engine sends and answers boxes.
struct RecordingWindow {
    std::vector<Message> messages;
    std::vector<std::string> boxes;
    MvxWindow window{this, &RecordingWindow::send, &RecordingWindow::box};

    static intptr_t send(void* self, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        if (message == WM_ISP_PROGRESS)
            static_cast<RecordingWindow*>(self)->messages.push_back(
                {MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), static_cast<long>(lParam)});
        return 0;
    }
    static int box(void* self, const char* text, const char* caption, uint32_t)
    {
        static_cast<RecordingWindow*>(self)->boxes.push_back(std::string(caption) + ": " + text);
        return MVX_IDOK;
    }
    int count(int code) const
    {
        int n = 0;
        for (const Message& m : messages)
            n += m.code == code ? 1 : 0;
        return n;
    }
};

// A board folder with a board.ini, named by MVX_VIRTUAL_BOARD for the test.
struct VirtualBoard {
    explicit VirtualBoard(const std::string& ini = "")
    {
        writeWholeFile(folder.file("board.ini"), ini);
    }
    std::string flash() const { return mvx::test::readWholeFile(folder.file("flash.bin")); }
    TempFolder folder;
    ScopedEnv env{"MVX_VIRTUAL_BOARD", folder.path().c_str()};
};

// Firmware files for the first `banks` banks and the table that names them.
struct Firmware {
    explicit Firmware(int banks, std::size_t bytesPerBank = 65536)
    {
        table.resize(MVX_FILE_TABLE_SIZE);
        for (int bank = 0; bank < banks; ++bank) {
            auto data = mvx::test::firmwarePattern(bytesPerBank, static_cast<unsigned>(bank + 1));
            const std::string path = folder.file("bank" + std::to_string(bank) + ".bin");
            writeWholeFile(path, std::string(data.begin(), data.end()));
            images.push_back(data);
            table[static_cast<std::size_t>(bank)].inUse = 1;
            table[static_cast<std::size_t>(bank)].format = MVX_FORMAT_BINARY;
            std::strcpy(table[static_cast<std::size_t>(bank)].path, path.c_str());
        }
    }
    TempFolder folder;
    std::vector<FileTableEntry> table;
    std::vector<std::vector<std::uint8_t>> images;
};

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
    Firmware firmware(1);
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
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"Error: ISP process has failed!"}));
}

// ---- serial flash end to end ----

TEST(IspRun, SerialFlashRunLeavesTheImageInFlashBinAndPasses)
{
    VirtualBoard board;
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware(3);
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_OK);
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), 512u * 1024u);
    for (int bank = 0; bank < 3; ++bank)
        EXPECT_EQ(0, std::memcmp(flash.data() + bank * 65536, firmware.images[static_cast<std::size_t>(bank)].data(), 65536))
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
    Firmware firmware(1);
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_OK);
    EXPECT_EQ(0, std::memcmp(board.flash().data(), firmware.images[0].data(), 65536));
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
    Firmware firmware(1);
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
    Firmware firmware(1);
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.boxes, (std::vector<std::string>{"Error: ISP process has failed!\r\r\n Into ISP mode Fail!!"}));
}

TEST(IspRun, ABadBoardFolderIsAFailedRunNotACrash)
{
    VirtualBoard board("[board]\nflash=NoSuchPart\n");
    RecordingWindow window;
    IspOptions options{};
    Firmware firmware(1);
    EXPECT_EQ(runIsp(serialFlashRun(firmware, window, options)), MVX_ERR_ISP_MODE);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 1);
}

// ---- file information ----

TEST(FileInfo, ReportsLengthsChecksumAndCrcOfABank)
{
    Firmware firmware(1, 300);
    int data = 0, program = 0, checksum = 0, crc = 0;
    FileInfoArguments a{firmware.table[0].path, MVX_FORMAT_BINARY, 0, MVX_OP_SERIAL_FLASH, 0, 0,
                        &data, &program, &checksum, &crc, nullptr, 0, 0};
    EXPECT_EQ(getFileInfo(a), MVX_OK);
    EXPECT_EQ(data, 300);
    EXPECT_EQ(program, 300);
    int sum = 0;
    for (std::size_t i = 0; i < 300; ++i)
        sum += firmware.images[0][i];
    for (std::size_t i = 300; i < 65536; ++i)
        sum += 0xFF;
    EXPECT_EQ(checksum, sum % 65536);
    EXPECT_EQ(crc, mvx::test::referenceCrc8(std::span(firmware.images[0]).first(300)));
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
    Firmware firmware(1, 4096);
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

// Firmware with banks of the given sizes.
struct SizedFirmware {
    explicit SizedFirmware(std::initializer_list<std::size_t> sizes)
    {
        table.resize(MVX_FILE_TABLE_SIZE);
        std::size_t bank = 0;
        for (std::size_t size : sizes) {
            auto data = mvx::test::firmwarePattern(size, static_cast<unsigned>(bank + 11));
            const std::string path = folder.file("bank" + std::to_string(bank) + ".bin");
            writeWholeFile(path, std::string(data.begin(), data.end()));
            image.insert(image.end(), data.begin(), data.end());
            table[bank].inUse = 1;
            table[bank].format = MVX_FORMAT_BINARY;
            std::strcpy(table[bank].path, path.c_str());
            ++bank;
        }
    }
    TempFolder folder;
    std::vector<FileTableEntry> table;
    std::vector<std::uint8_t> image;   // the banks one after the other
};

}  // namespace

class EveryTransport : public testing::TestWithParam<TransportRow> {};

TEST_P(EveryTransport, WholeSerialFlashIsWrittenByteForByte)
{
    const TransportRow& row = GetParam();
    VirtualBoard board;
    RecordingWindow window;
    IspOptions options{};
    SizedFirmware firmware({65536, 65536, 65536, 65536, 65536, 65536, 65536, 65536});
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
        SizedFirmware firmware(mcu.banks);
        IspArguments a;
        a.adapterKind = row.adapterKind;
        a.libraryMode = row.libraryMode;
        a.operation = mcu.operation;
        a.fileTable = firmware.table.data();
        a.ownerWindow = &window.window;
        a.options = &options;
        ASSERT_EQ(runIsp(a), MVX_OK) << row.name << " " << mcu.target;
        const std::string chip = mvx::test::readWholeFile(board.folder.file("mcu.bin"));
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
