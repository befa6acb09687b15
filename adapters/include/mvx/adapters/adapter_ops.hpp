// The one set of operations every bus transport offers the engine.
//
// Results are the engine's result codes (MvxResult): 0 success, 17 read into a
// null buffer, 18 no acknowledge, 24 / 25 a library's read / write failed,
// 12 / 13 bridge missing / not answering.  Addresses are 8-bit I2C addresses
// (write form); a register access is address, sub-address, then data.
//
// Lifecycle: open() once before the operation runs; close() only when open()
// succeeded; the object is destroyed when the engine call ends.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mvx::adapters {

// The three values an engine access passes through to the maker libraries
// after the count (the first equals the count for single-register accesses).
struct PassThrough {
    int fifth = 0;
    int sixth = 0;
    int seventh = 0;
};

class AdapterOps {
public:
    virtual ~AdapterOps() = default;

    // What the transport drives, for the run's bus lock (platform/bus_lock.hpp):
    // a path that exists is locked itself (a device node such as
    // /dev/parport0), other text names an identity that gets a lock file
    // ("ftdi usb 001/004").  Empty: nothing to lock.  Asked before open(); it
    // may list the machine's devices but never touches the bus.  With a
    // virtual board the board's folder is the lock and this is not asked.
    virtual std::string busName() { return {}; }

    virtual int open() { return 0; }
    virtual void close() {}

    // Writes count bytes to the register.
    virtual int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                      PassThrough pass) = 0;
    // Reads count bytes from the register into buffer.
    virtual int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
                     PassThrough pass) = 0;
    // Sends one prepared transfer block (258 bytes: address, register, 256
    // data bytes).  secondary / subAddress / offset tell the USB bridge where
    // the block belongs; the raw-frame transports ignore them.
    virtual int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary,
                           std::uint8_t subAddress, std::uint16_t offset) = 0;
    // 0 = a target answers (or the transport has no probe), else 13.
    virtual int probeTarget() = 0;

    // Library mode: re-applies the transport settings of the run's set-up
    // (kinds 0 and 2); nothing for the other transports.
    virtual void reapplySettings() {}
    // Operation 2 in library mode swaps the settings for fixed ones (kind 0:
    // speed (2, 0) and delay (5, 0); kind 2: polling 4 and work delay 5).
    virtual void applySerialFlashSettings() {}

    // The transport has a page path of its own (false: kind 1 without library).
    virtual bool hasPagePath() const { return true; }
};

}  // namespace mvx::adapters
