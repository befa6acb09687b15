// The run log: turns the engine's progress messages (WM_ISP_PROGRESS, code,
// sub and value) into the lines an operator reads, for the customer page's
// log pane and for the command-line front end alike.  No widgets here; the
// reader renders lines() and applies each LogChange.
//
// Progress lines (page erase and programming) are rewritten in place while
// their percentage grows: a progress line whose fixed part ("Program Bank3",
// "Page Erasing") equals that of the log's last line replaces that line
// instead of being appended.  Any other line in between ends the rewrite, so a
// later pass over the same bank (the serial-flash retry, say) gets a line of
// its own and nothing logged before it is lost.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "run_log/log_texts.hpp"

namespace mvx::runlog {

// One WM_ISP_PROGRESS message, decoded.
struct ProgressMessage {
    int code = 0;              // bits 8..15 of wParam
    int sub = 0;               // bits 0..7 of wParam
    std::int32_t value = 0;    // lParam as a signed 32-bit number

    bool operator==(const ProgressMessage&) const = default;
};

// Decodes wParam = (code << 8) | sub and lParam.
ProgressMessage decodeProgress(std::uintptr_t wParam, std::intptr_t lParam);

// The highest message code the log knows; higher codes change nothing.
inline constexpr int kLastProgressCode = MVX_MSG_IC_CODE;

// What one message did to the log.
struct LogChange {
    bool rewroteLast = false;    // the last line was replaced (its new text is lines().back())
    std::size_t appended = 0;    // lines added at the end

    bool changed() const { return rewroteLast || appended != 0; }
    bool operator==(const LogChange&) const = default;
};

class RunLog {
public:
    // The path of FileTable entry `index` (the run-passed line shows that
    // file's date); empty when there is none.
    using FilePathLookup = std::function<std::string(std::int32_t index)>;

    RunLog() = default;
    explicit RunLog(FilePathLookup lookup) : filePath_(std::move(lookup)) {}

    void setFilePathLookup(FilePathLookup lookup) { filePath_ = std::move(lookup); }

    // Empties the log and forgets the last run's overall percent and IC code;
    // done at the start of every run.
    void clear();

    // Adds the lines of one message.
    LogChange handle(const ProgressMessage& message);
    LogChange handle(std::uintptr_t wParam, std::intptr_t lParam) { return handle(decodeProgress(wParam, lParam)); }

    // The page's own "Calculate CRC Bank" line for a freshly loaded file row.
    LogChange logFileCrc(int row, std::int32_t crc);
    // A line of the page's own (a file that could not be saved, say).
    LogChange note(std::string line) { return append(std::move(line)); }

    // The lines, without line ends.
    const std::vector<std::string>& lines() const { return lines_; }
    // The whole log, every line followed by `lineEnd`.
    std::string text(std::string_view lineEnd = "\r\n") const;

    // The last overall percent (code 13) of this run, 0 before any.
    int overallPercent() const { return overallPercent_; }
    // The IC code reported in this run (code 16), if any.
    std::optional<std::int32_t> icCode() const { return icCode_; }

private:
    LogChange append(std::string line);
    LogChange progress(std::string prefix, std::string line);
    LogChange fileDate(std::int32_t index);

    std::vector<std::string> lines_;
    // The fixed part of the last line when that line is a progress line.
    std::optional<std::string> progressPrefix_;
    FilePathLookup filePath_;
    int overallPercent_ = 0;
    std::optional<std::int32_t> icCode_;
};

}  // namespace mvx::runlog
