// The joins of the whole page model: one state for the ticked rows, option
// follow-ups done on the rows, what the rows find out reaching the options.
#include "customer_page/page_model.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>

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

        // The run takes the same rows; without an engine it is refused, naming the library.
        EXPECT_FALSE(model.startRun({false, "libMVXISP.so"}).call);
        EXPECT_EQ(page.ui.messages.back(), missingEngineMessage("libMVXISP.so"));
        const RunRequest run = model.startRun({true, "libMVXISP.so"});
        ASSERT_TRUE(run.call);
        EXPECT_EQ(entriesInUse({run.call->table, {}}), c.ticked & ~0b10u);
        EXPECT_TRUE(model.running());
        model.runFinished();
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
        {kSerialFlash, {"aSF.hex", "bSF.hex", "cSF.hex", "dSF.hex"}},
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
        // Each copy holds its member's bytes.
        const std::array<const char*, 3> families{"5310", "5312", "SF"};
        EXPECT_EQ(mvx::test::readWholeFile(target + "/" + c.written.at(1)),
                  std::string(families.at(static_cast<std::size_t>(c.mcu % 3))) + "file2");
    }
}

// ---- runs ------------------------------------------------------------------------

namespace {

// An engine that reports its integer arguments to its window (message
// kArgument, wParam = argument number, lParam = value), the FileTable entries
// in use beyond the file rows (kEntry) and two IspOptions fields, so a listener sees exactly what
// the engine was given.
constexpr std::uint32_t kArgument = 0x7001;
constexpr std::uint32_t kEntry = 0x7002;
constexpr std::uintptr_t kKeyKind = 100;
constexpr std::uintptr_t kIspEnable = 44;

int recordingEngine(int a1, int a2, int a3, int a4, int a5, int a6, int a7, int a8, int a9,
                    const FileTableEntry* table, int a11, int a12, const MvxWindow* window,
                    const FlashProtectSettings*, int a15, int a16, const IspOptions* options)
{
    const std::array<int, 17> ints{a1, a2, a3, a4, a5, a6, a7, a8, a9, 0, a11, a12, 0, 0, a15, a16, 0};
    for (std::size_t i = 0; i < ints.size(); ++i)
        window->sendMessage(window->context, kArgument, i + 1, ints[i]);
    for (std::uintptr_t e = 0; e < MVX_FILE_TABLE_SIZE; ++e)
        if (table[e].inUse != 0 && e >= kFileRows)   // the LD entries
            window->sendMessage(window->context, kEntry, e, 0);
    window->sendMessage(window->context, kArgument, kKeyKind, options->hdcp_key_file_kind);
    window->sendMessage(window->context, kArgument, kIspEnable, options->ispEnable);
    return MVX_OK;
}

struct Recorder final : mvx::run::RunListener {
    std::map<std::uintptr_t, std::intptr_t> args;
    std::vector<std::uintptr_t> entries;
    void started(const mvx::run::RunCounters&) override {}
    std::intptr_t engineMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        if (message == kArgument)
            args[wParam] = lParam;
        else if (message == kEntry)
            entries.push_back(wParam);
        return 0;
    }
    int engineMessageBox(std::string_view, std::string_view, std::uint32_t) override { return MVX_IDOK; }
    void runDone(const mvx::run::RunDone&) override {}
    void ended(const mvx::run::WorkerEnd&) override {}
};

tool::AdvancedSettings advancedOf(const CustomerPageModel& model) { return model.optionModel().advanced(); }

void sendAdvanced(CustomerPageModel& model, const tool::AdvancedSettings& a)
{
    model.settingsNotify(reinterpret_cast<std::uintptr_t>(&a), 0);
}

}  // namespace

