// MVXIICDLL.so: the six exports of the maker I2C adapter library, over a
// Linux i2c-dev bus (the monitor's DDC lines on a graphics card).
//
// The exports carry no context, so the library keeps its state (the open bus
// node, polling, work delay) in one process-wide object, made on the first
// call and ended when the library is unloaded.  The engine runs one call at
// a time; the object locks anyway.  No exception leaves an export: anything
// thrown (out of memory) answers 0.
#include <type_traits>

#include "mvx/adapters/maker_library_abi.h"
#include "mvx/i2cdev/iic_library.hpp"
#include "mvx/platform/debug_output.hpp"

#define MVX_I2CDEV_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

mvx::i2cdev::IicLibrary& library()
{
    static mvx::i2cdev::IicLibrary instance;
    return instance;
}

template <typename Call>
int guarded(Call call) noexcept
{
    try {
        return call();
    } catch (...) {
        mvx::platform::debugOutput("MVXIICDLL: call failed: out of memory");
        return 0;
    }
}

}  // namespace

MVX_I2CDEV_EXPORT int _Initialize(void)
{
    return guarded([] { return library().initialize(); });
}

MVX_I2CDEV_EXPORT int _DebugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b)
{
    return guarded([&] { return library().debugRead(address, subAddress, buffer, count, a, b); });
}

MVX_I2CDEV_EXPORT int _DebugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b)
{
    return guarded([&] { return library().debugWrite(address, subAddress, data, count, a, b); });
}

MVX_I2CDEV_EXPORT int _SetPolling(int polling)
{
    return guarded([&] { return library().setPolling(polling); });
}

MVX_I2CDEV_EXPORT int _SetWorkDelay(int delay)
{
    return guarded([&] { return library().setWorkDelay(delay); });
}

MVX_I2CDEV_EXPORT int _TargetBoardTest(void)
{
    return guarded([] { return library().targetBoardTest(); });
}

// The exports have exactly the shapes the engine calls them through.
static_assert(std::is_same_v<decltype(&_Initialize), MvxMakerInitializeFn>);
static_assert(std::is_same_v<decltype(&_DebugRead), MvxIicDebugReadFn>);
static_assert(std::is_same_v<decltype(&_DebugWrite), MvxIicDebugWriteFn>);
static_assert(std::is_same_v<decltype(&_SetPolling), MvxIicSetPollingFn>);
static_assert(std::is_same_v<decltype(&_SetWorkDelay), MvxIicSetWorkDelayFn>);
static_assert(std::is_same_v<decltype(&_TargetBoardTest), MvxIicTargetBoardTestFn>);
