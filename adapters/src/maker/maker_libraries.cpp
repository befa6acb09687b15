#include "maker/maker_libraries.hpp"

#include <utility>

#include "mvx/sim/maker_libraries.hpp"

namespace mvx::adapters {

namespace {

void setError(std::string* error, std::string text)
{
    if (error != nullptr)
        *error = std::move(text);
}

// Resolves one export into target; false (with the reason) when it is missing.
template <typename Fn>
bool resolve(const platform::DynamicLibrary& library, const char* name, Fn& target, std::string* error)
{
    target = library.function<Fn>(name);
    if (target == nullptr) {
        setError(error, library.path() + ": no export " + name);
        return false;
    }
    return true;
}

}  // namespace

// ---- the library files ----

std::unique_ptr<LoadedMakerUsbLibrary> LoadedMakerUsbLibrary::load(const std::string& path, std::string* error)
{
    std::unique_ptr<LoadedMakerUsbLibrary> api(new LoadedMakerUsbLibrary);
    if (!api->library_.open(path)) {
        setError(error, api->library_.error());
        return nullptr;
    }
    const platform::DynamicLibrary& lib = api->library_;
    if (!resolve(lib, MVX_EXPORT_INITIALIZE, api->initialize_, error) ||
        !resolve(lib, MVX_EXPORT_DEBUG_READ, api->debugRead_, error) ||
        !resolve(lib, MVX_EXPORT_DEBUG_WRITE, api->debugWrite_, error) ||
        !resolve(lib, MVX_EXPORT_SET_USB_POLLING, api->setPolling_, error) ||
        !resolve(lib, MVX_EXPORT_SET_USB_SPEED, api->setSpeedMode_, error) ||
        !resolve(lib, MVX_EXPORT_SET_USB_DELAY, api->setDelay_, error))
        return nullptr;
    return api;
}

std::unique_ptr<LoadedMakerIicLibrary> LoadedMakerIicLibrary::load(const std::string& path, std::string* error)
{
    std::unique_ptr<LoadedMakerIicLibrary> api(new LoadedMakerIicLibrary);
    if (!api->library_.open(path)) {
        setError(error, api->library_.error());
        return nullptr;
    }
    const platform::DynamicLibrary& lib = api->library_;
    if (!resolve(lib, MVX_EXPORT_INITIALIZE, api->initialize_, error) ||
        !resolve(lib, MVX_EXPORT_DEBUG_READ, api->debugRead_, error) ||
        !resolve(lib, MVX_EXPORT_DEBUG_WRITE, api->debugWrite_, error) ||
        !resolve(lib, MVX_EXPORT_SET_POLLING, api->setPolling_, error) ||
        !resolve(lib, MVX_EXPORT_SET_WORK_DELAY, api->setWorkDelay_, error) ||
        !resolve(lib, MVX_EXPORT_TARGET_BOARD_TEST, api->targetBoardTest_, error))
        return nullptr;
    return api;
}

// ---- the virtual board's libraries ----

int BoardMakerUsbLibrary::initialize()
{
    return library_.initialize();
}

int BoardMakerUsbLibrary::debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b,
                                    int c)
{
    return library_.debugRead(address, subAddress, buffer, count, a, b, c);
}

int BoardMakerUsbLibrary::debugWrite(int address, int subAddress, const unsigned char* data, int count, int a,
                                     int b, int c)
{
    return library_.debugWrite(address, subAddress, data, count, a, b, c);
}

int BoardMakerUsbLibrary::setUsbPolling(int polling, int b)
{
    return library_.setUsbPolling(polling, b);
}

int BoardMakerUsbLibrary::setUsbSpeedMode(int mode, int b)
{
    return library_.setUsbSpeedMode(mode, b);
}

int BoardMakerUsbLibrary::setUsbDelay(int delay, int b)
{
    return library_.setUsbDelay(delay, b);
}

int BoardMakerIicLibrary::initialize()
{
    return library_.initialize();
}

int BoardMakerIicLibrary::debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b)
{
    return library_.debugRead(address, subAddress, buffer, count, a, b);
}

int BoardMakerIicLibrary::debugWrite(int address, int subAddress, const unsigned char* data, int count, int a,
                                     int b)
{
    return library_.debugWrite(address, subAddress, data, count, a, b);
}

int BoardMakerIicLibrary::setPolling(int polling)
{
    return library_.setPolling(polling);
}

int BoardMakerIicLibrary::setWorkDelay(int delay)
{
    return library_.setWorkDelay(delay);
}

int BoardMakerIicLibrary::targetBoardTest()
{
    return library_.targetBoardTest();
}

}  // namespace mvx::adapters
