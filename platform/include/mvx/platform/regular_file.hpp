// Reading the files a user names (firmware, LD, key, ISP and settings
// files) without ever blocking on them.
//
// Only regular files are read.  The path is looked at first and opened only
// when it names a regular file; the open itself does not block
// (O_NONBLOCK, O_NOCTTY), and the opened file is checked again, so a named
// pipe, a device, a socket or a folder is refused at once, whatever the path
// was swapped for in between.  Every read is bounded: a file larger than the
// caller's limit is refused with its size, before anything is read.
#pragma once

#include <cstdint>
#include <limits>
#include <string>

namespace mvx::platform {

// Why a file was refused.
enum class FileFault {
    None,
    Missing,      // nothing at the path (or a part of it is not a folder)
    Unreadable,   // it exists but cannot be opened or read (permissions, I/O)
    NotRegular,   // a folder, named pipe, device or socket
    TooLarge,     // larger than the caller's limit
};

struct FileProblem {
    FileFault fault = FileFault::None;
    std::string what;            // NotRegular: "a folder", "a named pipe", "a device", "a socket", ...
    unsigned mode = 0;           // NotRegular: the st_mode of what was found
    std::uint64_t size = 0;      // TooLarge: the file's size
    std::uint64_t limit = 0;     // TooLarge: the limit it exceeds
    int systemError = 0;         // Missing, Unreadable: the errno value

    bool ok() const { return fault == FileFault::None; }
    // The reason as the end of a sentence about the file: "does not exist",
    // "cannot be read (Permission denied)", "is a named pipe, not a file",
    // "is too large (70000 bytes, at most 65536)"; empty when ok.
    std::string message() const;
};

inline constexpr std::uint64_t kNoFileLimit = std::numeric_limits<std::uint64_t>::max();

// A whole file's bytes, or why it could not be had.
struct FileBytes {
    std::string bytes;
    FileProblem problem;
    bool ok() const { return problem.ok(); }
};

// Reads the whole regular file at path when it holds at most `limit` bytes
// (a file that grows past the limit while it is read is refused too).
FileBytes readRegularFile(const std::string& path, std::uint64_t limit = kNoFileLimit);

// Checks that path names a regular file of at most `limit` bytes that can be
// opened for reading, without reading it; *size (when given) gets its size.
FileProblem checkRegularFile(const std::string& path, std::uint64_t limit = kNoFileLimit,
                             std::uint64_t* size = nullptr);

// "a named pipe", "a folder", "a device", "a socket" for a st_mode that is
// not a regular file's.
std::string fileKindName(unsigned mode);

}  // namespace mvx::platform
