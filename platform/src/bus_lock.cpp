#include "mvx/platform/bus_lock.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <utility>

#include "mvx/platform/paths.hpp"

namespace mvx::platform {
namespace {

std::string systemError(const std::string& what, int error)
{
    return what + ": " + std::strerror(error);
}

// "fe:00:10953090" -> device and inode; false when the field has another shape.
bool parseDeviceInode(std::string_view field, unsigned& major, unsigned& minor, unsigned long long& inode)
{
    const auto first = field.find(':');
    const auto second = field.find(':', first == std::string_view::npos ? first : first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos)
        return false;
    const char* begin = field.data();
    const auto parse = [&](std::size_t from, std::size_t to, auto& value, int base) {
        const auto [end, code] = std::from_chars(begin + from, begin + to, value, base);
        return code == std::errc() && end == begin + to && from < to;
    };
    return parse(0, first, major, 16) && parse(first + 1, second, minor, 16) &&
           parse(second + 1, field.size(), inode, 10);
}

std::string readProcLocks()
{
    std::ifstream in("/proc/locks");
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

long holderOf(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return 0;
    return flockHolderIn(readProcLocks(), info.st_dev, info.st_ino);
}

}  // namespace

long flockHolderIn(std::string_view procLocks, dev_t device, ino_t inode)
{
    std::istringstream lines{std::string(procLocks)};
    std::string line;
    while (std::getline(lines, line)) {
        // "1: FLOCK  ADVISORY  WRITE 1234 fe:00:10953090 0 EOF"; a waiter's
        // line has "->" after the number and is not the holder.
        std::istringstream words(line);
        std::string number, kind, mode, access, pid, where;
        if (!(words >> number >> kind) || kind != "FLOCK" || !(words >> mode >> access >> pid >> where))
            continue;
        unsigned major = 0, minor = 0;
        unsigned long long node = 0;
        if (!parseDeviceInode(where, major, minor, node))
            continue;
        if (major != ::major(device) || minor != ::minor(device) || node != inode)
            continue;
        long holder = 0;
        const auto [end, code] = std::from_chars(pid.data(), pid.data() + pid.size(), holder);
        if (code == std::errc() && end == pid.data() + pid.size() && holder > 0)
            return holder;
    }
    return 0;
}

std::string busLockFilePath(std::string_view identity, std::string_view folder)
{
    std::string name = "mvxisp-bus-";
    for (char c : identity) {
        const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
                           c == '_' || c == '-';
        name.push_back(plain ? c : '_');
    }
    name += ".lock";
    return joinPath(folder, name);
}

BusLock::~BusLock()
{
    release();
}

BusLock::BusLock(BusLock&& other) noexcept
    : outcome_(std::exchange(other.outcome_, Outcome::None)),
      fd_(std::exchange(other.fd_, -1)),
      holderPid_(other.holderPid_),
      path_(std::move(other.path_)),
      error_(std::move(other.error_))
{
}

BusLock& BusLock::operator=(BusLock&& other) noexcept
{
    if (this != &other) {
        release();
        outcome_ = std::exchange(other.outcome_, Outcome::None);
        fd_ = std::exchange(other.fd_, -1);
        holderPid_ = other.holderPid_;
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

void BusLock::release()
{
    if (fd_ >= 0)
        ::close(fd_);   // gives the flock up
    fd_ = -1;
    if (outcome_ == Outcome::Held)
        outcome_ = Outcome::None;
}

BusLock BusLock::onPath(const std::string& path, const BusLockWait& wait)
{
    // Read-only is enough for flock and works for folders and for device
    // nodes the user may only read; O_NONBLOCK keeps a FIFO from hanging the open.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        BusLock failed;
        failed.outcome_ = Outcome::Error;
        failed.path_ = path;
        failed.error_ = systemError("cannot open " + path + " to lock it", errno);
        return failed;
    }
    return acquire(path, fd, wait);
}

BusLock BusLock::onIdentity(std::string_view identity, const BusLockWait& wait, const std::string& folder)
{
    std::string path = busLockFilePath(identity, folder.empty() ? runtimeFolder() : folder);
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        BusLock failed;
        failed.outcome_ = Outcome::Error;
        failed.error_ = systemError("cannot create lock file " + path, errno);
        failed.path_ = std::move(path);
        return failed;
    }
    return acquire(std::move(path), fd, wait);
}

BusLock BusLock::acquire(std::string path, int fd, const BusLockWait& wait)
{
    Clock& clock = wait.clock != nullptr ? *wait.clock : systemClock();
    BusLock lock;
    lock.path_ = std::move(path);
    lock.fd_ = fd;
    const std::uint64_t start = clock.nowMicros();
    const std::uint64_t bound = std::uint64_t{wait.boundMillis} * 1000u;
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            lock.outcome_ = Outcome::Held;
            return lock;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EWOULDBLOCK) {
            lock.outcome_ = Outcome::Error;
            lock.error_ = systemError("cannot lock " + lock.path_, error);
            break;
        }
        if (clock.nowMicros() - start >= bound) {
            lock.outcome_ = Outcome::Busy;
            lock.holderPid_ = holderOf(fd);
            lock.error_ = lock.path_ + " is in use by " +
                          (lock.holderPid_ > 0 ? "process " + std::to_string(lock.holderPid_)
                                               : std::string("another process"));
            break;
        }
        clock.sleepMillis(wait.pollMillis);
    }
    ::close(fd);
    lock.fd_ = -1;
    return lock;
}

}  // namespace mvx::platform
