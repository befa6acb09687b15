// Replacing a file so that a crash or a full disk never leaves it half
// written: the bytes go to a temporary file in the same folder, are flushed to
// the disk, and the temporary file is renamed over the target.  On any failure
// the temporary file is removed and the target is left as it was.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mvx::platform {

// nullopt on success, else a message naming the file ("cannot write <what>
// '<path>': <reason>").  A replaced file keeps its permission bits; a symbolic
// link stays a link and the file it points at is replaced.
std::optional<std::string> replaceFileAtomically(const std::string& path, std::string_view bytes,
                                                 std::string_view what = "file");

}  // namespace mvx::platform