TEST(PageRun, TheEngineGetsTheArgumentsOfThePagesOptions)
{
    struct Case {
        const char* what;
        int mcu, oneToFour, interface, erase, ext, sizeIndex, check, addressMode;
        const char* address;
        const char* keyFile;
        int kindBefore;
        // arguments 1, 2, 4, 5, 7, 11, 12 and the key-file kind
        std::array<std::intptr_t, 8> expected;
        std::vector<std::uintptr_t> entries;
    };
    const Case cases[] = {
        {"true size: its length, the chosen check, no ID read", kSerialFlash, 0, 2, kPageErase, 1, 3, kCheckSum,
         kAddressDefault, "", "key.bin", 1, {2, 2, 1, 1, 4096, 0, 0, 0}, {}},
        {"mass erase without true size: CRC whatever the check says", kSerialFlash, 0, 2, kMassErase, 0, 3,
         kCheckSum, kAddressDefault, "", "key.TXT", 0, {2, 2, 1, 0, -1, 0, 1, 1}, {}},
        {"page erase without true size: the chosen check", kSerialFlash, 0, 0, kPageErase, 0, 0, kCheckSum,
         kAddressCustom, "", "key.dat", 1, {0, 2, 2, 1, -1, 0, 1, 1}, {}},
        {"typed address, MCU: no ID read", kR5312, 0, 3, kMassErase, 0, 0, kCheckCrc, kAddressCustom, "5c",
         "", 0, {3, 1, 0x5C, 0, -1, 0, 0, 0}, {}},
        {"FTDI takes its library; 1TO4 flash adds its LD entries", kSerialFlash, 1, 1, kMassErase, 0, 0,
         kCheckCrc, kAddressDefault, "", "", 0, {2, 5, 1, 0, -1, 0, 1, 0}, {22, 23, 25, 26}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Page page;
        for (int i = 1; i <= 4; ++i)
            ASSERT_FALSE(mvx::platform::writeProfileString(page.ini(), "Setting", "SF_" + std::to_string(i),
                                                           page.make("sf" + std::to_string(i) + ".hex")));
        CustomerPageModel& model = page.model;
        model.load();
        tool::AdvancedSettings a = advancedOf(model);
        a.Auto_detect = 1;
        a.hdcp_key_file_kind = c.kindBefore;
        tool::setText(a.autoload_hdcp_key_file_pathname, c.keyFile);
        sendAdvanced(model, a);
        const std::pair<OptionField, int> choices[] = {
            {OptionField::McuType, c.mcu},           {OptionField::OneToFour, c.oneToFour},
            {OptionField::InterfaceKind, c.interface}, {OptionField::EraseType, c.erase},
            {OptionField::ExtTrueSize, c.ext},        {OptionField::TrueSizeIndex, c.sizeIndex},
            {OptionField::CheckType, c.check},        {OptionField::AddressMode, c.addressMode}};
        for (const auto& [field, value] : choices)
            model.select(field, value);
        model.setAddressText(c.address);

        RunRequest request = model.startRun({true, "libMVXISP.so"});
        ASSERT_TRUE(request.call) << page.ui.messages.back();
        Recorder recorder;
        mvx::run::IspWorker::start(&recordingEngine, std::move(*request.call), recorder).reset();
        const std::array<std::uintptr_t, 8> numbers{1, 2, 4, 5, 7, 11, 12, kKeyKind};
        for (std::size_t i = 0; i < numbers.size(); ++i)
            EXPECT_EQ(recorder.args[numbers[i]], c.expected[i]) << "argument " << numbers[i];
        EXPECT_EQ(recorder.args[kIspEnable], model.options().ispEnable);
        EXPECT_EQ(recorder.entries, c.entries);
    }
}

TEST(PageRun, RefusedStartsSayWhyAndStartNothing)
{
    struct Case {
        bool engineBound;
        int mcu;
        int oneToFour;
        std::vector<int> ldPresent;   // LD files 1..4 of the family that exist
        std::string message;
    };
    const Case cases[] = {
        {false, kSerialFlash, 0, {}, missingEngineMessage("libMVXISP.so")},
        {true, kR5310, 1, {1, 2, 4}, std::string(kLdMissingMessage5310Third)},
        {true, kR5312, 1, {2, 3, 4}, std::string(kLdMissingMessage)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        Page page;
        const std::string family = c.mcu == kR5310 ? "5310" : "5312";
        for (int i : c.ldPresent)
            ASSERT_FALSE(mvx::platform::writeProfileString(page.ini(), "Setting", family + "_" + std::to_string(i),
                                                           page.make("ld" + std::to_string(i) + ".hex")));
        page.model.load();
        page.model.select(OptionField::McuType, c.mcu);
        page.model.select(OptionField::OneToFour, c.oneToFour);
        const RunRequest request = page.model.startRun({c.engineBound, "libMVXISP.so"});
        EXPECT_FALSE(request.call);
        EXPECT_FALSE(page.model.running());
        ASSERT_FALSE(page.ui.messages.empty());
        EXPECT_EQ(page.ui.messages.back(), c.message);
    }
}

TEST(PageRun, ResultsCountersIcCodeAndLogColourFollowTheWorker)
{
    using mvx::run::RunCounters;
    using mvx::run::WorkerEnd;
    Page page;
    CustomerPageModel& model = page.model;
    model.load();
    const auto text = [&model](std::string_view name) { return model.layout().texts.at(std::string(name)); };
    const auto shown = [&model](std::string_view name) { return model.layout().state(name).visible; };

    // A repeat test of three with the second failing.
    ASSERT_TRUE(model.startRun({true, "libMVXISP.so"}).call);
    EXPECT_FALSE(model.layout().state(names::ispButton).enabled) << "no second run while one runs";
    EXPECT_FALSE(model.layout().state(rowControlName(0, RowPart::CheckBox)).enabled);
    model.runStarted({3, 0, 0}, true);
    model.runDone({1, MVX_OK, {3, 1, 0}});
    model.runDone({2, 13, {3, 1, 1}});
    EXPECT_EQ(model.runDisplay().logColour(), LogColour::Fail);
    model.runDone({3, MVX_OK, {3, 2, 1}});
    WorkerEnd end;
    end.repeat = true;
    end.runsDone = 3;
    end.showResult = true;
    end.counters = {3, 2, 1};
    model.runEnded(end, page.folder.path());
    EXPECT_EQ(text(names::totalCountLabel) + text(names::passCountLabel) + text(names::failCountLabel), "321");
    EXPECT_TRUE(shown(names::passPictureLabel));
    EXPECT_FALSE(shown(names::failPictureLabel));
    EXPECT_FALSE(model.runFinished().closeTool);
    EXPECT_TRUE(model.layout().state(rowControlName(0, RowPart::CheckBox)).enabled);

    // A read of the IC code: the code replaces the pictures until the run ends.
    ASSERT_TRUE(model.startRun({true, "libMVXISP.so"}).call);
    EXPECT_TRUE(model.log().lines().empty()) << "every run starts with an empty log";
    model.engineMessage(MVX_MSG_IC_CODE << 8, 0x05);
    EXPECT_TRUE(shown(names::icCodeLabel));
    EXPECT_EQ(text(names::icCodeLabel), "IC Code: 0x05");
    model.engineMessage(MVX_MSG_OVERALL_PERCENT << 8, 42);
    EXPECT_EQ(model.runDisplay().percent, 42);
    WorkerEnd failed;
    failed.runsDone = 1;
    failed.lastResult = 13;
    failed.passed = false;
    failed.showResult = true;
    failed.showIcCode = true;
    model.runEnded(failed, page.folder.path());
    EXPECT_TRUE(shown(names::failPictureLabel));
    EXPECT_TRUE(shown(names::icCodeLabel));
    EXPECT_EQ(model.runDisplay().logColour(), LogColour::Fail);
    model.runFinished();
}

TEST(PageRun, UnattendedKeyFireLogsEveryBoardAndClosesOnlyWhenTheLineIsWritten)
{
    Page page;
    const std::string logFile = page.folder.file(std::string(kHdcpLogName));
    // Earlier boards' lines are never touched.
    writeWholeFile(logFile, "00000000 burn hdcp key and check pass \r\n");
    struct Case {
        int result;
        std::string folder;
        const char* line;
        bool closes;
    };
    const Case cases[] = {
        {MVX_OK, page.folder.path(), "00000000 burn hdcp key and check pass \r\n", true},
        {26, page.folder.path(), "00000003 burn hdcp key and check fail \r\n", true},
        {20, page.folder.path(), "00000004 burn hdcp key and check fail \r\n", true},
        {7, page.folder.path(), "00000001 burn hdcp key and check fail \r\n", true},
        {14, page.folder.file("gone"), "", false},
    };
    std::string expected = mvx::test::readWholeFile(logFile);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.result);
        ASSERT_TRUE(page.model.startRun({true, "libMVXISP.so"}).call);
        mvx::run::WorkerEnd end;
        end.runsDone = 1;
        end.lastResult = c.result;
        end.passed = c.result == MVX_OK;
        end.flag = mvx::run::ResultFlag::HdcpRun;
        end.appendHdcpLog = true;
        end.closeTool = true;
        page.model.runEnded(end, c.folder);
        expected += c.line;
        EXPECT_EQ(mvx::test::readWholeFile(logFile), expected);
        EXPECT_EQ(page.model.runFinished().closeTool, c.closes);
        if (!c.closes) {
            EXPECT_NE(page.model.log().lines().back().find("cannot be opened"), std::string::npos);
        }
    }
}

