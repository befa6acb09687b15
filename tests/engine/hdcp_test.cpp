// HDCP-key mode of operation 2: the key file, the key sector at flash offset
// 0x3F000, both verify methods and the read-back file, end to end through the
// export call on a virtual board folder and through the operation on a board
// in memory.
#include "hdcp_key.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "operation_serial_flash.hpp"
#include "run.hpp"
#include "serial_flash_fixture.hpp"

namespace mvx::test {
namespace {

using engine::FailureStage;
using engine::IspArguments;
using engine::runIsp;
using engine::runSerialFlash;
using Erase = RecordingAdapter::Erase;

constexpr std::size_t kKeyAt = 0x3F000;
constexpr std::size_t kSector = 0x1000;
constexpr std::size_t kFlashSize = 512 * 1024;   // W25X40A, the board's default part

std::string text(const std::vector<std::uint8_t>& bytes) { return {bytes.begin(), bytes.end()}; }

std::vector<std::uint8_t> bytesOf(const std::string& s) { return {s.begin(), s.end()}; }

// Everything in a folder but the given names.
std::vector<std::string> otherEntries(const std::string& folder, const std::vector<std::string>& expected)
{
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        const std::string name = entry.path().filename().string();
        if (std::find(expected.begin(), expected.end(), name) == expected.end())
            found.push_back(name);
    }
    return found;
}

// ---- end to end through the export call ----

struct Window {
    std::vector<Message> messages;
    std::vector<std::string> boxes;
    MvxWindow window{this, &Window::send, &Window::box};

    static intptr_t send(void* self, uint32_t, uintptr_t wParam, intptr_t lParam)
    {
        static_cast<Window*>(self)->messages.push_back({MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), lParam});
        return 0;
    }
    static int box(void* self, const char* text, const char*, uint32_t)
    {
        static_cast<Window*>(self)->boxes.emplace_back(text);
        return MVX_IDOK;
    }
    int count(int code) const
    {
        return static_cast<int>(std::count_if(messages.begin(), messages.end(),
                                              [code](const Message& m) { return m.code == code; }));
    }
};

// A board folder holding old data everywhere (the old key included), a key
// file and a read-back folder, and the arguments of an HDCP run over the
// Norvane IIC cable.
class HdcpRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        oldFlash = firmwarePattern(kFlashSize, 99);
        writeWholeFile(board.file("flash.bin"), text(oldFlash));
        writeWholeFile(board.file("board.ini"), "");
        std::filesystem::create_directory(readBackFolder());
        options.enable_hdcp_key_fire = 1;
        options.hdcp_key_file = keyPath.c_str();
        options.saveread_hdcp_key_file_path = readBackFolderText.c_str();
        arguments.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        arguments.operation = MVX_OP_SERIAL_FLASH;
        arguments.flashBrand = MVX_BRAND_WINBOND;
        arguments.idReadMode = 1;
        arguments.fileTable = table.data();
        arguments.ownerWindow = &window.window;
        arguments.options = &options;
    }

    void useKey(const std::vector<std::uint8_t>& key) { writeWholeFile(keyPath, text(key)); }
    std::string readBackFolder() const { return files.file("read-back"); }
    std::string readBackFile() const { return readBackFolder() + "/Read_HDCP_KEY_File.bin"; }
    std::vector<std::uint8_t> flash() const { return bytesOf(readWholeFile(board.file("flash.bin"))); }
    std::vector<std::uint8_t> keySector() const
    {
        const auto all = flash();
        return {all.begin() + kKeyAt, all.begin() + kKeyAt + kSector};
    }
    // The flash as the run should leave it: the old data, the key sector
    // holding `key` and then 0xFF.
    std::vector<std::uint8_t> oldFlashWithKey(const std::vector<std::uint8_t>& key) const
    {
        auto expected = oldFlash;
        std::fill_n(expected.begin() + kKeyAt, kSector, 0xFF);
        std::copy(key.begin(), key.end(), expected.begin() + kKeyAt);
        return expected;
    }
    std::string runIni() const { return readWholeFile(board.file("run.ini")); }

    TempFolder board;
    ScopedEnv env{"MVX_VIRTUAL_BOARD", board.path().c_str()};
    TempFolder files;
    std::string keyPath = files.file("hdcp.bin");
    std::string readBackFolderText = readBackFolder();
    std::vector<std::uint8_t> oldFlash;
    std::array<FileTableEntry, MVX_FILE_TABLE_SIZE> table{};
    IspOptions options{};
    IspArguments arguments;
    Window window;
};

