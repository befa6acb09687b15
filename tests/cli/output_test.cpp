// What mvxisp shows: the run log on a terminal and elsewhere, the log file,
// --quiet, JSON lines and their escaping, the virtual board's notice and exit
// statuses that say what happened.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <regex>
#include <sstream>
#include <thread>

#include "cli_process.hpp"
#include "json.hpp"
#include "reporter.hpp"

namespace mvx::test {
namespace {

using cli::Reporter;
using cli::ReporterSettings;

void send(Reporter& reporter, int code, int sub, long value)
{
    reporter.progress(MVX_PROGRESS_WPARAM(code, sub), value);
}

// A short serial-flash run as the engine reports it.
void oneBankRun(Reporter& reporter)
{
    const std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    reporter.beginRun(table);
    send(reporter, MVX_MSG_FLASH_IDENTIFIED, 1, 2);
    send(reporter, MVX_MSG_OVERALL_PERCENT, 0, 5);
    for (int percent : {0, 40, 100}) {
        send(reporter, MVX_MSG_PROGRAM_PERCENT, 3, percent);
        send(reporter, MVX_MSG_OVERALL_PERCENT, 0, 21 + percent * 74 / 100);
    }
    send(reporter, MVX_MSG_CRC_IMAGE, 3, 0x3C);
    send(reporter, MVX_MSG_CRC_MATCH, 3, 1);
    reporter.endRun();
}

// ---- the run log ----

TEST(Reporter, PlainOutputWritesEachLineOnceInItsFinalForm)
{
    std::ostringstream out;
    std::ostringstream err;
    Reporter reporter(ReporterSettings{}, out, err);
    oneBankRun(reporter);
    EXPECT_EQ(err.str(),
              "Current Chip is W25X40A.\n"
              "Progress: 20%\n"
              "Progress: 50%\n"
              "Progress: 90%\n"
              "Program Bank3 100%\n"
              "Calculate CRC Bank 3 0x3c\n"
              "Bank 3 CRC OK\n");
    EXPECT_TRUE(out.str().empty());
}

TEST(Reporter, TerminalShowsAStatusLineAndKeepsFinalLinesAboveIt)
{
    std::ostringstream out;
    std::ostringstream err;
    ReporterSettings settings;
    settings.terminal = true;
    Reporter reporter(settings, out, err);
    oneBankRun(reporter);
    const std::string text = err.str();
    EXPECT_NE(text.find("\r\033[K[############------------]  50%  Program Bank3 40%"), std::string::npos) << text;
    // The growing line is written into the log area once, when it is final.
    EXPECT_EQ(countOf(text, "Program Bank3 100%\n"), 1);
    EXPECT_EQ(countOf(text, "Program Bank3 40%\n"), 0);
    EXPECT_EQ(countOf(text, "Progress:"), 0);
    // The last line is final and the status line is wiped at the end.
    const auto lastLine = text.rfind("Bank 3 CRC OK\n");
    ASSERT_NE(lastLine, std::string::npos);
    EXPECT_EQ(text.find('\n', lastLine + 14), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 4), "\r\033[K");
}

TEST(Reporter, StatusLineFitsTheTerminalWidth)
{
    std::ostringstream out;
    std::ostringstream err;
    ReporterSettings settings;
    settings.terminal = true;
    settings.terminalColumns = 30;
    Reporter reporter(settings, out, err);
    oneBankRun(reporter);
    std::size_t at = 0;
    while ((at = err.str().find("\r\033[K[", at)) != std::string::npos) {
        const auto end = err.str().find_first_of("\r\n", at + 4);
        EXPECT_LE(end - (at + 4), 29u);
        at = end;
    }
}

TEST(Reporter, QuietKeepsOnlyFailuresAndErrorsButTheLogFileGetsEverything)
{
    TempFolder folder;
    std::ostringstream out;
    std::ostringstream err;
    ReporterSettings settings;
    settings.quiet = true;
    Reporter reporter(settings, out, err);
    std::string error;
    ASSERT_TRUE(reporter.openLogFile(folder.file("run.log"), &error)) << error;
    oneBankRun(reporter);
    reporter.resultLine("Result 0: success", false);
    EXPECT_TRUE(err.str().empty());
    reporter.resultLine("Result 20: CRC mismatch", true);
    reporter.error("cannot do that");
    EXPECT_EQ(err.str(), "Result 20: CRC mismatch\nmvxisp: cannot do that\n");
    EXPECT_EQ(readWholeFile(folder.file("run.log")),
              "Current Chip is W25X40A.\nProgram Bank3 100%\nCalculate CRC Bank 3 0x3c\nBank 3 CRC OK\n"
              "Result 0: success\nResult 20: CRC mismatch\nmvxisp: cannot do that\n");
}

TEST(Reporter, JsonGivesEveryMessageWithItsNameAndLine)
{
    std::ostringstream out;
    std::ostringstream err;
    ReporterSettings settings;
    settings.json = true;
    settings.quiet = true;
    Reporter reporter(settings, out, err);
    oneBankRun(reporter);
    reporter.messageBox("ISP process has failed!\r\r\n Into ISP mode Fail!!", "Error");
    const auto lines = Outcome::linesOf(out.str());
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_EQ(lines[0], "{\"type\":\"progress\",\"code\":14,\"name\":\"flash_identified\",\"sub\":1,\"value\":2,"
                        "\"line\":\"Current Chip is W25X40A.\"}");
    EXPECT_EQ(lines[1], "{\"type\":\"progress\",\"code\":13,\"name\":\"overall_percent\",\"sub\":0,\"value\":5}");
    EXPECT_EQ(lines[4], "{\"type\":\"progress\",\"code\":2,\"name\":\"program_percent\",\"sub\":3,\"value\":40,"
                        "\"line\":\"Program Bank3 40%\"}");
    EXPECT_EQ(lines[10], "{\"type\":\"box\",\"caption\":\"Error\",\"text\":\"ISP process has failed!  Into ISP mode "
                         "Fail!!\"}");
    EXPECT_TRUE(err.str().empty());
}

// ---- JSON text ----

TEST(Json, StringsAreEscapedAndAlwaysValidUtf8)
{
    EXPECT_EQ(cli::jsonString("a\"b\\c"), "\"a\\\"b\\\\c\"");
    EXPECT_EQ(cli::jsonString("\r\n\t\x01\x7f"), "\"\\r\\n\\t\\u0001\\u007f\"");
    EXPECT_EQ(cli::jsonString("Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC"), "\"Gr\xC3\xBC\xC3\x9F\xE2\x82\xAC\"");
    // A lone continuation byte, a truncated sequence, an overlong form and a surrogate.
    EXPECT_EQ(cli::jsonString("a\x80z\xC3"), "\"a\\ufffdz\\ufffd\"");
    EXPECT_EQ(cli::jsonString("\xC0\xAF"), "\"\\ufffd\\ufffd\"");
    EXPECT_EQ(cli::jsonString("\xED\xA0\x80"), "\"\\ufffd\\ufffd\\ufffd\"");
}

TEST(Json, ObjectsKeepTheirOrderAndTypes)
{
    cli::JsonObject object;
    object.add("s", "x").add("n", -3).add("b", false).addNull("z").add("list", std::vector<std::string>{"a", "\""});
    EXPECT_EQ(object.text(), "{\"s\":\"x\",\"n\":-3,\"b\":false,\"z\":null,\"list\":[\"a\",\"\\\"\"]}");
}

// ---- the program's streams ----

TEST(Streams, ProgramWithJsonAndLogKeepsStdoutMachineReadable)
{
    TempFolder scratch;
    BoardFolder board;
    writeWholeFile(scratch.file("b0.bin"), patternBytes(2000, 1));
    const Outcome result = runMvxisp({"program", "--json", "--log", "run.log", "b0.bin"}, board.env(), scratch);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto lines = result.outLines();
    ASSERT_GT(lines.size(), 10u);
    for (const std::string& line : lines) {
        EXPECT_EQ(line.front(), '{') << line;
        EXPECT_EQ(line.back(), '}') << line;
    }
    EXPECT_EQ(lines.back(), "{\"type\":\"result\",\"command\":\"program\",\"status\":0,\"meaning\":\"success\","
                            "\"passed\":true,\"virtual_board\":" + cli::jsonString(board.folder.path()) +
                                ",\"engine_result\":0}");
    EXPECT_EQ(countOf(result.out, "\"name\":\"run_passed\""), 1);
    // The log file holds what stderr showed, without the progress steps.
    const std::string log = readWholeFile(scratch.file("run.log"));
    EXPECT_EQ(countOf(log, "Program Bank0 100%\n"), 1);
    EXPECT_EQ(countOf(log, "Progress:"), 0);
    EXPECT_EQ(Outcome::linesOf(log).front(), board.notice());
    EXPECT_EQ(Outcome::linesOf(log).back(), board.lastLine("Result 0: success"));
    EXPECT_EQ(countOf(result.err, "Bank 0 CRC OK\n"), 1);
}

TEST(Streams, QuietSuccessWritesOnlyTheBoardNoticeAndQuietFailureItsResult)
{
    TempFolder scratch;
    writeWholeFile(scratch.file("b0.bin"), patternBytes(2000, 1));
    BoardFolder good;
    const Outcome passed = runMvxisp({"program", "-q", "b0.bin"}, good.env(), scratch);
    EXPECT_EQ(passed.status, 0);
    EXPECT_EQ(passed.err, good.notice() + "\n" + good.lastLine("Result 0: success") + "\n");
    EXPECT_TRUE(passed.out.empty());
    BoardFolder protectedFlash("[board]\nwrite_protect=1\n");
    const Outcome failed = runMvxisp({"program", "-q", "b0.bin"}, protectedFlash.env(), scratch);
    EXPECT_EQ(failed.status, 26);
    EXPECT_EQ(failed.err, protectedFlash.notice() + "\n" +
                              protectedFlash.lastLine("Result 26: the flash is write-protected") + "\n");
}

// ---- the virtual board is never silent ----

TEST(VirtualBoard, NoticeComesFirstAndLastAndInTheJsonResultOnlyWithABoard)
{
    TempFolder scratch;
    writeWholeFile(scratch.file("b0.bin"), patternBytes(2000, 1));
    BoardFolder board;
    const Outcome passed = runMvxisp({"program", "--json", "b0.bin"}, board.env(), scratch);
    ASSERT_EQ(passed.status, 0) << passed.err;
    EXPECT_EQ(passed.errLines().front(), board.notice());
    EXPECT_EQ(passed.errLines().back(), board.lastLine("Result 0: success"));
    EXPECT_EQ(countOf(passed.outLines().back(), "\"virtual_board\":" + cli::jsonString(board.folder.path())), 1);

    // A command refused before the engine runs says it as well.
    const Outcome refused = runMvxisp({"program", "--json", "missing.bin"}, board.env(), scratch);
    EXPECT_EQ(refused.status, 14);
    EXPECT_EQ(refused.errLines().front(), board.notice());
    EXPECT_EQ(countOf(refused.errLines().back(), "cannot read the bank 0 file"), 1) << refused.err;
    EXPECT_EQ(countOf(refused.errLines().back(), "[" + board.notice() + "]"), 1) << refused.err;
    EXPECT_EQ(countOf(refused.out, "\"virtual_board\":"), 1);

    const Outcome real = runMvxisp({"program", "--json", "b0.bin"}, recordingEnv(scratch), scratch);
    ASSERT_EQ(real.status, 0) << real.err;
    EXPECT_EQ(countOf(real.err, "VIRTUAL BOARD"), 0);
    EXPECT_EQ(countOf(real.out, "virtual_board"), 0);
    EXPECT_EQ(real.errLines().back(), "Result 0: success");
}

// ---- exit statuses tell the truth ----

TEST(ExitStatus, RefusalsAndUnwritableLogsNameTheirCause)
{
    TempFolder scratch;
    writeWholeFile(scratch.file("b0.bin"), patternBytes(2000, 1));
    const std::vector<std::string> ld{"--ld", "b0.bin", "--ld", "b0.bin", "--ld", "b0.bin", "--ld", "b0.bin"};
    const auto with = [](std::vector<std::string> args, const std::vector<std::string>& more) {
        args.insert(args.end(), more.begin(), more.end());
        return args;
    };
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string line;   // on stderr
        bool engineCalled;
    };
    const std::vector<Case> cases{
        {{"program", "--log", "/dev/full", "b0.bin"}, 73,
         "mvxisp: the log file '/dev/full' could not be written: No space left on device "
         "(the run itself: Result 0: success)", true},
        {{"ic-code", "--log", "/dev/full", "--json"}, 73, "Result 73: the log file cannot be written", true},
        {with({"program", "--mcu", "sf-1to4", "--interface", "usb", "b0.bin"}, ld), 64,
         "mvxisp: 1To4 runs only over the parallel cables (iic, cvt) (see 'mvxisp program --help')", false},
        {with({"program", "--mcu", "5310-1to4", "--interface", "ftdi", "b0.bin"}, ld), 64,
         "mvxisp: 1To4 runs only over the parallel cables (iic, cvt) (see 'mvxisp program --help')", false},
        {{"program", "--interface", "ftdi", "--library-mode", "0", "b0.bin"}, 64,
         "mvxisp: --library-mode 0: the FTDI adapter works only through its library (--library-mode 1) "
         "(see 'mvxisp program --help')", false},
        {{"erase", "--interface", "cvt", "--library-mode", "1"}, 64,
         "mvxisp: --library-mode 1: the CVT cable has no library (--library-mode 0) (see 'mvxisp erase --help')",
         false},
    };
    for (const Case& c : cases) {
        std::filesystem::remove(scratch.file("record.txt"));
        const Outcome result = runMvxisp(c.args, recordingEnv(scratch), scratch);
        EXPECT_EQ(result.status, c.status) << c.args[1] << result.err;
        EXPECT_EQ(countOf(result.err, c.line + "\n"), 1) << c.line << "\n" << result.err;
        EXPECT_EQ(std::filesystem::exists(scratch.file("record.txt")), c.engineCalled) << c.line;
        if (c.status == 73) {
            EXPECT_EQ(result.errLines().back(), "Result 73: the log file cannot be written");
            EXPECT_EQ(countOf(result.out, "\"status\":73,"), result.out.empty() ? 0 : 1) << result.out;
        }
    }
}

