// The ISP run worker: single runs and repeat tests with a scripted engine
// (what each call returns, which call waits for the test), the stop request
// between runs, the order of what the listener hears, the destructor of a
// running worker; and one run of the real engine on a virtual board.
#include "run/isp_worker.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "run_fixtures.hpp"
#include "shell/engine_library.hpp"

namespace mvx::run {
namespace {

using namespace std::chrono_literals;

// The scripted engine asks its owner window what to return.
constexpr std::uint32_t kAskResult = WM_USER + 200;

int scriptedEngine(int, int, int, int, int, int, int, int, int, const FileTableEntry*, int, int,
                   const MvxWindow* window, const FlashProtectSettings*, int, int, const IspOptions*)
{
    window->sendMessage(window->context, WM_ISP_PROGRESS, MVX_PROGRESS_WPARAM(MVX_MSG_OVERALL_PERCENT, 0), 50);
    window->sendMessage(window->context, WM_ISP_PROGRESS, MVX_PROGRESS_WPARAM(MVX_MSG_OVERALL_PERCENT, 0), 100);
    const int result = static_cast<int>(window->sendMessage(window->context, kAskResult, 0, 0));
    if (result != MVX_OK)
        window->messageBox(window->context, "ISP process has failed!", "Error", MVX_MB_OK);
    return result;
}

// Records what the worker reports as one line per event, answers the
// scripted engine from `results` and holds the calls listed in `held` until
// the test releases them.
class Listener final : public RunListener {
public:
    std::deque<int> results;
    std::vector<int> held;   // 1-based calls that wait for release()

    void started(const RunCounters& c) override { add("started " + text(c)); }
    std::intptr_t engineMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) override
    {
        if (message == WM_ISP_PROGRESS) {
            add("progress " + std::to_string(MVX_PROGRESS_CODE(wParam)) + " " + std::to_string(lParam));
            return 0;
        }
        std::unique_lock lock(mutex_);
        const int call = ++calls_;
        changed_.notify_all();
        if (std::find(held.begin(), held.end(), call) != held.end())
            changed_.wait(lock, [&] { return released_ >= call; });
        if (results.empty())
            return MVX_OK;
        const int result = results.front();
        results.pop_front();
        return result;
    }
    int engineMessageBox(std::string_view text, std::string_view, std::uint32_t) override
    {
        add("box " + std::string(text));
        return MVX_IDOK;
    }
    void runDone(const RunDone& done) override
    {
        add("run " + std::to_string(done.run) + " " + std::to_string(done.result) + " " + text(done.counters));
    }
    void ended(const WorkerEnd& end) override
    {
        const std::lock_guard lock(mutex_);
        end_ = end;
        events_.push_back("ended");
        changed_.notify_all();
    }