TEST_F(HdcpRun, KeyVerifiedByCrcLandsAtItsSectorAndNothingElseChanges)
{
    const auto key = firmwarePattern(288, 3);
    useKey(key);
    options.hdcp_key_fire_check_method = 0;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_TRUE(flash() == oldFlashWithKey(key));
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 0);
    EXPECT_TRUE(window.boxes.empty());
    // No firmware was programmed, and the read-back file is only for the
    // read-back method.
    EXPECT_EQ(window.count(MVX_MSG_PROGRAM_PERCENT), 0);
    EXPECT_FALSE(std::filesystem::exists(readBackFile()));
}

TEST_F(HdcpRun, KeyVerifiedByReadBackIsSavedInTheChosenFolder)
{
    const auto key = firmwarePattern(288, 4);
    useKey(key);
    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_TRUE(flash() == oldFlashWithKey(key));
    EXPECT_EQ(readWholeFile(readBackFile()), text(key));
    EXPECT_TRUE(otherEntries(readBackFolder(), {"Read_HDCP_KEY_File.bin"}).empty());
}

TEST_F(HdcpRun, ReadBackWithoutTheSaveFlagWritesNoFile)
{
    useKey(firmwarePattern(288, 4));
    options.hdcp_key_fire_check_method = 1;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_FALSE(std::filesystem::exists(readBackFile()));
}

TEST_F(HdcpRun, AReadOnlyReadBackFileFromAnEarlierRunIsReplaced)
{
    const auto key = firmwarePattern(4096, 5);
    useKey(key);
    writeWholeFile(readBackFile(), "an earlier board's key");
    ::chmod(readBackFile().c_str(), 0444);
    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    EXPECT_EQ(readWholeFile(readBackFile()), text(key));
    // A key of the sector's whole size fills it.
    EXPECT_EQ(keySector(), key);
}

// ---- the key file ----

TEST_F(HdcpRun, KeyFileOverFourKilobytesIsRefusedBeforeTheBoardIsTouched)
{
    useKey(firmwarePattern(5000, 6));
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    EXPECT_TRUE(flash() == oldFlash);
    EXPECT_NE(runIni().find("transactions=0\n"), std::string::npos) << runIni();
    // Failures in HDCP mode are the caller's to show.
    ASSERT_EQ(window.messages.size(), 1u);
    EXPECT_EQ(window.messages[0], (Message{MVX_MSG_RUN_FAILED, 0, MVX_ERR_FILE}));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(HdcpRun, MissingEmptyOrFolderKeyFilesAreRefused)
{
    const std::string missing = files.file("no-such-key.bin");
    options.hdcp_key_file = missing.c_str();
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    options.hdcp_key_file = nullptr;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    options.hdcp_key_file = files.path().c_str();
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    // An empty binary key would wipe the board's key and pass.
    options.hdcp_key_file = keyPath.c_str();
    useKey({});
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    // A text key is not read, but its file must be there.
    options.hdcp_key_file_kind = engine::kHdcpKeyText;
    options.hdcp_key_file = missing.c_str();
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    EXPECT_TRUE(flash() == oldFlash);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(HdcpRun, TextKeyProgramsABlankBlockWithEitherVerifyMethod)
{
    writeWholeFile(keyPath, "0123456789ABCDEF\n");
    options.hdcp_key_file_kind = engine::kHdcpKeyText;
    for (const int method : {0, 1}) {
        SCOPED_TRACE(method);
        writeWholeFile(board.file("flash.bin"), text(oldFlash));
        options.hdcp_key_fire_check_method = method;
        options.enable_save_readed_hdcp_key = 1;
        EXPECT_EQ(runIsp(arguments), MVX_OK);
        EXPECT_TRUE(flash() == oldFlashWithKey({}));
    }
    // The read-back holds the key's length of bytes: none.
    EXPECT_TRUE(std::filesystem::exists(readBackFile()));
    EXPECT_EQ(readWholeFile(readBackFile()), "");
}

// ---- failures on the board ----

TEST_F(HdcpRun, WriteProtectedFlashFailsTheSectorCheckAndKeepsTheOldKey)
{
    writeWholeFile(board.file("board.ini"), "[board]\nwrite_protect=1\n");
    useKey(firmwarePattern(288, 8));
    EXPECT_EQ(runIsp(arguments), MVX_ERR_WRITE_PROTECTED);
    EXPECT_TRUE(flash() == oldFlash);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 1);
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(HdcpRun, ABadByteFailsBothVerifyMethodsAndTheReadBackFileShowsIt)
{
    writeWholeFile(board.file("board.ini"), "[faults]\nbad_byte=0x3F005\n");
    const auto key = firmwarePattern(288, 9);
    useKey(key);
    options.hdcp_key_fire_check_method = 0;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_CRC_MISMATCH);

    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_CRC_MISMATCH);
    auto expected = key;
    expected[5] ^= 0x01;   // what the flash holds there
    EXPECT_EQ(readWholeFile(readBackFile()), text(expected));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(HdcpRun, ABadByteAfterTheKeyIsNotPartOfTheByteComparison)
{
    // The read-back compares the key's bytes only; the CRC covers the sector.
    writeWholeFile(board.file("board.ini"), "[faults]\nbad_byte=0x3F200\n");
    useKey(firmwarePattern(288, 10));
    options.hdcp_key_fire_check_method = 1;
    EXPECT_EQ(runIsp(arguments), MVX_OK);
    options.hdcp_key_fire_check_method = 0;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_CRC_MISMATCH);
}

