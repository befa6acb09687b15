// The customer page's one question to the engine: what a firmware file holds
// for one bank (mvxGetFileInfo).  The page asks through FileInfoSource so
// that its rules can be exercised without an engine; EngineFileInfo answers
// through the entry points the page's engine binding resolved.
#pragma once

#include <optional>
#include <string>

#include "mvxisp.h"
#include "shell/engine_binding.hpp"

namespace mvx::customer_page {

// The arguments of one mvxGetFileInfo call.
struct FileInfoRequest {
    std::string path;
    int format = MVX_FORMAT_HEX;
    int bank = 0;
    int operation = MVX_OP_SERIAL_FLASH;   // the page's mcuType
    int eraseMode = 0;
    int eraseLength = 0;
    int sectorEraseFlag = 0;
    int sectorEraseBank = 0;
    bool operator==(const FileInfoRequest&) const = default;
};

// What the engine answered: its result code and the four outputs.
struct FileInfoAnswer {
    int result = MVX_ERR_FILE;
    int dataLength = 0;
    int programLength = 0;
    int checksum = 0;
    int crc = 0;
};

class FileInfoSource {
public:
    virtual ~FileInfoSource() = default;
    // nullopt when there is no engine to ask: the page then shows empty
    // file details.
    virtual std::optional<FileInfoAnswer> fileInfo(const FileInfoRequest& request) = 0;
};

// mvxGetFileInfo through the bound entry points, with the page's window as
// owner.  The entry points are read at every call, so a page that releases
// its library stops asking.
class EngineFileInfo final : public FileInfoSource {
public:
    EngineFileInfo(const tool::EngineEntryPoints& entry, const MvxWindow* window) : entry_(entry), window_(window) {}
    std::optional<FileInfoAnswer> fileInfo(const FileInfoRequest& request) override;

private:
    const tool::EngineEntryPoints& entry_;
    const MvxWindow* window_;
};

}  // namespace mvx::customer_page
