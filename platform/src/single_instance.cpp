#include "mvx/platform/single_instance.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "mvx/platform/paths.hpp"

namespace mvx::platform {
namespace {

constexpr std::string_view kRaisePrefix = "raise\t";
constexpr std::size_t kMaxRequestBytes = 4096;

bool fillAddress(const std::string& path, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

// Reads one request from an accepted connection, waiting briefly for the
// writer; answers the title or nothing.
bool readRequest(int fd, std::string& title)
{
    std::string data;
    char buffer[512];
    while (data.size() < kMaxRequestBytes) {
        pollfd waiting{fd, POLLIN, 0};
        if (::poll(&waiting, 1, 500) <= 0)
            break;
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            break;
        data.append(buffer, static_cast<std::size_t>(got));
        if (data.find('\n') != std::string::npos)
            break;
    }
    const auto end = data.find('\n');
    if (end == std::string::npos || data.compare(0, kRaisePrefix.size(), kRaisePrefix) != 0)
        return false;
    title = data.substr(kRaisePrefix.size(), end - kRaisePrefix.size());
    return true;
}

}  // namespace

SingleInstance::SingleInstance(std::string name, std::string folder)
    : name_(std::move(name)), folder_(folder.empty() ? runtimeFolder() : std::move(folder))
{
}

SingleInstance::~SingleInstance()
{
    if (listenFd_ >= 0) {
        ::close(listenFd_);
        if (owner_)
            ::unlink(socketPath().c_str());
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);   // releases the flock
}

std::string SingleInstance::lockPath() const
{
    return joinPath(folder_, name_ + "-" + std::to_string(::getuid()) + ".lock");
}

std::string SingleInstance::socketPath() const
{
    return joinPath(folder_, name_ + "-" + std::to_string(::getuid()) + ".sock");
}

SingleInstance::Outcome SingleInstance::acquire()
{
    if (owner_)
        return Outcome::First;
    if (lockFd_ < 0) {
        lockFd_ = ::open(lockPath().c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        if (lockFd_ < 0) {
            error_ = systemError("cannot open lock file " + lockPath());
            return Outcome::Error;
        }
    }
    if (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK)
            return Outcome::AlreadyRunning;
        error_ = systemError("cannot lock " + lockPath());
        return Outcome::Error;
    }
    owner_ = true;
    startListening();
    return Outcome::First;
}

void SingleInstance::startListening()
{
    // Without the socket the lock still holds; only raise requests are lost.
    sockaddr_un address;
    const std::string path = socketPath();
    if (!fillAddress(path, address)) {
        error_ = "socket path too long: " + path;
        return;
    }
    ::unlink(path.c_str());   // left behind by an instance that crashed
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error_ = systemError("cannot create socket");
        return;
    }
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 8) != 0) {
        error_ = systemError("cannot listen on " + path);
        ::close(fd);
        return;
    }
    listenFd_ = fd;
}

bool SingleInstance::requestRaise(std::string_view title) const
{
    sockaddr_un address;
    if (!fillAddress(socketPath(), address))
        return false;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    bool delivered = false;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
        std::string request(kRaisePrefix);
        for (char c : title)
            request.push_back(c == '\n' || c == '\r' ? ' ' : c);
        request.push_back('\n');
        std::size_t sent = 0;
        while (sent < request.size()) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += static_cast<std::size_t>(n);
        }
        delivered = sent == request.size();
    }
    ::close(fd);
    return delivered;
}

std::vector<std::string> SingleInstance::takeRaiseRequests()
{
    std::vector<std::string> titles;
    if (listenFd_ < 0)
        return titles;
    for (;;) {
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            break;
        std::string title;
        if (readRequest(fd, title))
            titles.push_back(std::move(title));
        ::close(fd);
    }
    return titles;
}

}  // namespace mvx::platform
