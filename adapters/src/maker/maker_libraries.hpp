// The maker's two adapter libraries as the transports call them: one method
// per export, with the export's arguments and answers (0 = failure).  Behind
// each interface either the library file of the adapter-library folder or
// the virtual board's model of it.
#pragma once

#include <memory>
#include <string>

#include "mvx/adapters/maker_library_abi.h"
#include "mvx/platform/dynamic_library.hpp"

namespace mvx::sim {
class VirtualMakerUsbLibrary;
class VirtualMakerIicLibrary;
}

namespace mvx::adapters {

// MVXUSBDLL
class MakerUsbApi {
public:
    virtual ~MakerUsbApi() = default;
    virtual int initialize() = 0;
    virtual int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b, int c) = 0;
    virtual int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b,
                           int c) = 0;
    virtual int setUsbPolling(int polling, int b) = 0;
    virtual int setUsbSpeedMode(int mode, int b) = 0;
    virtual int setUsbDelay(int delay, int b) = 0;
};

// MVXIICDLL
class MakerIicApi {
public:
    virtual ~MakerIicApi() = default;
    virtual int initialize() = 0;
    virtual int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b) = 0;
    virtual int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b) = 0;
    virtual int setPolling(int polling) = 0;
    virtual int setWorkDelay(int delay) = 0;
    virtual int targetBoardTest() = 0;
};

// ---- the library files ----

// MVXUSBDLL loaded from path: nullptr (and *error) when the file does not
// load or lacks one of the six exports.  The library stays loaded for the
// life of the object.
class LoadedMakerUsbLibrary final : public MakerUsbApi {
public:
    static std::unique_ptr<LoadedMakerUsbLibrary> load(const std::string& path, std::string* error);

    int initialize() override { return initialize_(); }
    int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b, int c) override
    {
        return debugRead_(address, subAddress, buffer, count, a, b, c);
    }
    int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b,
                   int c) override
    {
        return debugWrite_(address, subAddress, data, count, a, b, c);
    }
    int setUsbPolling(int polling, int b) override { return setPolling_(polling, b); }
    int setUsbSpeedMode(int mode, int b) override { return setSpeedMode_(mode, b); }
    int setUsbDelay(int delay, int b) override { return setDelay_(delay, b); }

private:
    LoadedMakerUsbLibrary() = default;

    platform::DynamicLibrary library_;
    MvxMakerInitializeFn initialize_ = nullptr;
    MvxUsbDebugReadFn debugRead_ = nullptr;
    MvxUsbDebugWriteFn debugWrite_ = nullptr;
    MvxUsbSetPollingFn setPolling_ = nullptr;
    MvxUsbSetSpeedModeFn setSpeedMode_ = nullptr;
    MvxUsbSetDelayFn setDelay_ = nullptr;
};

// MVXIICDLL loaded from path, as above.
class LoadedMakerIicLibrary final : public MakerIicApi {
public:
    static std::unique_ptr<LoadedMakerIicLibrary> load(const std::string& path, std::string* error);

    int initialize() override { return initialize_(); }
    int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b) override
    {
        return debugRead_(address, subAddress, buffer, count, a, b);
    }
    int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b) override
    {
        return debugWrite_(address, subAddress, data, count, a, b);
    }
    int setPolling(int polling) override { return setPolling_(polling); }
    int setWorkDelay(int delay) override { return setWorkDelay_(delay); }
    int targetBoardTest() override { return targetBoardTest_(); }

private:
    LoadedMakerIicLibrary() = default;

    platform::DynamicLibrary library_;
    MvxMakerInitializeFn initialize_ = nullptr;
    MvxIicDebugReadFn debugRead_ = nullptr;
    MvxIicDebugWriteFn debugWrite_ = nullptr;
    MvxIicSetPollingFn setPolling_ = nullptr;
    MvxIicSetWorkDelayFn setWorkDelay_ = nullptr;
    MvxIicTargetBoardTestFn targetBoardTest_ = nullptr;
};

// ---- the virtual board's libraries ----

class BoardMakerUsbLibrary final : public MakerUsbApi {
public:
    explicit BoardMakerUsbLibrary(sim::VirtualMakerUsbLibrary& library) : library_(library) {}

    int initialize() override;
    int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b, int c) override;
    int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b,
                   int c) override;
    int setUsbPolling(int polling, int b) override;
    int setUsbSpeedMode(int mode, int b) override;
    int setUsbDelay(int delay, int b) override;

private:
    sim::VirtualMakerUsbLibrary& library_;
};

class BoardMakerIicLibrary final : public MakerIicApi {
public:
    explicit BoardMakerIicLibrary(sim::VirtualMakerIicLibrary& library) : library_(library) {}

    int initialize() override;
    int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b) override;
    int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b) override;
    int setPolling(int polling) override;
    int setWorkDelay(int delay) override;
    int targetBoardTest() override;

private:
    sim::VirtualMakerIicLibrary& library_;
};

}  // namespace mvx::adapters
