#include "ftdi/ftdi_iic.hpp"

#include <algorithm>
#include <chrono>
#include <string>

#include "mvx/platform/debug_output.hpp"

namespace mvx::adapters {

namespace {

constexpr std::uint8_t kSetLowByte = 0x80;
constexpr std::uint8_t kSetHighByte = 0x82;
constexpr std::uint8_t kHighValueAndDirection = 0x0F;
constexpr std::uint8_t kSetDivisor = 0x86;
constexpr std::uint8_t kLoopbackOff = 0x85;
constexpr std::uint8_t kSendImmediate = 0x87;
constexpr std::uint8_t kBitsOutOnFalling = 0x13;   // MSB first
constexpr std::uint8_t kBitsInOnRising = 0x22;     // MSB first
constexpr std::uint8_t kSclBit = 0x01;
constexpr std::uint8_t kSdaBit = 0x02;

constexpr std::uint64_t kInitSettleMillis = 100;
constexpr std::uint64_t kCollectSettle = 100;   // scaled: 300 us
constexpr std::uint64_t kPollMicros = 10;

std::uint64_t steadyMicros()
{
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace

// The bus phases are timed by the chip; the PC only waits for read bytes to
// come back.  Those waits spin on the steady clock, which already counts in
// microseconds, so no tick calibration is needed (and no priority change).
TFtdiIIC_Base::TFtdiIIC_Base(const D2xxLoader& loader, platform::Clock& clock, Delays delays)
    : clock_(clock), delays_(delays)
{
    platform::debugOutput("TFtdiIIC_Base");
    if (loader)
        d2xx_ = loader();
    if (d2xx_ != nullptr)
        platform::debugOutput(std::string("LoadLibrary suc (") + d2xx_->name() + ")");
    else
        platform::debugOutput("FTDI driver library not loaded");
    commands_.reserve(kCommandCapacity);
}

TFtdiIIC_Base::~TFtdiIIC_Base()
{
    closeHandle();
}

void TFtdiIIC_Base::closeHandle()
{
    if (handle_ != nullptr && d2xx_ != nullptr)
        d2xx_->close(handle_);
    handle_ = nullptr;
    isOpen_ = false;
}

// ---- time ----

std::uint64_t TFtdiIIC_Base::now()
{
    return delays_ == Delays::Spin ? steadyMicros() : clock_.nowMicros();
}

void TFtdiIIC_Base::delay(std::uint64_t micros)
{
    if (delays_ == Delays::Sleep) {
        clock_.sleepMicros(micros);
        return;
    }
    const std::uint64_t from = steadyMicros();
    while (steadyMicros() - from < micros) {
    }
}

// ---- opening ----

bool TFtdiIIC_Base::initFtdi()
{
    platform::debugOutput("InitFTDI");
    closeHandle();
    clock_.sleepMillis(kInitSettleMillis);
    commands_.clear();
    lowValue_ = 0x03;
    lowDirection_ = kLowDirection;
    platform::debugOutput("InitFTDI open start");
    if (d2xx_ == nullptr) {
        platform::debugOutput("InitFTDI open fail: no FTDI driver library");
        return false;
    }

    FtHandle handle = nullptr;
    status_ = d2xx_->open(0, &handle);
    if (handle == nullptr) {
        platform::debugOutput("m_ftHandle InitFTDI open fail");
        platform::debugOutput("no FTDI chip could be opened (status " + std::to_string(status_) + ", " +
                              d2xx_->name() + ")");
        return false;
    }
    if (status_ != d2xx::kOk) {
        platform::debugOutput("InitFTDI open fail");
        return false;
    }
    handle_ = handle;
    platform::debugOutput("InitFTDI open suc");

    status_ = d2xx_->setLatencyTimer(handle_, kLatencyMillis);
    status_ = d2xx_->setBitMode(handle_, 0, d2xx::kBitModeReset);
    status_ = d2xx_->setBitMode(handle_, 0, d2xx::kBitModeMpsse);
    platform::debugOutput("FT_SetBitMode ");

    synchronise();   // whatever stale bytes could not be drained are drained again by every read
    platform::debugOutput("SyncToMPSSE ");

    if (clockDivisor_ < kMinClockDivisor || clockDivisor_ > kMaxClockDivisor)
        clockDivisor_ = kMinClockDivisor;
    queue({kSetLowByte, lowValue_, lowDirection_});
    queue({kSetHighByte, kHighValueAndDirection, kHighValueAndDirection});
    queue({kSetDivisor, static_cast<std::uint8_t>(clockDivisor_ & 0xFF),
           static_cast<std::uint8_t>((clockDivisor_ >> 8) & 0xFF)});
    queue({kLoopbackOff});
    platform::debugOutput("SetLoopBack ");
    isOpen_ = true;
    if (!flush()) {
        // A chip that did not take its set-up would clock garbage: not open.
        platform::debugOutput("InitFTDI set-up write fail (status " + std::to_string(status_) + ")");
        closeHandle();
        return false;
    }
    platform::debugOutput("InitFTDI end");
    return true;
}

bool TFtdiIIC_Base::synchronise()
{
    platform::debugOutput("SyncToMPSSE");
    platform::debugOutput("FT_GetQueueStatus");
    std::uint32_t waiting = 0;
    status_ = d2xx_->getQueueStatus(handle_, &waiting);
    if (status_ != d2xx::kOk)
        return false;
    platform::debugOutput("FT_GetQueueStatus suc");
    if (waiting > kReceiveQueueLimit)
        return false;
    if (waiting > 0) {
        platform::debugOutput("FT_Read");
        received_.assign(waiting, 0);
        std::uint32_t got = 0;
        status_ = d2xx_->read(handle_, received_.data(), waiting, &got);
        if (status_ != d2xx::kOk)
            return false;
    }
    platform::debugOutput("SyncToMPSSE suc");
    return true;
}

// ---- the command buffer ----

void TFtdiIIC_Base::queue(std::initializer_list<std::uint8_t> bytes)
{
    // Callers check a transfer's size before queueing it, so this never
    // runs out of room; the check keeps a mistake from growing the buffer.
    if (commands_.size() + bytes.size() <= kCommandCapacity)
        commands_.insert(commands_.end(), bytes);
}

bool TFtdiIIC_Base::flush()
{
    if (commands_.empty())
        return true;
    const auto size = static_cast<std::uint32_t>(commands_.size());
    std::uint32_t written = 0;
    status_ = d2xx_->write(handle_, commands_.data(), size, &written);
    commands_.clear();
    if (written < size)
        isOpen_ = false;
    return status_ == d2xx::kOk && written == size;
}

void TFtdiIIC_Base::pinStates(int times)
{
    for (int i = 0; i < times; ++i)
        queue({kSetLowByte, lowValue_, lowDirection_});
}

void TFtdiIIC_Base::start()
{
    lowValue_ |= kSclBit | kSdaBit;
    pinStates(4);
    lowValue_ &= static_cast<std::uint8_t>(~kSdaBit);
    pinStates(3);
    lowValue_ &= static_cast<std::uint8_t>(~kSclBit);
    pinStates(4);
}

void TFtdiIIC_Base::sendByte(std::uint8_t byte)
{
    // Eight bits, then the acknowledge slot with SDA released (not read).
    queue({kBitsOutOnFalling, 0x07, byte, kBitsOutOnFalling, 0x00, 0xFF});
}

void TFtdiIIC_Base::receiveByte()
{
    lowValue_ |= kSdaBit;
    pinStates(2);
    queue({kBitsInOnRising, 0x07, kSendImmediate});
}

void TFtdiIIC_Base::acknowledge()
{
    queue({kBitsOutOnFalling, 0x00, 0x00});
}

void TFtdiIIC_Base::noAcknowledge()
{
    queue({kBitsOutOnFalling, 0x00, 0xFF});
}

void TFtdiIIC_Base::stop()
{
    lowValue_ &= static_cast<std::uint8_t>(~(kSclBit | kSdaBit));
    pinStates(5);
    lowValue_ = static_cast<std::uint8_t>((lowValue_ & ~kSdaBit) | kSclBit);
    pinStates(4);
    lowValue_ |= kSclBit | kSdaBit;
    pinStates(6);
}

// ---- transfers ----

bool TFtdiIIC_Base::writeBytes(std::uint8_t address, int count, const std::uint8_t* bytes)
{
    if (!isOpen_)
        return false;
    if (count == 0)
        return true;
    if (count < 0 || count > kMaxWriteCount || bytes == nullptr) {
        platform::debugOutput("FTDI write of " + std::to_string(count) + " bytes refused");
        return false;
    }
    commands_.clear();
    start();
    sendByte(address);
    for (int i = 0; i < count; ++i)
        sendByte(bytes[i]);
    stop();
    return flush();
}

bool TFtdiIIC_Base::readBytes(std::uint8_t address, int count, std::uint8_t* buffer)
{
    if (!isOpen_)
        return false;
    if (count == 0)
        return true;
    if (count < 0 || count > kMaxReadCount || buffer == nullptr) {
        platform::debugOutput("FTDI read of " + std::to_string(count) + " bytes refused");
        return false;
    }
    collect(nullptr, 0);   // empties the receive queue of anything stale
    commands_.clear();
    start();
    sendByte(address);
    for (int i = 0; i < count - 1; ++i) {
        receiveByte();
        acknowledge();
    }
    receiveByte();
    noAcknowledge();
    stop();
    if (!flush())
        return false;
    if (!collect(buffer, count)) {
        platform::debugOutput("FTDI read: " + std::to_string(count) + " bytes did not come back (status " +
                              std::to_string(status_) + ")");
        return false;
    }
    return true;
}

// Waits for at least count bytes in the receive queue, takes everything
// queued and keeps the last count of it: the bytes of this read are the
// last ones the chip sent.
bool TFtdiIIC_Base::collect(std::uint8_t* buffer, int count)
{
    scaledDelay(kCollectSettle);
    const auto wanted = static_cast<std::uint32_t>(count);
    const std::uint64_t from = now();
    std::uint32_t waiting = 0;
    bool ready = false;
    for (int poll = 0; poll < kCollectPolls && !ready; ++poll) {
        delay(kPollMicros);
        status_ = d2xx_->getQueueStatus(handle_, &waiting);
        if (status_ != d2xx::kOk)
            return false;
        ready = waiting >= wanted;
        if (!ready && now() - from > kCollectLimitMicros)
            break;
    }
    if (!ready)
        return false;
    if (waiting == 0)
        return true;
    received_.assign(std::min(waiting, kReceiveQueueLimit), 0);
    std::uint32_t got = 0;
    status_ = d2xx_->read(handle_, received_.data(), static_cast<std::uint32_t>(received_.size()), &got);
    if (status_ != d2xx::kOk || got < wanted)
        return false;
    if (wanted > 0)
        std::copy_n(received_.begin() + (got - wanted), wanted, buffer);
    return true;
}

}  // namespace mvx::adapters
