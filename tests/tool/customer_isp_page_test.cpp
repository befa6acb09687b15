// The real Customer ISP page, offscreen, over the real engine: the layout
// follows the radios, an opened file shows what `mvxisp info` reports, the
// keys and the close question, the settings notifications.
#include "app/customer_isp_page.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "mvxisp_info.hpp"
#include "run_fixtures.hpp"
#include "shell/settings_store.hpp"
#include "shell_test_support.hpp"
#include "widget_lookup.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
namespace n = mvx::customer_page::names;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
using mvx::test::child;

namespace {

// The columns `mvxisp info` prints for a file's first bank: File Len, Prom Len, ChkSum.
std::array<QString, 3> infoColumns(const std::string& file)
{
    const auto banks = mvx::test::mvxispInfoColumns(MVX_CLI_PROGRAM, file);
    if (banks.empty())
        return {};
    return {QString::fromStdString(banks[0][0]), QString::fromStdString(banks[0][1]),
            QString::fromStdString(banks[0][2])};
}

class Page : public ::testing::Test {
protected:
    Page()
    {
        writeWholeFile(install.where.programPath, "program");
        fs::create_directories(install.where.workFolder);
        fs::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
    }

    template <typename W = QWidget>
    W* row(CustomerIspPage& page, int r, cp::RowPart part)
    {
        return child<W>(page, cp::rowControlName(r, part));
    }

    // Runs the page modally with whileOpen; a page still open after five seconds fails.
    void runPage(CustomerIspPage& page, const std::function<void()>& whileOpen)
    {
        QTimer::singleShot(0, &page, whileOpen);
        QTimer::singleShot(5000, &page, [&page] {
            ADD_FAILURE() << "the page did not close";
            page.done(QDialog::Rejected);
        });
        page.exec();
    }

    ScratchInstall install;
    ScriptedUi ui;
    EngineBinding engine{install.where, ui};
};

}  // namespace

TEST_F(Page, McuAndEraseRadiosChangeWhatIsEnabledAndShown)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    struct Step {
        std::string_view click;
        std::string_view control;
        bool shown;
        bool enabled;
    };
    // The row names outlive the table that views them.
    const std::string row8CheckBox = cp::rowControlName(8, cp::RowPart::CheckBox);
    const std::string row2CheckBox = cp::rowControlName(2, cp::RowPart::CheckBox);
    const Step steps[] = {
        {n::mcuSerialFlashRadio, n::brandGroupBox, true, true},
        {n::mcuSerialFlashRadio, n::trueSizeCombo, true, false},
        {n::mcuSerialFlashRadio, row8CheckBox, true, true},
        {n::mcuR5310Radio, n::brandGroupBox, true, false},
        {n::mcuR5310Radio, row2CheckBox, true, false},
        {n::mcuR5310Radio, n::extTrueSizeCheckBox, true, false},
        {n::erasePageRadio, n::extTrueSizeCheckBox, true, true},
        {n::erasePageRadio, n::checkCrcRadio, true, true},
        {n::mcuR5312Radio, n::checkGroupBox, true, false},
        {n::oneToFourRadio, n::interfaceNorvaneUsbRadio, true, false},
        {n::oneToOneRadio, n::interfaceNorvaneUsbRadio, true, true},
    };
    for (const Step& step : steps) {
        // 1TO4 opens the Load LD Files dialog: cancelled here, the switch stays.
        if (step.click == n::oneToFourRadio)
            QTimer::singleShot(0, [] { QApplication::activeModalWidget()->close(); });
        child<QRadioButton>(page, step.click)->click();
        QWidget* w = child(page, step.control);
        EXPECT_EQ(w->isVisibleTo(&page), step.shown) << step.click << " then " << step.control;
        EXPECT_EQ(w->isEnabled(), step.enabled) << step.click << " then " << step.control;
    }
    // The R5310 checks by checksum after a page erase.
    child<QRadioButton>(page, n::mcuR5310Radio)->click();
    child<QRadioButton>(page, n::erasePageRadio)->click();
    EXPECT_TRUE(child<QRadioButton>(page, n::checkSumRadio)->isChecked());
    EXPECT_EQ(child<QLineEdit>(page, n::summaryEraseTypeEdit)->text(), "Page Erase");

    // Save Settings stores and turns to the operator's view: options hidden, the ISP button shown.
    child<QPushButton>(page, n::saveSettingsButton)->click();
    EXPECT_FALSE(child(page, n::interfaceGroupBox)->isVisibleTo(&page));
    EXPECT_FALSE(child(page, n::erasePageRadio)->isVisibleTo(&page));
    EXPECT_TRUE(child(page, n::ispButton)->isVisibleTo(&page));
    EXPECT_TRUE(child(page, kLogEditName)->isVisibleTo(&page));
    EXPECT_TRUE(ui.questions.empty());
}

