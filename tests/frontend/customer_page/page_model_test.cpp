// The joins of the whole page model: one state for the ticked rows, option
// follow-ups done on the rows, what the rows find out reaching the options.
#include "customer_page/page_model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>

#include "mvx/platform/ini.hpp"
#include "temp_folder.hpp"

using namespace mvx::customer_page;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
namespace tool = mvx::tool;

namespace {

class ScriptedUi final : public tool::ShellUi {
public:
    void showMessage(std::string_view text, std::string_view) override { messages.emplace_back(text); }
    tool::Answer ask(std::string_view text, std::string_view, tool::Buttons) override
    {
        questions.emplace_back(text);
        return tool::Answer::No;
    }
    std::optional<std::string> chooseSaveFile(const tool::FileFilter&) override { return std::nullopt; }
    std::optional<std::string> chooseOpenFile(const tool::FileFilter&) override { return std::nullopt; }
    std::vector<std::string> questions;
    std::vector<std::string> messages;
};

// Answers from the file's size (at most a bank), checksum 0x1F; `answer`
// overrides.
class ScriptedEngine final : public FileInfoSource {
public:
    std::optional<FileInfoAnswer> fileInfo(const FileInfoRequest& request) override
    {
        if (answer)
            return answer(request);
        std::error_code error;
        const auto size = fs::file_size(request.path, error);
        if (error)
            return FileInfoAnswer{};
        const int length = static_cast<int>(std::min<std::uintmax_t>(size, 65536));
        return FileInfoAnswer{MVX_OK, length, length, 0x1F, 0x100 + request.bank};
    }
    std::function<std::optional<FileInfoAnswer>(const FileInfoRequest&)> answer;
};

struct Page {
    TempFolder folder;
    ScriptedUi ui;
    ScriptedEngine engine;
    CustomerPageModel model{PageFiles{ini(), folder.path(), folder.file("MVX_ISP_Tool"), folder.file("registry.ini")},
                            ui, engine};
    std::string ini() const { return folder.file("ISP__PSI.ini"); }
    std::string make(const std::string& name, std::size_t bytes = 100)
    {
        writeWholeFile(folder.file(name), std::string(bytes, '\x01'));
        return folder.file(name);
    }
};

unsigned entriesInUse(const BuiltFileTable& table)
{
    unsigned mask = 0;
    for (std::size_t i = 0; i < kFileRows; ++i)
        mask |= table.entries[i].inUse != 0 ? 1u << i : 0u;
    return mask;
}

}  // namespace

TEST(PageModel, TickedRowsAreOneStateForOptionsRowsAndRun)
{
    struct Case {
        int mcu;
        int fileType;
        std::vector<std::string> beside;   // companions next to the opened file
        std::string opened;
        std::size_t bytes;
        std::uint16_t ticked;              // after opening row 0
    };
    const Case cases[] = {
        {kSerialFlash, kHexFiles, {"fw.H01", "fw.H02"}, "fw.hex", 100, 0b111},
        {kR5312, kHexFiles, {"fw.H01"}, "fw.hex", 100, 0b011},
        {kSerialFlash, kBinFile, {}, "img.bin", 65537, 0b011},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.opened + " for mcu " + std::to_string(c.mcu));
        Page page;
        for (const std::string& name : c.beside)
            page.make(name);
        CustomerPageModel& model = page.model;
        model.select(OptionField::McuType, c.mcu);
        model.select(OptionField::FileType, c.fileType);
        model.tickRow(0, true);
        EXPECT_FALSE(model.runFiles().actionEnabled) << "row 0 is ticked but has no file";
        const PageUpdate opened = model.openRow(0, page.make(c.opened, c.bytes));
        EXPECT_EQ(model.options().tickedRows, c.ticked);
        EXPECT_EQ(model.rowOptions().tickedRows, c.ticked);
        EXPECT_EQ(opened.record.rowsAfter, c.ticked);
        EXPECT_TRUE(model.runFiles().actionEnabled);
        EXPECT_EQ(entriesInUse(buildFileTable(model.rows(), model.rowOptions())), c.ticked);
        EXPECT_EQ(model.layout().state(rowControlName(1, RowPart::NameEdit)).enabled, (c.ticked & 0b10) != 0);

        // Unticking a row is seen by the run at once; the ticks survive a trip to another MCU type.
        model.tickRow(1, false);
        EXPECT_EQ(entriesInUse(buildFileTable(model.rows(), model.rowOptions())), c.ticked & ~0b10u);
        model.select(OptionField::McuType, kR5310);
        model.select(OptionField::McuType, c.mcu);
        EXPECT_EQ(model.options().tickedRows, c.ticked & ~0b10u);

        model.startRun();
        EXPECT_EQ(page.ui.messages.back(), kRunNotYet);
    }
}

TEST(PageModel, FileTypeFollowUpReloadsTheRowsFromTheSettingsFile)
{
    Page page;
    const std::string hex = page.make("fw.hex");
    const std::string bin = page.make("img.bin", 0x21);
    ASSERT_FALSE(mvx::platform::writeProfileString(page.ini(), "Setting", "file1_name", hex));
    ASSERT_FALSE(mvx::platform::writeProfileString(page.ini(), "Setting", "binfile_name", bin));
    CustomerPageModel& model = page.model;
    model.load();
    EXPECT_EQ(model.rows().row(0).path, hex);
    EXPECT_TRUE(model.rows().row(0).loaded) << "the rows are read at load";
    EXPECT_EQ(model.rows().row(0).checksumText, "001F");

    const struct {
        int fileType;
        std::string row0;
        std::string bigBinSum;
    } steps[] = {{kBinFile, bin, "0021"}, {kHexFiles, hex, ""}};
    for (const auto& step : steps) {
        const PageUpdate update = model.select(OptionField::FileType, step.fileType);
        EXPECT_TRUE(update.rowsChanged);
        EXPECT_EQ(model.rows().row(0).path, step.row0);
        EXPECT_EQ(model.rowName(0), step.row0);
        if (!step.bigBinSum.empty()) {
            EXPECT_EQ(model.rows().bigBinChecksumText(), step.bigBinSum);
        }
        EXPECT_EQ(model.bankLabels()[0], step.fileType == kBinFile ? "BigBin" : "Bank0 (0-64)");
    }
}

