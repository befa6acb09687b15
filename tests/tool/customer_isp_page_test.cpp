// The real Customer ISP page, offscreen, over the real engine: the layout
// follows the radios, an opened file shows what `mvxisp info` reports, the
// keys and the close question, the settings notifications.
#include "app/customer_isp_page.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "mvxisp_info.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
namespace n = mvx::customer_page::names;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

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
    W* control(CustomerIspPage& page, std::string_view name)
    {
        auto* w = page.findChild<W*>(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    template <typename W = QWidget>
    W* row(CustomerIspPage& page, int r, cp::RowPart part)
    {
        return control<W>(page, cp::rowControlName(r, part));
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
        control<QRadioButton>(page, step.click)->click();
        QWidget* w = control(page, step.control);
        EXPECT_EQ(w->isVisibleTo(&page), step.shown) << step.click << " then " << step.control;
        EXPECT_EQ(w->isEnabled(), step.enabled) << step.click << " then " << step.control;
    }
    // The R5310 checks by checksum after a page erase.
    control<QRadioButton>(page, n::mcuR5310Radio)->click();
    control<QRadioButton>(page, n::erasePageRadio)->click();
    EXPECT_TRUE(control<QRadioButton>(page, n::checkSumRadio)->isChecked());
    EXPECT_EQ(control<QLineEdit>(page, n::summaryEraseTypeEdit)->text(), "Page Erase");

    // Save Settings stores and turns to the operator's view: options hidden, the ISP button shown.
    control<QPushButton>(page, n::saveSettingsButton)->click();
    EXPECT_FALSE(control(page, n::interfaceGroupBox)->isVisibleTo(&page));
    EXPECT_FALSE(control(page, n::erasePageRadio)->isVisibleTo(&page));
    EXPECT_TRUE(control(page, n::ispButton)->isVisibleTo(&page));
    EXPECT_TRUE(control(page, kLogEditName)->isVisibleTo(&page));
    EXPECT_TRUE(ui.questions.empty());
}

TEST_F(Page, OpenedHexFileShowsWhatMvxispInfoPrints)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    control<QRadioButton>(page, n::mcuSerialFlashRadio)->click();
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
        QTest::keyClick(control(page, cp::rowControlName(0, cp::RowPart::NameEdit)), Qt::Key_Escape);
        openAfterEscape = page.isVisible();
        control<QRadioButton>(page, n::mcuR5312Radio)->click();   // unsaved changes
        control<QRadioButton>(page, n::ispTypeEraseRadio)->click();
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
        fullViewShown = control(page, n::interfaceGroupBox)->isVisible();
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
