#include "app/stand_in_pages.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "app/window_raiser.hpp"
#include "mvx/platform/ini.hpp"
#include "shell/settings_store.hpp"
#include "shell/window_title.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
using mvx::test::ScopedEnv;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

class StandIns : public ::testing::Test {
protected:
    StandIns()
    {
        writeWholeFile(where().programPath, "program");
        fs::create_directories(where().workFolder);
        fs::copy_file(MVX_FAKE_ENGINE_A, where().workFile("ISP__PSI.dll"));
    }
    const ShellLocations& where() const { return install.where; }

    // Runs the page modally; whileOpen runs once it shows.  A page still open
    // after five seconds is closed and the test fails.
    int runPage(StandInPage& page, const std::function<void()>& whileOpen = {})
    {
        if (whileOpen)
            QTimer::singleShot(0, &page, whileOpen);
        QTimer::singleShot(5000, &page, [&page] {
            ADD_FAILURE() << "the page did not close";
            page.reject();
        });
        return page.exec();
    }

    static void clickSwitch(StandInPage& page)
    {
        page.findChild<QPushButton*>("switchPageButton")->click();
    }

    ScratchInstall install;
    ScriptedUi ui;
    EngineBinding engine{install.where, ui};
};

}  // namespace

// ---- titles, engine and the switch button ---------------------------------------------------

TEST_F(StandIns, AssemblyPageCarriesTheToolTitleAndSwitchesToTheOtherPage)
{
    StandInPage page(PageKind::Assembly, where(), engine, 0);
    const std::string title = "Norvane ISP Tool V2.2" + programDateSuffix(where().programPath);
    bool boundWhileOpen = false;
    const int result = runPage(page, [&] {
        boundWhileOpen = engine.entryPoints().bound();
        clickSwitch(page);
    });
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_TRUE(page.switchPage());
    EXPECT_EQ(page.objectName(), "assemblyPage");
    EXPECT_EQ(page.windowTitle().toStdString(), title);
    EXPECT_EQ(mirroredWindowTitle(where().registryPath), title);
    EXPECT_EQ(page.findChild<QLabel*>("virtualBoardBanner"), nullptr);
    EXPECT_TRUE(boundWhileOpen);
    EXPECT_FALSE(engine.entryPoints().bound()) << "the page frees the engine when it closes";
    EXPECT_TRUE(ui.messages.empty());
}

TEST_F(StandIns, AssemblyPageWritesBackItsRecordFileAndOneToFourChoice)
{
    writeWholeFile(where().settingsPath(), "[ASS_ISP]\nrecfile=/jobs/line7.rsp\n[Setting]\nlast1to4=1\n");
    StandInPage page(PageKind::Assembly, where(), engine, 0);
    runPage(page, [&] { page.reject(); });
    const std::string ini = where().settingsPath();
    EXPECT_EQ(mvx::platform::readProfileString(ini, "ASS_ISP", "recfile", ""), "/jobs/line7.rsp");
    EXPECT_EQ(mvx::platform::readProfileInt(ini, "Setting", "last1to4", 0), 1);
    EXPECT_FALSE(page.switchPage());
}

TEST_F(StandIns, CustomerPageTakesTheOperatorsTitleAndItsViewMode)
{
    writeWholeFile(where().settingsPath(), "[ad_setting]\nuser_title=Line 7 programmer\n");
    StandInPage page(PageKind::Customer, where(), engine, 2);
    EXPECT_EQ(runPage(page, [&] { page.reject(); }), QDialog::Rejected);
    EXPECT_FALSE(page.switchPage());
    EXPECT_EQ(page.viewMode(), 2);
    const std::string title = "Line 7 programmer" + programDateSuffix(where().programPath);
    EXPECT_EQ(page.windowTitle().toStdString(), title);
    EXPECT_EQ(mirroredWindowTitle(where().registryPath), title);
    EXPECT_TRUE(page.findChild<QLabel*>("pageDescription")->text().contains("full view"));
}

TEST_F(StandIns, VirtualBoardIsNamedInTheTitleAndAVisibleBanner)
{
    ShellLocations onBoard = where();
    onBoard.virtualBoard = virtualBoardNotice("/boards/line7", nullptr);
    for (const PageKind kind : {PageKind::Assembly, PageKind::Customer}) {
        StandInPage page(kind, onBoard, engine, 1);
        bool bannerShown = false;
        runPage(page, [&] {
            const auto* banner = page.findChild<QLabel*>("virtualBoardBanner");
            bannerShown = banner != nullptr && banner->isVisible() &&
                          banner->text() == "VIRTUAL BOARD /boards/line7: no hardware is touched";
            page.reject();
        });
        EXPECT_TRUE(bannerShown);
        EXPECT_TRUE(page.windowTitle().endsWith(" [VIRTUAL BOARD /boards/line7]")) << page.windowTitle().toStdString();
    }
}

TEST_F(StandIns, PageWithoutEngineSaysLoadDllFailedAndStillOpens)
{
    fs::remove(where().workFile("ISP__PSI.dll"));
    StandInPage page(PageKind::Customer, where(), engine, 1);
    bool opened = false;
    runPage(page, [&] {
        opened = page.isVisible();
        page.reject();
    });
    EXPECT_TRUE(opened);
    EXPECT_FALSE(page.engineBound());
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Load dll failed!"});
}

// ---- pages that close by themselves -------------------------------------------------------------

TEST_F(StandIns, HostRunsTheScriptedActionsOnePerPage)
{
    StandInPageHost host(where(), engine, {"switch", "close"});
    EXPECT_TRUE(host.runAssemblyPage());
    EXPECT_FALSE(host.runCustomerPage(2));
}

TEST_F(StandIns, ScriptComesFromTheEnvironment)
{
    ScopedEnv script("MVX_STANDIN_PAGES", " switch, raised ,close,");
    EXPECT_EQ(StandInPageHost::actionsFromEnvironment(), (QStringList{"switch", "raised", "close"}));
    ScopedEnv none("MVX_STANDIN_PAGES", nullptr);
    EXPECT_TRUE(StandInPageHost::actionsFromEnvironment().isEmpty());
}

TEST_F(StandIns, RaisedPageWaitsMinimisedUntilItIsRaised)
{
    StandInPage page(PageKind::Customer, where(), engine, 1, "raised");
    bool sawMinimised = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &page, [&] {
        if (!sawMinimised && page.isMinimized()) {
            sawMinimised = true;
            EXPECT_EQ(raiseWindowTitled(page.windowTitle()), &page);
        }
    });
    poll.start(10);
    EXPECT_EQ(runPage(page), QDialog::Rejected);
    EXPECT_TRUE(sawMinimised);
    EXPECT_FALSE(page.switchPage());
}
