#include "mvx/platform/bus_lock.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>

#include "temp_folder.hpp"

using mvx::platform::BusLock;
using mvx::platform::BusLockWait;
using Outcome = BusLock::Outcome;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

// Time that moves only when the waiter sleeps; onSleep runs after each sleep.
struct FakeClock final : mvx::platform::Clock {
    std::uint64_t now = 1'000'000;
    int sleeps = 0;
    std::function<void(int)> onSleep;
    std::uint64_t nowMicros() override { return now; }
    void sleepMicros(std::uint64_t micros) override
    {
        now += micros;
        ++sleeps;
        if (onSleep)
            onSleep(sleeps);
    }
};

BusLockWait waitOn(FakeClock& clock, std::uint32_t boundMillis = 2000)
{
    return BusLockWait{boundMillis, 25, &clock};
}

}  // namespace

TEST(BusLock, IdentityLockFileIsHeldUntilReleased)
{
    TempFolder folder;
    FakeClock clock;
    BusLock first = BusLock::onIdentity("usb bridge 001/004", waitOn(clock), folder.path());
    ASSERT_TRUE(first.held()) << first.error();
    EXPECT_EQ(first.path(), folder.file("mvxisp-bus-usb_bridge_001_004.lock"));
    EXPECT_TRUE(std::filesystem::is_regular_file(first.path()));

    EXPECT_EQ(BusLock::onIdentity("usb bridge 001/004", waitOn(clock, 0), folder.path()).outcome(), Outcome::Busy);
    EXPECT_TRUE(BusLock::onIdentity("usb bridge 001/005", waitOn(clock, 0), folder.path()).held());

    BusLock moved = std::move(first);
    EXPECT_TRUE(moved.held());
    moved.release();
    EXPECT_FALSE(moved.held());
    EXPECT_TRUE(BusLock::onIdentity("usb bridge 001/004", waitOn(clock, 0), folder.path()).held());
}

// The same rules for a lock file, a folder (a virtual board's) and a device node.
TEST(BusLock, SecondHolderWaitsTheBoundThenNamesTheHolder)
{
    TempFolder folder;
    const std::string board = folder.file("board");
    std::filesystem::create_directory(board);
    struct Target {
        const char* what;
        std::function<BusLock(const BusLockWait&)> lock;
    };
    const Target targets[] = {
        {"identity", [&](const BusLockWait& w) { return BusLock::onIdentity("ftdi usb 003/007", w, folder.path()); }},
        {"folder", [&](const BusLockWait& w) { return BusLock::onPath(board, w); }},
        {"device node", [&](const BusLockWait& w) { return BusLock::onPath("/dev/null", w); }},
    };
    for (const Target& target : targets) {
        SCOPED_TRACE(target.what);
        FakeClock clock;
        const BusLock holder = target.lock(waitOn(clock));
        ASSERT_TRUE(holder.held()) << holder.error();
        ASSERT_EQ(clock.sleeps, 0);

        const std::uint64_t start = clock.now;
        const BusLock waiter = target.lock(waitOn(clock));
        EXPECT_EQ(waiter.outcome(), Outcome::Busy);
        EXPECT_GE(clock.now - start, 2'000'000u);
        EXPECT_LT(clock.now - start, 2'025'000u + 1);
        EXPECT_EQ(waiter.holderPid(), static_cast<long>(::getpid()));
        EXPECT_EQ(waiter.error(), holder.path() + " is in use by process " + std::to_string(::getpid()));
    }
}

TEST(BusLock, AnotherProcessIsNamedAsTheHolder)
{
    TempFolder folder;
    int ready[2];
    int done[2];
    ASSERT_EQ(::pipe(ready), 0);
    ASSERT_EQ(::pipe(done), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(ready[0]);
        ::close(done[1]);
        const BusLock held = BusLock::onPath(folder.path());
        const char byte = held.held() ? 'y' : 'n';
        (void)!::write(ready[1], &byte, 1);
        char ignored;
        (void)!::read(done[0], &ignored, 1);   // until the parent closes its end
        ::_exit(0);
    }
    ::close(ready[1]);
    ::close(done[0]);
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    EXPECT_EQ(byte, 'y');

    FakeClock clock;
    const BusLock waiter = BusLock::onPath(folder.path(), waitOn(clock, 100));
    EXPECT_EQ(waiter.outcome(), Outcome::Busy);
    EXPECT_EQ(waiter.holderPid(), static_cast<long>(child));

    ::close(done[1]);
    ::close(ready[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(BusLock::onPath(folder.path(), waitOn(clock, 0)).held());
}

TEST(BusLock, WaiterTakesTheLockOnceItIsReleased)
{
    TempFolder folder;
    FakeClock clock;
    BusLock holder = BusLock::onIdentity("parport", waitOn(clock), folder.path());
    ASSERT_TRUE(holder.held());
    clock.onSleep = [&](int sleeps) {
        if (sleeps == 3)
            holder.release();
    };
    const BusLock waiter = BusLock::onIdentity("parport", waitOn(clock), folder.path());
    EXPECT_TRUE(waiter.held()) << waiter.error();
    EXPECT_EQ(clock.sleeps, 3);
}

TEST(BusLock, WhatCannotBeLockedIsAClearError)
{
    TempFolder folder;
    writeWholeFile(folder.file("plain"), "x");
    FakeClock clock;
    // A runtime folder that cannot hold the lock file, and a device that is not there.
    const BusLock noFolder = BusLock::onIdentity("usb 001/002", waitOn(clock), folder.file("plain/sub"));
    EXPECT_EQ(noFolder.outcome(), Outcome::Error);
    EXPECT_EQ(noFolder.error().rfind("cannot create lock file " + folder.file("plain/sub/"), 0), 0u)
        << noFolder.error();
    const BusLock noDevice = BusLock::onPath(folder.file("parport9"), waitOn(clock));
    EXPECT_EQ(noDevice.outcome(), Outcome::Error);
    EXPECT_NE(noDevice.error().find("No such file"), std::string::npos) << noDevice.error();
    EXPECT_EQ(clock.sleeps, 0);
    EXPECT_FALSE(std::filesystem::exists(folder.file("parport9")));
}

TEST(BusLock, HolderIsFoundByDeviceAndInodeInProcLocks)
{
    const std::string locks =
        "1: POSIX  ADVISORY  WRITE 11 fe:00:500 0 EOF\n"
        "2: FLOCK  ADVISORY  WRITE 22 fe:01:500 0 EOF\n"
        "3: FLOCK  ADVISORY  WRITE 33 fe:00:500 0 EOF\n"
        "3: -> FLOCK  ADVISORY  WRITE 44 fe:00:500 0 EOF\n"
        "4: FLOCK  ADVISORY  WRITE 55 b3:10:77 0 EOF\n";
    EXPECT_EQ(mvx::platform::flockHolderIn(locks, makedev(0xfe, 0), 500), 33);
    EXPECT_EQ(mvx::platform::flockHolderIn(locks, makedev(0xb3, 0x10), 77), 55);
    EXPECT_EQ(mvx::platform::flockHolderIn(locks, makedev(0xfe, 0), 501), 0);
    EXPECT_EQ(mvx::platform::flockHolderIn("garbage\n\n1: FLOCK x", makedev(0xfe, 0), 500), 0);
}
