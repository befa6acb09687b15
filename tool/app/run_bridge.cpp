#include "app/run_bridge.hpp"

#include <QCoreApplication>
#include <QThread>

namespace mvx::tool {

void RunBridge::onWindow(const std::function<void()>& work)
{
    if (QThread::currentThread() == window_.thread())
        work();
    else
        QMetaObject::invokeMethod(&window_, work, Qt::BlockingQueuedConnection);
}

void RunBridge::started(const run::RunCounters& counters)
{
    if (handlers_.started)
        onWindow([&] { handlers_.started(counters); });
}

std::intptr_t RunBridge::engineMessage(std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
{
    std::intptr_t answer = 0;
    if (handlers_.engineMessage)
        onWindow([&] { answer = handlers_.engineMessage(message, wParam, lParam); });
    return answer;
}

int RunBridge::engineMessageBox(std::string_view text, std::string_view caption, std::uint32_t type)
{
    int answer = MVX_IDOK;
    if (handlers_.engineMessageBox)
        onWindow([&] { answer = handlers_.engineMessageBox(text, caption, type); });
    return answer;
}

void RunBridge::runDone(const run::RunDone& done)
{
    if (handlers_.runDone)
        onWindow([&] { handlers_.runDone(done); });
}

void RunBridge::ended(const run::WorkerEnd& end)
{
    onWindow([&] {
        if (handlers_.ended)
            handlers_.ended(end);
        ended_.store(true);
    });
}

void RunBridge::waitForEnd()
{
    while (!ended_.load()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
}

}  // namespace mvx::tool
