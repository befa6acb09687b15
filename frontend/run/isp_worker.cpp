#include "run/isp_worker.hpp"

#include <utility>

namespace mvx::run {

namespace {

// The range of thread messages the repeat loop looks at between runs.
constexpr std::uint32_t kFirstLooked = 1024;
constexpr std::uint32_t kLastLooked = 2024;

// ispEnable: 0 Enable, 1 Disable (the IC code is only read).
constexpr std::int32_t kIspDisabled = 1;

void count(RunCounters& counters, int result)
{
    if (result == MVX_OK)
        ++counters.pass;
    else
        ++counters.fail;
}

}  // namespace

std::unique_ptr<IspWorker> IspWorker::start(MvxIspFn isp, job::IspCall call, RunListener& listener,
                                            WorkerSettings settings)
{
    if (isp == nullptr)
        return nullptr;
    return std::unique_ptr<IspWorker>(new IspWorker(isp, std::move(call), listener, settings));
}

IspWorker::IspWorker(MvxIspFn isp, job::IspCall call, RunListener& listener, WorkerSettings settings)
    : isp_(isp),
      call_(std::move(call)),
      options_(call_.optionsForCall()),
      listener_(listener),
      settings_(settings),
      window_{this, &IspWorker::sendToListener, &IspWorker::boxToListener},
      thread_([this](std::stop_token stop) { run(std::move(stop)); })
{
}

IspWorker::~IspWorker()
{
    thread_.request_stop();
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

bool IspWorker::finished() const
{
    const std::lock_guard lock(mutex_);
    return finished_;
}

void IspWorker::run(std::stop_token stop)
{
    const WorkerEnd end = options_.enable_isprepeattest == 1 ? repeatTest(stop) : singleRun();
    {
        const std::lock_guard lock(mutex_);
        finished_ = true;
    }
    listener_.ended(end);
}

int IspWorker::callEngine()
{
    const job::IspCall& c = call_;
    return isp_(c.adapterKind, c.operation, c.eraseOnly, c.slaveSelector, c.verifyByChecksum, c.eraseMode,
                c.eraseLength, c.flashBrand, c.reserved, c.table.data(), c.libraryMode, c.idReadMode, &window_,
                &c.protect, c.sectorEraseFlag, c.sectorEraseBank, &options_);
}

// Waits the pause between two runs of a repeat test; false when the worker
// is asked to stop (the object is going away) meanwhile.
bool IspWorker::pause(std::stop_token stop)
{
    if (settings_.repeatPause.count() > 0) {
        std::unique_lock lock(mutex_);
        wake_.wait_for(lock, stop, settings_.repeatPause, [] { return false; });
    }
    return !stop.stop_requested();
}

WorkerEnd IspWorker::repeatTest(std::stop_token stop)
{
    WorkerEnd end;
    end.repeat = true;
    end.counters = {options_.isprepeat_counter, 0, 0};
    listener_.started(end.counters);

    int remaining = options_.isprepeat_counter;
    while (remaining > 0) {
        if (end.runsDone > 0 && !pause(stop))
            break;
        --remaining;
        end.lastResult = callEngine();
        ++end.runsDone;
        end.passed = end.lastResult == MVX_OK;
        count(end.counters, end.lastResult);
        listener_.runDone({end.runsDone, end.lastResult, end.counters});
        // Only a stop request ends the loop early; anything else posted to
        // the worker is dropped.
        const auto message = queue_.take(kFirstLooked, kLastLooked);
        if ((message && message->message == WM_ISP_STOP) || stop.stop_requested())
            break;
    }
    end.stoppedEarly = remaining > 0;
    // A count of 0 ends with nothing to show; the page's refresh after the
    // run re-enables the action buttons either way.
    end.showResult = end.runsDone > 0;
    end.enable = end.runsDone > 0 ? ActionButton::Isp : ActionButton::None;
    return end;
}

WorkerEnd IspWorker::singleRun()
{
    WorkerEnd end;
    end.counters = {1, 0, 0};
    listener_.started(end.counters);

    end.lastResult = callEngine();
    end.runsDone = 1;
    end.passed = end.lastResult == MVX_OK;
    count(end.counters, end.lastResult);
    listener_.runDone({1, end.lastResult, end.counters});

    const bool hdcp = options_.enable_hdcp_key_fire == 1;
    end.flag = hdcp ? ResultFlag::HdcpRun : ResultFlag::LastRun;
    end.showResult = true;
    end.showIcCode = !hdcp && options_.enable_read_ic_code == 1 && options_.ispEnable == kIspDisabled;
    end.enable = hdcp ? ActionButton::HdcpKeyFire : ActionButton::Isp;
    end.enableIspEnableGroup = true;
    end.appendHdcpLog = settings_.autoRun && hdcp;
    // Auto-run closes the tool after a pass, and after every HDCP key fire
    // (its line in the HDCP log is the record of a failure).
    end.closeTool = settings_.autoRun && (hdcp || end.passed);
    return end;
}

std::intptr_t IspWorker::sendToListener(void* self, std::uint32_t message, std::uintptr_t wParam,
                                        std::intptr_t lParam)
{
    return static_cast<IspWorker*>(self)->listener_.engineMessage(message, wParam, lParam);
}

int IspWorker::boxToListener(void* self, const char* text, const char* caption, std::uint32_t type)
{
    return static_cast<IspWorker*>(self)->listener_.engineMessageBox(text ? text : "", caption ? caption : "",
                                                                     type);
}

}  // namespace mvx::run
