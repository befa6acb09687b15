#include "mvx/platform/message_queue.hpp"

namespace mvx::platform {

void ThreadMessageQueue::post(ThreadMessage message)
{
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(message);
    }
    arrived_.notify_all();
}

std::optional<ThreadMessage> ThreadMessageQueue::takeLocked(std::uint32_t first, std::uint32_t last)
{
    for (auto it = messages_.begin(); it != messages_.end(); ++it) {
        if (it->message >= first && it->message <= last) {
            ThreadMessage found = *it;
            messages_.erase(it);
            return found;
        }
    }
    return std::nullopt;
}

std::optional<ThreadMessage> ThreadMessageQueue::take(std::uint32_t first, std::uint32_t last)
{
    std::lock_guard lock(mutex_);
    return takeLocked(first, last);
}

std::optional<ThreadMessage> ThreadMessageQueue::waitTake(std::uint32_t first, std::uint32_t last,
                                                          std::chrono::milliseconds timeout)
{
    std::unique_lock lock(mutex_);
    std::optional<ThreadMessage> found;
    arrived_.wait_for(lock, timeout, [&] {
        found = takeLocked(first, last);
        return found.has_value();
    });
    return found;
}

std::size_t ThreadMessageQueue::pending() const
{
    std::lock_guard lock(mutex_);
    return messages_.size();
}

void ThreadMessageQueue::clear()
{
    std::lock_guard lock(mutex_);
    messages_.clear();
}

}  // namespace mvx::platform