    // Hang checks: each waits a bounded time.
    bool waitForCall(int call)
    {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return calls_ >= call; });
    }
    std::optional<WorkerEnd> waitForEnd()
    {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, 10s, [&] { return end_.has_value(); });
        return end_;
    }
    void release(int call)
    {
        const std::lock_guard lock(mutex_);
        released_ = call;
        changed_.notify_all();
    }
    std::vector<std::string> events()
    {
        const std::lock_guard lock(mutex_);
        return events_;
    }
    int calls()
    {
        const std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    static std::string text(const RunCounters& c)
    {
        return std::to_string(c.total) + "/" + std::to_string(c.pass) + "/" + std::to_string(c.fail);
    }
    void add(std::string line)
    {
        const std::lock_guard lock(mutex_);
        events_.push_back(std::move(line));
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::optional<WorkerEnd> end_;
    int calls_ = 0;
    int released_ = 0;
};

job::IspCall repeatCall(int count)
{
    job::IspCall call;
    call.options.enable_isprepeattest = 1;
    call.options.isprepeat_counter = count;
    return call;
}

constexpr WorkerSettings kNoPause{false, 0ms};

// ---- single runs: what the page does after them ----

struct SingleCase {
    const char* name;
    int hdcp, readIcCode, ispEnable;
    bool autoRun;
    int result;
    WorkerEnd expected;
};

WorkerEnd single(int result, ResultFlag flag, bool icCode, ActionButton enable, bool hdcpLog, bool close)
{
    WorkerEnd end;
    end.lastResult = result;
    end.runsDone = 1;
    end.passed = result == MVX_OK;
    end.flag = flag;
    end.showResult = true;
    end.showIcCode = icCode;
    end.enable = enable;
    end.enableIspEnableGroup = true;
    end.appendHdcpLog = hdcpLog;
    end.closeTool = close;
    end.counters = {1, result == MVX_OK ? 1 : 0, result == MVX_OK ? 0 : 1};
    return end;
}

constexpr auto kLast = ResultFlag::LastRun;
constexpr auto kHdcp = ResultFlag::HdcpRun;
constexpr auto kIsp = ActionButton::Isp;
constexpr auto kKey = ActionButton::HdcpKeyFire;

void PrintTo(const SingleCase& c, std::ostream* out) { *out << c.name; }

class SingleRun : public testing::TestWithParam<SingleCase> {};

TEST_P(SingleRun, EndsWithTheResultTheCountersAndTheAutoRunRequests)
{
    const SingleCase& c = GetParam();
    job::IspCall call;
    call.options.enable_hdcp_key_fire = c.hdcp;
    call.options.enable_read_ic_code = c.readIcCode;
    call.options.ispEnable = c.ispEnable;
    Listener listener;
    listener.results = {c.result};
    auto worker = IspWorker::start(&scriptedEngine, call, listener, {c.autoRun, 0ms});
    ASSERT_NE(worker, nullptr);
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_EQ(*end, c.expected);
    EXPECT_EQ(listener.calls(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Worker, SingleRun,
    testing::Values(
        SingleCase{"Pass", 0, 0, 0, false, 0, single(0, kLast, false, kIsp, false, false)},
        SingleCase{"Fail", 0, 0, 0, false, 18, single(18, kLast, false, kIsp, false, false)},
        SingleCase{"AutoRunPassCloses", 0, 0, 0, true, 0, single(0, kLast, false, kIsp, false, true)},
        SingleCase{"AutoRunFailStaysOpen", 0, 0, 0, true, 13, single(13, kLast, false, kIsp, false, false)},
        SingleCase{"ReadOnlyIcCodeShowsIt", 0, 1, 1, false, 28, single(28, kLast, true, kIsp, false, false)},
        SingleCase{"IcCodeWhileProgrammingHidden", 0, 1, 0, false, 0, single(0, kLast, false, kIsp, false, false)},
        SingleCase{"HdcpPass", 1, 0, 0, false, 0, single(0, kHdcp, false, kKey, false, false)},
        SingleCase{"HdcpAutoRunFailLogsAndCloses", 1, 1, 1, true, 20, single(20, kHdcp, false, kKey, true, true)}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(Worker, MissingEntryPointStartsNothing)
{
    Listener listener;
    EXPECT_EQ(IspWorker::start(nullptr, job::IspCall{}, listener), nullptr);
    EXPECT_TRUE(listener.events().empty());
}

// ---- repeat test: counters and the end ----

struct RepeatCase {
    const char* name;
    int count;
    std::vector<int> results;
    RunCounters counters;
    int lastResult;
    bool autoRun;
};

void PrintTo(const RepeatCase& c, std::ostream* out) { *out << c.name; }

class RepeatTest : public testing::TestWithParam<RepeatCase> {};

TEST_P(RepeatTest, CountsEveryRunAndShowsTheLastResult)
{
    const RepeatCase& c = GetParam();
    Listener listener;
    listener.results.assign(c.results.begin(), c.results.end());
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(c.count), listener, {c.autoRun, 0ms});
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    WorkerEnd expected;
    expected.repeat = true;
    expected.lastResult = c.lastResult;
    expected.runsDone = c.count;
    expected.passed = c.lastResult == MVX_OK;
    expected.showResult = c.count > 0;   // a count of 0 shows nothing
    expected.enable = c.count > 0 ? ActionButton::Isp : ActionButton::None;
    expected.counters = c.counters;      // never closes the tool, keeps the ISP Enable radios disabled
    EXPECT_EQ(*end, expected);
    EXPECT_EQ(listener.calls(), c.count);
}

INSTANTIATE_TEST_SUITE_P(Worker, RepeatTest,
                         testing::Values(RepeatCase{"AllPass", 3, {0, 0, 0}, {3, 3, 0}, 0, false},
                                         RepeatCase{"FailureInTheMiddle", 5, {0, 21, 0, 18, 0}, {5, 3, 2}, 0, false},
                                         RepeatCase{"LastFails", 3, {0, 0, 13}, {3, 2, 1}, 13, false},
                                         RepeatCase{"AutoRunDoesNotClose", 2, {0, 0}, {2, 2, 0}, 0, true},
                                         RepeatCase{"CountZero", 0, {}, {0, 0, 0}, 0, false}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(Worker, ListenerHearsEveryMessageInOrderBetweenStartAndEnd)
{
    Listener listener;
    listener.results = {0, 20};
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(2), listener, kNoPause);
    ASSERT_TRUE(listener.waitForEnd());
    EXPECT_EQ(listener.events(), (std::vector<std::string>{"started 2/0/0", "progress 13 50", "progress 13 100",
                                                           "run 1 0 2/1/0", "progress 13 50", "progress 13 100",
                                                           "box ISP process has failed!", "run 2 20 2/1/1", "ended"}));
}

// ---- stopping ----

TEST(Worker, StopDuringARepeatRunLetsItFinishThenEnds)
{
    Listener listener;
    listener.held = {1, 2};
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(5), listener, kNoPause);
    ASSERT_TRUE(listener.waitForCall(1));
    worker->queue().post(WM_USER + 50);   // not a stop: dropped, the loop goes on
    listener.release(1);
    ASSERT_TRUE(listener.waitForCall(2));
    worker->postStop();
    EXPECT_FALSE(worker->finished());     // the running call is not cut short
    listener.release(2);
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_TRUE(worker->finished());
    EXPECT_TRUE(end->stoppedEarly);
    EXPECT_EQ(end->runsDone, 2);
    EXPECT_EQ(end->counters, (RunCounters{5, 2, 0}));
    EXPECT_TRUE(end->showResult);
    EXPECT_EQ(end->enable, ActionButton::Isp);
    EXPECT_EQ(listener.calls(), 2);
    EXPECT_EQ(worker->queue().pending(), 0u);
}

TEST(Worker, StopPostedDuringTheLastRunIsNotAnEarlyStop)
{
    Listener listener;
    listener.held = {2};
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(2), listener, kNoPause);
    ASSERT_TRUE(listener.waitForCall(2));
    worker->postStop();
    listener.release(2);
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_FALSE(end->stoppedEarly);
    EXPECT_EQ(end->counters, (RunCounters{2, 2, 0}));
}

TEST(Worker, DestructorEndsALongPauseBetweenRuns)
{
    Listener listener;
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(3), listener, {false, 1h});
    worker.reset();   // the first run is made, then the pause is cut short: a hang here is the bug
    EXPECT_EQ(listener.calls(), 1);
    const auto events = listener.events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "ended");
    EXPECT_TRUE(listener.waitForEnd()->stoppedEarly);
}

TEST(Worker, DestructorWaitsForTheRunningCall)
{
    Listener listener;
    listener.held = {1};
    auto worker = IspWorker::start(&scriptedEngine, repeatCall(5), listener, {false, 1h});
    ASSERT_TRUE(listener.waitForCall(1));
    std::thread destroy([&] { worker.reset(); });
    listener.release(1);
    destroy.join();
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->runsDone, 1);   // the held call completed, no second one
    EXPECT_EQ(end->counters, (RunCounters{5, 1, 0}));
    EXPECT_TRUE(end->stoppedEarly);
}

