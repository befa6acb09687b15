// The message queue of a worker thread: any thread posts, the worker removes
// one pending message whose number lies in a range (or finds none), or waits
// for one.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>

namespace mvx::platform {

struct ThreadMessage {
    std::uint32_t message = 0;
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

class ThreadMessageQueue {
public:
    void post(ThreadMessage message);
    void post(std::uint32_t message, std::uintptr_t wParam = 0, std::intptr_t lParam = 0)
    {
        post(ThreadMessage{message, wParam, lParam});
    }

    // Removes and returns the oldest pending message whose number lies in
    // first..last (inclusive); messages outside the range stay queued in order.
    std::optional<ThreadMessage> take(std::uint32_t first, std::uint32_t last);

    // As take(), but waits up to timeout for such a message to arrive.
    std::optional<ThreadMessage> waitTake(std::uint32_t first, std::uint32_t last,
                                          std::chrono::milliseconds timeout);

    std::size_t pending() const;
    void clear();

private:
    std::optional<ThreadMessage> takeLocked(std::uint32_t first, std::uint32_t last);

    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<ThreadMessage> messages_;
};

}  // namespace mvx::platform
