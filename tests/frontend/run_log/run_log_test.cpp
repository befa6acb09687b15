// The run log: the line each progress message leaves, the in-place rewrite of
// progress lines, the chip report, the error lines, and the log of real runs
// of the engine library on the virtual board.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "run_log/log_texts.hpp"
#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp.h"
#include "run_log/run_log.hpp"
#include "temp_folder.hpp"

namespace {

using mvx::runlog::LogChange;
using mvx::runlog::ProgressMessage;
using mvx::runlog::RunLog;
using Lines = std::vector<std::string>;

LogChange send(RunLog& log, int code, int sub, std::intptr_t value)
{
    return log.handle(MVX_PROGRESS_WPARAM(code, sub), value);
}

// The lines one message leaves in an empty log.
Lines linesOf(int code, int sub, std::intptr_t value)
{
    RunLog log;
    send(log, code, sub, value);
    return log.lines();
}

// Local time is the zone `tz` while the object lives.
class LocalZone {
public:
    explicit LocalZone(const char* tz) : tz_("TZ", tz) { ::tzset(); }

private:
    struct ReloadOnExit {
        ~ReloadOnExit() { ::tzset(); }
    } reload_;   // destroyed after tz_ has restored the variable
    mvx::test::ScopedEnv tz_;
};

std::filesystem::file_time_type fileTime(std::chrono::sys_seconds time)
{
    return std::chrono::file_clock::from_sys(time);
}

constexpr std::chrono::sys_seconds kMarch4th =
    std::chrono::sys_days{std::chrono::year{2021} / 3 / 4} + std::chrono::hours{5} + std::chrono::minutes{6} +
    std::chrono::seconds{7};

}  // namespace

// ---- decoding the message ----

TEST(ProgressDecoding, CodeAndSubComeFromTheTwoLowBytesOfWParam)
{
    EXPECT_EQ(mvx::runlog::decodeProgress(0x02FF, 40), (ProgressMessage{2, 255, 40}));
    EXPECT_EQ(mvx::runlog::decodeProgress(0x1230B05, 7), (ProgressMessage{11, 5, 7}));
}

TEST(ProgressDecoding, ValueIsTheSignedLow32BitsOfLParam)
{
    EXPECT_EQ(mvx::runlog::decodeProgress(0x0E01, -1).value, -1);
    EXPECT_EQ(mvx::runlog::decodeProgress(0x0E01, 0xFFFFFFFF).value, -1);
    EXPECT_EQ(mvx::runlog::decodeProgress(0x0300, 0x1'0000'0012).value, 0x12);
}

// ---- progress lines rewritten in place ----

TEST(RunLogProgress, GrowingPercentLeavesOneLineForTheBankAtTheEnd)
{
    RunLog log;
    send(log, MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_MASS_OK);
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 1, 10), (LogChange{false, 1}));
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 1, 50), (LogChange{true, 0}));
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 1, 100), (LogChange{true, 0}));
    EXPECT_EQ(log.lines(), (Lines{"Mass Erase OK", "Program Bank1 100%"}));
    EXPECT_EQ(log.text(), "Mass Erase OK\r\nProgram Bank1 100%\r\n");
}

TEST(RunLogProgress, OverallPercentBetweenBankPercentsKeepsTheRewrite)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 0);
    send(log, MVX_MSG_OVERALL_PERCENT, 0, 21);
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 60);
    send(log, MVX_MSG_OVERALL_PERCENT, 0, 40);
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 100);
    EXPECT_EQ(log.lines(), (Lines{"Program Bank0 100%"}));
    EXPECT_EQ(log.overallPercent(), 40);
}

TEST(RunLogProgress, EachBankGetsItsOwnLine)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 100);
    send(log, MVX_MSG_PROGRAM_PERCENT, 1, 30);
    send(log, MVX_MSG_PROGRAM_PERCENT, 1, 100);
    EXPECT_EQ(log.lines(), (Lines{"Program Bank0 100%", "Program Bank1 100%"}));
}

TEST(RunLogProgress, BankTwoNeverRewritesBankTwentyOrTheOtherWayRound)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 20, 100);
    send(log, MVX_MSG_PROGRAM_PERCENT, 2, 20);
    send(log, MVX_MSG_PROGRAM_PERCENT, 2, 100);
    send(log, MVX_MSG_PROGRAM_PERCENT, 20, 5);
    EXPECT_EQ(log.lines(), (Lines{"Program Bank20 100%", "Program Bank2 100%", "Program Bank20 5%"}));
}

