// The real Assembly ISP page, offscreen, over the real engine and a virtual
// board: an exported job loaded through Load ISP File and run with the ISP
// button, a dead link, and what the page refuses while it runs.
#include "app/assembly_isp_page.hpp"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>

#include "isp_job_file.hpp"
#include "run_fixtures.hpp"
#include "shell_test_support.hpp"
#include "widget_lookup.hpp"

using namespace mvx::tool;
namespace n = mvx::assembly_page::names;
using mvx::test::readWholeFile;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
using mvx::test::child;

namespace {

class AssemblyPage : public ::testing::Test {
protected:
    AssemblyPage()
    {
        writeWholeFile(install.where.programPath, "program");
        fs::create_directories(install.where.ispfileFolder);
        fs::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
    }


    // Runs the page modally with whileOpen; a page still open after 30 seconds fails.
    void runPage(AssemblyIspPage& page, const std::function<void()>& whileOpen)
    {
        QTimer::singleShot(0, &page, whileOpen);
        QTimer::singleShot(30000, &page, [&page] {
            ADD_FAILURE() << "the page did not close";
            page.done(QDialog::Rejected);
        });
        page.exec();
    }

    // Load ISP File with the job, then 1 To 1 (a loaded job drives four targets).
    void loadAsOneTarget(AssemblyIspPage& page)
    {
        ui.openChoices.push_back(rsp);
        child<QPushButton>(page, n::loadIspFileButton)->click();
        EXPECT_TRUE(child<QRadioButton>(page, n::oneToFourRadio)->isChecked());
        ui.answers.push_back(Answer::Yes);
        child<QRadioButton>(page, n::oneToOneRadio)->click();
    }

    static bool waitUntilIdle(AssemblyIspPage& page)
    {
        QElapsedTimer clock;
        clock.start();
        while (page.model().running() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        return !page.model().running();
    }

    ScratchInstall install;
    ScriptedUi ui;
    EngineBinding engine{install.where, ui};
    std::string rsp = install.root.file("line7.rsp");
    mvx::test::SerialFlashJobFile job{rsp, {0x10000, 3000}};
};

}  // namespace

TEST_F(AssemblyPage, ExportedJobProgramsTheFlashAndPasses)
{
    ASSERT_TRUE(job.ok) << job.message;
    mvx::test::BoardFolder board("[board]\nhold_ms = 300\n");
    AssemblyIspPage page(install.where, engine, ui);
    bool idle = false;
    bool openWhileRunning = false;
    runPage(page, [&] {
        loadAsOneTarget(page);
        EXPECT_EQ(child<QLineEdit>(page, mvx::assembly_page::imageControlName(1, mvx::assembly_page::ImagePart::FileLengthEdit))->text(), "3000");
        EXPECT_TRUE(page.windowTitle().startsWith("line7 (SerialFlash _ IIC) ")) << page.windowTitle().toStdString();
        QTest::keyClick(child(page, n::ispButton), Qt::Key_Return);   // Enter runs the job
        QTest::keyClick(&page, Qt::Key_Escape);
        page.reject();
        openWhileRunning = page.isVisible() && page.model().running();
        idle = waitUntilIdle(page);
        page.reject();
    });
    EXPECT_TRUE(openWhileRunning) << "neither Esc nor Cancel closes a running page";
    ASSERT_TRUE(idle);
    EXPECT_EQ(board.flash().substr(0, job.image.size()), job.image);
    EXPECT_EQ(child<QProgressBar>(page, n::progressBar)->value(), 100);
    EXPECT_TRUE(child(page, n::passPictureLabel)->isVisibleTo(&page));
    EXPECT_FALSE(child(page, n::failPictureLabel)->isVisibleTo(&page));
    EXPECT_FALSE(child(page, n::targetsGroupBox)->isEnabled()) << "after a serial flash run";
    EXPECT_TRUE(child(page, n::ispButton)->isEnabled());
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    const std::string settings = readWholeFile(install.where.settingsPath());
    EXPECT_NE(settings.find("recfile=" + rsp), std::string::npos) << settings;
    EXPECT_NE(settings.find("last1to4=0"), std::string::npos) << settings;
}

TEST_F(AssemblyPage, DeadLinkShowsTheLinkErrorAndTheFailPicture)
{
    ASSERT_TRUE(job.ok) << job.message;
    mvx::test::BoardFolder board("[board]\nlink = dead\n");
    AssemblyIspPage page(install.where, engine, ui);
    runPage(page, [&] {
        loadAsOneTarget(page);
        child<QPushButton>(page, n::ispButton)->click();
        EXPECT_TRUE(waitUntilIdle(page));
        page.reject();
    });
    // The engine's own box comes first, from the worker's thread.
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[1].text, mvx::assembly_page::kLinkErrorMessage);
    EXPECT_TRUE(child(page, n::failPictureLabel)->isVisibleTo(&page));
    EXPECT_FALSE(child(page, n::passPictureLabel)->isVisibleTo(&page));
    EXPECT_TRUE(child(page, n::loadIspFileButton)->isEnabled());
}

TEST_F(AssemblyPage, BrokenFileKeepsThePageUsable)
{
    const std::string broken = install.root.file("broken.rsp");
    writeWholeFile(broken, "MVXF truncated");
    AssemblyIspPage page(install.where, engine, ui);
    ui.openChoices.push_back(broken);
    child<QPushButton>(page, n::loadIspFileButton)->click();
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find(broken), std::string::npos);
    EXPECT_FALSE(child(page, n::ispButton)->isEnabled());
    EXPECT_TRUE(child(page, n::loadIspFileButton)->isEnabled());
    EXPECT_TRUE(page.windowTitle().startsWith("Norvane ISP Tool V2.2"));
}