TEST(PageModel, RaisedTrueSizeReachesTheOptionsAndTheSummary)
{
    struct Case {
        int dataLength;        // of the 5310's last bank
        int trueSizeIndex;     // afterwards
        const char* eraseSize;
    };
    const Case cases[] = {{20000, 19, "20k"}, {32768, 31, "32k"}, {40000, 0, "1k"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dataLength);
        Page page;
        page.engine.answer = [&c](const FileInfoRequest& request) {
            const bool fits = request.bank != 1 || request.eraseLength >= c.dataLength;
            return FileInfoAnswer{fits ? MVX_OK : MVX_ERR_ERASE_LENGTH, c.dataLength, c.dataLength, 0x1F, 1};
        };
        CustomerPageModel& model = page.model;
        model.select(OptionField::EraseType, kPageErase);
        model.select(OptionField::ExtTrueSize, 1);
        model.select(OptionField::TrueSizeIndex, 0);
        model.tickRow(1, true);
        model.openRow(1, page.make("fw_Extend.hex"));
        EXPECT_EQ(model.options().trueSizeIndex, c.trueSizeIndex);
        EXPECT_EQ(model.summary().eraseSize, c.eraseSize);
        EXPECT_EQ(model.rows().row(1).loaded, c.trueSizeIndex != 0);
    }
}

TEST(PageModel, PageOpensWithTheAutoLoadedFilesAndTheCrcOfEveryLoadedRow)
{
    struct Case {
        std::vector<std::string> inFolder;
        int fileType;                  // after opening
        std::uint16_t ticked;
        std::vector<std::string> log;
    };
    const Case cases[] = {
        {{"fw.H00", "fw.H01", "fw_Extend.hex"}, kHexFiles, 0b111,
         {"Calculate CRC Bank 0 0x100", "Calculate CRC Bank 1 0x101", "Calculate CRC Bank 2 0x102"}},
        {{"image.bin"}, kBinFile, 0b1, {"Calculate CRC Bank 0 0x100"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inFolder.front());
        Page page;
        const std::string folder = page.folder.file("autoload");
        fs::create_directory(folder);
        for (const std::string& name : c.inFolder)
            writeWholeFile(folder + "/" + name, std::string(100, '\x01'));
        mvx::platform::writeProfileString(page.ini(), "ad_setting", "enable_autoload_fw_files", "1");
        mvx::platform::writeProfileString(page.ini(), "ad_setting", "autoload_directory_pathname", folder);
        mvx::platform::writeProfileString(page.ini(), "Setting", "mcu", std::to_string(kSerialFlash));

        page.model.load();
        EXPECT_EQ(page.model.options().fileType, c.fileType);
        EXPECT_EQ(page.model.options().tickedRows & 0xF, c.ticked);
        EXPECT_EQ(page.model.rows().row(0).path, folder + "/" + c.inFolder.front());
        EXPECT_TRUE(page.model.runFiles().actionEnabled);
        EXPECT_EQ(page.model.takeLog(), c.log);

        // The settings keep what was found: the next page opens with it, auto-load or not.
        mvx::platform::writeProfileString(page.ini(), "ad_setting", "enable_autoload_fw_files", "0");
        CustomerPageModel reopened{PageFiles{page.ini(), page.folder.path(), page.folder.file("MVX_ISP_Tool"),
                                             page.folder.file("registry.ini")},
                                   page.ui, page.engine};
        reopened.load();
        EXPECT_EQ(reopened.rows().row(0).path, page.model.rows().row(0).path);
    }
}

TEST(PageModel, LdFilesAreWrittenOutForTheFamilyOfTheMcuType)
{
    struct Case {
        int mcu;
        std::vector<std::string> written;   // in the target folder
    };
    const Case cases[] = {
        {kR5310, {"a5310.hex", "b5310.hex", "c5310.hex", "d5310.hex"}},
        {3 /* 1To4-->R5310 */, {"a5310.hex", "b5310.hex", "c5310.hex", "d5310.hex"}},
        {kR5312, {"a5312.hex", "b5312.hex", "c5312.hex", "d5312.hex"}},
        {kSerialFlash, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.mcu);
        Page page;
        for (const std::string family : {"5310", "5312", "SF"})
            for (int i = 1; i <= 4; ++i) {
                const std::string member = family + "file" + std::to_string(i);
                writeWholeFile(page.folder.file(member), member);
                const std::string saved = std::string(1, static_cast<char>('a' + i - 1)) + family + ".hex";
                mvx::platform::writeProfileString(page.ini(), "Saved_LD", member, "C:/jobs/" + saved);
            }
        mvx::platform::writeProfileString(page.ini(), "Setting", "mcu", std::to_string(c.mcu));
        page.model.load();
        const std::string target = page.folder.file("out");
        fs::create_directory(target);
        page.model.settingsNotify(reinterpret_cast<std::uintptr_t>(target.c_str()), 3);
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(target))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, c.written);
        if (!c.written.empty()) {   // each copy holds its member's bytes
            EXPECT_EQ(mvx::test::readWholeFile(target + "/" + c.written[1]),
                      std::string(c.mcu % 3 == 0 ? "5310" : "5312") + "file2");
        }
    }
}