TEST(PageRun, AdvancedSettingReopensUntilTheKeyFireHasWhatItNeeds)
{
    Page page;
    CustomerPageModel& model = page.model;
    model.load();
    const std::string key = page.make("board.key", 64);
    tool::AdvancedSettings noKey = advancedOf(model);
    noKey.enable_hdcp_key_fire = 1;
    noKey.autoload_hdcp_key_file_method = 0;
    tool::AdvancedSettings noFolder = noKey;
    tool::setText(noFolder.autoload_hdcp_key_file_pathname, key);
    noFolder.hdcp_key_fire_check_method = 1;
    noFolder.enable_save_readed_hdcp_key = 1;
    tool::AdvancedSettings copied = noFolder;
    copied.autoload_hdcp_key_file_method = 1;
    copied.enable_save_readed_hdcp_key = 0;

    struct Dialog final : AdvancedSettingDialog {
        std::deque<tool::AdvancedSettings> answers;
        tool::AdvancedSettings edit(const AdvancedSettingRequest&, mvx::settings_dialogs::SettingsReceiver&) override
        {
            tool::AdvancedSettings next = answers.front();
            answers.pop_front();
            return next;
        }
    } dialog;
    dialog.answers = {noKey, noFolder, copied};
    // An old read-only copy is replaced.
    const std::string copy = page.folder.file(std::string(kHdcpKeyCopyName));
    writeWholeFile(copy, "old key");
    fs::permissions(copy, fs::perms::owner_read);
    const PageUpdate update = model.advancedSetting(dialog);
    EXPECT_TRUE(dialog.answers.empty()) << "the dialog opened three times";
    EXPECT_EQ(page.ui.messages,
              (std::vector<std::string>{std::string(kNoHdcpKeyFileMessage), std::string(kNoHdcpSaveFolderMessage)}));
    EXPECT_TRUE(update.record.dirtied);
    EXPECT_EQ(mvx::test::readWholeFile(copy), mvx::test::readWholeFile(key));
    EXPECT_EQ(model.hdcpKeyFile(), copy);
    EXPECT_EQ(mvx::platform::readProfileString(page.ini(), "Saved_hdcpkey", "hdcpkey.bin", ""), "hdcpkey.bin");
    const RunRequest run = model.startRun({true, "libMVXISP.so"});
    ASSERT_TRUE(run.call);
    EXPECT_EQ(run.call->hdcpKeyFile, copy) << "method 1 fires the work folder's copy";
    model.runFinished();
}