TEST_F(HdcpRun, DeadLinkIsIspModeFailureWithoutTheBox)
{
    writeWholeFile(board.file("board.ini"), "[board]\nlink=dead\n");
    useKey(firmwarePattern(288, 11));
    EXPECT_EQ(runIsp(arguments), MVX_ERR_ISP_MODE);
    EXPECT_TRUE(window.boxes.empty());
}

// ---- the read-back folder ----

TEST_F(HdcpRun, ReadBackFileThatCannotBeWrittenFailsTheRunAndLeavesNoPartialFile)
{
    // A folder stands where the file should go: the file cannot be written.
    std::filesystem::create_directory(readBackFile());
    const auto key = firmwarePattern(288, 12);
    useKey(key);
    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    EXPECT_EQ(window.count(MVX_MSG_RUN_FAILED), 1);
    EXPECT_TRUE(window.boxes.empty());
    // The key itself is in the flash and verified; only the file is missing,
    // and nothing half written is left behind.
    EXPECT_TRUE(flash() == oldFlashWithKey(key));
    EXPECT_TRUE(std::filesystem::is_directory(readBackFile()));
    EXPECT_TRUE(std::filesystem::is_empty(readBackFile()));
    EXPECT_TRUE(otherEntries(readBackFolder(), {"Read_HDCP_KEY_File.bin"}).empty());
}

TEST_F(HdcpRun, MissingOrUnnamedReadBackFolderFailsTheRun)
{
    useKey(firmwarePattern(288, 13));
    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    const std::string missing = files.file("no-such-folder");
    options.saveread_hdcp_key_file_path = missing.c_str();
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    EXPECT_FALSE(std::filesystem::exists(missing));
    options.saveread_hdcp_key_file_path = "";
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
    options.saveread_hdcp_key_file_path = nullptr;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_FILE);
}

TEST_F(HdcpRun, FailedComparisonOutranksAnUnwritableFolder)
{
    writeWholeFile(board.file("board.ini"), "[faults]\nbad_byte=0x3F000\n");
    std::filesystem::create_directory(readBackFile());
    useKey(firmwarePattern(288, 14));
    options.hdcp_key_fire_check_method = 1;
    options.enable_save_readed_hdcp_key = 1;
    EXPECT_EQ(runIsp(arguments), MVX_ERR_CRC_MISMATCH);
}

// ---- the operation on a board in memory ----

class HdcpOperation : public SerialFlashFixture {
protected:
    void startHdcp(const std::string& part = "W25X40A")
    {
        start(part);
        ctx->options.fields.enable_hdcp_key_fire = 1;
        ctx->options.hdcpKeyFile = folder.file("key.bin");
    }
    void useKey(const std::vector<std::uint8_t>& key) { writeWholeFile(ctx->options.hdcpKeyFile, text(key)); }
};

