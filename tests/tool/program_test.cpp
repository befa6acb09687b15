// The real program in a scratch installation: its program file in <root>/bin
// beside a copy of the engine, its Program Files folder, registry store and
// runtime folder in <root> too (MVX_PROGRAM_FILES, MVX_REGISTRY,
// MVX_RUNTIME_DIR), and the stand-in pages closing by themselves as
// MVX_STANDIN_PAGES says.  What a page shows is read from the description the
// program writes with --describe-page.  The program and every copy of itself it starts
// run in one process group, which the test ends should anything be left.
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <array>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "isp_job_file.hpp"
#include "mvxisp_info.hpp"
#include "mvx/platform/single_instance.hpp"
#include "run_fixtures.hpp"
#include "shell/packages.hpp"
#include "shell/settings_store.hpp"
#include "shell/startup.hpp"
#include "shell_test_support.hpp"

extern char** environ;

using namespace mvx::tool;
using mvx::test::readWholeFile;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr auto kDeadline = std::chrono::seconds(60);

template <typename Done>
bool waitFor(Done done)
{
    const auto end = Clock::now() + kDeadline;
    while (!done()) {
        if (Clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

class Program : public ::testing::Test {
protected:
    Program()
    {
        fs::create_directories(root.file("bin"));
        fs::create_directories(root.file("programs"));
        fs::create_directories(root.file("run"));
        fs::copy_file(MVX_TOOL_PROGRAM, program());
        fs::copy_file(MVX_ENGINE_LIBRARY, root.file("bin/libMVXISP.so"));
        image = readWholeFile(program());
        engine = readWholeFile(root.file("bin/libMVXISP.so"));
    }

    ~Program() override
    {
        if (group_ > 0 && ::kill(-group_, 0) == 0)
            ::kill(-group_, SIGKILL);
        if (pid_ > 0)
            ::waitpid(pid_, nullptr, 0);
    }

    std::string program() const { return root.file("bin/MVX_ISP_Tool"); }
    ShellLocations where() const
    {
        return ShellLocations::forFolders(program(), root.file("programs"), root.file("registry.ini"));
    }

    // Starts the program with commandLine and the program's own switches
    // (switches); its pages act as pageScript says.
    void start(const std::string& commandLine, const std::string& pageScript,
               std::vector<std::string> switches = {})
    {
        std::vector<std::string> environment{
            "MVX_PROGRAM_FILES=" + root.file("programs"), "MVX_REGISTRY=" + root.file("registry.ini"),
            "MVX_RUNTIME_DIR=" + root.file("run"), "QT_QPA_PLATFORM=offscreen",
            "MVX_STANDIN_PAGES=" + pageScript};
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text = *entry;
            const std::string name = text.substr(0, text.find('='));
            if (name != "MVX_PROGRAM_FILES" && name != "MVX_REGISTRY" && name != "MVX_RUNTIME_DIR" &&
                name != "QT_QPA_PLATFORM" && name != "MVX_STANDIN_PAGES" && name != "XDG_DATA_HOME")
                environment.push_back(text);
        }
        std::vector<char*> envp;
        for (std::string& entry : environment)
            envp.push_back(entry.data());
        envp.push_back(nullptr);
        std::string path = program();
        std::string argument = commandLine;
        std::vector<char*> argv{path.data()};
        for (std::string& programSwitch : switches)
            argv.push_back(programSwitch.data());
        if (!argument.empty())
            argv.push_back(argument.data());
        argv.push_back(nullptr);

        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        ASSERT_EQ(::posix_spawn(&pid_, path.c_str(), nullptr, &attributes, argv.data(), envp.data()), 0);
        posix_spawnattr_destroy(&attributes);
        group_ = pid_;
    }

    // The program's exit status, or -1 when it did not end in time.
    int waitForExit()
    {
        int status = 0;
        const bool ended = waitFor([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; });
        if (!ended)
            return -1;
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

    // The packing copy and the clean-up run have finished: the work folder is
    // gone and nobody holds the instance lock any more.
    bool waitForHandOver()
    {
        return waitFor([&] {
            if (fs::exists(where().workFolder))
                return false;
            mvx::platform::SingleInstance probe("MVX_ISP", root.file("run"));
            return probe.acquire() == mvx::platform::SingleInstance::Outcome::First;
        });
    }

    std::string member(const std::string& file, std::size_t index) const
    {
        const auto trailer = decodeTrailer(file);
        std::size_t at = file.size() - kTrailerBytes - static_cast<std::size_t>(trailer->total());
        for (std::size_t i = 0; i < index; ++i)
            at += trailer->sizes[i];
        return file.substr(at, trailer->sizes[index]);
    }

    TempFolder root;
    std::string image;
    std::string engine;

private:
    pid_t pid_ = 0;
    pid_t group_ = 0;
};

}  // namespace

TEST_F(Program, PlainProgramRunsItsPagesAndPacksItselfOnExit)
{
    start("", "switch,close");
    ASSERT_EQ(waitForExit(), 0);
    ASSERT_TRUE(waitForHandOver());

    const std::string packed = readWholeFile(program());
    const auto trailer = decodeTrailer(packed);
    ASSERT_TRUE(trailer);
    EXPECT_EQ(packed.substr(0, image.size()), image);
    EXPECT_EQ(member(packed, 0), engine);
    const std::string settings = member(packed, 1);
    EXPECT_NE(settings.find("[ASS_ISP]"), std::string::npos) << settings;
    EXPECT_TRUE(fs::status(program()).permissions() != fs::perms::none);
    EXPECT_EQ(mirroredWindowTitle(root.file("registry.ini")).rfind("Norvane ISP Tool V2.2", 0), 0u);
}

TEST_F(Program, SelfContainedProgramStartsCleanWithTheSettingsItCarries)
{
    // A configured tool as it is handed on: settings and a firmware file inside.
    const std::string staging = root.file("staging");
    fs::create_directories(staging);
    fs::copy_file(program(), staging + "/ISP__PSI.exe");
    writeWholeFile(staging + "/ISP__PSI.dll", engine);
    writeWholeFile(staging + "/ISP__PSI.ini", "[ad_setting]\nstartpage=1\nuser_title=Line 7 programmer\n");
    writeWholeFile(staging + "/hexfile1", "bank zero");
    ASSERT_TRUE(repackTo(staging + "/ISP__PSI.exe", program(), true).ok);
    fs::create_directories(where().workFolder);
    writeWholeFile(where().workFile("left over"), "from a crashed session");

    start("", "close");   // the customer page opens first and closes
    ASSERT_EQ(waitForExit(), 0);
    ASSERT_TRUE(waitForHandOver());
    EXPECT_EQ(mirroredWindowTitle(root.file("registry.ini")).rfind("Line 7 programmer", 0), 0u);

    const std::string packed = readWholeFile(program());
    ASSERT_TRUE(decodeTrailer(packed));
    EXPECT_EQ(packed.substr(0, image.size()), image);
    EXPECT_EQ(decodeTrailer(packed)->total() + image.size() + kTrailerBytes, packed.size());
    EXPECT_NE(member(packed, 1).find("user_title=Line 7 programmer"), std::string::npos);
    EXPECT_EQ(member(packed, 2), "bank zero");
}

TEST_F(Program, SecondInstanceEndsAndTheFirstRaisesItsWindow)
{
    start("", "raised");
    ASSERT_TRUE(waitFor([&] { return !mirroredWindowTitle(root.file("registry.ini")).empty(); }));

    mvx::test::ScriptedUi ui;
    mvx::test::ScriptedPages pages;
    mvx::test::RecordingStarter starter;
    mvx::test::FakeClock clock;
    mvx::platform::SingleInstance instance("MVX_ISP", root.file("run"));
    StartupServices services{ui, pages, starter, clock, instance, {}};
    EXPECT_EQ(runStartup(parseCommandLine(""), where(), services), StartupOutcome::AlreadyRunning);
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{"Norvane ISP Tool is already running!"});
    EXPECT_TRUE(pages.visits.empty());

    // The first instance's page closes once it has been raised.
    EXPECT_EQ(waitForExit(), 0);
    EXPECT_TRUE(waitForHandOver());
}

TEST_F(Program, NoSaveLeavesTheProgramFileAsItWas)
{
    start("-nosave", "close");
    ASSERT_EQ(waitForExit(), 0);
    EXPECT_FALSE(fs::exists(where().workFolder));
    EXPECT_EQ(readWholeFile(program()), image);
}

// ---- the customer page on a job's settings --------------------------------------------------

namespace {

// The columns mvxisp info prints for each bank: File Len, Prom Len, ChkSum.
std::vector<std::array<std::string, 3>> infoColumns(const std::string& arguments)
{
    return mvx::test::mvxispInfoColumns(MVX_CLI_PROGRAM, arguments);
}

class CustomerJob : public Program {
protected:
    // A configured tool whose settings open the customer page on a serial
    // flash job of the three sample banks, started so that it describes its
    // pages; answers the customer page's description.
    // The program file carrying the engine and these settings (the serial
    // flash job of the three sample banks, unless `job` says otherwise).
    void stage(const std::string& adSettings = "", const std::string& job = "SerialFlash_filecheck=7\n")
    {
        const std::string staging = root.file("staging");
        fs::create_directories(staging);
        fs::remove(staging + "/ISP__PSI.exe");
        fs::copy_file(program(), staging + "/ISP__PSI.exe");
        writeWholeFile(staging + "/ISP__PSI.dll", engine);
        std::string settings = "[ad_setting]\nstartpage=1\nuser_title=Line 7 programmer\n" + adSettings +
                               "[Setting]\nmcu=2\nSerialFlash_ispfiletype=0\n" + job;
        for (int bank = 0; bank < 3; ++bank)
            settings += "file" + std::to_string(bank + 1) + "_name=" + firmware(bank) + "\n";
        writeWholeFile(staging + "/ISP__PSI.ini", settings);
        EXPECT_TRUE(repackTo(staging + "/ISP__PSI.exe", program(), false).ok);
    }

    QJsonObject startAndDescribe()
    {
        stage();

        const std::string description = root.file("pages.json");
        start("nosave", "", {"--describe-page", description});
        QJsonObject page;
        waitFor([&] {
            const QJsonArray windows = QJsonDocument::fromJson(QByteArray::fromStdString(
                                                                   fs::exists(description) ? readWholeFile(description) : ""))
                                           .array();
            for (const auto window : windows)
                if (window.toObject().value("objectName").toString() == "customerPage")
                    page = window.toObject();
            return !page.isEmpty();
        });
        return page;
    }

    static std::string firmware(int bank) { return std::string(MVX_SAMPLES) + "/bank" + std::to_string(bank) + ".hex"; }

    // The text shown by the widget named name, or "<none>" without one.
    static std::string shown(const QJsonObject& page, const std::string& name)
    {
        for (const auto widget : page.value("widgets").toArray())
            if (widget.toObject().value("name").toString().toStdString() == name)
                return widget.toObject().value("text").toString().toStdString();
        return "<none>";
    }
};

}  // namespace

TEST_F(CustomerJob, OpensTheCustomerPageFirstUnderTheJobsTitle)
{
    const QJsonObject page = startAndDescribe();
    ASSERT_FALSE(page.isEmpty()) << "the customer page was not shown";
    EXPECT_TRUE(page.value("title").toString().startsWith("Line 7 programmer"));
    EXPECT_GT(page.value("windowId").toInteger(), 0);
}

// Waits for the customer page: the stand-in shows no file rows.
TEST_F(CustomerJob, RowsShowWhatMvxispInfoPrintsForTheFilesTheSettingsName)
{
    const QJsonObject page = startAndDescribe();
    ASSERT_FALSE(page.isEmpty()) << "the customer page was not shown";
    const auto banks = infoColumns(firmware(0) + " " + firmware(1) + " " + firmware(2));
    ASSERT_EQ(banks.size(), 3u);
    for (int row = 0; row < 3; ++row) {
        const std::string prefix = "row" + std::to_string(row);
        EXPECT_EQ(shown(page, prefix + "NameEdit"), firmware(row));
        EXPECT_EQ((std::array<std::string, 3>{shown(page, prefix + "FileLengthEdit"),
                                              shown(page, prefix + "ProgramLengthEdit"),
                                              shown(page, prefix + "ChecksumEdit")}),
                  banks[static_cast<std::size_t>(row)])
            << "row " << row;
    }
    EXPECT_EQ(shown(page, "row3NameEdit"), "");
    EXPECT_EQ(shown(page, "row3ChecksumEdit"), "");
}

// ---- unattended runs ------------------------------------------------------------------------

TEST_F(CustomerJob, AutoRunProgramsTheBoardAndClosesTheProgramAfterAPass)
{
    mvx::test::BoardFolder board;
    stage("enable_autorunisp=1\n");
    start("nosave", "");
    ASSERT_EQ(waitForExit(), 0) << "a passing run closes the program by itself";
    // The same bytes as mvxisp writes for the three banks.
    mvx::test::BoardFolder other;
    mvx::test::commandLines(std::string(MVX_CLI_PROGRAM) + " program --library-mode 0 " + firmware(0) + " " +
                            firmware(1) + " " + firmware(2) + " 2>&1");
    EXPECT_EQ(board.flash().size(), 512u * 1024u);
    EXPECT_EQ(board.flash(), other.flash());
}

TEST_F(CustomerJob, UnattendedKeyFireLogsEachBoardBesideTheProgram)
{
    const auto key = mvx::test::bytesOfLength(288, 7);
    const std::string keyFile = root.file("line7.bin");
    writeWholeFile(keyFile, key);
    const std::string log = root.file("bin/HDCP_KEY_Fire_Log.log");
    for (int board = 1; board <= 2; ++board) {
        mvx::test::BoardFolder folder;
        stage("enable_autorunisp=1\nenable_hdcp_key_fire=1\nautoload_hdcp_key_file_method=0\n"
              "autoload_hdcp_key_file_pathname=" + keyFile + "\n",
              "SerialFlash_filecheck=0\n");
        start("nosave", "");
        ASSERT_EQ(waitForExit(), 0) << "board " << board;
        EXPECT_EQ(folder.flash().substr(0x3F000, key.size()), key) << "the key at its sector";
        std::string expected;
        for (int i = 0; i < board; ++i)
            expected += "00000000 burn hdcp key and check pass \r\n";
        EXPECT_EQ(readWholeFile(log), expected);
    }
}

// ---- the page loop with both pages ------------------------------------------------------------

namespace {

class PageLoop : public CustomerJob {
protected:
    // The windows the program described, by objectName in the order shown.
    static std::vector<QJsonObject> windows(const std::string& description)
    {
        std::vector<QJsonObject> shownWindows;
        for (const auto window : QJsonDocument::fromJson(QByteArray::fromStdString(readWholeFile(description))).array())
            shownWindows.push_back(window.toObject());
        return shownWindows;
    }
    static bool flag(const QJsonObject& page, const std::string& name, const char* key)
    {
        for (const auto widget : page.value("widgets").toArray())
            if (widget.toObject().value("name").toString().toStdString() == name)
                return widget.toObject().value(key).toBool();
        return false;
    }
};

}  // namespace

TEST_F(PageLoop, AssemblyPageReloadsTheSavedJobAndCtrlMGoesToTheFullCustomerPageAndBack)
{
    const std::string rsp = root.file("line7.rsp");
    mvx::test::SerialFlashJobFile job(rsp, {0x10000, 3000});
    ASSERT_TRUE(job.ok) << job.message;
    const std::string staging = root.file("staging");
    fs::create_directories(staging);
    fs::copy_file(program(), staging + "/ISP__PSI.exe");
    writeWholeFile(staging + "/ISP__PSI.dll", engine);
    writeWholeFile(staging + "/ISP__PSI.ini", "[ad_setting]\nstartpage=0\n[Setting]\nlast1to4=0\n[ASS_ISP]\nrecfile=" + rsp + "\n");
    ASSERT_TRUE(repackTo(staging + "/ISP__PSI.exe", program(), false).ok);

    const std::string description = root.file("pages.json");
    start("nosave", "ctrl-m,ctrl-m,close", {"--describe-page", description});
    ASSERT_EQ(waitForExit(), 0);
    const auto shownWindows = windows(description);
    std::vector<std::string> names;
    for (const QJsonObject& window : shownWindows)
        names.push_back(window.value("objectName").toString().toStdString());
    ASSERT_EQ(names, (std::vector<std::string>{"assemblyPage", "customerPage", "assemblyPage"}));

    for (const QJsonObject& assembly : {shownWindows[0], shownWindows[2]}) {
        EXPECT_EQ(shown(assembly, "rspPathEdit"), rsp);
        EXPECT_EQ(shown(assembly, "image1FileLengthEdit"), "3000");
        EXPECT_EQ(shown(assembly, "mcuEdit"), "SerialFlash");
        EXPECT_TRUE(flag(assembly, "oneToOneRadio", "checked"));
        EXPECT_TRUE(flag(assembly, "ispButton", "enabled"));
        EXPECT_TRUE(assembly.value("title").toString().startsWith("line7 (SerialFlash _ IIC) "));
    }
    EXPECT_TRUE(flag(shownWindows[1], "interfaceGroupBox", "visible")) << "the full view after a switch";
}
