// The seven calls the FTDI transport makes of the chip's USB driver (open,
// close, read, write, latency timer, bit mode, receive-queue status), with
// the driver library's status numbers.  Three implementations:
//
//   loadFtd2xx()      FTDI's own libftd2xx.so, loaded at run time
//   makeLibftdiD2xx() the same calls carried out with libftdi1
//   makeBoardD2xx()   the virtual board's FTDI chip (MVX_VIRTUAL_BOARD)
//
// loadSystemD2xx() picks the first of the first two that is usable.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace mvx::sim {
class VirtualFtdiDevice;
}

namespace mvx::adapters {

// An open device as the driver hands it out; nullptr = none.
using FtHandle = void*;
using FtStatus = std::uint32_t;

namespace d2xx {
inline constexpr FtStatus kOk = 0;
inline constexpr FtStatus kInvalidHandle = 1;
inline constexpr FtStatus kDeviceNotFound = 2;
inline constexpr FtStatus kDeviceNotOpened = 3;
inline constexpr FtStatus kIoError = 4;
inline constexpr FtStatus kInsufficientResources = 5;
inline constexpr FtStatus kInvalidParameter = 6;
inline constexpr FtStatus kOtherError = 18;

inline constexpr std::uint8_t kBitModeReset = 0x00;
inline constexpr std::uint8_t kBitModeMpsse = 0x02;
}  // namespace d2xx

class D2xxApi {
public:
    virtual ~D2xxApi() = default;

    // Opens the deviceIndex-th chip; *handle is nullptr unless it opened.
    virtual FtStatus open(int deviceIndex, FtHandle* handle) = 0;
    virtual FtStatus close(FtHandle handle) = 0;
    // Takes up to size bytes from the receive queue; *returned says how many.
    virtual FtStatus read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* returned) = 0;
    virtual FtStatus write(FtHandle handle, const std::uint8_t* bytes, std::uint32_t size,
                           std::uint32_t* written) = 0;
    virtual FtStatus setLatencyTimer(FtHandle handle, std::uint8_t millis) = 0;
    virtual FtStatus setBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) = 0;
    // Bytes waiting in the receive queue.
    virtual FtStatus getQueueStatus(FtHandle handle, std::uint32_t* waiting) = 0;

    // Where the calls go, for diagnostics.
    virtual const char* name() const = 0;

    // The identity of the deviceIndex-th chip for the bus lock, found without
    // opening it.  By default the index itself ("ftdi chip 0"): a driver that
    // cannot say more still keeps two runs off the same first chip.
    virtual std::string chipName(int deviceIndex) { return "ftdi chip " + std::to_string(deviceIndex); }
};

// libftd2xx.so through the normal library search; nullptr (and *error) when
// it is not installed or lacks one of the seven calls.
std::unique_ptr<D2xxApi> loadFtd2xx(const std::string& library, std::string* error);

// The calls on libftdi1.  Device index n is the n-th FTDI chip libftdi1
// finds under FTDI's vendor id, opened on its first channel.  libftdi1 has
// no receive-queue status: the queue is read ahead into a buffer of our own
// (one USB read per status call, which returns as soon as the chip sends
// data, or after its latency timer with none), and read() serves from that
// buffer first.
std::unique_ptr<D2xxApi> makeLibftdiD2xx();

// libftd2xx.so when it is usable, else libftdi1.
std::unique_ptr<D2xxApi> loadSystemD2xx();

// The board's chip; the device must outlive the object.
std::unique_ptr<D2xxApi> makeBoardD2xx(sim::VirtualFtdiDevice& device);

}  // namespace mvx::adapters