TEST_F(Page, OpenedHexFileShowsWhatMvxispInfoPrints)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    child<QRadioButton>(page, n::mcuSerialFlashRadio)->click();
    if (!row<QCheckBox>(page, 0, cp::RowPart::CheckBox)->isChecked())
        row<QCheckBox>(page, 0, cp::RowPart::CheckBox)->click();
    ASSERT_TRUE(row(page, 0, cp::RowPart::OpenButton)->isEnabled()) << "a ticked row opens files";
    const std::string bank0 = std::string(MVX_SAMPLES) + "/bank0.hex";
    ui.openChoices.push_back(bank0);
    row<QPushButton>(page, 0, cp::RowPart::OpenButton)->click();

    const auto expected = infoColumns(bank0);
    ASSERT_FALSE(expected[0].isEmpty());
    EXPECT_EQ(row<QLineEdit>(page, 0, cp::RowPart::FileLengthEdit)->text(), expected[0]);
    EXPECT_EQ(row<QLineEdit>(page, 0, cp::RowPart::ProgramLengthEdit)->text(), expected[1]);
    EXPECT_EQ(row<QLineEdit>(page, 0, cp::RowPart::ChecksumEdit)->text(), expected[2]);
    EXPECT_EQ(row<QLineEdit>(page, 0, cp::RowPart::NameEdit)->text(), QString::fromStdString(bank0));
    EXPECT_TRUE(ui.messages.empty());

    // A file the engine cannot read keeps its name, shows nothing and says so.
    const std::string text = install.where.workFile("notes.hex");
    writeWholeFile(text, "not a hex file\n");
    ui.openChoices.push_back(text);
    row<QPushButton>(page, 0, cp::RowPart::OpenButton)->click();
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{std::string(cp::kOpenFileError)});
    EXPECT_EQ(row<QLineEdit>(page, 0, cp::RowPart::NameEdit)->text(), QString::fromStdString(text));
    EXPECT_TRUE(row<QLineEdit>(page, 0, cp::RowPart::ChecksumEdit)->text().isEmpty());
}

TEST_F(Page, EscapeNeverClosesAndTheSaveQuestionComesOnce)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    ui.answers = {Answer::No};
    bool openAfterEscape = false;
    runPage(page, [&] {
        QTest::keyClick(&page, Qt::Key_Escape);
        QTest::keyClick(child(page, cp::rowControlName(0, cp::RowPart::NameEdit)), Qt::Key_Escape);
        openAfterEscape = page.isVisible();
        child<QRadioButton>(page, n::mcuR5312Radio)->click();   // unsaved changes
        child<QRadioButton>(page, n::ispTypeEraseRadio)->click();
        page.reject();
        page.reject();
    });
    EXPECT_TRUE(openAfterEscape);
    EXPECT_EQ(page.result(), QDialog::Rejected);
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0].text, cp::kSaveQuestion);
    EXPECT_FALSE(page.switchPage());
}

TEST_F(Page, ViewKeySwitchesTheViewThenThePage)
{
    CustomerIspPage page(install.where, engine, ui, cp::kCompactView);
    bool fullViewShown = false;
    runPage(page, [&] {
        QTest::keyPress(&page, Qt::Key_Control);
        QTest::keyClick(&page, Qt::Key_M, Qt::ControlModifier);   // compact: toggles the view
        fullViewShown = child(page, n::interfaceGroupBox)->isVisible();
        QTest::keyClick(&page, Qt::Key_M, Qt::ControlModifier);   // full: asks for the other page
        QTest::keyRelease(&page, Qt::Key_Control);
    });
    EXPECT_TRUE(fullViewShown);
    EXPECT_TRUE(page.switchPage());
    EXPECT_EQ(page.result(), QDialog::Accepted);
}

TEST_F(Page, TitleNotificationRetitlesThePage)
{
    CustomerIspPage page(install.where, engine, ui, cp::kCompactView);
    char title[260] = "Line 7 ISP";
    page.settingsNotify(reinterpret_cast<std::uintptr_t>(title), 1);
    EXPECT_TRUE(page.windowTitle().startsWith("Line 7 ISP ")) << page.windowTitle().toStdString();
    page.settingsNotify(0, 3);   // an export without a folder is ignored
    EXPECT_TRUE(page.windowTitle().startsWith("Line 7 ISP "));
}

