#include "mvx/platform/message_queue.hpp"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

using mvx::platform::ThreadMessage;
using mvx::platform::ThreadMessageQueue;
using namespace std::chrono_literals;

constexpr std::uint32_t kStop = 0x0400 + 103;

TEST(ThreadMessageQueue, TakesOnlyTheOldestMessageInTheRange)
{
    ThreadMessageQueue queue;
    queue.post(0x10, 1);
    queue.post(kStop, 0x100, 7);
    queue.post(0x20, 2);
    queue.post(kStop, 0x100, 8);

    auto stop = queue.take(kStop, kStop);
    ASSERT_TRUE(stop.has_value());
    EXPECT_EQ(stop->wParam, 0x100u);
    EXPECT_EQ(stop->lParam, 7);
    EXPECT_EQ(queue.pending(), 3u);

    // Messages outside the range stay, in order.
    auto low = queue.take(0x00, 0x3F);
    ASSERT_TRUE(low.has_value());
    EXPECT_EQ(low->message, 0x10u);
    low = queue.take(0x00, 0x3F);
    ASSERT_TRUE(low.has_value());
    EXPECT_EQ(low->message, 0x20u);
    EXPECT_FALSE(queue.take(0x00, 0x3F).has_value());
    EXPECT_EQ(queue.take(kStop, kStop)->lParam, 8);
    EXPECT_FALSE(queue.take(0, 0xFFFFFFFFu).has_value());
}

TEST(ThreadMessageQueue, RangeBoundsAreInclusive)
{
    ThreadMessageQueue queue;
    queue.post(5);
    queue.post(9);
    EXPECT_FALSE(queue.take(6, 8).has_value());
    EXPECT_EQ(queue.take(9, 9)->message, 9u);
    EXPECT_EQ(queue.take(5, 5)->message, 5u);
}

TEST(ThreadMessageQueue, PostsFromManyThreadsAreAllDelivered)
{
    ThreadMessageQueue queue;
    std::vector<std::thread> posters;
    for (int t = 0; t < 4; ++t)
        posters.emplace_back([&queue, t] {
            for (int i = 0; i < 500; ++i)
                queue.post(static_cast<std::uint32_t>(100 + t), static_cast<std::uintptr_t>(i));
        });
    for (auto& poster : posters)
        poster.join();
    EXPECT_EQ(queue.pending(), 2000u);
    int fromThreadTwo = 0;
    std::uintptr_t expected = 0;
    while (auto message = queue.take(102, 102)) {
        EXPECT_EQ(message->wParam, expected++);   // each poster's order is kept
        ++fromThreadTwo;
    }
    EXPECT_EQ(fromThreadTwo, 500);
}

TEST(ThreadMessageQueue, WaitTakeWakesOnAMatchingPostAndTimesOutOtherwise)
{
    ThreadMessageQueue queue;
    EXPECT_FALSE(queue.waitTake(kStop, kStop, 1ms).has_value());
    std::thread poster([&queue] {
        queue.post(1);   // not in the range: must not end the wait
        std::this_thread::sleep_for(5ms);
        queue.post(kStop, 0x100);
    });
    auto message = queue.waitTake(kStop, kStop, 10s);
    poster.join();
    ASSERT_TRUE(message.has_value());
    EXPECT_EQ(message->wParam, 0x100u);
    EXPECT_EQ(queue.pending(), 1u);
    queue.clear();
    EXPECT_EQ(queue.pending(), 0u);
}