TEST(RunLogProgress, PageErasingIsOneLineOverEveryEraseRun)
{
    RunLog log;
    send(log, MVX_MSG_PAGE_ERASE_PERCENT, 0, 0);
    send(log, MVX_MSG_PAGE_ERASE_PERCENT, 1, 40);
    send(log, MVX_MSG_PAGE_ERASE_PERCENT, 2, 100);
    send(log, MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_PAGE_OK);
    EXPECT_EQ(log.lines(), (Lines{"Page Erasing 100%", "Page Erase OK"}));
}

TEST(RunLogProgress, PageEraseAndProgrammingDoNotRewriteEachOther)
{
    RunLog log;
    send(log, MVX_MSG_PAGE_ERASE_PERCENT, 0, 100);
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 10);
    send(log, MVX_MSG_PAGE_ERASE_PERCENT, 0, 20);
    EXPECT_EQ(log.lines(), (Lines{"Page Erasing 100%", "Program Bank0 10%", "Page Erasing 20%"}));
}

TEST(RunLogProgress, ASecondPassOverABankKeepsEverythingLoggedBetween)
{
    // The serial-flash retry programs bank 0 again after a failed CRC check:
    // the failure and the second run's erase stay in the log.
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 100);
    send(log, MVX_MSG_CRC_MATCH, 0, 0);
    send(log, MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_MASS_OK);
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 0, 0), (LogChange{false, 1}));
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 100);
    EXPECT_EQ(log.lines(), (Lines{"Program Bank0 100%", "Bank 0 CRC failed", "Mass Erase OK", "Program Bank0 100%"}));
}

TEST(RunLogProgress, TheTwoWritersOfA1To4BoardHaveSeparateLines)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 22, 100);
    send(log, MVX_MSG_PROGRAM_PERCENT, 25, 50);
    send(log, MVX_MSG_PROGRAM_PERCENT, 25, 100);
    EXPECT_EQ(log.lines(), (Lines{"Program SF 1To4 M1 Bank0 100%", "Program SF 1To4 M2 Bank0 100%"}));
}

TEST(RunLogProgress, ClearingTheLogStartsFresh)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 50);
    send(log, MVX_MSG_OVERALL_PERCENT, 0, 60);
    send(log, MVX_MSG_IC_CODE, 0, 3);
    log.clear();
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(log.text(), "");
    EXPECT_EQ(log.overallPercent(), 0);
    EXPECT_FALSE(log.icCode().has_value());
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 0, 60), (LogChange{false, 1}));
    EXPECT_EQ(log.lines(), (Lines{"Program Bank0 60%"}));
}

// ---- programming lines by bank code ----

