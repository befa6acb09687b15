#include "customer_page/file_info.hpp"

#include <array>
#include <cstring>

namespace mvx::customer_page {

std::optional<FileInfoAnswer> EngineFileInfo::fileInfo(const FileInfoRequest& request)
{
    if (entry_.getFileInfo == nullptr)
        return std::nullopt;
    FileInfoAnswer answer;
    // The engine takes the name from a zeroed 260-byte buffer: a longer
    // path cannot be named to it.
    std::array<char, MVX_PATH_CAPACITY> name{};
    if (request.path.size() >= name.size())
        return answer;
    std::memcpy(name.data(), request.path.data(), request.path.size());
    answer.result = entry_.getFileInfo(name.data(), request.format, request.bank, request.operation,
                                       request.eraseMode, request.eraseLength, &answer.dataLength,
                                       &answer.programLength, &answer.checksum, &answer.crc, window_,
                                       request.sectorEraseFlag, request.sectorEraseBank);
    return answer;
}

}  // namespace mvx::customer_page
