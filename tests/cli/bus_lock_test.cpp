// Two mvxisp runs on one board folder at once: the second waits for the bus,
// then fails with 29 naming the first; run afterwards it passes, and the
// flash holds both runs' banks.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "cli_process.hpp"
#include "mvx/platform/bus_lock.hpp"
#include "mvxisp.h"

namespace mvx::test {
namespace {

// The process that holds the folder's lock, once one does (0 after about 20 s).
long waitForHolder(const std::string& folder)
{
    for (int tries = 0; tries < 1000; ++tries) {
        {
            // Taken for a moment only, so the run it looks for is not kept out.
            const auto probe = platform::BusLock::onPath(folder, {0, 1, nullptr});
            if (probe.outcome() == platform::BusLock::Outcome::Busy && probe.holderPid() > 0)
                return probe.holderPid();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return 0;
}

TEST(ConcurrentRuns, SecondProgramOnOneBoardFailsBusyThenPassesAndBothBanksStay)
{
    // The first run keeps the board longer than the second one waits.
    BoardFolder board("[board]\nhold_ms=4000\n");
    TempFolder firstScratch;
    TempFolder secondScratch;
    const std::string bank0 = patternBytes(kBank, 21);
    const std::string bank1 = patternBytes(kBank, 22);
    writeWholeFile(firstScratch.file("b0.bin"), bank0);
    writeWholeFile(secondScratch.file("b1.bin"), bank1);

    Outcome first;
    std::thread firstRun([&] { first = runMvxisp({"program", "--bank", "0=b0.bin"}, board.env(), firstScratch); });
    const long holder = waitForHolder(board.folder.path());
    const std::string holderCommand = readWholeFile("/proc/" + std::to_string(holder) + "/cmdline");
    const Outcome second = runMvxisp({"program", "--bank", "1=b1.bin"}, board.env(), secondScratch);
    firstRun.join();

    ASSERT_NE(holder, 0);
    EXPECT_NE(holderCommand.find("mvxisp"), std::string::npos) << holderCommand;
    EXPECT_EQ(first.status, 0) << first.err;
    EXPECT_EQ(second.status, MVX_ERR_BUS_BUSY) << second.err;
    EXPECT_EQ(countOf(second.err, "The bus is busy: process " + std::to_string(holder) + " is running ISP on it!!\n"),
              1)
        << second.err;
    EXPECT_EQ(countOf(second.err, "Result 29: the bus is in use by another run"), 1) << second.err;
    EXPECT_EQ(countOf(second.err, "Bank 1"), 0) << second.err;

    writeWholeFile(board.folder.file("board.ini"), "");
    const Outcome again = runMvxisp({"program", "--bank", "1=b1.bin"}, board.env(), secondScratch);
    EXPECT_EQ(again.status, 0) << again.err;
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), kFlashBytes);
    EXPECT_TRUE(flash.substr(0, kBank) == bank0);
    EXPECT_TRUE(flash.substr(kBank, kBank) == bank1);
    EXPECT_EQ(flash.substr(2 * kBank), std::string(kFlashBytes - 2 * kBank, '\xFF'));
}

}  // namespace
}  // namespace mvx::test
