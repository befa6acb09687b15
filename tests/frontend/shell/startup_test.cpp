#include "shell/startup.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>

#include "shell/packages.hpp"
#include "shell/settings_store.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
using mvx::platform::SingleInstance;
using mvx::test::FakeClock;
using mvx::test::readWholeFile;
using mvx::test::RecordingStarter;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedPages;
using mvx::test::ScriptedUi;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

// ---- command line ------------------------------------------------------------------

TEST(CommandLineForms, NoSaveIsTheTextAfterTheLastMinus)
{
    EXPECT_FALSE(parseCommandLine("").noSave);
    EXPECT_TRUE(parseCommandLine("nosave").noSave);
    EXPECT_TRUE(parseCommandLine("line 7 -nosave").noSave);
    EXPECT_TRUE(parseCommandLine("a-b-nosave").noSave);
    EXPECT_FALSE(parseCommandLine("-nosave-").noSave);
    EXPECT_FALSE(parseCommandLine("-nosave x").noSave);
    EXPECT_FALSE(parseCommandLine("NOSAVE").noSave);
    EXPECT_EQ(parseCommandLine("nosave").service, ServiceForm::None);
}

TEST(CommandLineForms, ServicePrefixesCarryTheirArgumentWithoutBlank)
{
    const CommandLine zipset = parseCommandLine("zipset_exe/opt/tool/MVX ISP Tool");
    EXPECT_EQ(zipset.service, ServiceForm::RepackWithFiles);
    EXPECT_EQ(zipset.argument, "/opt/tool/MVX ISP Tool");
    EXPECT_EQ(parseCommandLine("zipisp_exe/x").service, ServiceForm::RepackWithoutFiles);
    const CommandLine del = parseCommandLine("del/home/op/.local/share/Norvane/ISP Tool");
    EXPECT_EQ(del.service, ServiceForm::RemoveFolder);
    EXPECT_EQ(del.argument, "/home/op/.local/share/Norvane/ISP Tool");
    const CommandLine bare = parseCommandLine("zipset_exe");
    EXPECT_EQ(bare.service, ServiceForm::RepackWithFiles);
    EXPECT_EQ(bare.argument, "");
}

TEST(CommandLineForms, ArgumentsAreJoinedWithBlanks)
{
    const char* argv[] = {"MVX_ISP_Tool", "line", "7", "-nosave"};
    EXPECT_EQ(commandLineText(4, argv), "line 7 -nosave");
    EXPECT_EQ(commandLineText(1, argv), "");
}

// ---- the start-up sequence ------------------------------------------------------------

namespace {

class Startup : public ::testing::Test {
protected:
    Startup()
    {
        writeWholeFile(where.programPath, "program image");
        writeWholeFile(install.root.file("bin/libMVXISP.so"), "engine");
    }

    // Makes the program self-contained with these settings.
    void packSettings(const std::string& ini)
    {
        Trailer trailer;
        trailer.sizes[0] = 6;
        trailer.sizes[1] = static_cast<std::uint32_t>(ini.size());
        writeWholeFile(where.programPath, "program image" "engine" + ini + encodeTrailer(trailer));
    }

    StartupOutcome run(const std::string& commandLine)
    {
        StartupServices services{ui, pages, starter, clock, instance,
                                 [this](SingleInstance& held) { listenedOn.push_back(&held); }};
        return runStartup(parseCommandLine(commandLine), where, services);
    }

    std::string work(std::string_view member) const { return where.workFile(member); }

    ScratchInstall install;
    ShellLocations where = install.where;
    TempFolder runtime;
    ScriptedUi ui;
    ScriptedPages pages;
    RecordingStarter starter;
    FakeClock clock;
    SingleInstance instance{"MVX_ISP", runtime.path()};
    std::vector<SingleInstance*> listenedOn;
};

}  // namespace

TEST_F(Startup, OnlyACommandLineMakesTheStartWait800Milliseconds)
{
    EXPECT_EQ(run(""), StartupOutcome::Finished);
    EXPECT_TRUE(clock.sleeps.empty());
    EXPECT_EQ(run("nosave"), StartupOutcome::Finished);
    EXPECT_EQ(clock.sleeps, std::vector<std::uint64_t>{800000u});
}

TEST_F(Startup, NormalStartPreparesTheWorkFolderAndHandsOverAtExit)
{
    fs::create_directories(where.workFolder + "/old sub");
    writeWholeFile(work("stale.txt"), "from last time");
    pages.whileOpen = [&] {
        EXPECT_FALSE(fs::exists(work("stale.txt")));
        EXPECT_FALSE(fs::exists(where.workFolder + "/old sub"));
        EXPECT_TRUE(fs::is_directory(where.ispfileFolder));
        EXPECT_EQ(readWholeFile(work("ISP__PSI.exe")), "program image");
        EXPECT_EQ(readWholeFile(work("ISP__PSI.dll")), "engine");
    };

    EXPECT_EQ(run(""), StartupOutcome::Finished);
    EXPECT_EQ(pages.visits, std::vector<std::string>{"assembly"});
    ASSERT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(starter.starts[0].program, work("ISP__PSI.exe"));
    EXPECT_EQ(starter.starts[0].commandLine, "zipset_exe" + where.programPath);
    EXPECT_FALSE(starter.starts[0].hidden);
    EXPECT_EQ(listenedOn, std::vector<SingleInstance*>{&instance});
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(fs::is_directory(where.workFolder)) << "the packing copy needs it";
}

