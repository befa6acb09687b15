#include "mvx/platform/regular_file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace mvx::platform {

namespace {

FileProblem systemProblem(int err)
{
    FileProblem problem;
    problem.fault = err == ENOENT || err == ENOTDIR ? FileFault::Missing : FileFault::Unreadable;
    problem.systemError = err;
    return problem;
}

FileProblem notRegular(unsigned mode)
{
    FileProblem problem;
    problem.fault = FileFault::NotRegular;
    problem.what = fileKindName(mode);
    problem.mode = mode;
    return problem;
}

FileProblem tooLarge(std::uint64_t size, std::uint64_t limit)
{
    FileProblem problem;
    problem.fault = FileFault::TooLarge;
    problem.size = size;
    problem.limit = limit;
    return problem;
}

// An open regular file; closes itself.
class OpenFile {
public:
    OpenFile() = default;
    ~OpenFile()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    // Looks at the path before opening it, so that a device is never opened
    // (opening some has side effects), then opens without blocking and
    // checks the opened file again.
    FileProblem open(const std::string& path, std::uint64_t limit)
    {
        struct stat info {};
        if (path.empty())
            return systemProblem(ENOENT);
        if (::stat(path.c_str(), &info) != 0)
            return systemProblem(errno);
        if (!S_ISREG(info.st_mode))
            return notRegular(info.st_mode);
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd_ < 0)
            return systemProblem(errno);
        if (::fstat(fd_, &info) != 0)
            return systemProblem(errno);
        if (!S_ISREG(info.st_mode))
            return notRegular(info.st_mode);
        size_ = static_cast<std::uint64_t>(std::max<off_t>(info.st_size, 0));
        if (size_ > limit)
            return tooLarge(size_, limit);
        return {};
    }

    int fd() const { return fd_; }
    std::uint64_t size() const { return size_; }

private:
    int fd_ = -1;
    std::uint64_t size_ = 0;
};

}  // namespace

std::string fileKindName(unsigned mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a named pipe";
    case S_IFCHR:
    case S_IFBLK: return "a device";
    case S_IFSOCK: return "a socket";
    case S_IFREG: return "a file";
    default: return "not a plain file";
    }
}

std::string FileProblem::message() const
{
    switch (fault) {
    case FileFault::None: return {};
    case FileFault::Missing: return "does not exist";
    case FileFault::Unreadable:
        return "cannot be read (" + std::generic_category().message(systemError) + ")";
    case FileFault::NotRegular: return "is " + what + ", not a file";
    case FileFault::TooLarge:
        return "is too large (" + std::to_string(size) + " bytes, at most " + std::to_string(limit) + ")";
    }
    return {};
}

FileProblem checkRegularFile(const std::string& path, std::uint64_t limit, std::uint64_t* size)
{
    OpenFile file;
    FileProblem problem = file.open(path, limit);
    if (size != nullptr)
        *size = file.size();
    return problem;
}

FileBytes readRegularFile(const std::string& path, std::uint64_t limit)
{
    FileBytes result;
    OpenFile file;
    result.problem = file.open(path, limit);
    if (!result.ok())
        return result;
    // One byte more than the limit tells a file that grew after fstat.
    const std::uint64_t room = limit == kNoFileLimit ? limit : limit + 1;
    std::string& bytes = result.bytes;
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(file.size() + 1, room)));
    std::size_t done = 0;
    for (;;) {
        if (done == bytes.size()) {
            if (done >= room)
                break;
            bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(done + 65536, room)));
        }
        const ssize_t count = ::read(file.fd(), bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0) {
            result.problem = systemProblem(errno);
            result.bytes.clear();
            return result;
        }
        if (count == 0)
            break;
        done += static_cast<std::size_t>(count);
    }
    bytes.resize(done);
    if (done > limit) {
        result.problem = tooLarge(std::max<std::uint64_t>(done, file.size()), limit);
        result.bytes.clear();
    }
    return result;
}

}  // namespace mvx::platform
