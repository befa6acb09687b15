#include "mvx/platform/atomic_file.hpp"

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <system_error>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mvx::platform {
namespace {

std::string failure(const std::string& what, const std::string& path, int err) {
    return what + " '" + path + "': " + std::generic_category().message(err);
}

// Eight base-36 characters for a temporary name.  O_EXCL decides whether a
// name is free; this only has to make clashes unlikely.
std::string tempSuffix(unsigned attempt) {
    std::uint64_t x = static_cast<std::uint64_t>(
                          std::chrono::steady_clock::now().time_since_epoch().count()) ^
                      (static_cast<std::uint64_t>(::getpid()) << 32) ^
                      (static_cast<std::uint64_t>(attempt) * 0x9E3779B97F4A7C15ull);
    x ^= x >> 30;
    x *= 0xBF58476D1CE4E5B9ull;
    x ^= x >> 27;
    x *= 0x94D049BB133111EBull;
    x ^= x >> 31;
    std::string out;
    for (int i = 0; i < 8; ++i, x /= 36) out += "0123456789abcdefghijklmnopqrstuvwxyz"[x % 36];
    return out;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

// Writes text to a temporary file next to path and renames it over path.  On
// any failure the temporary file is removed and path is left as it was.
std::optional<std::string> replaceFileAtomically(const std::string& path, std::string_view text,
                                                 std::string_view what) {
    if (path.empty()) return "cannot write a " + std::string(what) + " with an empty path";

    // A symbolic link stays a link: the file it points at is the one replaced.
    std::string target = path;
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(path.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    // A folder at the path makes the rename fail (EISDIR) further down; other
    // kinds of file (devices, FIFOs) are not replaced at all.
    bool exists = false;
    if (::stat(target.c_str(), &st) == 0) {
        exists = S_ISREG(st.st_mode);
        if (!exists && !S_ISDIR(st.st_mode)) {
            return failure("cannot write " + std::string(what), path, EINVAL);
        }
    }

    std::string temp;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp" + tempSuffix(attempt);
        // A new file gets the usual 0666 less the umask; a replaced file gets
        // its predecessor's permission bits below.
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW,
                    exists ? 0600 : 0666);
        if (fd < 0 && errno != EEXIST) break;
    }
    if (fd < 0) return failure("cannot create a temporary file next to", path, errno);

    int err = 0;
    if (exists && ::fchmod(fd, st.st_mode & 07777) != 0) err = errno;
    for (std::size_t done = 0; err == 0 && done < text.size();) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            err = errno;
        } else {
            done += static_cast<std::size_t>(n);
        }
    }
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (::close(fd) != 0 && err == 0) err = errno;
    if (err == 0 && ::rename(temp.c_str(), target.c_str()) != 0) err = errno;
    if (err != 0) {
        ::unlink(temp.c_str());
        return failure("cannot write " + std::string(what), path, err);
    }

    // Make the rename itself durable.  The new contents are already complete
    // either way, so a failure here is not reported.
    const int folder = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        ::fsync(folder);
        ::close(folder);
    }
    return std::nullopt;
}

}  // namespace mvx::platform
