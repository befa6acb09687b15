// I2C through the first channel of an FTDI chip in MPSSE mode.
//
// The PC queues MPSSE commands and sends a whole transfer in one write; the
// chip times the bus (clock divisor, and pin states repeated to stretch each
// bus phase).  The slave's acknowledge bits are not looked at: writes go out
// blind, reads return what the chip clocked in.  Pins of the low GPIO byte:
// bit 0 SCL, bit 1 SDA out, bit 2 SDA in.
//
// Every transfer is START, address, bytes, STOP.  A read's bytes are
// acknowledged but the last, and the read ends by collecting the bytes the
// chip sent back: after 300 us the receive queue is polled every 10 us, at
// most 2,000 times (and for at most 200 ms of clock time, for drivers whose
// status call itself waits on USB), until the bytes are there.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "ftdi/d2xx.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::adapters {

class TFtdiIIC_Base {
public:
    // Gives the driver calls, or nullptr when the driver library is missing.
    using D2xxLoader = std::function<std::unique_ptr<D2xxApi>()>;

    // How the microsecond waits are made: spinning on the machine's steady
    // clock, or sleeping on the given clock (the virtual board's, whose time
    // only moves when someone sleeps or the bus works).
    enum class Delays { Spin, Sleep };

    static constexpr std::size_t kCommandCapacity = 65536;
    static constexpr int kDelayScale = 3;
    static constexpr int kMinClockDivisor = 14;
    static constexpr int kMaxClockDivisor = 200;
    static constexpr std::uint8_t kLatencyMillis = 16;
    static constexpr std::uint8_t kLowDirection = 0x13;   // SCL, SDA out and GPIOL0 are outputs
    static constexpr int kCollectPolls = 2000;
    static constexpr std::uint64_t kCollectLimitMicros = 200000;
    static constexpr std::uint32_t kReceiveQueueLimit = 65536;

    // Bytes queued per sequence.
    static constexpr std::size_t kStartBytes = 11 * 3;
    static constexpr std::size_t kSendBytes = 6;
    static constexpr std::size_t kReceiveBytes = 2 * 3 + 3;
    static constexpr std::size_t kAcknowledgeBytes = 3;
    static constexpr std::size_t kStopBytes = 15 * 3;
    // The longest transfers one command buffer carries.
    static constexpr int kMaxWriteCount =
        static_cast<int>((kCommandCapacity - kStartBytes - kSendBytes - kStopBytes) / kSendBytes);
    static constexpr int kMaxReadCount = static_cast<int>(
        (kCommandCapacity - kStartBytes - kSendBytes - kStopBytes) / (kReceiveBytes + kAcknowledgeBytes));

    // Loads the driver calls through loader (nullptr or a null answer: the
    // library is missing, and the chip can never be opened).
    TFtdiIIC_Base(const D2xxLoader& loader, platform::Clock& clock, Delays delays);
    // Closes the chip when a handle is held (also after a failed write).
    ~TFtdiIIC_Base();
    TFtdiIIC_Base(const TFtdiIIC_Base&) = delete;
    TFtdiIIC_Base& operator=(const TFtdiIIC_Base&) = delete;

    // Option 68; InitFTDI keeps it only when 14..200, else uses 14.
    void setClockDivisor(int divisor) { clockDivisor_ = divisor; }
    int clockDivisor() const { return clockDivisor_; }

    // Opens chip 0 and puts it into MPSSE mode with both lines released.
    // True when the chip is ready; the handle is closed again on failure.
    bool initFtdi();

    // START, address, count bytes, STOP, in one write.  True when it went out
    // whole (count 0 sends nothing and is true).  False when the chip is not
    // open, the write failed or came short (the chip then counts as closed),
    // or the transfer cannot be carried (negative count, missing bytes, more
    // than kMaxWriteCount bytes).
    bool writeBytes(std::uint8_t address, int count, const std::uint8_t* bytes);
    // START, address (bit 0 already set), count bytes, STOP, then collects
    // the bytes into buffer.  False as writeBytes, and also when the bytes
    // did not come back: buffer is then left as it was.
    bool readBytes(std::uint8_t address, int count, std::uint8_t* buffer);

    bool libraryLoaded() const { return d2xx_ != nullptr; }
    bool isOpen() const { return isOpen_; }
    bool holdsHandle() const { return handle_ != nullptr; }
    // The last driver status.
    FtStatus status() const { return status_; }

private:
    void closeHandle();
    void delay(std::uint64_t micros);
    void scaledDelay(std::uint64_t n) { delay(n * kDelayScale); }
    std::uint64_t now();

    bool synchronise();
    bool flush();
    bool collect(std::uint8_t* buffer, int count);

    void queue(std::initializer_list<std::uint8_t> bytes);
    void pinStates(int times);
    void start();
    void sendByte(std::uint8_t byte);
    void receiveByte();
    void acknowledge();
    void noAcknowledge();
    void stop();

    std::unique_ptr<D2xxApi> d2xx_;
    platform::Clock& clock_;
    Delays delays_;
    FtStatus status_ = d2xx::kOk;
    FtHandle handle_ = nullptr;
    bool isOpen_ = false;
    std::uint8_t lowValue_ = 0x03;
    std::uint8_t lowDirection_ = kLowDirection;
    int clockDivisor_ = kMinClockDivisor;
    std::vector<std::uint8_t> commands_;   // queued until flushed
    std::vector<std::uint8_t> received_;   // collection buffer, kept between reads
};

}  // namespace mvx::adapters