TEST_F(HdcpOperation, OneSectorEraseAndSixteenPagesAtTheKeySector)
{
    startHdcp();
    std::fill(flash().begin(), flash().end(), 0x00);
    const auto key = firmwarePattern(300, 20);
    useKey(key);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0x20, 3, 0xF0}}));
    EXPECT_EQ(adapter->blocks, 16);
    std::vector<std::uint16_t> offsets;
    for (int page = 0xF0; page <= 0xFF; ++page)
        offsets.push_back(static_cast<std::uint16_t>(page << 8));
    EXPECT_EQ(adapter->blockOffsets, offsets);
    auto expected = key;
    expected.resize(kSector, 0xFF);
    EXPECT_EQ(flashBytes(kKeyAt, kSector), expected);
    EXPECT_TRUE(flashRangeIs(0, kKeyAt, 0x00));
    EXPECT_TRUE(flashRangeIs(kKeyAt + kSector, flash().size() - kKeyAt - kSector, 0x00));
    EXPECT_EQ(ctx->failureStage, FailureStage::None);
}

TEST_F(HdcpOperation, SendsOnlyTheEntryMessagesAndLeavesIspMode)
{
    startHdcp();
    useKey(firmwarePattern(300, 21));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_OVERALL_PERCENT, 0, 5}}));
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
}

TEST_F(HdcpOperation, LibraryModeSendsThePagesToTheDataPort)
{
    startHdcp();
    ctx->libraryMode = 1;
    const auto key = firmwarePattern(1000, 22);
    useKey(key);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->pageWrites(), 16);
    EXPECT_EQ(adapter->blocks, 0);
    EXPECT_EQ(flashBytes(kKeyAt, key.size()), key);
}

TEST_F(HdcpOperation, FailedKeyWriteLeavesIspModeWithStageFive)
{
    sim::BoardConfig config;
    config.faults.badByte = 0x3F010;
    start(config);
    ctx->options.fields.enable_hdcp_key_fire = 1;
    ctx->options.hdcpKeyFile = folder.file("key.bin");
    useKey(firmwarePattern(300, 23));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_CRC_MISMATCH);
    EXPECT_EQ(ctx->failureStage, FailureStage::HdcpKey);
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
}

TEST_F(HdcpOperation, KeyFileFailureSendsNothingOverTheBus)
{
    startHdcp();
    useKey(firmwarePattern(4097, 24));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_FILE);
    EXPECT_EQ(adapter->accesses(), 0u);
    EXPECT_EQ(ctx->failureStage, FailureStage::HdcpKey);
}

TEST_F(HdcpOperation, FirmwareEntriesAreNeitherLoadedNorProgrammed)
{
    startHdcp();
    useKey(firmwarePattern(300, 25));
    // A broken firmware entry does not matter in HDCP mode.
    table[0].inUse = 1;
    table[0].format = MVX_FORMAT_BINARY;
    std::snprintf(table[0].path, sizeof table[0].path, "%s", folder.file("missing.bin").c_str());
    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_TRUE(flashRangeIs(0, 0x10000, 0xFF));
}

TEST_F(HdcpOperation, EveryPartWithAFourthBankTakesTheKeyWithBothVerifyMethods)
{
    const auto key = firmwarePattern(777, 26);
    for (const sim::FlashPart& part : sim::flashParts()) {
        if (part.brand > MVX_BRAND_AMIC || part.sizeBytes < kKeyAt + kSector)
            continue;
        for (const int method : {0, 1}) {
            SCOPED_TRACE(std::string(part.name) + " verify method " + std::to_string(method));
            startHdcp(part.name);
            ctx->idReadMode = 1;
            ctx->options.fields.hdcp_key_fire_check_method = method;
            std::fill(flash().begin(), flash().end(), 0x00);
            useKey(key);
            ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
            auto expected = key;
            expected.resize(kSector, 0xFF);
            EXPECT_EQ(flashBytes(kKeyAt, kSector), expected);
            EXPECT_TRUE(flashRangeIs(kKeyAt - 0x100, 0x100, 0x00));
        }
    }
}

