#include "customer_page/file_rows.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <sstream>

#include "customer_page/file_table.hpp"
#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp_info.hpp"
#include "temp_folder.hpp"

using namespace mvx::customer_page;
using mvx::test::readWholeFile;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

constexpr int k5310 = MVX_OP_MCU_5310;
constexpr int k5312 = MVX_OP_MCU_5312;
constexpr int kSf = MVX_OP_SERIAL_FLASH;

// Answers like the engine from the file's size (at most one bank), with
// checksum 0x1F and CRC 0x100 + bank; a missing file gives result 14.
class ScriptedEngine final : public FileInfoSource {
public:
    std::optional<FileInfoAnswer> fileInfo(const FileInfoRequest& request) override
    {
        requests.push_back(request);
        if (answer)
            return answer(request);
        FileInfoAnswer reply;
        std::error_code error;
        const auto size = fs::file_size(request.path, error);
        if (error)
            return reply;
        reply.result = MVX_OK;
        reply.dataLength = static_cast<int>(std::min<std::uintmax_t>(size, 65536));
        reply.programLength = reply.dataLength;
        reply.checksum = 0x1F;
        reply.crc = 0x100 + request.bank;
        return reply;
    }
    std::vector<FileInfoRequest> requests;
    std::function<std::optional<FileInfoAnswer>(const FileInfoRequest&)> answer;
};

class Rows : public ::testing::Test {
protected:
    Rows() { fs::create_directories(work()); }

    std::string work() const { return folder.file("work"); }
    std::string make(const std::string& name, std::size_t bytes = 100, char fill = 'x') const
    {
        const std::string path = folder.file(name);
        fs::create_directories(fs::path(path).parent_path());
        writeWholeFile(path, std::string(bytes, fill));
        return path;
    }
    RowOptions options(int mcu = kSf, int fileType = kFileTypeHex) const
    {
        RowOptions o;
        o.mcuType = mcu;
        o.fileType = fileType;
        o.workFolder = work();
        o.tickedRows = ticks;
        return o;
    }
    // The rows ticked after an action.
    unsigned ticked(const RowsReport& report) const { return report.tickedRows.value_or(ticks); }

    std::uint16_t ticks = 0;   // the page's ticked rows, fed to every action

    TempFolder folder;
    ScriptedEngine engine;
    FileRows rows{engine};
};

}  // namespace

// ---- labels and filters --------------------------------------------------------------------

