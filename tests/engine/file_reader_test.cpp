#include "file_reader.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bank_image.hpp"
#include "crc.hpp"
#include "temp_folder.hpp"

namespace mvx::engine {
namespace {

std::string hexRecord(std::uint8_t type, std::uint16_t address, const std::vector<std::uint8_t>& data)
{
    unsigned sum = static_cast<unsigned>(data.size()) + (address >> 8) + (address & 0xFFu) + type;
    char text[16];
    std::snprintf(text, sizeof text, ":%02X%04X%02X", static_cast<unsigned>(data.size()), address, type);
    std::string record = text;
    for (const std::uint8_t byte : data) {
        std::snprintf(text, sizeof text, "%02X", byte);
        record += text;
        sum += byte;
    }
    std::snprintf(text, sizeof text, "%02X\r\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
    return record + text;
}

const std::string kEndRecord = ":00000001FF\r\n";

LoadRules rules(int operation, int eraseMode = 0, int eraseLength = 32, int sectorFlag = 0, int sectorBank = 0)
{
    return LoadRules{operation, eraseMode, eraseLength, sectorFlag, sectorBank};
}

// A whole-device image whose bank b (64 KB) is filled with the byte b + 1.
std::string numberedBanks(int banks)
{
    std::string image;
    for (int b = 0; b < banks; ++b)
        image.append(65536, static_cast<char>(b + 1));
    return image;
}

class FileReader : public ::testing::Test {
protected:
    LoadedBank load(const std::string& content, int format, std::uint8_t code, const LoadRules& loadRules)
    {
        test::writeWholeFile(path_, content);
        const FileTableEntry entry = entryFor(format, path_);
        return loadBank(&entry, code, loadRules);
    }
    static FileTableEntry entryFor(int format, const std::string& path)
    {
        FileTableEntry entry{};
        entry.inUse = 1;
        entry.format = format;
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
        return entry;
    }

    test::TempFolder folder_;
    std::string path_ = folder_.file("firmware");
};

// ---- Intel HEX ----

TEST_F(FileReader, HexRecordLoadsItsBytesAndSetsTheDataLength)
{
    const LoadedBank bank = load(":0300300002337A1E\r\n" + kEndRecord, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0x33);
    EXPECT_EQ(bank.programLength, 0x33);
    EXPECT_EQ(bank.buffer[0x30], 0x02);
    EXPECT_EQ(bank.buffer[0x31], 0x33);
    EXPECT_EQ(bank.buffer[0x32], 0x7A);
    EXPECT_EQ(std::count(bank.buffer.begin(), bank.buffer.end(), 0xFF), 65536 - 3);
}

TEST_F(FileReader, BackwardsRecordsKeepTheEndOfTheHighestRecord)
{
    const std::string hex = hexRecord(0, 0x20, std::vector<std::uint8_t>(16, 0x22)) +
                            hexRecord(0, 0x10, std::vector<std::uint8_t>(16, 0x11)) +
                            hexRecord(0, 0x00, std::vector<std::uint8_t>(16, 0x00)) + kEndRecord;
    const LoadedBank bank = load(hex, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0x30);
    EXPECT_EQ(bank.buffer[0x00], 0x00);
    EXPECT_EQ(bank.buffer[0x1F], 0x11);
    EXPECT_EQ(bank.buffer[0x2F], 0x22);
}

TEST_F(FileReader, OverlappingRecordThatEndsFurtherExtendsTheDataLength)
{
    const std::string hex = hexRecord(0, 0x20, std::vector<std::uint8_t>(16, 0x22)) +
                            hexRecord(0, 0x10, std::vector<std::uint8_t>(0x30, 0x11)) + kEndRecord;
    const LoadedBank bank = load(hex, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0x40);
    EXPECT_EQ(bank.buffer[0x3F], 0x11);
}

TEST_F(FileReader, HexSkipsTextBetweenRecordsAndStopsAtTheEndRecord)
{
    const std::string hex = "; built 2024\n" + std::string(":0300300002337a1e") + "  junk\n" + kEndRecord +
                            hexRecord(0, 0x100, {0x55});
    const LoadedBank bank = load(hex, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0x33);
    EXPECT_EQ(bank.buffer[0x100], 0xFF);
}

TEST_F(FileReader, HexWithoutAnyRecordIsAnEmptyImage)
{
    const LoadedBank bank = load("no records here\n", MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    EXPECT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0);
    EXPECT_EQ(bank.programLength, 0);
    EXPECT_TRUE(std::all_of(bank.buffer.begin(), bank.buffer.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(FileReader, MalformedHexRecordsAreRefusedKeepingTheLengthSoFar)
{
    const std::string good = hexRecord(0, 0x00, {1, 2, 3, 4});
    const std::string bad[] = {
        ":0300300002337G1E\r\n",  // not a hex digit
        ":0300300002337A1F\r\n",  // wrong checksum
        ":03003000023",           // file ends inside the record
        hexRecord(0x06, 0x40, {1}),  // no such record type
        hexRecord(0, 0xFFF8, std::vector<std::uint8_t>(16, 0xAB)),  // runs past the bank
    };
    for (const std::string& record : bad) {
        const LoadedBank bank = load(good + record + kEndRecord, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
        EXPECT_EQ(bank.result, MVX_ERR_HEX_RECORD) << record;
        EXPECT_EQ(bank.dataLength, 4) << record;
        EXPECT_EQ(bank.programLength, 0) << record;
        EXPECT_EQ(bank.checksum, 0) << record;
    }
}

TEST_F(FileReader, HexRecordEndingAtTheLastByteFillsTheBank)
{
    const LoadedBank bank = load(hexRecord(0, 0xFFF0, std::vector<std::uint8_t>(16, 0xAB)) + kEndRecord,
                                 MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 65536);
    EXPECT_EQ(bank.buffer[0xFFFF], 0xAB);
}

TEST_F(FileReader, AddressAndStartRecordsAreNotStoredAsData)
{
    const std::string hex = hexRecord(0x04, 0, {0x00, 0x01}) + hexRecord(0x02, 0, {0x10, 0x00}) +
                            hexRecord(0, 0x10, {0x42}) + hexRecord(0x05, 0, {0x00, 0x00, 0x12, 0x34}) + kEndRecord;
    const LoadedBank bank = load(hex, MVX_FORMAT_HEX, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 0x11);
    EXPECT_EQ(bank.buffer[0], 0xFF);
    EXPECT_EQ(bank.buffer[1], 0xFF);
    EXPECT_EQ(bank.buffer[0x10], 0x42);
}

// ---- opening files ----

TEST_F(FileReader, MissingUnusableOrUnterminatedPathsAreRefused)
{
    const FileTableEntry missing = entryFor(MVX_FORMAT_HEX, folder_.file("absent.hex"));
    EXPECT_EQ(loadBank(&missing, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE);
    const FileTableEntry aFolder = entryFor(MVX_FORMAT_BINARY, folder_.path());
    EXPECT_EQ(loadBank(&aFolder, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE);
    FileTableEntry unterminated = entryFor(MVX_FORMAT_BINARY, "");
    std::memset(unterminated.path, 'a', sizeof unterminated.path);
    EXPECT_EQ(loadBank(&unterminated, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE);
    EXPECT_EQ(loadBank(nullptr, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_NO_FILE_TABLE);
    EXPECT_EQ(load("x", 3, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE_FORMAT);
    EXPECT_EQ(load("x", MVX_FORMAT_BINARY, 0, rules(6)).result, MVX_ERR_OPERATION);
}

TEST_F(FileReader, PipesDevicesAndFilesOverTheFormatsLimitAreRefusedAtOnce)
{
    ASSERT_EQ(::mkfifo(folder_.file("pipe").c_str(), 0600), 0);
    for (int format = MVX_FORMAT_HEX; format <= MVX_FORMAT_WHOLE_DEVICE; ++format) {
        SCOPED_TRACE(format);
        // A pipe nobody writes into would block a plain open for ever.
        for (const std::string& path : {folder_.file("pipe"), std::string("/dev/zero")}) {
            const FileTableEntry entry = entryFor(format, path);
            EXPECT_EQ(loadBank(&entry, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE) << path;
        }
        EXPECT_EQ(load(std::string(fileLimitOf(format) + 1, ':'), format, 0, rules(MVX_OP_SERIAL_FLASH)).result,
                  MVX_ERR_FILE);
    }
    // At the limit a whole-device image is still read.
    EXPECT_EQ(load(numberedBanks(16), MVX_FORMAT_WHOLE_DEVICE, 8, rules(MVX_OP_SERIAL_FLASH)).buffer[0], 9);
}

TEST_F(FileReader, ParsingFromMemoryGivesWhatTheFileGives)
{
    const std::string hex = hexRecord(0, 0x30, {2, 0x33, 0x7A}) + kEndRecord;
    const struct {
        std::string content;
        int format;
        std::uint8_t code;
    } cases[] = {{hex, MVX_FORMAT_HEX, 0}, {hex + ":zz", MVX_FORMAT_HEX, 0}, {"\x01\x02", MVX_FORMAT_BINARY, 1},
                 {"", MVX_FORMAT_BINARY, 0}, {numberedBanks(3), MVX_FORMAT_WHOLE_DEVICE, 2}};
    for (const auto& c : cases) {
        const LoadedBank fromFile = load(c.content, c.format, c.code, rules(MVX_OP_SERIAL_FLASH));
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(c.content.data());
        const LoadedBank fromMemory = loadBankFromBytes(std::span<const std::uint8_t>(bytes, c.content.size()),
                                                        c.format, c.code, rules(MVX_OP_SERIAL_FLASH));
        EXPECT_EQ(fromMemory.result, fromFile.result);
        EXPECT_EQ(fromMemory.dataLength, fromFile.dataLength);
        EXPECT_EQ(fromMemory.checksum, fromFile.checksum);
        EXPECT_EQ(fromMemory.buffer, fromFile.buffer);
    }
}

// ---- raw binary ----

TEST_F(FileReader, RawBinaryLoadsFromOffsetZero)
{
    const LoadedBank bank = load("\x01\x02\x03", MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(bank.result, MVX_OK);
    EXPECT_EQ(bank.dataLength, 3);
    EXPECT_EQ(bank.programLength, 3);
    EXPECT_EQ(bank.buffer[2], 0x03);
    EXPECT_EQ(bank.buffer[3], 0xFF);
    EXPECT_EQ(load(std::string(65536, '\x11'), MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH)).dataLength, 65536);
}

TEST_F(FileReader, RawBinaryLongerThanABankOrEmptyIsRefused)
{
    const LoadedBank tooLong = load(std::string(70000, '\x11'), MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH));
    EXPECT_EQ(tooLong.result, MVX_ERR_FILE);
    EXPECT_EQ(tooLong.dataLength, 70000);
    EXPECT_EQ(tooLong.programLength, 0);
    EXPECT_EQ(tooLong.buffer.size(), kLoadBufferSize);
    const LoadedBank empty = load("", MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH));
    EXPECT_EQ(empty.result, MVX_ERR_FILE);
    EXPECT_EQ(empty.dataLength, 0);
}

// ---- whole-device binary ----

TEST(WholeDeviceWindow, CutsTheBankByOperationAndBankCode)
{
    struct Case {
        int operation;
        int code;
        std::uint64_t fileLength;
        std::uint64_t offset;
        int count;
        int flashBank;
    };
    const Case cases[] = {
        {1, 0, 0x30000, 0, 65536, -1},        {4, 13, 0x30000, 0, 65536, -1},
        {1, 1, 0x30000, 0x10000, 65536, -1},  {4, 14, 0x30000, 0x10000, 65536, -1},
        {1, 2, 0x25000, 0x20000, 0x5000, -1}, {4, 15, 0x40000, 0x20000, 0x8000, -1},
        {1, 2, 0x10000, 0x20000, 0, -1},      {2, 5, 0x10, 0x50000, 65536, 5},
        {2, 8, 0, 0x80000, 65536, 8},         {5, 29, 0, 0x10000, 65536, 1},
        {5, 9, 0, 0, 65536, 0},               {2, 27, 0, 0, 65536, 0},
        {2, 40, 0, 0x280000, 65536, 40},      {0, 0, 0x18000, 0, 65536, -1},
        {3, 20, 0x18000, 0, 65536, -1},       {0, 1, 0x14000, 0x10000, 0x4000, -1},
        {3, 21, 0x8000, 0x10000, 0x8000, -1}, {0, 1, 0x20000, 0x10000, 0x8000, -1},
    };
    for (const Case& c : cases) {
        const DeviceWindow window = wholeDeviceWindow(c.operation, static_cast<std::uint8_t>(c.code), c.fileLength);
        EXPECT_EQ(window.offset, c.offset) << c.operation << "/" << c.code;
        EXPECT_EQ(window.count, c.count) << c.operation << "/" << c.code;
        EXPECT_EQ(window.dataLength, c.count) << c.operation << "/" << c.code;
        EXPECT_EQ(window.flashBank, c.flashBank) << c.operation << "/" << c.code;
    }
}

TEST_F(FileReader, WholeDeviceReadsOnlyTheBanksWindow)
{
    const std::string image = numberedBanks(2) + std::string(0x5000, '\x77');
    const LoadedBank last = load(image, MVX_FORMAT_WHOLE_DEVICE, 2, rules(MVX_OP_MCU_5312, 0));
    ASSERT_EQ(last.result, MVX_OK);
    EXPECT_EQ(last.dataLength, 0x5000);
    EXPECT_EQ(last.buffer[0], 0x77);
    EXPECT_EQ(last.buffer[0x4FFF], 0x77);
    EXPECT_EQ(last.buffer[0x5000], 0xFF);

    const LoadedBank slot = load(image, MVX_FORMAT_WHOLE_DEVICE, 29, rules(MVX_OP_SERIAL_FLASH_1TO4));
    ASSERT_EQ(slot.result, MVX_OK);
    EXPECT_EQ(slot.buffer[0], 0x02);
    EXPECT_EQ(slot.buffer[0xFFFF], 0x02);

    // Bank 2 is only partly in the file: the rest stays blank.
    const LoadedBank partial = load(image, MVX_FORMAT_WHOLE_DEVICE, 2, rules(MVX_OP_SERIAL_FLASH));
    ASSERT_EQ(partial.result, MVX_OK);
    EXPECT_EQ(partial.dataLength, 65536);
    EXPECT_EQ(partial.buffer[0x4FFF], 0x77);
    EXPECT_EQ(partial.buffer[0x5000], 0xFF);

    EXPECT_EQ(load("", MVX_FORMAT_WHOLE_DEVICE, 0, rules(MVX_OP_SERIAL_FLASH)).result, MVX_ERR_FILE);
}

TEST_F(FileReader, SectorEraseBankIsTrimmedToItsLastUsedByteThenAligned)
{
    std::string image = numberedBanks(6);
    std::fill(image.begin() + 5 * 65536 + 0x1234, image.end(), '\xFF');
    const LoadedBank trimmed = load(image, MVX_FORMAT_WHOLE_DEVICE, 5, rules(MVX_OP_SERIAL_FLASH, 0, 0, 1, 5));
    ASSERT_EQ(trimmed.result, MVX_OK);
    EXPECT_EQ(trimmed.dataLength, 0x1234);
    EXPECT_EQ(trimmed.programLength, 0x2000);
    EXPECT_EQ(trimmed.summedLength, 65536);

    const LoadedBank other = load(image, MVX_FORMAT_WHOLE_DEVICE, 4, rules(MVX_OP_SERIAL_FLASH, 0, 0, 1, 5));
    EXPECT_EQ(other.dataLength, 65536);
    EXPECT_EQ(other.programLength, 65536);

    std::fill(image.begin() + 5 * 65536, image.end(), '\xFF');
    const LoadedBank blank = load(image, MVX_FORMAT_WHOLE_DEVICE, 5, rules(MVX_OP_SERIAL_FLASH, 0, 0, 1, 5));
    EXPECT_EQ(blank.result, MVX_OK);
    EXPECT_EQ(blank.dataLength, 0);
    EXPECT_EQ(blank.programLength, 0);
}

// ---- sector-erase alignment ----

TEST(SectorAlignedLength, RoundsUpPastTheNextSectorWithinOneBank)
{
    EXPECT_EQ(sectorAlignedLength(0), 0);
    EXPECT_EQ(sectorAlignedLength(4095), 4095);
    EXPECT_EQ(sectorAlignedLength(4096), 8192);
    EXPECT_EQ(sectorAlignedLength(8191), 8192);
    EXPECT_EQ(sectorAlignedLength(61439), 61440);
    EXPECT_EQ(sectorAlignedLength(61440), 65536);
    EXPECT_EQ(sectorAlignedLength(65536), 65536);
}

TEST_F(FileReader, AlignmentAppliesOnlyToTheSectorEraseBank)
{
    const std::string data(5000, '\x01');
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 2, rules(MVX_OP_SERIAL_FLASH, 0, 0, 1, 2)).programLength, 8192);
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 2, rules(MVX_OP_SERIAL_FLASH, 0, 0, 0, 2)).programLength, 5000);
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 3, rules(MVX_OP_SERIAL_FLASH, 0, 0, 1, 2)).programLength, 5000);
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 30, rules(MVX_OP_SERIAL_FLASH_1TO4, 0, 0, 1, 2)).programLength, 8192);
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 2, rules(MVX_OP_SERIAL_FLASH_1TO4, 0, 0, 1, 2)).programLength, 8192);
}

// ---- program length, summed length and bank codes ----

TEST_F(FileReader, ProgramAndSummedLengthsFollowOperationAndBankCode)
{
    struct Case {
        int operation;
        int code;
        int programLength;
        int summedLength;
    };
    const int n = 3000;  // the file's data length
    const Case cases[] = {
        {0, 0, 65536, 65536}, {2, 0, n, 65536},   {2, 200, n, 65536}, {1, 0, 65536, 65536},
        {1, 1, 65536, 65536}, {4, 14, 65536, 65536}, {4, 9, n, 65536}, {4, 12, n, 65536},
        {3, 20, 65536, 65536}, {3, 17, n, 65536}, {5, 22, n, n},      {5, 26, n, n},
        {5, 3, n, 65536},     {5, 31, n, 65536},  {0, 1, 0x8000, 0x8000}, {1, 2, 0x8000, 0x8000},
        {3, 21, 0x8000, 0x8000}, {4, 15, 0x8000, 0x8000},
    };
    for (const Case& c : cases) {
        const LoadedBank bank =
            load(std::string(n, '\x01'), MVX_FORMAT_BINARY, static_cast<std::uint8_t>(c.code), rules(c.operation));
        ASSERT_EQ(bank.result, MVX_OK) << c.operation << "/" << c.code;
        EXPECT_EQ(bank.programLength, c.programLength) << c.operation << "/" << c.code;
        EXPECT_EQ(bank.summedLength, c.summedLength) << c.operation << "/" << c.code;
    }
}

TEST_F(FileReader, BankCodesAnOperationDoesNotHaveAreRefused)
{
    const std::pair<int, int> illegal[] = {{0, 2}, {1, 3}, {3, 15}, {4, 16}, {5, 24}, {5, 27}, {3, 9}};
    for (const auto& [operation, code] : illegal) {
        const LoadedBank bank =
            load(std::string(100, '\x01'), MVX_FORMAT_BINARY, static_cast<std::uint8_t>(code), rules(operation));
        EXPECT_EQ(bank.result, MVX_ERR_BANK) << operation << "/" << code;
        EXPECT_EQ(bank.dataLength, 100);
        EXPECT_EQ(bank.programLength, 0);
        EXPECT_EQ(bank.checksum, 0);
    }
}

TEST_F(FileReader, LastBankPartialEraseLengthMustCoverTheFileWithin32K)
{
    const auto lastBank = [this](int size, int eraseLength) {
        return load(std::string(static_cast<std::size_t>(size), '\x01'), MVX_FORMAT_BINARY, 1,
                    rules(MVX_OP_MCU_5310, 1, eraseLength));
    };
    const LoadedBank fits = lastBank(16000, 20480);
    ASSERT_EQ(fits.result, MVX_OK);
    EXPECT_EQ(fits.programLength, 20480);
    EXPECT_EQ(fits.summedLength, 20480);
    EXPECT_EQ(fits.eraseLength, 20480);
    EXPECT_EQ(lastBank(24000, 20480).result, MVX_ERR_ERASE_LENGTH);
    EXPECT_EQ(lastBank(16000, 0x8001).result, MVX_ERR_ERASE_LENGTH);

    const LoadedBank ownLength = lastBank(16000, -1);
    ASSERT_EQ(ownLength.result, MVX_OK);
    EXPECT_EQ(ownLength.programLength, 16000);
    EXPECT_EQ(ownLength.summedLength, 0x8000);
    EXPECT_EQ(ownLength.eraseLength, 16000);
    EXPECT_EQ(lastBank(0x9000, -1).result, MVX_ERR_ERASE_LENGTH);
}

TEST_F(FileReader, LastBankWholeEraseRefusesDataPast32K)
{
    std::string padded(0x8000, '\x01');
    padded.append(0x1000, '\xFF');
    EXPECT_EQ(load(padded, MVX_FORMAT_BINARY, 1, rules(MVX_OP_MCU_5310, 0)).programLength, 0x8000);
    padded.back() = '\x00';
    EXPECT_EQ(load(padded, MVX_FORMAT_BINARY, 1, rules(MVX_OP_MCU_5310, 0)).result, MVX_ERR_ERASE_LENGTH);
}

// ---- checksums ----

TEST_F(FileReader, ChecksumCoversTheSummedLengthByTheOperationsRule)
{
    const std::string data = "\x01\x02\x03";
    const int blankTail = (65536 - 3) * 0xFF;
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH)).checksum, (6 + blankTail) % 65536);
    // Words 0x0201, 0xFF03, then 32,766 words of 0xFFFF.
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 0, rules(MVX_OP_MCU_5312)).checksum,
              (0x0201 + 0xFF03 + 32766 * 0xFFFF) % 65536);
    EXPECT_EQ(load(data, MVX_FORMAT_BINARY, 22, rules(MVX_OP_SERIAL_FLASH_1TO4)).checksum, 6);
}

