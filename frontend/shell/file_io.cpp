#include "shell/file_io.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "mvx/platform/regular_file.hpp"

namespace mvx::tool {
namespace fs = std::filesystem;

namespace {

void setError(std::string* error, const std::string& text)
{
    if (error != nullptr)
        *error = text;
}

std::string systemReason(int err)
{
    return std::generic_category().message(err);
}

// Read-only folders cannot have their entries removed; give the owner write
// permission on every folder below (and at) path first.  Links are not
// followed.
void makeFoldersWritable(const fs::path& path)
{
    std::error_code ignored;
    if (!fs::is_directory(fs::symlink_status(path, ignored)))
        return;
    fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ignored);
    for (fs::directory_iterator it(path, ignored), end; !ignored && it != end; it.increment(ignored)) {
        if (fs::is_directory(it->symlink_status(ignored)))
            makeFoldersWritable(it->path());
    }
}

}  // namespace

std::optional<std::string> readFileBytes(const std::string& path, std::string* error)
{
    platform::FileBytes file = platform::readRegularFile(path, kMaxFileBytes);
    if (!file.ok()) {
        setError(error, "cannot read '" + path + "': it " + file.problem.message());
        return std::nullopt;
    }
    return std::move(file.bytes);
}

bool writeFileBytes(const std::string& path, std::string_view bytes, std::string* error)
{
    if (::access(path.c_str(), F_OK) == 0 && ::access(path.c_str(), W_OK) != 0)
        ::unlink(path.c_str());   // read-only: replace rather than fail
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        setError(error, "cannot create '" + path + "': " + systemReason(errno));
        return false;
    }
    int err = 0;
    for (std::size_t done = 0; err == 0 && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            err = errno;
        else
            done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0 && err == 0)
        err = errno;
    if (err != 0) {
        ::unlink(path.c_str());
        setError(error, "cannot write '" + path + "': " + systemReason(err));
        return false;
    }
    return true;
}

bool makeExecutable(const std::string& path, std::string* error)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        setError(error, "cannot find '" + path + "': " + systemReason(errno));
        return false;
    }
    mode_t mode = st.st_mode & 07777;
    mode |= S_IXUSR;
    if ((mode & S_IRGRP) != 0)
        mode |= S_IXGRP;
    if ((mode & S_IROTH) != 0)
        mode |= S_IXOTH;
    if (::chmod(path.c_str(), mode) != 0) {
        setError(error, "cannot make '" + path + "' executable: " + systemReason(errno));
        return false;
    }
    return true;
}

bool emptyFolder(const std::string& folder, std::string* error)
{
    std::error_code code;
    if (!fs::is_directory(folder, code)) {
        setError(error, "'" + folder + "' is not a folder");
        return false;
    }
    makeFoldersWritable(folder);
    for (fs::directory_iterator it(folder, code), end; !code && it != end; it.increment(code)) {
        std::error_code removal;
        fs::remove_all(it->path(), removal);
    }
    if (!fs::is_empty(folder, code) || code) {
        setError(error, "cannot empty the folder '" + folder + "'");
        return false;
    }
    return true;
}

bool removeFolder(const std::string& folder, std::string* error)
{
    std::error_code code;
    if (!fs::exists(fs::symlink_status(folder, code)))
        return true;
    makeFoldersWritable(folder);
    fs::remove_all(folder, code);
    if (code || fs::exists(fs::symlink_status(folder, code))) {
        setError(error, "cannot remove the folder '" + folder + "'");
        return false;
    }
    return true;
}

bool fileExists(const std::string& path)
{
    std::error_code ignored;
    return fs::is_regular_file(path, ignored);
}

bool isFolder(const std::string& path)
{
    std::error_code ignored;
    return fs::is_directory(path, ignored);
}

}  // namespace mvx::tool
