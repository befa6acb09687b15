#include "interrupts.hpp"

#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace mvx::cli {

namespace {

constexpr int kWatched[] = {SIGINT, SIGTERM, SIGHUP};

// One line on stderr when it can be written without waiting (stderr may be
// the very pipe nobody reads).
void tellInterrupted()
{
    constexpr std::string_view kLine = "mvxisp: interrupted\n";
    pollfd target{STDERR_FILENO, POLLOUT, 0};
    if (::poll(&target, 1, 0) == 1 && (target.revents & POLLOUT) != 0) {
        const ssize_t ignored = ::write(STDERR_FILENO, kLine.data(), kLine.size());
        (void)ignored;
    }
}

}  // namespace

InterruptWatch::InterruptWatch()
{
    sigemptyset(&signals_);
    for (const int signal : kWatched) {
        struct sigaction current {};
        if (::sigaction(signal, nullptr, &current) == 0 && current.sa_handler != SIG_IGN)
            sigaddset(&signals_, signal);
    }
    if (pthread_sigmask(SIG_BLOCK, &signals_, &previousMask_) != 0)
        return;
    signalFd_ = ::signalfd(-1, &signals_, SFD_CLOEXEC);
    wakeFd_ = ::eventfd(0, EFD_CLOEXEC);
    if (signalFd_ < 0 || wakeFd_ < 0) {
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
        return;
    }
    try {
        thread_ = std::thread([this] { watch(); });
    } catch (const std::system_error&) {
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
}

InterruptWatch::~InterruptWatch()
{
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        const ssize_t ignored = ::write(wakeFd_, &one, sizeof one);
        (void)ignored;
        thread_.join();
        // An interrupt that came after the watcher stopped takes its
        // ordinary effect here.
        pthread_sigmask(SIG_SETMASK, &previousMask_, nullptr);
    }
    if (signalFd_ >= 0)
        ::close(signalFd_);
    if (wakeFd_ >= 0)
        ::close(wakeFd_);
}

void InterruptWatch::holdBack()
{
    const std::lock_guard state(stateMutex_);
    ++holds_;
}

void InterruptWatch::release()
{
    const std::lock_guard state(stateMutex_);
    if (holds_ > 0 && --holds_ == 0)
        held_ = 0;
}

int InterruptWatch::heldSignal() const
{
    const std::lock_guard state(stateMutex_);
    return held_;
}

void InterruptWatch::removeOnInterrupt(const std::string& path)
{
    const std::lock_guard state(stateMutex_);
    removals_.insert(path);
}

void InterruptWatch::keep(const std::string& path)
{
    const std::lock_guard state(stateMutex_);
    removals_.erase(path);
}

void InterruptWatch::watch()
{
    for (;;) {
        pollfd sources[2] = {{signalFd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
        if (::poll(sources, 2, -1) < 0)
            continue;
        if ((sources[1].revents & POLLIN) != 0)
            return;
        signalfd_siginfo info{};
        if (::read(signalFd_, &info, sizeof info) != static_cast<ssize_t>(sizeof info))
            continue;
        const int signal = static_cast<int>(info.ssi_signo);
        // Wait for file work in progress, then decide.
        const std::lock_guard work(workMutex_);
        std::unique_lock state(stateMutex_);
        if (holds_ > 0) {
            if (held_ == 0)
                held_ = signal;
            continue;
        }
        for (const std::string& path : removals_) {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
        tellInterrupted();
        endBy(signal);
    }
}

// Ends the process by the signal itself, so that the shell or script that
// started mvxisp sees an interrupted program.  Runs on the watcher thread
// with the file-work lock held, so the main thread writes nothing more.
void InterruptWatch::endBy(int signal)
{
    ::signal(signal, SIG_DFL);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    ::raise(signal);   // pending for this thread until it is unblocked
    pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    // Not reached: the default action of these signals ends the process.
    ::_exit(128 + signal);
}

}  // namespace mvx::cli