TEST(ProgramLines, SlotCodesNameTheWriterAndItsBank)
{
    struct Row {
        int code;
        const char* line;
    };
    const Row rows[] = {
        {9, "Program 5312 1To4 M1 Bank0 7%"},  {10, "Program 5312 1To4 M1 Bank1 7%"},
        {11, "Program 5312 1To4 M2 Bank0 7%"}, {12, "Program 5312 1To4 M2 Bank1 7%"},
        {16, "Program 5310 1To4 M1 Bank0 7%"}, {17, "Program 5310 1To4 M1 Bank1 7%"},
        {18, "Program 5310 1To4 M2 Bank0 7%"}, {19, "Program 5310 1To4 M2 Bank1 7%"},
        {22, "Program SF 1To4 M1 Bank0 7%"},   {23, "Program SF 1To4 M1 Bank1 7%"},
        {24, "Program SF 1To4 M1 Bank2 7%"},   {25, "Program SF 1To4 M2 Bank0 7%"},
        {26, "Program SF 1To4 M2 Bank1 7%"},   {27, "Program SF 1To4 M2 Bank2 7%"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(linesOf(MVX_MSG_PROGRAM_PERCENT, row.code, 7), (Lines{row.line})) << row.code;
}

TEST(ProgramLines, CodesBesideTheSlotsArePlainBanks)
{
    for (int code : {0, 2, 8, 13, 15, 20, 21, 28, 255})
        EXPECT_EQ(linesOf(MVX_MSG_PROGRAM_PERCENT, code, 100),
                  (Lines{"Program Bank" + std::to_string(code) + " 100%"}))
            << code;
}

// ---- erase, CRC and checksum lines ----

TEST(EraseLines, EachOutcomeHasItsLine)
{
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 3, 1), (Lines{"Bank Erase OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 3, 0), (Lines{"Bank Erase Failed"}));
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 0, 2), (Lines{"Mass Erase OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 0, 3), (Lines{"Mass Erase Failed"}));
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 0, 5), (Lines{"Page Erase OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_ERASE_RESULT, 0, 4), (Lines{"Page Erase Failed"}));
}

TEST(EraseLines, AnUnknownOutcomeAppendsNothingAndKeepsTheLog)
{
    RunLog log;
    send(log, MVX_MSG_PROGRAM_PERCENT, 0, 10);
    EXPECT_FALSE(send(log, MVX_MSG_ERASE_RESULT, 0, 6).changed());
    EXPECT_FALSE(send(log, MVX_MSG_ERASE_RESULT, 0, -1).changed());
    EXPECT_EQ(log.lines(), (Lines{"Program Bank0 10%"}));
    // Nothing was appended, so the progress line is still rewritten.
    EXPECT_EQ(send(log, MVX_MSG_PROGRAM_PERCENT, 0, 20), (LogChange{true, 0}));
}

TEST(CrcLines, SmallValuesGetALeadingZeroDigitsAreLowerCaseAndOnlyOneMatches)
{
    EXPECT_EQ(linesOf(MVX_MSG_CRC_IMAGE, 2, 0xA), (Lines{"Calculate CRC Bank 2 0x0a"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_IMAGE, 2, 0x1A), (Lines{"Calculate CRC Bank 2 0x1a"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_DEVICE, 2, 0xA), (Lines{"Read CRC Bank 2 0x0a"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_DEVICE, 0, 0xBEEF), (Lines{"Read CRC Bank 0 0xbeef"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_MATCH, 1, 1), (Lines{"Bank 1 CRC OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_MATCH, 1, 0), (Lines{"Bank 1 CRC failed"}));
    EXPECT_EQ(linesOf(MVX_MSG_CRC_MATCH, 1, 7), (Lines{"Bank 1 CRC failed"}));   // only 1 is a match
}

TEST(CrcLines, FormatKeepsTwoDigitsAtTheEdges)
{
    EXPECT_EQ(mvx::runlog::crcHex(0), "0x00");
    EXPECT_EQ(mvx::runlog::crcHex(0xF), "0x0f");
    EXPECT_EQ(mvx::runlog::crcHex(0x10), "0x10");
    EXPECT_EQ(mvx::runlog::crcHex(0xFF), "0xff");
    EXPECT_EQ(mvx::runlog::crcHex(0x1021), "0x1021");
    EXPECT_EQ(mvx::runlog::crcHex(-10), "0xfffffff6");
}

TEST(CrcLines, ThePagesOwnFileCrcIsACalculateLine)
{
    RunLog log;
    EXPECT_EQ(log.logFileCrc(4, 0x5), (LogChange{false, 1}));
    EXPECT_EQ(log.lines(), (Lines{"Calculate CRC Bank 4 0x05"}));
}

TEST(ChecksumLines, SumsAreBareLowerCaseHexAfterTwoBlanks)
{
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_IMAGE, 0, 0x1A2B), (Lines{"Calculate CkSum  1a2b"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_DEVICE, 0, 0x5), (Lines{"Read CkSum  5"}));
    EXPECT_EQ(mvx::runlog::checksumHex(0), "0");
    EXPECT_EQ(mvx::runlog::checksumHex(-1), "ffffffff");
}

TEST(ChecksumLines, ResultNamesThePlainBankButNotTheSerialFlashSlots)
{
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 1, 1), (Lines{"Bank 1 CkSum OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 1, 0), (Lines{"Bank 1 CkSum Failed"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 16, 2), (Lines{"Bank 16 CkSum OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 21, 0), (Lines{"Bank 21 CkSum Failed"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 22, 1), (Lines{"CkSum OK"}));
    EXPECT_EQ(linesOf(MVX_MSG_CHECKSUM_MATCH, 22, 0), (Lines{"CkSum Failed"}));
}

// ---- the other lines ----

TEST(OtherLines, LoadFailureSeparatorAndFlashToEeprom)
{
    EXPECT_EQ(linesOf(MVX_MSG_FILE_LOAD_FAILED, 4, 0), (Lines{"Bank 4 Load Fail"}));
    EXPECT_EQ(linesOf(MVX_MSG_BANK_SEPARATOR, 0, 0), (Lines{""}));
    EXPECT_EQ(linesOf(MVX_MSG_NOT_PMC_FOR_EEPROM, 0, 0), (Lines{"Only p-flash supports flash to eeprom!!"}));
    EXPECT_EQ(linesOf(MVX_MSG_BEYOND_FLASH, 2, 128), (Lines{"Bank 2 lies beyond the end of the 128 KB flash"}));
    EXPECT_EQ(linesOf(MVX_MSG_BEYOND_FLASH, 8, 512), (Lines{"Bank 8 lies beyond the end of the 512 KB flash"}));
}

TEST(OtherLines, OverallPercentAndIcCodeAppendNothingButAreKept)
{
    RunLog log;
    EXPECT_FALSE(send(log, MVX_MSG_OVERALL_PERCENT, 0, 55).changed());
    EXPECT_FALSE(send(log, MVX_MSG_IC_CODE, 0, 0x5B).changed());
    EXPECT_TRUE(log.lines().empty());
    EXPECT_EQ(log.overallPercent(), 55);
    EXPECT_EQ(log.icCode(), 0x5B);
}

TEST(OtherLines, CodesAbove17AreIgnored)
{
    RunLog log;
    for (int code : {18, 100, 255})
        EXPECT_FALSE(send(log, code, 1, 1).changed()) << code;
    EXPECT_TRUE(log.lines().empty());
}

TEST(OtherLines, IcCodeTextIsUpperCaseWithTwoDigitsAtLeast)
{
    EXPECT_EQ(mvx::runlog::icCodeText(0xA), "IC Code: 0x0A");
    EXPECT_EQ(mvx::runlog::icCodeText(0), "IC Code: 0x00");
    EXPECT_EQ(mvx::runlog::icCodeText(0x5b), "IC Code: 0x5B");
    EXPECT_EQ(mvx::runlog::icCodeText(0x1ab), "IC Code: 0x1AB");
}

TEST(OtherLines, TextCanEndLinesTheWayItsReaderWants)
{
    RunLog log;
    send(log, MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_MASS_OK);
    send(log, MVX_MSG_BANK_SEPARATOR, 0, 0);
    EXPECT_EQ(log.text(), "Mass Erase OK\r\n\r\n");
    EXPECT_EQ(log.text("\n"), "Mass Erase OK\n\n");
}

// ---- error lines ----

TEST(ErrorLines, EveryResultCodeHasItsLine)
{
    struct Row {
        int result;
        const char* line;
    };
    const Row rows[] = {
        {13, "Error Code: 13 MCU link error!"},         {18, "Error Code: 18 MCU write link error!"},
        {20, "Error Code: 20 Check CRC fail!"},         {26, "Error Code: 26 Flash write protection!"},
        {28, "Error Code: 28 Scalar IC code mismatch!"}, {19, "Error Code: 19"}, {-1, "Error Code: -1"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(linesOf(MVX_MSG_RUN_FAILED, 0, row.result), (Lines{row.line})) << row.result;
    // The codes without an explanation.
    for (int result : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 14, 15, 16, 17, 21, 24, 25, 27})
        EXPECT_EQ(linesOf(MVX_MSG_RUN_FAILED, 0, result), (Lines{"Error Code: " + std::to_string(result)})) << result;
}

// ---- flash chip report ----

TEST(ChipReport, EveryListedChipAndFamilyIsNamed)
{
    struct Row {
        int brand;
        int type;
        const char* chip;
    };
    const Row rows[] = {
        {0, 0, "Pm25LV512A"},  {0, 1, "Pm25LV010A"},  {0, 2, "Pm25LV020"},   {0, 3, "Pm25LV040"},
        {0, 4, "Pm25LD010"},   {0, 5, "Pm25LD020"},   {0, 6, "Pm25LD040"},   {1, 0, "W25X10A"},
        {1, 1, "W25X20A"},     {1, 2, "W25X40A"},     {1, 3, "W25X80A"},     {2, 0, "MX25L1005"},
        {2, 1, "MX25L2005"},   {2, 2, "MX25L2026"},   {2, 3, "MX25L4005"},   {2, 4, "MX25L8005"},
        {3, 0, "EN25F20"},     {3, 1, "EN25F10"},     {4, 0, "SST25LF020A"}, {4, 1, "SST25LF040A"},
        {4, 2, "SST25LF010A"}, {4, 3, "SST25LF080B"}, {4, 4, "SST25VF020B"}, {5, 0, "A25L020"},
        {5, 1, "A25L010"},
        // Brand known, type not.
        {0, -1, "P-flash but no more detail infor"},     {1, -1, "Winbond-flash but no more detail infor"},
        {2, -1, "MXIC-flash but no more detail infor"},  {3, -1, "EON-flash but no more detail infor"},
        {4, -1, "SST-flash but no more detail infor"},   {5, -1, "AMIC-flash but no more detail infor"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(linesOf(MVX_MSG_FLASH_IDENTIFIED, row.brand, row.type),
                  (Lines{std::string("Current Chip is ") + row.chip + "."}))
            << row.brand << "/" << row.type;
}

TEST(ChipReport, AnUnknownBrandIsReportedWhateverTheType)
{
    for (int type : {-1, 0, 2, 99})
        EXPECT_EQ(linesOf(MVX_MSG_FLASH_IDENTIFIED, 255, type), (Lines{"Current Chip is an unknown type chip."}))
            << type;
}

TEST(ChipReport, UnlistedCombinationsAppendNothing)
{
    const struct {
        int brand;
        int type;
    } rows[] = {{3, 2}, {0, 7}, {1, 4}, {2, 5}, {4, 5}, {5, 2}, {1, -2}, {6, 0}, {254, -1}};
    for (const auto& row : rows) {
        RunLog log;
        EXPECT_FALSE(send(log, MVX_MSG_FLASH_IDENTIFIED, row.brand, row.type).changed())
            << row.brand << "/" << row.type;
        EXPECT_TRUE(log.lines().empty());
    }
}

// ---- file date of a passed run ----

TEST(FileDate, PassedRunShowsTheModificationTimeOfTheNamedEntry)
{
    LocalZone utc("UTC0");
    mvx::test::TempFolder folder;
    const std::string bank1 = folder.file("bank1.hex");
    mvx::test::writeWholeFile(bank1, ":00000001FF\n");
    std::filesystem::last_write_time(bank1, fileTime(kMarch4th));

    std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    std::strcpy(table[1].path, bank1.c_str());
    RunLog log([&table](std::int32_t index) { return mvx::runlog::fileTablePath(table, index); });
    EXPECT_EQ(send(log, MVX_MSG_RUN_PASSED, 0, 1), (LogChange{false, 2}));
    EXPECT_EQ(log.lines(), (Lines{"File Date Time: ", "2021-03-04 05:06:07"}));
    EXPECT_EQ(log.text(), "File Date Time: \r\n2021-03-04 05:06:07\r\n");
}

TEST(FileDate, AMissingFileOrEntryIsSaidSo)
{
    mvx::test::TempFolder folder;
    std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    std::strcpy(table[0].path, folder.file("gone.bin").c_str());
    std::strcpy(table[1].path, folder.path().c_str());   // a folder has no file date
    RunLog log([&table](std::int32_t index) { return mvx::runlog::fileTablePath(table, index); });
    for (std::int32_t index : {0, 1, 2, -1, 256}) {
        log.clear();
        send(log, MVX_MSG_RUN_PASSED, 0, index);
        EXPECT_EQ(log.lines(), (Lines{"File Date Time: ", "(file not found)"})) << index;
    }
    RunLog withoutFiles;
    send(withoutFiles, MVX_MSG_RUN_PASSED, 0, 0);
    EXPECT_EQ(withoutFiles.lines(), (Lines{"File Date Time: ", "(file not found)"}));
}

TEST(FileDate, TablePathIsReadWithinItsEntry)
{
    std::vector<FileTableEntry> table(3);
    std::strcpy(table[0].path, "/a/b.hex");
    std::memset(table[1].path, 'x', sizeof table[1].path);   // no terminator
    std::strcpy(table[2].path, "/after");
    EXPECT_EQ(mvx::runlog::fileTablePath(table, 0), "/a/b.hex");
    EXPECT_EQ(mvx::runlog::fileTablePath(table, 1), std::string(MVX_PATH_CAPACITY, 'x'));
    EXPECT_EQ(mvx::runlog::fileTablePath(table, 3), "");
    EXPECT_EQ(mvx::runlog::fileTablePath(table, -1), "");
}

TEST(FileDate, TimesAreLocalTime)
{
    LocalZone utc("UTC0");
    EXPECT_EQ(mvx::runlog::dateTimeText(std::chrono::system_clock::to_time_t(kMarch4th)), "2021-03-04 05:06:07");
    {
        LocalZone east("XST-2");
        EXPECT_EQ(mvx::runlog::dateTimeText(std::chrono::system_clock::to_time_t(kMarch4th)), "2021-03-04 07:06:07");
    }
}

// ---- the log of real runs through the engine library ----

namespace {

struct EngineWindow {
    RunLog log;
    std::vector<std::string> boxes;
    MvxWindow window{this, &EngineWindow::message, &EngineWindow::box};

    static intptr_t message(void* self, uint32_t message, uintptr_t wParam, intptr_t lParam)
    {
        if (message == WM_ISP_PROGRESS)
            static_cast<EngineWindow*>(self)->log.handle(wParam, lParam);
        return 0;
    }
    static int box(void* self, const char* text, const char*, uint32_t)
    {
        static_cast<EngineWindow*>(self)->boxes.push_back(text);
        return MVX_IDOK;
    }
};

class EngineRun : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(library_.open(MVX_ENGINE_LIBRARY)) << library_.error();
        isp_ = library_.function<MvxIspFn>("mvxISP");
        ASSERT_NE(isp_, nullptr);
        table_.resize(MVX_FILE_TABLE_SIZE);
        window_.log.setFilePathLookup([this](std::int32_t index) { return mvx::runlog::fileTablePath(table_, index); });
    }

    void board(const std::string& ini) { mvx::test::writeWholeFile(boardFolder_.file("board.ini"), ini); }

    void firmware(int bank, std::size_t bytes)
    {
        std::string data(bytes, '\0');
        for (std::size_t i = 0; i < bytes; ++i)
            data[i] = static_cast<char>(i * 13 + 5 + static_cast<std::size_t>(bank));
        const std::string path = files_.file("bank" + std::to_string(bank) + ".bin");
        mvx::test::writeWholeFile(path, data);
        FileTableEntry& entry = table_[static_cast<std::size_t>(bank)];
        entry.inUse = 1;
        entry.format = MVX_FORMAT_BINARY;
        std::strcpy(entry.path, path.c_str());
    }

    int serialFlash()
    {
        const FlashProtectSettings protect{};
        return isp_(MVX_ADAPTER_NORVANE_IIC, MVX_OP_SERIAL_FLASH, 0, 1, 0, 0, 32, MVX_BRAND_WINBOND, 0,
                    table_.data(), 0, 1, &window_.window, &protect, 0, 0, &options_);
    }

    const Lines& lines() const { return window_.log.lines(); }
    std::size_t count(const std::string& line) const
    {
        return static_cast<std::size_t>(std::count(lines().begin(), lines().end(), line));
    }
    // CRC-8 (polynomial 0x07, initial value 0) of a bank's bytes.
    static std::int32_t crc8(const std::string& bytes)
    {
        std::uint8_t crc = 0;
        for (char c : bytes) {
            crc = static_cast<std::uint8_t>(crc ^ static_cast<std::uint8_t>(c));
            for (int bit = 0; bit < 8; ++bit)
                crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
        }
        return crc;
    }

    mvx::platform::DynamicLibrary library_;
    MvxIspFn isp_ = nullptr;
    mvx::test::TempFolder boardFolder_;
    mvx::test::ScopedEnv boardEnv_{"MVX_VIRTUAL_BOARD", boardFolder_.path().c_str()};
    mvx::test::TempFolder files_;
    std::vector<FileTableEntry> table_;
    IspOptions options_{};
    EngineWindow window_;
};

}  // namespace

TEST_F(EngineRun, PassingSerialFlashRunReadsStepByStep)
{
    board("[board]\nflash=W25X40A\n");
    firmware(0, 300);
    firmware(1, 300);
    ASSERT_EQ(serialFlash(), MVX_OK);

    using mvx::runlog::crcHex;
    const std::string blank = crcHex(crc8(std::string(300, '\xFF')));
    const std::string bank0 = crcHex(crc8(mvx::test::readWholeFile(table_[0].path)));
    const std::string bank1 = crcHex(crc8(mvx::test::readWholeFile(table_[1].path)));
    // Each bank: its blank check, erase, one programming line rewritten up to
    // 100 %, the CRC pair and verdict, a separator; then the file date.
    const Lines expected{
        "Current Chip is W25X40A.",
        "Read CRC Bank 1 " + blank, "Bank Erase OK", "Program Bank1 100%",
        "Calculate CRC Bank 1 " + bank1, "Read CRC Bank 1 " + bank1, "Bank 1 CRC OK", "",
        "Read CRC Bank 0 " + blank, "Bank Erase OK", "Program Bank0 100%",
        "Calculate CRC Bank 0 " + bank0, "Read CRC Bank 0 " + bank0, "Bank 0 CRC OK", "",
        "File Date Time: ", mvx::runlog::fileDateTimeText(table_[0].path).value_or("(no date)"),
    };
    EXPECT_EQ(lines(), expected);
    EXPECT_EQ(window_.log.overallPercent(), 100);
}

TEST_F(EngineRun, RetriedSerialFlashRunKeepsTheFailedCheck)
{
    board("[faults]\ncrc_mismatch_once=1\n");
    firmware(0, 300);
    ASSERT_EQ(serialFlash(), MVX_OK);
    EXPECT_EQ(count("Current Chip is W25X40A."), 2u);
    EXPECT_EQ(count("Bank 0 CRC failed"), 1u);
    EXPECT_EQ(count("Bank 0 CRC OK"), 1u);
    EXPECT_EQ(count("Program Bank0 100%"), 2u);
    EXPECT_EQ(count("File Date Time: "), 1u);
}

TEST_F(EngineRun, FailedRunEndsWithItsErrorLine)
{
    board("[board]\nlink=dead\n");
    firmware(0, 300);
    EXPECT_EQ(serialFlash(), MVX_ERR_ISP_MODE);
    ASSERT_FALSE(lines().empty());
    EXPECT_EQ(lines().back(), "Error Code: 13 MCU link error!");
    EXPECT_EQ(count("File Date Time: "), 0u);
    EXPECT_EQ(window_.boxes.size(), 1u);
}

TEST_F(EngineRun, BankBeyondTheFlashIsRefusedWithItsLineAndTheFlashKept)
{
    board("[board]\nflash=W25X10A\n");
    const std::string before(128 * 1024, '\x5A');
    mvx::test::writeWholeFile(boardFolder_.file("flash.bin"), before);
    for (int bank = 0; bank <= 2; ++bank)
        firmware(bank, 300);
    EXPECT_EQ(serialFlash(), MVX_ERR_BANK);
    const Lines tail{"Bank 2 lies beyond the end of the 128 KB flash", "Error Code: 11"};
    ASSERT_GE(lines().size(), tail.size());
    EXPECT_EQ(Lines(lines().end() - 2, lines().end()), tail);
    EXPECT_EQ(mvx::test::readWholeFile(boardFolder_.file("flash.bin")), before);
}

TEST_F(EngineRun, McuPartialEraseAndChecksumVerifyReadStepByStep)
{
    board("[board]\ntarget=5310\n");
    firmware(0, 65536);
    firmware(1, 32768);
    const int result = isp_(MVX_ADAPTER_NORVANE_IIC, MVX_OP_MCU_5310, 0, 1, 1, 1, 0x8000, 0, 0, table_.data(), 0, 0,
                            &window_.window, nullptr, 0, 0, &options_);
    ASSERT_EQ(result, MVX_OK);
    EXPECT_EQ(count("Page Erasing 100%"), 1u);
    EXPECT_EQ(count("Page Erase OK"), 1u);
    EXPECT_EQ(count("Program Bank0 100%"), 1u);
    EXPECT_EQ(count("Program Bank1 100%"), 1u);
    EXPECT_EQ(count("Bank 0 CkSum OK"), 1u);
    EXPECT_EQ(count("Bank 1 CkSum OK"), 1u);
    EXPECT_EQ(std::count_if(lines().begin(), lines().end(),
                            [](const std::string& line) { return line.rfind("Page Erasing", 0) == 0; }),
              1);
}
