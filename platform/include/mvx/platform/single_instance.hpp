// One running tool per user: a lock file held with flock for the life of the
// process, and a local socket beside it through which a later instance asks
// the first one to raise its window.
//
//   <runtime folder>/<name>.lock   held by the first instance
//   <runtime folder>/<name>.sock   the first instance listens here
//
// A request is one line, "raise\t<window title>\n".
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace mvx::platform {

class SingleInstance {
public:
    enum class Outcome { First, AlreadyRunning, Error };

    explicit SingleInstance(std::string name = "MVX_ISP", std::string folder = {});
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // Takes the lock.  First: this process is the only one and now listens
    // for raise requests.  AlreadyRunning: another process holds the lock.
    Outcome acquire();

    // Asks the instance that holds the lock to raise the window with this
    // title.  True when the request was delivered.
    bool requestRaise(std::string_view title) const;

    // The listening socket (for a socket notifier), or -1.
    int listenFd() const { return listenFd_; }
    // Accepts every pending request without blocking and returns the titles.
    std::vector<std::string> takeRaiseRequests();

    const std::string& error() const { return error_; }
    std::string lockPath() const;
    std::string socketPath() const;

private:
    void startListening();

    std::string name_;
    std::string folder_;
    int lockFd_ = -1;
    int listenFd_ = -1;
    bool owner_ = false;
    std::string error_;
};

}  // namespace mvx::platform