// ---- flash-to-EEPROM marker ----

TEST_F(FileReader, MarkerAtTheOffsetNamedByBytesOneAndTwoIsRecognised)
{
    std::string image(0x2000, '\x00');
    image[1] = '\x12';
    image[2] = '\x34';
    image.replace(0x1234, 4, "\xAA\x55\x55\xAA");
    EXPECT_TRUE(load(image, MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH)).eepromMarker);
    // Also reported when the bank code is then refused.
    EXPECT_TRUE(load(image, MVX_FORMAT_BINARY, 9, rules(MVX_OP_MCU_5310)).eepromMarker);
    image[2] = '\x35';
    EXPECT_FALSE(load(image, MVX_FORMAT_BINARY, 0, rules(MVX_OP_SERIAL_FLASH)).eepromMarker);
}

TEST(EepromMarker, OffsetsNearTheEndOfTheBufferStayInside)
{
    std::vector<std::uint8_t> buffer(kLoadBufferSize, 0xFF);
    buffer[1] = 0xFF;
    buffer[2] = 0xFE;
    EXPECT_FALSE(hasEepromMarker(buffer));
    buffer[2] = 0xFC;
    std::copy_n("\xAA\x55\x55\xAA", 4, buffer.end() - 4);
    EXPECT_TRUE(hasEepromMarker(buffer));
}

