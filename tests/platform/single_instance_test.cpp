#include "mvx/platform/single_instance.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "temp_folder.hpp"

using mvx::platform::SingleInstance;
using Outcome = SingleInstance::Outcome;
using mvx::test::TempFolder;

TEST(SingleInstance, SecondInstanceSeesTheFirstUntilItEnds)
{
    TempFolder folder;
    auto first = std::make_unique<SingleInstance>("MVX_ISP", folder.path());
    ASSERT_EQ(first->acquire(), Outcome::First) << first->error();
    {
        SingleInstance second("MVX_ISP", folder.path());
        EXPECT_EQ(second.acquire(), Outcome::AlreadyRunning);
    }
    first.reset();
    SingleInstance third("MVX_ISP", folder.path());
    EXPECT_EQ(third.acquire(), Outcome::First);
}

TEST(SingleInstance, AnotherProcessIsRefusedWhileTheLockIsHeld)
{
    TempFolder folder;
    SingleInstance first("MVX_ISP", folder.path());
    ASSERT_EQ(first.acquire(), Outcome::First);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SingleInstance other("MVX_ISP", folder.path());
        ::_exit(other.acquire() == Outcome::AlreadyRunning ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(SingleInstance, RaiseRequestCarriesTheTitleToTheFirstInstance)
{
    TempFolder folder;
    SingleInstance first("MVX_ISP", folder.path());
    ASSERT_EQ(first.acquire(), Outcome::First);
    ASSERT_GE(first.listenFd(), 0) << first.error();
    EXPECT_TRUE(first.takeRaiseRequests().empty());

    SingleInstance second("MVX_ISP", folder.path());
    ASSERT_EQ(second.acquire(), Outcome::AlreadyRunning);
    EXPECT_TRUE(second.requestRaise("Line 3 \xC3\xA9 tool"));
    EXPECT_TRUE(second.requestRaise("two\nlines"));
    const auto titles = first.takeRaiseRequests();
    ASSERT_EQ(titles.size(), 2u);
    EXPECT_EQ(titles[0], "Line 3 \xC3\xA9 tool");
    EXPECT_EQ(titles[1], "two lines");   // a line break cannot split the request
}

TEST(SingleInstance, NamesAreSeparateAndAStaleSocketIsReplaced)
{
    TempFolder folder;
    SingleInstance probe("MVX_ISP", folder.path());
    mvx::test::writeWholeFile(probe.socketPath(), "left behind by a crash");
    SingleInstance isp("MVX_ISP", folder.path());
    SingleInstance other("OTHER", folder.path());
    EXPECT_EQ(isp.acquire(), Outcome::First);
    EXPECT_EQ(other.acquire(), Outcome::First);
    EXPECT_GE(isp.listenFd(), 0);
    EXPECT_TRUE(probe.requestRaise("x"));
    EXPECT_EQ(isp.takeRaiseRequests().size(), 1u);
}

TEST(SingleInstance, RequestWithNobodyListeningFailsAndAMissingFolderIsAnError)
{
    TempFolder folder;
    SingleInstance lonely("MVX_ISP", folder.path());
    EXPECT_FALSE(lonely.requestRaise("title"));
    SingleInstance nowhere("MVX_ISP", folder.file("missing/folder"));
    EXPECT_EQ(nowhere.acquire(), Outcome::Error);
    EXPECT_NE(nowhere.error().find("missing/folder"), std::string::npos);
}

TEST(SingleInstance, TheSocketGoesAwayWithTheFirstInstance)
{
    TempFolder folder;
    std::string socket;
    {
        SingleInstance first("MVX_ISP", folder.path());
        ASSERT_EQ(first.acquire(), Outcome::First);
        socket = first.socketPath();
        EXPECT_TRUE(std::filesystem::exists(socket));
    }
    EXPECT_FALSE(std::filesystem::exists(socket));
}