TEST_F(HdcpOperation, StuckBusyFlashRunsOutOfTime)
{
    sim::BoardConfig config;
    config.faults.stuckBusy = true;
    start(config);
    ctx->options.fields.enable_hdcp_key_fire = 1;
    ctx->options.hdcpKeyFile = folder.file("key.bin");
    useKey(firmwarePattern(300, 27));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_TIMEOUT);
    EXPECT_EQ(ctx->failureStage, FailureStage::HdcpKey);
}

// ---- the flash read-back ----

TEST_F(HdcpOperation, ReadBackDeliversAnyRangeOfTheFlash)
{
    start();
    const auto content = firmwarePattern(kFlashSize, 30);
    std::copy(content.begin(), content.end(), flash().begin());
    std::vector<std::uint8_t> out(1000);
    ASSERT_EQ(engine::readFlashBack(*ctx, 2, 0x1234, out), MVX_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + 0x21234));
    // The first byte of a bank: the command names the last byte of the bank
    // before.
    ASSERT_EQ(engine::readFlashBack(*ctx, 1, 0, out), MVX_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + 0x10000));
    ASSERT_EQ(engine::readFlashBack(*ctx, 0, 0, out), MVX_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin()));
}

TEST_F(HdcpOperation, ReadBackHandsTheControllerBackProtected)
{
    start();
    std::vector<std::uint8_t> out(16);
    ASSERT_EQ(engine::readFlashBack(*ctx, 3, 0xF000, out), MVX_OK);
    const std::uint8_t protectBits = board->flash()->part().protectMask;
    EXPECT_EQ(board->flash()->status() & protectBits, protectBits & 0x1E);
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
    EXPECT_EQ(board->scaler()->registerValue(0x6D), 0xFF);
}

// The sizes of the reads of the data port.
class DataPortReads final : public adapters::AdapterOps {
public:
    explicit DataPortReads(sim::I2cBus& bus) : inner_(bus) {}
    int write(std::uint8_t address, std::uint8_t reg, const std::uint8_t* data, int count,
              adapters::PassThrough pass) override
    {
        return inner_.write(address, reg, data, count, pass);
    }
    int read(std::uint8_t address, std::uint8_t reg, std::uint8_t* buffer, int count,
             adapters::PassThrough pass) override
    {
        if (reg == 0x70)
            sizes.push_back(count);
        return inner_.read(address, reg, buffer, count, pass);
    }
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t reg,
                   std::uint16_t offset) override
    {
        return inner_.writeBlock(block, length, secondary, reg, offset);
    }
    int probeTarget() override { return MVX_OK; }

    std::vector<int> sizes;

private:
    BusAdapter inner_;
};

TEST_F(HdcpOperation, ReadBackComesInPagesAndOverTheBridgeInSixteenByteReads)
{
    start();
    ctx->adapterKind = MVX_ADAPTER_NORVANE_IIC;
    DataPortReads reads(board->bus());
    ctx->link.emplace(reads, board->clock(), std::uint8_t{0x94}, std::uint8_t{0x96});
    const auto content = firmwarePattern(kFlashSize, 31);
    std::copy(content.begin(), content.end(), flash().begin());
    std::vector<std::uint8_t> out(600);
    ASSERT_EQ(engine::readFlashBack(*ctx, 3, 0xF000, out), MVX_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + kKeyAt));
    // One dropped byte, then the data.
    EXPECT_EQ(reads.sizes, (std::vector<int>{1, 256, 256, 88}));

    // The USB bridge answers at most 16 bytes a read.
    reads.sizes.clear();
    ctx->adapterKind = MVX_ADAPTER_NORVANE_USB;
    out.resize(100);
    ASSERT_EQ(engine::readFlashBack(*ctx, 3, 0xF100, out), MVX_OK);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), content.begin() + kKeyAt + 0x100));
    EXPECT_EQ(reads.sizes, (std::vector<int>{1, 16, 16, 16, 16, 16, 16, 4}));
}

TEST_F(HdcpOperation, ReadBackOnADeadLinkDeliversNothing)
{
    sim::BoardConfig config;
    config.linkDead = true;
    start(config);
    std::vector<std::uint8_t> out(16, 0xAA);
    EXPECT_EQ(engine::readFlashBack(*ctx, 3, 0xF000, out), MVX_ERR_ISP_MODE);
}

}  // namespace
}  // namespace mvx::test
