// Ctrl-C, SIGTERM and SIGHUP for the whole of an mvxisp command.
//
// The three signals are blocked in every thread and taken by one watcher
// thread.  While an engine run is in progress (a HoldBack) an interrupt is
// only noted: a run stopped half-way can leave a monitor with half its
// firmware, so the command looks at it between runs.  At any other moment
// (opening or reading files, unpacking an ISP file, waiting on a slow output
// pipe or a log file) the command ends at once: the paths registered with
// removeOnInterrupt are removed and the process ends by the signal itself
// (status 128 + signal to a shell: 130 for Ctrl-C, 143 for SIGTERM).
// Signals that were ignored when mvxisp started stay ignored.
#pragma once

#include <csignal>
#include <mutex>
#include <set>
#include <string>
#include <thread>

namespace mvx::cli {

class InterruptWatch {
public:
    // Blocks the signals in the calling thread (and so in every thread it
    // starts later) and starts the watcher.  Construct it before any other
    // thread exists.
    InterruptWatch();
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

    // False when the watcher could not be set up (signals keep their
    // ordinary effect then).
    bool active() const { return thread_.joinable(); }

    // Interrupts are held back from holdBack() until the matching release().
    void holdBack();
    void release();
    // The first interrupt that arrived while held back (0: none); cleared
    // when the last hold is released.
    int heldSignal() const;

    // A file or folder removed, with everything in it, before the command
    // ends on an interrupt; keep() takes it off the list again.
    void removeOnInterrupt(const std::string& path);
    void keep(const std::string& path);

    // A stretch of file work an interrupt waits for before it removes
    // anything, so that nothing is written into a folder after its removal.
    // Keep it short and free of waits on anything outside the machine.
    std::unique_lock<std::mutex> fileWork() { return std::unique_lock<std::mutex>(workMutex_); }

private:
    void watch();
    void endBy(int signal);

    sigset_t signals_{};
    sigset_t previousMask_{};
    int signalFd_ = -1;
    int wakeFd_ = -1;
    std::mutex workMutex_;
    mutable std::mutex stateMutex_;
    int holds_ = 0;
    int held_ = 0;
    std::set<std::string> removals_;
    std::thread thread_;
};

}  // namespace mvx::cli
