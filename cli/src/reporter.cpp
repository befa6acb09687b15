#include "reporter.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>

#include "run_log/log_texts.hpp"

namespace mvx::cli {
namespace {

constexpr std::array<std::string_view, 17> kCodeNames{
    "page_erase_percent", "erase_result",   "program_percent",  "crc_image",
    "crc_device",         "crc_match",      "checksum_image",   "checksum_device",
    "checksum_match",     "run_passed",     "file_load_failed", "run_failed",
    "bank_separator",     "overall_percent", "flash_identified", "not_pmc_for_eeprom",
    "ic_code"};

constexpr int kBarWidth = 24;

bool isProgressCode(int code)
{
    return code == MVX_MSG_PAGE_ERASE_PERCENT || code == MVX_MSG_PROGRAM_PERCENT;
}

}  // namespace

std::string_view progressCodeName(int code)
{
    if (code < 0 || static_cast<std::size_t>(code) >= kCodeNames.size())
        return "unknown";
    return kCodeNames[static_cast<std::size_t>(code)];
}

Reporter::Reporter(ReporterSettings settings, std::ostream& out, std::ostream& err)
    : settings_(settings), out_(out), err_(err)
{
    settings_.terminalColumns = std::max(settings_.terminalColumns, 20);
}

Reporter::~Reporter()
{
    if (runActive_)
        endRun();
}

bool Reporter::openLogFile(const std::string& path, std::string* error)
{
    logFile_.open(path, std::ios::out | std::ios::trunc);
    if (!logFile_) {
        *error = "cannot write the log file '" + path + "'";
        return false;
    }
    logPath_ = path;
    return true;
}

bool Reporter::closeLogFile(const std::string& lastLine, std::string* error)
{
    if (!logFile_.is_open())
        return true;
    logLine(lastLine);
    errno = 0;
    logFile_.close();
    if (logFile_.fail() && logProblem_.empty())
        logProblem_ = errno != 0 ? std::strerror(errno) : "the file could not be closed";
    if (logProblem_.empty())
        return true;
    *error = "the log file '" + logPath_ + "' could not be written: " + logProblem_;
    return false;
}

void Reporter::logLine(const std::string& line)
{
    if (!logFile_.is_open() || !logProblem_.empty())
        return;
    errno = 0;
    logFile_ << line << '\n' << std::flush;
    if (!logFile_)
        logProblem_ = errno != 0 ? std::strerror(errno) : "write error";
}

void Reporter::beginRun(std::span<const FileTableEntry> table)
{
    table_.assign(table.begin(), table.end());
    log_.clear();
    log_.setFilePathLookup([this](std::int32_t index) { return runlog::fileTablePath(table_, index); });
    pendingLine_.reset();
    percent_ = 0;
    lastPlainStep_ = 0;
    runActive_ = true;
}

void Reporter::progress(std::uintptr_t wParam, std::intptr_t lParam)
{
    const runlog::ProgressMessage message = runlog::decodeProgress(wParam, lParam);
    const std::size_t before = log_.lines().size();
    const runlog::LogChange change = log_.handle(message);

    if (settings_.json) {
        JsonObject object;
        object.add("type", "progress")
            .add("code", message.code)
            .add("name", progressCodeName(message.code))
            .add("sub", message.sub)
            .add("value", static_cast<std::int64_t>(message.value));
        if (change.changed() && !log_.lines().empty())
            object.add("line", log_.lines().back());
        json(object);
    }

    const auto& lines = log_.lines();
    if (change.rewroteLast && !lines.empty())
        pendingLine_ = lines.back();
    if (change.appended != 0) {
        if (pendingLine_) {
            finalLine(*pendingLine_);
            pendingLine_.reset();
        }
        const std::size_t first = std::min(before, lines.size());
        for (std::size_t i = first; i < lines.size(); ++i) {
            if (i + 1 == lines.size() && isProgressCode(message.code))
                pendingLine_ = lines[i];
            else
                finalLine(lines[i]);
        }
    }

    if (message.code == MVX_MSG_OVERALL_PERCENT) {
        percent_ = std::clamp(static_cast<int>(message.value), 0, 100);
        if (!settings_.terminal && showLog() && percent_ / 10 > lastPlainStep_) {
            lastPlainStep_ = percent_ / 10;
            err_ << "Progress: " << lastPlainStep_ * 10 << "%\n" << std::flush;
        }
    }
    if (settings_.terminal && showLog())
        drawStatus();
}

void Reporter::messageBox(std::string_view text, std::string_view caption)
{
    if (!settings_.json) {
        const auto end = text.find('\n');
        if (end == std::string_view::npos)
            return;
        std::string_view reason = text.substr(end + 1);
        while (!reason.empty() && (reason.front() == ' ' || reason.front() == '\r' || reason.front() == '\n'))
            reason.remove_prefix(1);
        while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r' || reason.back() == '\n'))
            reason.remove_suffix(1);
        if (!reason.empty())
            note(std::string(reason));
        return;
    }
    std::string flat;
    for (char c : text)
        if (c != '\r')
            flat += c == '\n' ? ' ' : c;
    json(JsonObject().add("type", "box").add("caption", caption).add("text", flat));
}

void Reporter::endRun()
{
    if (pendingLine_) {
        finalLine(*pendingLine_);
        pendingLine_.reset();
    }
    clearStatus();
    runActive_ = false;
}

void Reporter::note(const std::string& line)
{
    if (pendingLine_) {
        finalLine(*pendingLine_);
        pendingLine_.reset();
    }
    finalLine(line);
    if (settings_.terminal && showLog() && runActive_)
        drawStatus();
}

void Reporter::product(const std::string& line)
{
    if (settings_.json)
        return;
    out_ << line << '\n' << std::flush;
}

void Reporter::json(const JsonObject& object)
{
    jsonLine(object.text());
}

void Reporter::jsonLine(const std::string& text)
{
    if (settings_.json)
        out_ << text << '\n' << std::flush;
}

void Reporter::resultLine(const std::string& line, bool failed)
{
    clearStatus();
    logLine(line);
    if (showLog() || failed)
        err_ << line << '\n' << std::flush;
}

void Reporter::error(const std::string& message)
{
    clearStatus();
    const std::string line = "mvxisp: " + message;
    logLine(line);
    err_ << line << '\n' << std::flush;
}

void Reporter::warning(const std::string& line)
{
    clearStatus();
    logLine(line);
    err_ << line << '\n' << std::flush;
}

void Reporter::finalLine(const std::string& line)
{
    logLine(line);
    if (!showLog())
        return;
    clearStatus();
    err_ << line << '\n' << std::flush;
}

void Reporter::clearStatus()
{
    if (!statusShown_)
        return;
    err_ << "\r\033[K" << std::flush;
    statusShown_ = false;
}

void Reporter::drawStatus()
{
    const int filled = percent_ * kBarWidth / 100;
    std::string status = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                         std::string(static_cast<std::size_t>(kBarWidth - filled), '-') + "] ";
    const std::string number = std::to_string(percent_);
    status += std::string(3 - std::min<std::size_t>(3, number.size()), ' ') + number + "%";
    if (pendingLine_)
        status += "  " + *pendingLine_;
    const auto columns = static_cast<std::size_t>(settings_.terminalColumns - 1);
    if (status.size() > columns)
        status.resize(columns);
    err_ << "\r\033[K" << status << std::flush;
    statusShown_ = true;
}

}  // namespace mvx::cli