TEST_F(Startup, CustomerStartPageOpensInTheCompactViewAndReturnsInTheFullView)
{
    packSettings("[ad_setting]\nstartpage=1\n");
    pages.switches = {true, true, false};
    EXPECT_EQ(run(""), StartupOutcome::Finished);
    EXPECT_EQ(pages.visits, (std::vector<std::string>{"customer 1", "assembly", "customer 2"}));
}

TEST_F(Startup, AssemblyStartPageSwitchesToTheFullCustomerView)
{
    packSettings("[ad_setting]\nstartpage=0\n");
    pages.switches = {true, false};
    EXPECT_EQ(run(""), StartupOutcome::Finished);
    EXPECT_EQ(pages.visits, (std::vector<std::string>{"assembly", "customer 2"}));
}

TEST_F(Startup, StartPageSevenOpensTheCustomerPage)
{
    packSettings("[ad_setting]\nstartpage=7\n");
    EXPECT_EQ(run(""), StartupOutcome::Finished);
    EXPECT_EQ(pages.visits, std::vector<std::string>{"customer 1"});
}

TEST_F(Startup, IspfileFolderIsEmptiedAfterEveryPage)
{
    pages.switches = {true, true, false};
    int page = 0;
    pages.whileOpen = [&] {
        EXPECT_TRUE(fs::is_empty(where.ispfileFolder)) << "page " << page;
        writeWholeFile(where.ispfileFolder + "/loaded" + std::to_string(++page) + ".hex", "job");
    };
    run("");
    EXPECT_EQ(page, 3);
    EXPECT_TRUE(fs::is_empty(where.ispfileFolder));
}

TEST_F(Startup, NoSaveRemovesTheWorkFolderAndLeavesTheProgramAlone)
{
    const std::string before = readWholeFile(where.programPath);
    EXPECT_EQ(run("line 7 -nosave"), StartupOutcome::Finished);
    EXPECT_EQ(pages.visits.size(), 1u);
    EXPECT_FALSE(fs::exists(where.workFolder));
    EXPECT_TRUE(fs::is_directory(where.makerFolder));
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_EQ(readWholeFile(where.programPath), before);
}

TEST_F(Startup, ProgramWithoutEngineEndsBeforeAnyPage)
{
    fs::remove(install.root.file("bin/libMVXISP.so"));
    EXPECT_EQ(run(""), StartupOutcome::UnpackFailed);
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"There is no dll file!"});
    EXPECT_TRUE(pages.visits.empty());
    EXPECT_TRUE(starter.starts.empty());
}

TEST_F(Startup, FailedHandOverIsReported)
{
    starter.succeeds = false;
    EXPECT_EQ(run(""), StartupOutcome::Failed);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_NE(ui.messages[0].text.find("not saved"), std::string::npos);
}

// ---- single instance ----------------------------------------------------------------

TEST_F(Startup, SecondInstanceSaysSoAndAsksTheFirstToRaiseItsWindow)
{
    SingleInstance first("MVX_ISP", runtime.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Outcome::First);
    ASSERT_FALSE(mirrorWindowTitle(where.registryPath, "Line 7 tool 2024-3-7 "));
    fs::create_directories(where.workFolder);
    writeWholeFile(work("ISP__PSI.ini"), "the first instance's settings");

    EXPECT_EQ(run(""), StartupOutcome::AlreadyRunning);
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Norvane ISP Tool is already running!"});
    EXPECT_EQ(first.takeRaiseRequests(), std::vector<std::string>{"Line 7 tool 2024-3-7 "});
    EXPECT_TRUE(pages.visits.empty());
    EXPECT_TRUE(listenedOn.empty());
    EXPECT_EQ(readWholeFile(work("ISP__PSI.ini")), "the first instance's settings");
}

TEST_F(Startup, SecondInstanceWithoutAStoredTitleOnlySaysSo)
{
    SingleInstance first("MVX_ISP", runtime.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Outcome::First);
    EXPECT_EQ(run(""), StartupOutcome::AlreadyRunning);
    EXPECT_EQ(ui.messages.size(), 1u);
    EXPECT_TRUE(first.takeRaiseRequests().empty());
}

// ---- service forms ------------------------------------------------------------------------

namespace {

class ServiceRun : public Startup {
protected:
    ServiceRun()
    {
        // The packing copy runs from the work folder.
        fs::create_directories(where.workFolder);
        writeWholeFile(work("ISP__PSI.exe"), "program image");
        writeWholeFile(work("ISP__PSI.dll"), "engine");
        writeWholeFile(work("ISP__PSI.ini"), "[Setting]\nmcu=1\n");
        writeWholeFile(work("hexfile1"), "bank 0");
        where.programPath = work("ISP__PSI.exe");
        target = install.root.file("bin/MVX_ISP_Tool");
    }
    std::string target;
};

}  // namespace