TEST(FileRowLabels, FollowTheMcuTypeAndTheFileType)
{
    struct Case {
        int mcu;
        int fileType;
        std::array<std::string, kFileRows> labels;
    };
    const Case cases[] = {
        {k5310, kFileTypeHex, {"Bank0 (0-64)", "Bank1 (64-96)"}},
        {MVX_OP_5312_1TO4, kFileTypeHex, {"Bank0 (0-64)", "Bank1 (64-128)", "Bank2 (128-160)"}},
        {MVX_OP_SERIAL_FLASH_1TO4, kFileTypeHex,
         {"Bank0 (0-64)", "Bank1 (64-128)", "Bank2 (128-192)", "Bank3 (192-256)", "Bank4 (256-320)",
          "Bank5 (320-384)", "Bank6 (384-448)", "Bank7 (448-512)", "BankN (LD File)"}},
        {k5312, kFileTypeBin, {"BigBin"}},
        {kSf, kFileTypeBin, {"BigBin"}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bankLabels(c.mcu, c.fileType), c.labels) << "mcu " << c.mcu << " type " << c.fileType;
    EXPECT_EQ(openFilters(0, kFileTypeBin), (std::vector<OpenFilter>{{"bin Files", {"*.bin", "*.BIN", "*Bin"}}}));
    EXPECT_EQ(openFilters(0, kFileTypeHex), (std::vector<OpenFilter>{{"hex Files", {"*.h*"}}, {"bin Files", {"*.bin"}}}));
}

// ---- FileInfo in Hex mode ----------------------------------------------------------------

TEST_F(Rows, FormatLengthArgumentAndChecksumTextOfARow)
{
    struct Case {
        int row;
        std::string name;
        bool extTrueSize;
        int checksum;
        int format;        // what the engine is asked to read
        int eraseLength;   // the length argument
        std::string text;  // ChkSum shown
    };
    const Case cases[] = {
        {1, "a.BIN", false, 0x1F, MVX_FORMAT_BINARY, -1, "001F"},
        {2, "a.bin.hex", true, 0xABCD, MVX_FORMAT_HEX, 8 * 1024, "ABCD"},
        {0, "a.hex", true, 0, MVX_FORMAT_HEX, 0, "0000"},
        {3, "x.bin/a", true, 0x123, MVX_FORMAT_HEX, 0, "0123"},
        {4, "a.Bin", false, 0xFFFF, MVX_FORMAT_BINARY, 0, "FFFF"},
    };
    for (const Case& c : cases) {
        engine.requests.clear();
        engine.answer = [&](const FileInfoRequest&) { return FileInfoAnswer{MVX_OK, 500, 600, c.checksum, 7}; };
        RowOptions o = options(kSf);
        o.extTrueSize = c.extTrueSize;
        o.trueSizeIndex = 7;
        const RowsReport report = rows.openRow(c.row, make(c.name), o);
        SCOPED_TRACE(c.name);
        ASSERT_EQ(engine.requests.size(), 1u);
        EXPECT_EQ(engine.requests[0].format, c.format);
        EXPECT_EQ(engine.requests[0].bank, c.row);
        EXPECT_EQ(engine.requests[0].eraseLength, c.eraseLength);
        EXPECT_FALSE(report.openError);
        const FileRow& row = rows.row(c.row);
        EXPECT_EQ(row.checksumText, c.text);
        EXPECT_EQ(row.fileLengthText, "500");
        EXPECT_EQ(row.programLengthText, "600");
        EXPECT_TRUE(row.loaded);
    }
}

TEST_F(Rows, ResultNineIsRepairedOnceByRaisingTheTrueSize)
{
    const std::string bank1 = make("b.hex");
    // The file holds 20,000 bytes: only an erase length of 20 KB or more fits.
    int fits = 20 * 1024;
    engine.answer = [&](const FileInfoRequest& request) {
        if (request.eraseLength < 20000 || request.eraseLength > fits)
            return FileInfoAnswer{MVX_ERR_ERASE_LENGTH, 20000, 0, 0, 0};
        return FileInfoAnswer{MVX_OK, 20000, request.eraseLength, 0x42, 9};
    };
    RowOptions o = options(k5310);
    o.eraseType = 1;
    o.extTrueSize = true;
    o.trueSizeIndex = 3;
    RowsReport report = rows.openRow(1, bank1, o);
    ASSERT_EQ(engine.requests.size(), 2u);
    EXPECT_EQ(engine.requests[0].eraseLength, 4 * 1024);
    EXPECT_EQ(engine.requests[1].eraseLength, 20 * 1024);
    EXPECT_EQ(report.trueSizeIndex, 19);
    EXPECT_EQ(rows.row(1).programLengthText, "20480");

    // A second refusal counts as a failed read: no third try.
    engine.requests.clear();
    fits = 0;
    report = rows.openRow(1, bank1, o);
    EXPECT_EQ(engine.requests.size(), 2u);
    EXPECT_TRUE(report.openError);
    EXPECT_FALSE(rows.row(1).loaded);
    EXPECT_EQ(rows.row(1).path, bank1);
    EXPECT_EQ(rows.row(1).checksumText, "");
}

TEST_F(Rows, DataLengthOutsideOneBankIsNotShown)
{
    for (int length : {0, 65537}) {
        engine.answer = [&](const FileInfoRequest&) { return FileInfoAnswer{MVX_OK, length, length, 1, 1}; };
        const RowsReport report = rows.openRow(2, make("c.hex"), options());
        EXPECT_TRUE(report.openError) << length;
        EXPECT_FALSE(rows.row(2).loaded);
        EXPECT_EQ(rows.row(2).fileLengthText, "");
    }
    RowsReport report;
    EXPECT_FALSE(rows.fileInfo(0, options(), report)) << "index 0 names no row";
}

// ---- Bank0 and its companions ------------------------------------------------------------

TEST_F(Rows, Bank0TakesTheCompanionsBesideIt)
{
    struct Case {
        int mcu;
        int fileType;
        std::vector<std::string> present;                 // beside fw.hex
        std::array<std::string, 3> rows123;               // paths of rows 1..3 afterwards ("" = none)
        unsigned ticked;                                  // rows 1..3 ticked, as a mask of the nine
    };
    const Case cases[] = {
        {k5310, kFileTypeHex, {"fw_Extend.hex"}, {"fw_Extend.hex", "", ""}, 0b0010},
        {k5312, kFileTypeHex, {"fw.H01"}, {"fw.H01", "", ""}, 0b0010},
        {k5312, kFileTypeHex, {"fw.H01", "fw_Extend.hex"}, {"fw.H01", "fw_Extend.hex", ""}, 0b0110},
        {kSf, kFileTypeHex, {"fw.H01", "fw.H03", "fw_Extend.hex"}, {"fw.H01", "", "fw.H03"}, 0b1010},
        {kSf, kFileTypeBin, {"fw.H01"}, {"", "", ""}, 0b0000},
        {MVX_OP_5312_1TO4, kFileTypeHex, {"fw.H01"}, {"", "", ""}, 0b0000},
    };
    for (const Case& c : cases) {
        TempFolder beside;
        for (const std::string& name : c.present)
            writeWholeFile(beside.file(name), "x");
        writeWholeFile(beside.file("fw.hex"), "x");
        ticks = 0b1110;
        for (int r = 1; r <= 3; ++r)   // a row 2 left over from before is dropped
            rows.row(r).path = make("old.hex");
        const RowsReport report = rows.openRow(0, beside.file("fw.hex"), options(c.mcu, c.fileType));
        SCOPED_TRACE(testing::Message() << "mcu " << c.mcu << " type " << c.fileType);
        for (int r = 1; r <= 3; ++r) {
            const std::string& expected = c.rows123[static_cast<std::size_t>(r - 1)];
            EXPECT_EQ(rows.row(r).path, expected.empty() ? "" : beside.file(expected)) << "row " << r;
            // Rows the type looks companions up for are ticked by what was found.
            const int looked = c.fileType == kFileTypeBin || c.mcu >= MVX_OP_5310_1TO4 ? 0 : c.mcu + 1;
            if (r <= looked) {
                EXPECT_EQ((ticked(report) >> r & 1u) != 0, (c.ticked >> r & 1u) != 0) << "row " << r;
            }
        }
    }
}

TEST_F(Rows, OpenFileErrorKeepsThePathAndCountsAsMissing)
{
    engine.answer = [](const FileInfoRequest&) { return FileInfoAnswer{MVX_ERR_HEX_RECORD, 0, 0, 0, 0}; };
    const std::string bad = make("bad.hex");
    ticks = 0b1;
    const RowsReport report = rows.openRow(0, bad, options());
    EXPECT_TRUE(report.openError);
    EXPECT_TRUE(report.rowMaskCleared);
    EXPECT_EQ(rows.row(0).path, bad);
    EXPECT_FALSE(rows.row(0).loaded);
    EXPECT_FALSE(fs::exists(work() + "/hexfile1")) << "no stored copy of a file that cannot be read";
    const RunFiles run = checkRunFiles(rows, options());
    EXPECT_EQ(run.missingMask, 0b1);
    EXPECT_FALSE(run.actionEnabled);
}

// ---- Bin mode -----------------------------------------------------------------------------

TEST_F(Rows, WholeImageFillsTheRowsOfItsBanks)
{
    struct Case {
        int mcu;
        std::size_t bytes;
        int banks;          // engine calls, banks 0..banks-1
        unsigned ticked;    // rows ticked afterwards
    };
    const Case cases[] = {
        {kSf, 65537, 2, 0b11},
        {kSf, 65536 * 12, 8, 0xFF},   // the LD row is never cut from an image
        {k5312, 100, 3, 0b111},
        {k5310, 100, 2, 0b11},
    };
    for (const Case& c : cases) {
        engine.requests.clear();
        FileRows image{engine};
        ticks = 0b1000;
        // 0x01 bytes: the sum of the whole file is its length, cut to 16 bits.
        const std::string path = make("image.bin", c.bytes, '\x01');
        const RowsReport report = image.openRow(0, path, options(c.mcu, kFileTypeBin));
        SCOPED_TRACE(testing::Message() << "mcu " << c.mcu << ", " << c.bytes << " bytes");
        EXPECT_FALSE(report.openError);
        ASSERT_EQ(engine.requests.size(), static_cast<std::size_t>(c.banks));
        for (int bank = 0; bank < c.banks; ++bank) {
            EXPECT_EQ(engine.requests[static_cast<std::size_t>(bank)],
                      (FileInfoRequest{path, MVX_FORMAT_WHOLE_DEVICE, bank, c.mcu, 0,
                                       bank == 1 || bank == 2 ? -1 : 0, 0, 0}));
            EXPECT_EQ(image.row(bank).checksumText, "001F");
            EXPECT_TRUE(image.row(bank).loaded);
        }
        EXPECT_EQ(ticked(report), c.ticked | (c.mcu == kSf ? 0u : 0b1000u));
        std::ostringstream sum;
        sum << std::uppercase << std::hex << std::setw(4) << std::setfill('0') << (c.bytes & 0xFFFF);
        EXPECT_EQ(image.bigBinChecksumText(), sum.str());
        EXPECT_EQ(report.crcRows.size(), static_cast<std::size_t>(c.banks)) << "one CRC line per bank";
        EXPECT_EQ(readWholeFile(work() + "/binfile.bin"), readWholeFile(path));
        EXPECT_EQ(image.storedBinName(), "image.bin");
    }
}

// ---- the short last bank ------------------------------------------------------------------

TEST_F(Rows, ShortLastBankIsReadWithTheEraseOptionsLength)
{
    struct Case {
        int mcu;
        int eraseType;
        bool extTrueSize;
        int trueSizeIndex;
        int eraseLength;                  // asked of the engine
        std::optional<int> raisedIndex;   // reported to the page
    };
    const Case cases[] = {
        {k5310, 0, true, 3, 0x8000, std::nullopt},
        {MVX_OP_5310_1TO4, 1, false, 3, -1, std::nullopt},
        {k5312, 1, true, 3, 20 * 1024, 19},   // the 20,000 bytes shown need 20 KB
        {k5312, 1, true, 25, 26 * 1024, std::nullopt},
    };
    for (const Case& c : cases) {
        const int last = c.mcu % 3 == k5310 ? 1 : 2;
        RowOptions o = options(c.mcu);
        engine.answer = [](const FileInfoRequest& r) { return FileInfoAnswer{MVX_OK, 20000, r.eraseLength, 1, 1}; };
        rows.openRow(last, make("last.hex"), o);
        engine.requests.clear();
        o.eraseType = c.eraseType;
        o.extTrueSize = c.extTrueSize;
        o.trueSizeIndex = c.trueSizeIndex;
        const RowsReport report = rows.recomputeShortLastBank(o);
        ASSERT_EQ(engine.requests.size(), 1u);
        EXPECT_EQ(engine.requests[0].bank, last);
        EXPECT_EQ(engine.requests[0].eraseLength, c.eraseLength) << "mcu " << c.mcu;
        EXPECT_EQ(report.trueSizeIndex, c.raisedIndex);
        EXPECT_EQ(rows.row(last).programLengthText, std::to_string(c.eraseLength));
    }
    engine.requests.clear();
    rows.recomputeShortLastBank(options(kSf));
    EXPECT_TRUE(engine.requests.empty()) << "the serial flash has no short bank";
}

// ---- stored copies -------------------------------------------------------------------------

TEST_F(Rows, StoredCopiesReplaceTheOldOnesWholeOrNotAtAll)
{
    const std::string first = make("first.H01", 10, 'a');
    rows.openRow(1, first, options());
    EXPECT_EQ(readWholeFile(work() + "/hexfile2"), std::string(10, 'a'));
    EXPECT_EQ(rows.storedHexNames()[1], "first.H01");
    rows.openRow(1, make("second.hex", 20, 'b'), options());
    EXPECT_EQ(readWholeFile(work() + "/hexfile2"), std::string(20, 'b'));

    // The file vanished between reading it and copying it: reported, and the
    // copy made before stays as it was.
    engine.answer = [](const FileInfoRequest&) { return FileInfoAnswer{MVX_OK, 5, 5, 1, 1}; };
    const RowsReport report = rows.openRow(1, folder.file("gone.hex"), options());
    ASSERT_EQ(report.copyErrors.size(), 1u);
    EXPECT_NE(report.copyErrors[0].find("gone.hex"), std::string::npos) << report.copyErrors[0];
    EXPECT_EQ(readWholeFile(work() + "/hexfile2"), std::string(20, 'b'));
    EXPECT_EQ(rows.storedHexNames()[1], "second.hex");
    std::vector<std::string> kept;
    for (const auto& entry : fs::directory_iterator(work()))
        kept.push_back(entry.path().filename().string());
    EXPECT_EQ(kept, std::vector<std::string>{"hexfile2"}) << "no temporary file left behind";

    rows.openRow(5, make("five.hex"), options());
    EXPECT_FALSE(fs::exists(work() + "/hexfile6")) << "rows beyond 3 keep no copy";

    // Writing the stored files out under their stored names.
    TempFolder out;
    EXPECT_TRUE(rows.writeStoredFiles(out.path(), options()).empty());
    EXPECT_EQ(readWholeFile(out.file("second.hex")), std::string(20, 'b'));

    // In package mode the rows read the copies and show the stored names.
    RowOptions package = options();
    package.packageMode = true;
    EXPECT_EQ(rows.rowName(1, package), "second.hex");
    EXPECT_EQ(rows.fileOf(1, package), work() + "/hexfile2");
}

// ---- reload, auto-load ----------------------------------------------------------------------

TEST_F(Rows, ReloadTakesThePathsOfTheSettingsFile)
{
    const std::string image = make("image.bin", 3, '\x10');
    std::string ini = "[Setting]\nbinfile_name=" + image + "\n";
    for (int i = 1; i <= 9; ++i)
        ini += "file" + std::to_string(i) + "_name=/fw/f" + std::to_string(i) + ".hex\n";
    writeWholeFile(folder.file("ISP__PSI.ini"), ini);
    rows.row(0).loaded = true;

    rows.reloadFileRows(folder.file("ISP__PSI.ini"), options(MVX_OP_5310_1TO4));
    EXPECT_EQ(rows.row(0).path, "/fw/f1.hex");
    EXPECT_EQ(rows.row(1).path, "/fw/f2.hex");
    EXPECT_EQ(rows.row(2).path, "");
    EXPECT_FALSE(rows.row(0).loaded);
    rows.reloadFileRows(folder.file("ISP__PSI.ini"), options(kSf));
    EXPECT_EQ(rows.row(8).path, "/fw/f9.hex");
    rows.reloadFileRows(folder.file("ISP__PSI.ini"), options(kSf, kFileTypeBin));
    EXPECT_EQ(rows.row(0).path, image);
    EXPECT_EQ(rows.bigBinChecksumText(), "0030");
}

TEST_F(Rows, AutoLoadFindsBankFilesOrOneImage)
{
    struct Case {
        std::vector<std::string> files;
        int fileType;
        std::array<std::string, 4> rows;
        std::uint16_t mask;
    };
    const Case cases[] = {
        {{"fw.H00", "fw.h01", "fw.H03", "fw_EXTEND.hex", "other.bin"}, kFileTypeHex,
         {"fw.H00", "fw.h01", "fw_EXTEND.hex", ""}, 0b111},
        {{"b.bin", "a.BIN", "fw.H01"}, kFileTypeBin, {"a.BIN", "", "", ""}, 0b1},
        {{"readme.txt"}, kFileTypeHex, {"", "", "", ""}, 0},
    };
    for (const Case& c : cases) {
        TempFolder source;
        for (const std::string& name : c.files)
            writeWholeFile(source.file(name), "x");
        fs::create_directory(source.file("dir.H00"));
        const FileRows::AutoLoad loaded = rows.autoLoad(source.path(), options());
        std::array<std::string, 4> paths;
        for (int r = 0; r < 4; ++r)
            paths[static_cast<std::size_t>(r)] =
                rows.row(r).path.empty() ? "" : fs::path(rows.row(r).path).filename().string();
        EXPECT_EQ(paths, c.rows) << c.files[0];
        EXPECT_EQ(loaded.fileType, c.fileType);
        EXPECT_EQ(loaded.rowMask, c.mask);
        EXPECT_EQ(ticked(loaded.report) & 0xFu, c.mask);
    }
}

// ---- what a run needs ----------------------------------------------------------------------

TEST_F(Rows, MissingFilesMaskAndActionButtonByMode)
{
    struct Case {
        int mcu;
        unsigned tickedRows;
        unsigned loadedRows;   // rows with a file that was read
        bool ldLoaded;
        std::uint16_t mask;
        bool enabled;
    };
    const Case cases[] = {
        {k5310, 0b11, 0b11, false, 0, true},
        {k5310, 0b11, 0b01, false, 0b10, false},
        {k5310, 0b100, 0, false, 0, false},          // only a row the 5310 does not use
        {k5312, 0b101, 0b101, false, 0, true},
        {k5312, 0b111, 0b011, false, 0b100, false},
        {kSf, 0, 0, false, 0, false},                 // nothing ticked
        {kSf, 0b1'0000'0001, 0b1'0000'0001, false, 0, true},
        {kSf, 0b1'0010'0001, 0b1'0000'0001, false, 0, false},   // row 5 missing: no bit for it
        {kSf, 0b1001, 0b0001, false, 0b1000, false},
        {MVX_OP_5310_1TO4, 0b01, 0b01, true, 0, true},
        {MVX_OP_5310_1TO4, 0b01, 0b01, false, 0xF0, false},
        {MVX_OP_5312_1TO4, 0b110, 0b010, true, 0b100, false},
        {MVX_OP_SERIAL_FLASH_1TO4, 0b1'0000'0000, 0, true, 0, true},   // row 8 is not examined
        {MVX_OP_SERIAL_FLASH_1TO4, 0b1001, 0b0001, true, 0b1000, false},
    };
    for (const Case& c : cases) {
        FileRows table{engine};
        for (int r = 0; r < kFileRows; ++r)
            if ((c.loadedRows >> r & 1u) != 0)
                table.openRow(r, make("f" + std::to_string(r) + ".hex"), options(c.mcu));
        ticks = c.tickedRows;
        std::array<bool, kLdFiles> ld{};
        ld.fill(c.ldLoaded);
        const RunFiles run = checkRunFiles(table, options(c.mcu), ld);
        EXPECT_EQ(run.missingMask, c.mask) << "mcu " << c.mcu << " ticked " << c.tickedRows;
        EXPECT_EQ(run.actionEnabled, c.enabled) << "mcu " << c.mcu << " ticked " << c.tickedRows;
    }
}

TEST_F(Rows, FileThatVanishedBeforeTheRunCountsAsMissing)
{
    const std::string bank0 = make("fw.hex");
    rows.openRow(0, bank0, options());
    ticks = 0b1;
    EXPECT_TRUE(checkRunFiles(rows, options()).actionEnabled);
    fs::remove(bank0);
    const RunFiles run = checkRunFiles(rows, options());
    EXPECT_FALSE(run.actionEnabled);
    EXPECT_EQ(run.missingMask, 0b1);
    EXPECT_FALSE(rows.row(0).loaded);
}

TEST_F(Rows, FileTableHoldsTheTickedRows)
{
    const std::string bank0 = make("fw.hex");
    const std::string bank2 = make("fw2.BIN");
    rows.openRow(0, bank0, options());
    rows.openRow(1, make("fw1.hex"), options());
    rows.openRow(2, bank2, options());
    ticks = 0b101;

    BuiltFileTable built = buildFileTable(rows, options());
    ASSERT_TRUE(built.ok()) << built.error;
    ASSERT_EQ(built.entries.size(), 256u);
    for (std::size_t i = 0; i < built.entries.size(); ++i) {
        const FileTableEntry& entry = built.entries[i];
        SCOPED_TRACE(i);
        EXPECT_EQ(entry.inUse, i == 0 || i == 2 ? 1 : 0);
        EXPECT_EQ(std::string(entry.path), i == 0 ? bank0 : i == 2 ? bank2 : "");
        EXPECT_EQ(entry.format, i == 2 ? MVX_FORMAT_BINARY : MVX_FORMAT_HEX);
    }

    // A whole image goes to every ticked bank; LD files to their entries.
    ticks = static_cast<std::uint16_t>(
        ticked(rows.openRow(0, make("img.bin", 3 * 65536), options(MVX_OP_SERIAL_FLASH_1TO4, kFileTypeBin))));
    built = buildFileTable(rows, options(MVX_OP_SERIAL_FLASH_1TO4, kFileTypeBin), {"/l1", "/l2", "/l3", "/l4"});
    ASSERT_TRUE(built.ok());
    for (int entry : {0, 1, 2}) {
        EXPECT_EQ(built.entries[static_cast<std::size_t>(entry)].format, MVX_FORMAT_WHOLE_DEVICE);
        EXPECT_EQ(std::string(built.entries[static_cast<std::size_t>(entry)].path), folder.file("img.bin"));
    }
    EXPECT_EQ(std::string(built.entries[22].path), "/l1");
    EXPECT_EQ(std::string(built.entries[26].path), "/l4");
    EXPECT_EQ(built.entries[3].inUse, 0);

    ticks = 0b10000;
    rows.row(4).path = std::string(300, 'p');
    EXPECT_FALSE(buildFileTable(rows, options()).ok()) << "a path longer than an entry is refused";
}

// ---- against the real engine and mvxisp ----------------------------------------------------

namespace {

// The columns mvxisp info prints for each bank: File Len, Prom Len, ChkSum.
std::vector<std::array<std::string, 3>> infoColumns(const std::string& arguments)
{
    return mvx::test::mvxispInfoColumns(MVX_CLI_PROGRAM, arguments);
}

}  // namespace

TEST_F(Rows, RowsShowWhatMvxispInfoPrints)
{
    mvx::platform::DynamicLibrary library;
    ASSERT_TRUE(library.open(MVX_ENGINE_LIBRARY)) << library.error();
    mvx::tool::EngineEntryPoints entry{library.function<MvxIspFn>("mvxISP"),
                                       library.function<MvxGetFileInfoFn>("mvxGetFileInfo")};
    EngineFileInfo real{entry, nullptr};
    FileRows table{real};

    const std::string bank0 = std::string(MVX_SAMPLES) + "/bank0.hex";
    table.openRow(0, bank0, options());
    const auto hex = infoColumns(bank0);
    ASSERT_EQ(hex.size(), 1u);
    EXPECT_EQ((std::array<std::string, 3>{table.row(0).fileLengthText, table.row(0).programLengthText,
                                          table.row(0).checksumText}),
              hex[0]);

    // A 5312 image of 140,000 bytes, cut into its three banks.
    std::string bytes(140000, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 7 + i / 256);
    const std::string image = folder.file("mcu.bin");
    writeWholeFile(image, bytes);
    const RowsReport report = table.openRow(0, image, options(k5312, kFileTypeBin));
    EXPECT_FALSE(report.openError);
    const auto banks = infoColumns("--mcu 5312 --image " + image);
    ASSERT_EQ(banks.size(), 3u);
    for (int r = 0; r < 3; ++r)
        EXPECT_EQ((std::array<std::string, 3>{table.row(r).fileLengthText, table.row(r).programLengthText,
                                              table.row(r).checksumText}),
                  banks[static_cast<std::size_t>(r)])
            << "bank " << r;
}