TEST(PageRun, AdvancedSettingNotificationsReachThePageWhileTheDialogIsOpen)
{
    Page page;
    CustomerPageModel& model = page.model;
    model.load();
    // Sends a changed record, then exports into a folder that cannot take files.
    struct Dialog final : AdvancedSettingDialog {
        tool::AdvancedSettings edit(const AdvancedSettingRequest& request,
                                    mvx::settings_dialogs::SettingsReceiver& receiver) override
        {
            tool::AdvancedSettings changed = request.record;
            tool::setText(changed.user_title, "Line 4");
            receiver.settingsNotify(tool::notifyAdvancedSettings(changed).wParam, 0);
            titleWhileOpen = pageModel->title();
            failures = receiver.settingsNotify(reinterpret_cast<std::uintptr_t>(folder.c_str()), 2);
            return changed;
        }
        CustomerPageModel* pageModel = nullptr;
        std::string folder;
        std::string titleWhileOpen;
        std::vector<std::string> failures;
    } dialog;
    dialog.pageModel = &model;
    dialog.folder = page.folder.file("missing/folder");
    model.openRow(0, page.make("bank0.hex"));
    const PageUpdate update = model.advancedSetting(dialog);
    EXPECT_EQ(dialog.titleWhileOpen.rfind("Line 4", 0), 0u) << dialog.titleWhileOpen;
    EXPECT_FALSE(dialog.failures.empty()) << "a copy that fails is reported to the dialog";
    EXPECT_TRUE(update.record.dirtied) << "compared with the record the dialog opened with";
}