// ---- the bank image ----

TEST(BankImage, StartsBlankAndStoresPagesAsTransferBlocks)
{
    BankImage image;
    EXPECT_TRUE(std::all_of(image.block(7).begin(), image.block(7).end(), [](std::uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(image.crc8(65536), 0xDE);

    std::vector<std::uint8_t> bytes(300);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7);
    image.store(bytes, 0x94, 0x70);
    EXPECT_EQ(image.block(0)[0], 0x94);
    EXPECT_EQ(image.block(0)[1], 0x70);
    EXPECT_EQ(image.block(255)[0], 0x94);
    EXPECT_EQ(image.block(255)[1], 0x70);
    EXPECT_EQ(image.block(0)[2], bytes[0]);
    EXPECT_EQ(image.block(1)[2 + 43], bytes[299]);
    EXPECT_EQ(image.byte(299), bytes[299]);
    EXPECT_EQ(image.byte(300), 0xFF);
    EXPECT_EQ(image.page(1)[43], bytes[299]);
    EXPECT_EQ(image.crc8(300), crc8Smbus(bytes));
    EXPECT_EQ(image.crc16(300), crc16Xmodem(bytes));
    EXPECT_EQ(image.crcFor(MVX_OP_MCU_5312, 300), crc16Xmodem(bytes));
    EXPECT_EQ(image.crcFor(MVX_OP_SERIAL_FLASH, 300), crc8Smbus(bytes));

    // A shorter store leaves nothing of the earlier one behind.
    image.store(std::vector<std::uint8_t>{0x01}, 0x98, 0x98);
    EXPECT_EQ(image.block(1)[0], 0x98);
    EXPECT_EQ(image.block(1)[1], 0x98);
    EXPECT_EQ(image.byte(1), 0xFF);
    EXPECT_EQ(image.byte(299), 0xFF);
}

TEST_F(FileReader, OnlyLoadedPlainBanksAreStoredInTheBankImage)
{
    BankImage image;
    const LoadedBank flash = load(hexRecord(0, 0x1234, {0x5A}) + kEndRecord, MVX_FORMAT_HEX, 3,
                                  rules(MVX_OP_SERIAL_FLASH));
    ASSERT_TRUE(storeInBankImage(image, flash, 3, MVX_OP_SERIAL_FLASH, 0x94));
    EXPECT_EQ(image.byte(0x1234), 0x5A);
    EXPECT_EQ(image.block(0x12)[2 + 0x34], 0x5A);
    EXPECT_EQ(image.block(0)[1], 0x70);
    EXPECT_EQ(image.crc8(flash.programLength), crc8Smbus(std::span(flash.buffer).first(0x1235)));

    const LoadedBank mcu = load("\x01\x02", MVX_FORMAT_BINARY, 0, rules(MVX_OP_MCU_5310));
    ASSERT_TRUE(storeInBankImage(image, mcu, 0, MVX_OP_MCU_5310, 0x94));
    EXPECT_EQ(image.block(0)[1], 0x94);
    EXPECT_EQ(image.byte(1), 0x02);
    EXPECT_EQ(image.byte(0x1234), 0xFF);

    const LoadedBank slot = load("\x07", MVX_FORMAT_BINARY, 9, rules(MVX_OP_5312_1TO4));
    EXPECT_FALSE(storeInBankImage(image, slot, 9, MVX_OP_5312_1TO4, 0x94));
    const LoadedBank failed = load("\x07", MVX_FORMAT_BINARY, 5, rules(MVX_OP_MCU_5310));
    EXPECT_FALSE(storeInBankImage(image, failed, 5, MVX_OP_MCU_5310, 0x94));
    EXPECT_EQ(image.byte(0), 0x01);

    EXPECT_EQ(bankStoreFor(8), BankStore::BankImage);
    EXPECT_EQ(bankStoreFor(9), BankStore::OneToFourImages);
    EXPECT_EQ(bankStoreFor(31), BankStore::OneToFourImages);
    EXPECT_EQ(bankStoreFor(32), BankStore::None);
}

}  // namespace
}  // namespace mvx::engine