TEST_F(ServiceRun, ZipsetPacksTheJobIntoTheProgramAndStartsTheCleanUp)
{
    EXPECT_EQ(run("zipset_exe" + target), StartupOutcome::ServiceDone);
    const std::string packed = readWholeFile(target);
    const auto trailer = decodeTrailer(packed);
    ASSERT_TRUE(trailer);
    EXPECT_EQ(trailer->sizes[0], 6u);
    EXPECT_EQ(trailer->sizes[1], 16u);
    EXPECT_EQ(trailer->sizes[2], 6u);
    EXPECT_EQ(packed.substr(0, 13), "program image");
    ASSERT_EQ(starter.starts.size(), 1u);
    EXPECT_EQ(starter.starts[0].program, target);
    EXPECT_EQ(starter.starts[0].commandLine, "del" + where.workFolder);
    EXPECT_TRUE(starter.starts[0].hidden);
    EXPECT_TRUE(pages.visits.empty());
    EXPECT_TRUE(fs::exists(work("hexfile1"))) << "a service run does not empty the work folder";
}

TEST_F(ServiceRun, ZipispPacksWithoutTheJobsFiles)
{
    EXPECT_EQ(run("zipisp_exe" + target), StartupOutcome::ServiceDone);
    const auto trailer = decodeTrailer(readWholeFile(target));
    ASSERT_TRUE(trailer);
    EXPECT_EQ(trailer->sizes[1], 16u);
    EXPECT_EQ(trailer->sizes[2], 0u);
}

TEST_F(ServiceRun, ZipsetWithoutPathEndsAndChangesNothing)
{
    const std::string before = readWholeFile(target);
    EXPECT_EQ(run("zipset_exe"), StartupOutcome::ServiceDone);
    EXPECT_EQ(readWholeFile(target), before);
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(fs::exists(work("hexfile1")));
}

TEST_F(ServiceRun, FailedPackKeepsTheWorkFolderAndStartsNoCleanUp)
{
    fs::remove(work("ISP__PSI.dll"));
    writeWholeFile(target, "the program as it was");
    EXPECT_EQ(run("zipset_exe" + target), StartupOutcome::ServiceFailed);
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"dll file do not exist"});
    EXPECT_EQ(readWholeFile(target), "the program as it was");
    EXPECT_TRUE(starter.starts.empty());
    EXPECT_TRUE(fs::exists(work("ISP__PSI.ini")));
}

TEST_F(ServiceRun, DelRemovesTheWorkFolder)
{
    fs::create_directories(where.ispfileFolder + "/deep");
    fs::permissions(where.ispfileFolder + "/deep", fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(run("del" + where.workFolder), StartupOutcome::ServiceDone);
    EXPECT_FALSE(fs::exists(where.workFolder));
    EXPECT_TRUE(fs::is_directory(where.makerFolder));
}

TEST_F(ServiceRun, DelOfAnyOtherFolderIsRefused)
{
    const std::string other = install.root.file("documents");
    fs::create_directories(other);
    writeWholeFile(other + "/precious.txt", "keep");
    EXPECT_EQ(run("del" + other), StartupOutcome::ServiceFailed);
    EXPECT_EQ(run("del"), StartupOutcome::ServiceFailed);
    EXPECT_EQ(run("del" + where.workFolder + "/.."), StartupOutcome::ServiceFailed);
    EXPECT_TRUE(fs::exists(other + "/precious.txt"));
    EXPECT_TRUE(fs::exists(work("ISP__PSI.ini")));
}

TEST_F(ServiceRun, ServiceWaitsForTheInstanceThatStartedItToEnd)
{
    auto previous = std::make_unique<SingleInstance>("MVX_ISP", runtime.path());
    ASSERT_EQ(previous->acquire(), SingleInstance::Outcome::First);
    clock.onSleep = [&] {
        if (clock.sleeps.size() == 4)
            previous.reset();   // the program that started the copy has ended
    };
    EXPECT_EQ(run("zipset_exe" + target), StartupOutcome::ServiceDone);
    EXPECT_TRUE(ui.messages.empty());
    EXPECT_TRUE(decodeTrailer(readWholeFile(target)));
    EXPECT_EQ(clock.sleeps.size(), 4u);
}

TEST_F(ServiceRun, ServiceGivesUpWhenAnotherInstanceStaysOpen)
{
    SingleInstance other("MVX_ISP", runtime.path());
    ASSERT_EQ(other.acquire(), SingleInstance::Outcome::First);
    writeWholeFile(target, "untouched");
    EXPECT_EQ(run("zipset_exe" + target), StartupOutcome::AlreadyRunning);
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Norvane ISP Tool is already running!"});
    EXPECT_EQ(readWholeFile(target), "untouched");
    std::uint64_t waited = 0;
    for (std::uint64_t micros : clock.sleeps)
        waited += micros;
    EXPECT_EQ(waited, (800u + 10000u) * 1000u);
}
