#include "run_log/run_log.hpp"

#include <utility>

namespace mvx::runlog {

ProgressMessage decodeProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    ProgressMessage message;
    message.code = MVX_PROGRESS_CODE(wParam);
    message.sub = MVX_PROGRESS_SUB(wParam);
    message.value = static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<std::uintptr_t>(lParam)));
    return message;
}

void RunLog::clear()
{
    lines_.clear();
    progressPrefix_.reset();
    overallPercent_ = 0;
    icCode_.reset();
}

LogChange RunLog::append(std::string line)
{
    lines_.push_back(std::move(line));
    progressPrefix_.reset();
    return LogChange{false, 1};
}

LogChange RunLog::progress(std::string prefix, std::string line)
{
    if (!lines_.empty() && progressPrefix_ == prefix) {
        lines_.back() = std::move(line);
        return LogChange{true, 0};
    }
    lines_.push_back(std::move(line));
    progressPrefix_ = std::move(prefix);
    return LogChange{false, 1};
}

LogChange RunLog::fileDate(std::int32_t index)
{
    const std::string path = filePath_ ? filePath_(index) : std::string();
    std::optional<std::string> date = fileDateTimeText(path);
    append(fileDateHeading());
    append(date ? std::move(*date) : unknownFileDateText());
    return LogChange{false, 2};
}

LogChange RunLog::handle(const ProgressMessage& message)
{
    const int sub = message.sub;
    const std::int32_t value = message.value;
    switch (message.code) {
    case MVX_MSG_PAGE_ERASE_PERCENT: return progress(pageErasingPrefix(), pageErasingLine(value));
    case MVX_MSG_ERASE_RESULT:
        if (std::optional<std::string> line = eraseResultLine(value))
            return append(std::move(*line));
        return {};
    case MVX_MSG_PROGRAM_PERCENT: return progress(programPrefix(sub), programLine(sub, value));
    case MVX_MSG_CRC_IMAGE: return append(calculatedCrcLine(sub, value));
    case MVX_MSG_CRC_DEVICE: return append(readCrcLine(sub, value));
    case MVX_MSG_CRC_MATCH: return append(crcResultLine(sub, value));
    case MVX_MSG_CHECKSUM_IMAGE: return append(calculatedChecksumLine(value));
    case MVX_MSG_CHECKSUM_DEVICE: return append(readChecksumLine(value));
    case MVX_MSG_CHECKSUM_MATCH: return append(checksumResultLine(sub, value));
    case MVX_MSG_RUN_PASSED: return fileDate(value);
    case MVX_MSG_FILE_LOAD_FAILED: return append(loadFailLine(sub));
    case MVX_MSG_RUN_FAILED: return append(errorLine(value));
    case MVX_MSG_BANK_SEPARATOR: return append(std::string());
    case MVX_MSG_OVERALL_PERCENT: overallPercent_ = value; return {};
    case MVX_MSG_FLASH_IDENTIFIED:
        if (std::optional<std::string> line = chipReport(sub, value))
            return append(std::move(*line));
        return {};
    case MVX_MSG_NOT_PMC_FOR_EEPROM: return append(flashToEepromLine());
    case MVX_MSG_IC_CODE: icCode_ = value; return {};
    case MVX_MSG_BEYOND_FLASH: return append(beyondFlashLine(sub, value));
    default: return {};
    }
}

LogChange RunLog::logFileCrc(int row, std::int32_t crc)
{
    return handle(ProgressMessage{MVX_MSG_CRC_IMAGE, row & 0xFF, crc});
}

std::string RunLog::text(std::string_view lineEnd) const
{
    std::string all;
    for (const std::string& line : lines_) {
        all += line;
        all += lineEnd;
    }
    return all;
}

}  // namespace mvx::runlog