// ---- runs on the virtual board ---------------------------------------------------------

namespace {

// The lines mvxisp reports for the same job that are log lines (not its own
// notes about the board, the target, the percent and the result).
std::vector<std::string> mvxispLogLines(const std::string& board, const std::string& arguments)
{
    const std::string command = "MVX_VIRTUAL_BOARD='" + board + "' " + MVX_CLI_PROGRAM + " program " + arguments +
                                " 2>&1";
    std::vector<std::string> lines;
    for (std::string& line : mvx::test::commandLines(command)) {
        if (line.rfind("VIRTUAL BOARD", 0) != 0 && line.rfind("Target:", 0) != 0 &&
            line.rfind("Progress:", 0) != 0 && line.rfind("Result ", 0) != 0)
            lines.push_back(std::move(line));
    }
    return lines;
}

std::vector<std::string> logLines(CustomerIspPage& page)
{
    const QString text = page.findChild<QPlainTextEdit*>(kLogEditName)->toPlainText();
    std::vector<std::string> lines;
    for (const QString& line : text.split('\n'))
        lines.push_back(line.toStdString());
    return lines;
}

class PageRun : public Page {
protected:
    // A job in the work folder's settings: the MCU type, its HEX bank files
    // ticked, over the Norvane IIC cable, and whatever `tweak` changes.
    void saveJob(int mcu, const std::vector<std::string>& files,
                 const std::function<void(AdvancedSettings&)>& tweak = {})
    {
        const std::string ini = install.where.settingsPath();
        CustomerSettings settings = loadCustomerSettings(ini, install.where.programFolder());
        settings.mcu = mcu;
        ModeOptions& mode = settings.modes[static_cast<std::size_t>(mcu)];
        mode.interface = MVX_ADAPTER_NORVANE_IIC;
        mode.filecheck = (1 << files.size()) - 1;
        for (std::size_t i = 0; i < files.size(); ++i)
            settings.hexPaths[i] = files[i];
        if (tweak)
            tweak(settings.advanced);
        ASSERT_FALSE(saveCustomerSettings(ini, settings));
        ASSERT_FALSE(saveFileNames(ini, settings));
    }

    // Runs the page with whileOpen and waits until it is idle again after
    // its run; then closes it (a page still running after a minute fails).
    // Answers whether the page was still open a moment after its run.
    bool runAndWait(CustomerIspPage& page, const std::function<void()>& whileOpen,
                    const std::function<void()>& duringRun = {})
    {
        QTimer idle;
        bool started = false;
        bool openAfter = false;
        QObject::connect(&idle, &QTimer::timeout, &page, [&] {
            started = started || page.running();
            if (started && duringRun)
                duringRun();
            if (started && !page.running()) {
                idle.stop();
                // Longer than an auto-run waits before it closes the tool.
                QTimer::singleShot(200, &page, [&] {
                    openAfter = page.isVisible();
                    page.done(QDialog::Rejected);
                });
            }
        });
        QTimer::singleShot(0, &page, [&] {
            whileOpen();
            idle.start(1);
        });
        QTimer::singleShot(60000, &page, [&page] {
            ADD_FAILURE() << "the run did not end";
            page.done(QDialog::Rejected);
        });
        ui.answers.assign(4, Answer::No);   // the save question, if any
        page.exec();
        return openAfter;
    }

    QString text(CustomerIspPage& page, std::string_view name) { return child<QLabel>(page, name)->text(); }
    bool shown(CustomerIspPage& page, std::string_view name) { return child(page, name)->isVisibleTo(&page); }
};

}  // namespace

