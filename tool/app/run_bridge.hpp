// The window-thread side of an ISP run: a RunListener that hands every report
// of the worker to the thread of a window object with a blocking queued call,
// so the engine waits until the window has handled each progress message and
// each box, and widgets are touched on the window thread only.  Any page that
// runs an IspWorker can use it with its own handlers.
#pragma once

#include <QObject>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "run/isp_worker.hpp"

namespace mvx::tool {

class RunBridge final : public run::RunListener {
public:
    // What the window does with each report, on its own thread; a handler
    // left empty ignores its report (an unhandled message answers 0, an
    // unhandled box OK).
    struct Handlers {
        std::function<void(const run::RunCounters&)> started;
        std::function<std::intptr_t(std::uint32_t, std::uintptr_t, std::intptr_t)> engineMessage;
        std::function<int(std::string_view text, std::string_view caption, std::uint32_t type)> engineMessageBox;
        std::function<void(const run::RunDone&)> runDone;
        std::function<void(const run::WorkerEnd&)> ended;
    };

    RunBridge(QObject& window, Handlers handlers) : window_(window), handlers_(std::move(handlers)) {}

    void started(const run::RunCounters& counters) override;
    std::intptr_t engineMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override;
    int engineMessageBox(std::string_view text, std::string_view caption, std::uint32_t type) override;
    void runDone(const run::RunDone& done) override;
    void ended(const run::WorkerEnd& end) override;

    // Whether the `ended` handler has run.
    bool hasEnded() const { return ended_.load(); }
    // Handles the window thread's events until the worker has ended: what a
    // window does before it destroys a worker that may still be waiting for
    // it (destroying it at once would wait for a thread that waits for us).
    void waitForEnd();

private:
    void onWindow(const std::function<void()>& work);

    QObject& window_;
    Handlers handlers_;
    std::atomic<bool> ended_{false};
};

}  // namespace mvx::tool
