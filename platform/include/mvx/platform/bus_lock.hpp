// One run per bus: an exclusive advisory lock (flock) on what a run drives,
// held from before the first bus access to the end of the run.
//
// Two kinds of target:
//   - a path that exists (a device node such as /dev/parport0 or /dev/i2c-3,
//     or a folder such as a virtual board's): the path itself is locked, so
//     every user of the machine sees the lock;
//   - an identity that has no node of its own ("ftdi usb 001/004", "usb bridge
//     001/005"): a lock file <runtime folder>/mvxisp-bus-<identity>.lock,
//     where the identity's characters outside [A-Za-z0-9._-] become '_'.
//
// A run that finds the lock taken tries again every poll interval until the
// bound has passed, then gives up and names the process that holds it (found
// in /proc/locks by the file's device and inode, so it works for device nodes
// too).  Locks belong to the open file description: a second lock of the same
// target in the same process conflicts like one from another process.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "mvx/platform/clock.hpp"

namespace mvx::platform {

struct BusLockWait {
    std::uint32_t boundMillis = 2000;   // how long a run waits for a busy bus
    std::uint32_t pollMillis = 25;      // between two attempts
    Clock* clock = nullptr;             // nullptr: the system clock
};

class BusLock {
public:
    enum class Outcome { None, Held, Busy, Error };

    BusLock() = default;   // holds nothing
    ~BusLock();
    BusLock(BusLock&& other) noexcept;
    BusLock& operator=(BusLock&& other) noexcept;
    BusLock(const BusLock&) = delete;
    BusLock& operator=(const BusLock&) = delete;

    // Locks the path itself; it must exist (a folder is opened read-only).
    static BusLock onPath(const std::string& path, const BusLockWait& wait = {});
    // Locks the identity's lock file in folder (empty: the runtime folder),
    // created when missing.
    static BusLock onIdentity(std::string_view identity, const BusLockWait& wait = {},
                              const std::string& folder = {});

    bool held() const { return outcome_ == Outcome::Held; }
    Outcome outcome() const { return outcome_; }
    // Busy: the process holding the lock, 0 when it cannot be found.
    long holderPid() const { return holderPid_; }
    // The file that is (or was to be) locked.
    const std::string& path() const { return path_; }
    // Busy or Error: what went wrong, in words ("/dev/parport0 is in use by
    // process 1234", "cannot create lock file ...: Permission denied").
    const std::string& error() const { return error_; }

    // Gives the lock up now (the destructor does the same).
    void release();

private:
    static BusLock acquire(std::string path, int fd, const BusLockWait& wait);

    Outcome outcome_ = Outcome::None;
    int fd_ = -1;
    long holderPid_ = 0;
    std::string path_;
    std::string error_;
};

// The lock file of an identity in folder.
std::string busLockFilePath(std::string_view identity, std::string_view folder);

// The PID of the flock holder of the file (device, inode) in the text of
// /proc/locks; 0 when there is none.
long flockHolderIn(std::string_view procLocks, dev_t device, ino_t inode);

}  // namespace mvx::platform
