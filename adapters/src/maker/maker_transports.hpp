// The transports over the maker's adapter libraries: MVXUSBDLL for kind 0 in
// library mode, MVXIICDLL for kind 2 in library mode.
//
// open() loads the library, calls its _Initialize and makes the settings
// calls of the run's set-up.  Whether the library loaded is not checked
// there (open() answers 0 either way): without it the settings calls are
// skipped and every transfer fails, reads with 24 and writes with 25, and the
// I2C library's probe with 13, because no target-board test can be made.
// close() (and destruction) frees the library.
//
// Bus lock: the USB library's adapter is one fixed identity; the I2C library
// (MVXIICDLL.so, adapters/i2cdev) locks the bus node it opens itself, so its
// transport names nothing here.
//
// A library answer of 0 is a failure: 24 for a read, 25 for a write.  Calls
// the library could not carry are refused without calling it: a null read
// buffer (17), a negative count or missing write data (24 / 25).
#pragma once

#include <functional>
#include <memory>

#include "maker/maker_libraries.hpp"
#include "mvx/adapters/adapter_ops.hpp"

namespace mvx::adapters {

// Kind 0, library mode.
class MakerUsbTransport final : public AdapterOps {
public:
    // Gives the library, or nullptr when it cannot be had.
    using Loader = std::function<std::unique_ptr<MakerUsbApi>()>;

    // usbFrequency and usbDelay: options 60 and 64.
    MakerUsbTransport(Loader loader, int usbFrequency, int usbDelay);

    int open() override;
    void close() override;
    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              PassThrough pass) override;
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             PassThrough pass) override;
    // The block's address and register bytes open a write of the rest.
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override;
    // The USB adapter has no probe.
    int probeTarget() override { return 0; }
    // The library cannot say which adapter it drives: one fixed identity,
    // so runs through it take turns.
    std::string busName() override { return "maker usb adapter"; }
    // _SetUSBPolling(4, 0), _SetUSBSpeedMode(s, 0), _SetUSBDelay(d, 0).
    void reapplySettings() override;
    // _SetUSBSpeedMode(2, 0), _SetUSBDelay(5, 0).
    void applySerialFlashSettings() override;

    bool libraryLoaded() const { return api_ != nullptr; }

private:
    Loader loader_;
    int speedMode_;
    int delay_;
    std::unique_ptr<MakerUsbApi> api_;
};

// Kind 2, library mode.
class MakerIicTransport final : public AdapterOps {
public:
    using Loader = std::function<std::unique_ptr<MakerIicApi>()>;

    // workDelay: option 72.
    MakerIicTransport(Loader loader, int workDelay);

    int open() override;
    void close() override;
    // The two pass-through values are the first two of the engine's three.
    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              PassThrough pass) override;
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             PassThrough pass) override;
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override;
    // _TargetBoardTest: 0 (no target board) gives 13, as does a missing library.
    int probeTarget() override;
    // _SetPolling(4), _SetWorkDelay(w).
    void reapplySettings() override;
    // _SetPolling(4), _SetWorkDelay(5).
    void applySerialFlashSettings() override;

    bool libraryLoaded() const { return api_ != nullptr; }

private:
    Loader loader_;
    int workDelay_;
    std::unique_ptr<MakerIicApi> api_;
};

}  // namespace mvx::adapters