TEST(ExitStatus, InterruptedRepeatEndsNonzeroAndSaysHowManyRunsWereDone)
{
    TempFolder scratch;
    BoardFolder board;
    writeWholeFile(scratch.file("b0.bin"), patternBytes(300, 2));
    const Started started = startMvxisp({"program", "--repeat", "1000", "b0.bin"}, board.env(), scratch);
    ASSERT_GT(started.pid, 0);
    // Interrupt once the second run has begun (a bound, not a timing check).
    const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (countOf(readWholeFile(started.errPath), "Run 2 of 1000\n") == 0 &&
           std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ::kill(started.pid, SIGINT);
    const Outcome result = finishMvxisp(started);

    EXPECT_EQ(result.status, 130) << result.err;
    std::smatch done;
    ASSERT_TRUE(std::regex_search(result.err, done, std::regex("Interrupted: ([0-9]+) of 1000 runs done")))
        << result.err;
    const int runs = std::stoi(done[1]);
    EXPECT_GE(runs, 2);
    EXPECT_LT(runs, 1000);
    EXPECT_EQ(countOf(result.err, "Runs: " + std::to_string(runs) + ", passed " + std::to_string(runs) + ", failed 0\n"),
              1);
    EXPECT_EQ(result.errLines().back(),
              board.lastLine("Result 130: interrupted (Ctrl-C) before all runs were done"));
    EXPECT_TRUE(board.flash().substr(0, 300) == patternBytes(300, 2));
}

}  // namespace
}  // namespace mvx::test