TEST_F(PageRun, IspButtonProgramsTheBoardAndLogsWhatMvxispPrints)
{
    const std::string samples = MVX_SAMPLES;
    const std::vector<std::string> files{samples + "/bank0.hex", samples + "/bank1.hex", samples + "/bank2.hex"};
    struct Case {
        int mcu;
        std::size_t banks;
        const char* memory;
        const char* mcuOption;
        const char* board;
    };
    // (the 5312's third bank is too small for the third sample)
    const Case cases[] = {{cp::kSerialFlash, 3, "flash.bin", "sf --auto-detect", ""},
                          {cp::kR5312, 2, "mcu.bin", "5312", "[board]\ntarget=5312\n"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.memory);
        const std::vector<std::string> job(files.begin(), files.begin() + static_cast<std::ptrdiff_t>(c.banks));
        saveJob(c.mcu, job, [](AdvancedSettings& a) { a.Auto_detect = 1; });
        mvx::test::BoardFolder board(c.board);
        CustomerIspPage page(install.where, engine, ui, cp::kCompactView);
        ASSERT_TRUE(child(page, n::ispButton)->isEnabled());
        runAndWait(page, [&] { child<QPushButton>(page, n::ispButton)->click(); });

        EXPECT_TRUE(shown(page, n::passPictureLabel));
        EXPECT_FALSE(shown(page, n::failPictureLabel));
        EXPECT_EQ(page.findChild<QProgressBar*>(kRunProgressBarName)->value(), 100);
        // The command line on a second board programs the same bytes with the same lines.
        mvx::test::BoardFolder other(c.board);
        std::string arguments = std::string("--mcu ") + c.mcuOption + " --library-mode 0";
        for (const std::string& file : job)
            arguments += " " + file;
        EXPECT_EQ(logLines(page), mvxispLogLines(other.folder.path(), arguments));
        const std::string written = board.contents(c.memory);
        EXPECT_FALSE(written.empty());
        EXPECT_EQ(written, other.contents(c.memory)) << c.memory << " byte for byte";
    }
}

TEST_F(PageRun, RepeatTestCountsAndStopIspEndsItAfterTheRunningRun)
{
    const std::string bank0 = std::string(MVX_SAMPLES) + "/bank0.hex";
    struct Case {
        const char* board;
        int count;
        bool stopInSecond;
        const char* counters;   // total, pass, fail
        bool passed;
    };
    const Case cases[] = {
        {"", 3, false, "330", true},
        {"", 5, true, "5", true},   // pass + fail = 2, checked below
        {"[board]\nlink=dead\n", 1, false, "101", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        saveJob(cp::kSerialFlash, {bank0}, [&c](AdvancedSettings& a) {
            a.enable_isprepeattest = 1;
            a.isprepeat_counter = c.count;
        });
        mvx::test::BoardFolder board(c.board);
        CustomerIspPage page(install.where, engine, ui, cp::kCompactView);
        bool stopped = false;
        runAndWait(page, [&] { child<QPushButton>(page, n::ispButton)->click(); },
                   [&] {
                       // Into the second run: one run counted and the percent moving again.
                       const int done = text(page, n::passCountLabel).toInt() + text(page, n::failCountLabel).toInt();
                       const int percent = page.findChild<QProgressBar*>(kRunProgressBarName)->value();
                       if (c.stopInSecond && !stopped && done == 1 && percent < 100) {
                           stopped = true;
                           child<QPushButton>(page, n::stopIspButton)->click();
                       }
                   });
        const QString counters = text(page, n::totalCountLabel) + text(page, n::passCountLabel) +
                                 text(page, n::failCountLabel);
        if (c.stopInSecond) {
            EXPECT_TRUE(stopped);
            EXPECT_EQ(text(page, n::totalCountLabel), "5");
            EXPECT_EQ(text(page, n::passCountLabel).toInt() + text(page, n::failCountLabel).toInt(), 2);
        } else {
            EXPECT_EQ(counters.toStdString(), c.counters);
        }
        EXPECT_EQ(shown(page, n::passPictureLabel), c.passed);
        EXPECT_EQ(shown(page, n::failPictureLabel), !c.passed);
        const QColor text = page.findChild<QPlainTextEdit*>(kLogEditName)->palette().color(QPalette::Text);
        EXPECT_EQ(text, c.passed ? QColor(0, 0, 255) : QColor(255, 0, 0));
    }
}

TEST_F(PageRun, AutoRunStartsAsThePageOpensAndAFailureLeavesItOpen)
{
    saveJob(cp::kSerialFlash, {std::string(MVX_SAMPLES) + "/bank0.hex"},
            [](AdvancedSettings& a) { a.enable_autorunisp = 1; });
    mvx::test::BoardFolder board("[board]\nlink=dead\n");
    CustomerIspPage page(install.where, engine, ui, cp::kCompactView);
    EXPECT_TRUE(runAndWait(page, [] {})) << "the page closed itself after a failed run";
    EXPECT_TRUE(shown(page, n::failPictureLabel));
    EXPECT_FALSE(ui.messages.empty()) << "the engine's failure box reached the operator";
}
