// mvxisp never waits on a file that is not a regular file, says what the
// file is instead, and ends at once on Ctrl-C or SIGTERM while it waits on
// anything outside an engine run, leaving no temporary folder behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "cli_process.hpp"

namespace mvx::test {
namespace {

// An exported ISP file of a serial-flash hex job with one image.
std::string ispFile(const std::string& image)
{
    const std::string ini =
        "[Setting]\nmcu=2\ninterface=2\nfilecheck=1\nispfiletype=0\n[Saved_HEX]\nhexfile1=img1.hex\n";
    std::string bytes = "MVXF";
    bytes += static_cast<char>(ini.size() & 0xFF);
    bytes += static_cast<char>(ini.size() >> 8);
    bytes += ini;
    for (int i = 0; i < 4; ++i) {
        const std::size_t size = i == 0 ? image.size() : 0;
        for (int b = 0; b < 4; ++b)
            bytes += static_cast<char>((size >> (8 * b)) & 0xFF);
        if (i == 0)
            bytes += image;
    }
    return bytes + "MVXF";
}

struct Case {
    const char* name;
    std::function<void(const TempFolder&)> prepare;
    std::vector<std::string> args;
    int status;
    const char* says;
};

void PrintTo(const Case& c, std::ostream* os)
{
    *os << c.name;
}

void makeFifo(const TempFolder& scratch, const char* name)
{
    ASSERT_EQ(::mkfifo(scratch.file(name).c_str(), 0600), 0);
}

const Case kCases[] = {
    {"PipeAsFirmware", [](const TempFolder& s) { makeFifo(s, "fw.hex"); }, {"program", "fw.hex"}, 14,
     "cannot read the bank 0 file 'fw.hex': it is a named pipe, not a file"},
    {"LinkToPipeAsBank", [](const TempFolder& s) {
         makeFifo(s, "pipe");
         std::filesystem::create_symlink(s.file("pipe"), s.file("b1.hex"));
     },
     {"program", "--bank", "1=b1.hex"}, 14, "'b1.hex': it is a named pipe, not a file"},
    {"FolderAsFirmware", [](const TempFolder& s) { std::filesystem::create_directory(s.file("fw.hex")); },
     {"info", "fw.hex"}, 14, "it is a folder, not a file"},
    {"DeviceAsImage", [](const TempFolder&) {}, {"program", "--image", "/dev/zero"}, 14,
     "cannot read the image '/dev/zero': it is a device, not a file"},
    {"BinaryOverABank", [](const TempFolder& s) { writeWholeFile(s.file("fw.bin"), std::string(70000, 'x')); },
     {"program", "fw.bin"}, 14, "it is too large (70000 bytes, at most 65536)"},
    {"PipeAsKey", [](const TempFolder& s) { makeFifo(s, "key.bin"); }, {"hdcp", "key.bin"}, 14,
     "cannot read the HDCP key file 'key.bin': it is a named pipe, not a file"},
    {"PipeAsIspFile", [](const TempFolder& s) { makeFifo(s, "job.rsp"); }, {"run", "job.rsp"}, 66,
     "cannot read the ISP file 'job.rsp': it is a named pipe, not a file"},
};

class SpecialFiles : public ::testing::TestWithParam<Case> {};

TEST_P(SpecialFiles, AreRefusedAtOnceSayingWhatTheyAre)
{
    const Case& c = GetParam();
    TempFolder scratch;
    c.prepare(scratch);
    const std::string flash = patternBytes(kFlashBytes, 7);
    BoardFolder board("", flash);
    const auto start = std::chrono::steady_clock::now();
    const Outcome result = runMvxisp(c.args, board.env(), scratch);
    // A pipe without a writer would hang a blocking open: a hang check.
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.says), std::string::npos) << result.err;
    EXPECT_TRUE(board.flash() == flash) << "the flash was written";
}

INSTANTIATE_TEST_SUITE_P(Files, SpecialFiles, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

// ---- interrupts outside the engine run ----

// mvxisp with stdout and stderr on a pipe that is full and never read, so
// that it waits on its first line; the signal is sent once it waits.
struct Stalled {
    int signal;
    std::vector<std::string> args;
};

int runStalledAndInterrupt(const Stalled& how, const TempFolder& scratch, const Environment& extra)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return -1;
    ::fcntl(fds[1], F_SETPIPE_SZ, 4096);
    ::fcntl(fds[1], F_SETFL, O_NONBLOCK);
    const std::string block(4096, 'x');
    while (::write(fds[1], block.data(), block.size()) > 0) {
    }
    ::fcntl(fds[1], F_SETFL, 0);

    std::vector<std::string> envText{"PATH=/usr/bin:/bin", "MVX_REGISTRY=" + scratch.file("registry.ini"),
                                     "MVX_PROGRAM_FILES=" + scratch.file("pf"),
                                     "XDG_CONFIG_HOME=" + scratch.file("config")};
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            envText.push_back(std::string(name) + "=" + value);
    for (const auto& [name, value] : extra)
        envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : envText)
        envp.push_back(text.data());
    envp.push_back(nullptr);
    std::vector<std::string> argText{MVXISP_PROGRAM};
    argText.insert(argText.end(), how.args.begin(), how.args.end());
    std::vector<char*> argv;
    for (std::string& text : argText)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDERR_FILENO);
    posix_spawn_file_actions_addchdir_np(&actions, scratch.path().c_str());
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (spawned != 0) {
        ::close(fds[0]);
        return -1;
    }
    // Until the program has had time to reach its first line.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ::kill(pid, how.signal);
    int status = 0;
    const auto start = std::chrono::steady_clock::now();
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() - start > std::chrono::seconds(5)) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            ADD_FAILURE() << "mvxisp did not end on the interrupt";
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::close(fds[0]);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

TEST(Interrupts, EndACommandThatWaitsOnItsOutputLeavingNoTemporaryFolder)
{
    TempFolder scratch;
    writeWholeFile(scratch.file("b0.hex"), hexText(patternBytes(256, 1)));
    writeWholeFile(scratch.file("job.rsp"), ispFile(hexText(patternBytes(256, 2))));
    std::filesystem::create_directory(scratch.file("tmp"));
    const std::string flash = patternBytes(kFlashBytes, 3);
    BoardFolder board("", flash);
    Environment env = board.env();
    env["TMPDIR"] = scratch.file("tmp");

    const struct {
        Stalled how;
        int status;
    } cases[] = {{{SIGINT, {"info", "b0.hex"}}, 130}, {{SIGTERM, {"run", "job.rsp"}}, 143},
                 {{SIGINT, {"program", "--json", "b0.hex"}}, 130}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.how.args[0]);
        EXPECT_EQ(runStalledAndInterrupt(c.how, scratch, env), c.status);
        EXPECT_TRUE(std::filesystem::is_empty(scratch.file("tmp"))) << "a temporary folder was left behind";
    }
    EXPECT_TRUE(board.flash() == flash) << "the flash was written";
}

}  // namespace
}  // namespace mvx::test
