// Whole-file reads and writes and folder clean-up for the shell.  Every
// function reports a failure as false / nullopt with the reason in *error.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace mvx::tool {

// Files larger than this are refused instead of being read into memory.
inline constexpr std::uint64_t kMaxFileBytes = std::uint64_t{1} << 30;

// The bytes of a regular file (never waiting on a pipe or device); nullopt
// when it is missing, not a regular file, larger than kMaxFileBytes or
// unreadable, *error saying which.
std::optional<std::string> readFileBytes(const std::string& path, std::string* error = nullptr);

// Creates or truncates path and writes bytes (an existing file without write
// permission is removed first).  A partly written file is removed.
bool writeFileBytes(const std::string& path, std::string_view bytes, std::string* error = nullptr);

// Gives the owner execute permission (and read/execute to group and others
// when they may read).
bool makeExecutable(const std::string& path, std::string* error = nullptr);

// Removes everything inside folder (sub-folders too, including read-only
// ones) and keeps the folder.  True when folder is empty afterwards.
bool emptyFolder(const std::string& folder, std::string* error = nullptr);
// Removes folder with everything in it; true when it is gone.
bool removeFolder(const std::string& folder, std::string* error = nullptr);

bool fileExists(const std::string& path);
bool isFolder(const std::string& path);

}  // namespace mvx::tool
