// The ISP run worker: one thread, owned by the object, that makes the page's
// mvxISP call once or as a repeat test, counts passes and failures and tells
// a listener what happened.  It never touches a widget: the listener is
// called on the worker thread and decides how to reach the window thread.
//
// The worker keeps its own copy of the call (file table, options, key
// paths), so the page may change its records while a run goes on.  A stop
// request (WM_ISP_STOP posted to the worker's queue) is looked at only
// between the runs of a repeat test; a running engine call always completes.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <thread>

#include "job/isp_call.hpp"
#include "mvx/platform/message_queue.hpp"
#include "mvxisp.h"

namespace mvx::run {

// wParam of the stop request: request code 1 in bits 8-15, 0 in bits 0-7.
inline constexpr std::uintptr_t kStopRequest = 0x100;

// The three counters the page shows (total is the planned number of runs).
struct RunCounters {
    std::int32_t total = 0;
    std::int32_t pass = 0;
    std::int32_t fail = 0;
    bool operator==(const RunCounters&) const = default;
};

// One engine call that returned.
struct RunDone {
    int run = 0;        // 1-based
    int result = 0;     // the engine's result code
    RunCounters counters;
};

// Which result flag of the page a run's outcome goes to.
enum class ResultFlag { LastRun, HdcpRun };
// The action button the worker enables when it ends.
enum class ActionButton { None, Isp, HdcpKeyFire };

// What the page does when the worker has ended.
struct WorkerEnd {
    bool repeat = false;           // it was a repeat test
    int lastResult = MVX_OK;       // the last call's result; MVX_OK when none was made
    int runsDone = 0;
    bool passed = true;            // the value for `flag`
    ResultFlag flag = ResultFlag::LastRun;
    bool showResult = false;       // show the pass (passed) or fail picture
    bool showIcCode = false;       // show the IC-code text (read-only IC-code runs)
    ActionButton enable = ActionButton::None;
    bool enableIspEnableGroup = false;   // the ISP Enable Option radios
    bool stoppedEarly = false;     // a repeat test ended before all its runs
    bool appendHdcpLog = false;    // auto-run HDCP: append this run's line to the HDCP log
    bool closeTool = false;        // auto-run: close the tool once the page is idle again
    RunCounters counters;
    bool operator==(const WorkerEnd&) const = default;
};

// What the worker reports, every call on the worker thread, in this order:
// started, then per engine call its messages and boxes followed by runDone,
// then ended.  The listener must outlive the worker and must not destroy it
// from within these calls (the destructor joins the worker thread).
class RunListener {
public:
    virtual ~RunListener() = default;
    // The worker is running (the page's ispRunning); the counters at the start.
    virtual void started(const RunCounters& counters) = 0;
    // A message the engine sends to the owner window (WM_ISP_PROGRESS); the
    // engine waits for the answer, so the message is handled before the next.
    virtual std::intptr_t engineMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) = 0;
    // A message box the engine shows; returns the button pressed.
    virtual int engineMessageBox(std::string_view text, std::string_view caption, std::uint32_t type) = 0;
    virtual void runDone(const RunDone& done) = 0;
    virtual void ended(const WorkerEnd& end) = 0;
};

struct WorkerSettings {
    bool autoRun = false;                                   // enable_autorunisp
    std::chrono::milliseconds repeatPause{100};             // between the runs of a repeat test
};

class IspWorker {
public:
    // Starts the worker thread at once; nullptr (and no thread) when the
    // engine entry point is missing.  The call's options decide the mode:
    // enable_isprepeattest and isprepeat_counter (repeat test),
    // enable_hdcp_key_fire, enable_read_ic_code and ispEnable.
    static std::unique_ptr<IspWorker> start(MvxIspFn isp, job::IspCall call, RunListener& listener,
                                            WorkerSettings settings = {});

    // Asks the worker to stop at the next boundary between runs and waits
    // for it: a running engine call completes and `ended` is reported.
    ~IspWorker();
    IspWorker(const IspWorker&) = delete;
    IspWorker& operator=(const IspWorker&) = delete;

    // The worker's message queue: the page posts WM_ISP_STOP (kStopRequest) here.
    platform::ThreadMessageQueue& queue() { return queue_; }
    void postStop() { queue_.post(WM_ISP_STOP, kStopRequest, 0); }

    // Whether the worker has made its last engine call (true before `ended`
    // is reported).
    bool finished() const;

private:
    IspWorker(MvxIspFn isp, job::IspCall call, RunListener& listener, WorkerSettings settings);

    void run(std::stop_token stop);
    int callEngine();
    WorkerEnd repeatTest(std::stop_token stop);
    WorkerEnd singleRun();
    bool pause(std::stop_token stop);

    static std::intptr_t sendToListener(void* self, std::uint32_t message, std::uintptr_t wParam,
                                        std::intptr_t lParam);
    static int boxToListener(void* self, const char* text, const char* caption, std::uint32_t type);

    MvxIspFn isp_;
    job::IspCall call_;
    IspOptions options_{};
    RunListener& listener_;
    WorkerSettings settings_;
    MvxWindow window_{};
    platform::ThreadMessageQueue queue_;

    mutable std::mutex mutex_;
    std::condition_variable_any wake_;
    bool finished_ = false;

    std::jthread thread_;   // last: starts once everything above exists
};

}  // namespace mvx::run