// ---- the real engine on a virtual board ----

TEST(Worker, RealEngineProgramsTheVirtualBoardsFlash)
{
    tool::EngineLibrary engine;
    ASSERT_TRUE(engine.open(MVX_ENGINE_LIBRARY)) << engine.error();
    test::BoardFolder board;
    test::FirmwareFiles files({65536, 3000});
    job::IspCall call;
    call.adapterKind = MVX_ADAPTER_NORVANE_IIC;
    call.operation = MVX_OP_SERIAL_FLASH;
    call.flashBrand = MVX_BRAND_WINBOND;
    call.idReadMode = 1;
    call.table = files.table;
    Listener listener;
    auto worker = IspWorker::start(engine.isp(), call, listener, kNoPause);
    const auto end = listener.waitForEnd();
    ASSERT_TRUE(end);
    EXPECT_EQ(end->lastResult, MVX_OK);
    EXPECT_EQ(end->counters, (RunCounters{1, 1, 0}));
    const std::string flash = board.flash();
    ASSERT_GE(flash.size(), files.image.size());
    EXPECT_EQ(flash.substr(0, files.image.size()), std::string(files.image.begin(), files.image.end()));
    const auto events = listener.events();
    EXPECT_NE(std::find(events.begin(), events.end(), "progress " + std::to_string(MVX_MSG_RUN_PASSED) + " 0"),
              events.end());
}

}  // namespace
}  // namespace mvx::run
