// What mvxisp shows while it works.
//
//   stderr  the run log: the engine's progress turned into the lines an
//           operator reads (the run-log module's texts), the program's own
//           notes, and the one-line result.  On a terminal the last line is a
//           status line with a progress bar, the percentage and the growing
//           programming line, redrawn in place; elsewhere every line is
//           written once, in its final form, and the overall progress as
//           "Progress: N%" lines in steps of ten.
//   stdout  what a command produces (file information, the IC code, the bus
//           list), or with --json only JSON: one object per progress message,
//           bank or bus, and a final result object.
//   --log   the run log's final lines, also with --quiet.
//
// --quiet leaves only errors, a failed result and the virtual-board notice
// on stderr.
#pragma once

#include <cstdint>
#include <fstream>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "json.hpp"
#include "mvxisp.h"
#include "run_log/run_log.hpp"

namespace mvx::cli {

struct ReporterSettings {
    bool quiet = false;
    bool json = false;
    bool terminal = false;        // stderr is a terminal
    int terminalColumns = 80;
};

// The name of a progress message code in JSON ("program_percent"); "unknown"
// above 16.
std::string_view progressCodeName(int code);

class Reporter {
public:
    Reporter(ReporterSettings settings, std::ostream& out, std::ostream& err);
    ~Reporter();
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // Opens (truncates) the log file; false with *error when it cannot.
    bool openLogFile(const std::string& path, std::string* error);
    // Writes lastLine into the log file and closes it; false with *error
    // when any line of the log could not be written (a full disk shows only
    // when the lines are flushed).  True without a log file.
    bool closeLogFile(const std::string& lastLine, std::string* error);

    const ReporterSettings& settings() const { return settings_; }

    // Starts a run: an empty log that looks up file dates in table.
    void beginRun(std::span<const FileTableEntry> table);
    // One WM_ISP_PROGRESS message.
    void progress(std::uintptr_t wParam, std::intptr_t lParam);
    // The engine's failure box: in JSON as it is; in the log only the reason
    // below its headline, when it has one (the log already has the error
    // code): "The bus is busy: process 1234 is running ISP on it!!".
    void messageBox(std::string_view text, std::string_view caption);
    // Ends a run: the last progress line in its final form, no status line.
    void endRun();

    // The run log of the run in progress or just ended.
    const runlog::RunLog& log() const { return log_; }

    // A line of the program's own in the log.
    void note(const std::string& line);
    // The command's product on stdout (not in JSON mode).
    void product(const std::string& line);
    // A JSON object on stdout (JSON mode only).
    void json(const JsonObject& object);
    void jsonLine(const std::string& text);
    // The one-line meaning of a result; shown with --quiet only when failed.
    void resultLine(const std::string& line, bool failed);
    // An error of the program ("mvxisp: ..."), always shown.
    void error(const std::string& message);
    // A line that is always shown, also with --quiet (the virtual-board notice).
    void warning(const std::string& line);

private:
    void finalLine(const std::string& line);
    void logLine(const std::string& line);
    void clearStatus();
    void drawStatus();
    bool showLog() const { return !settings_.quiet; }

    ReporterSettings settings_;
    std::ostream& out_;
    std::ostream& err_;
    std::ofstream logFile_;
    std::string logPath_;
    std::string logProblem_;   // why a line of the log could not be written
    runlog::RunLog log_;
    std::vector<FileTableEntry> table_;
    std::optional<std::string> pendingLine_;   // a progress line that may still grow
    bool statusShown_ = false;
    bool runActive_ = false;
    int percent_ = 0;
    int lastPlainStep_ = 0;
};

}  // namespace mvx::cli
