#include "parallel/parallel_iic.hpp"

#include <array>
#include <cstring>

#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {

namespace {

constexpr std::uint8_t kSdaLow = 0x8F;       // data port: bit 7 pulls SDA low, bits 0-3 stay set
constexpr std::uint8_t kSdaRelease = 0x0F;
constexpr std::uint8_t kSclLow = 0x00;       // control port
constexpr std::uint8_t kSclRelease = 0x08;
constexpr std::uint8_t kSdaStatusBit = 0x80;  // status port
constexpr std::uint32_t kProbeSettleMillis = 20;

constexpr std::uint8_t bitLevel(std::uint8_t byte, int bit)
{
    return ((byte >> bit) & 1u) != 0 ? kSdaRelease : kSdaLow;
}

}  // namespace

ParallelIic::ParallelIic(Wiring wiring, PortIo& port, platform::Clock& clock)
    : wiring_(wiring), port_(port), clock_(clock)
{
}

bool ParallelIic::reachPort()
{
    portReached_ = port_.available();
    return portReached_;
}

bool ParallelIic::sdaHigh()
{
    const bool bit7 = (port_.read(PortIo::kStatusPort) & kSdaStatusBit) != 0;
    return wiring_ == Wiring::Cvt ? bit7 : !bit7;
}

// ---- frame write ----

int ParallelIic::frameWrite(const std::uint8_t* bytes, int count, unsigned flags)
{
    if (count < 0 || (count > 0 && bytes == nullptr))
        return 0;   // nothing that could be sent
    if (!reachPort())
        return -1;

    driveData(kSdaLow);   // also without START: continues a frame left open
    if (flags & kStart) {
        yield();
        driveData(kSdaLow);
        yield();
        driveControl(kSclLow);
    }

    int acknowledgedBytes = 0;
    for (int i = 0; i < count; ++i) {
        const std::uint8_t byte = bytes[i];
        for (int bit = 7; bit >= 0; --bit) {
            const std::uint8_t level = bitLevel(byte, bit);
            yield();
            driveControl(kSclLow);
            yield();
            driveData(level);
            // The CVT cable checks that a released SDA really went high.
            if (level == kSdaRelease && wiring_ == Wiring::Cvt && !sdaHigh())
                platform::debugOutput("sda fail");
            yield();
            driveControl(kSclRelease);
        }
        // The acknowledge clock; SCL is left high.
        yield();
        driveControl(kSclLow);
        yield();
        driveData(kSdaRelease);
        yield();
        driveControl(kSclRelease);
        yield();
        yield();
        yield();
        if (!sdaHigh())
            ++acknowledgedBytes;
    }

    if (flags & kStop) {
        yield();
        driveControl(kSclLow);
        yield();
        driveData(kSdaLow);
        // Without a low SDA (no cable, a stuck line) there is no STOP to make.
        if (!sdaHigh()) {
            yield();
            driveControl(kSclRelease);
            yield();
            driveData(kSdaRelease);
        }
    }
    return acknowledgedBytes == count ? 1 : 0;
}

// ---- register read ----

void ParallelIic::sendReadPhaseByte(std::uint8_t byte)
{
    for (int bit = 7; bit >= 0; --bit) {
        yield();
        driveControl(kSclLow);
        driveData(bitLevel(byte, bit));
        driveControl(kSclRelease);
    }
}

bool ParallelIic::acknowledged()
{
    yield();
    driveControl(kSclLow);
    yield();
    driveData(kSdaRelease);
    yield();
    driveControl(kSclRelease);
    yield();
    return !sdaHigh();
}

int ParallelIic::registerRead(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count)
{
    if (buffer == nullptr)
        return MVX_ERR_NULL_BUFFER;
    if (count < 0)
        return MVX_ERR_LIBRARY_READ;
    std::memset(buffer, 0, static_cast<std::size_t>(count));
    // No frame write or probe has reached the port: nothing to read with.
    if (!portReached_)
        return MVX_ERR_TIMEOUT;

    // START
    driveControl(kSclLow);
    driveControl(kSclRelease);
    yield();
    driveData(kSdaLow);
    yield();
    driveControl(kSclLow);

    sendReadPhaseByte(address);
    if (!acknowledged())
        return MVX_ERR_TIMEOUT;
    sendReadPhaseByte(subAddress);
    if (!acknowledged())
        return MVX_ERR_TIMEOUT;

    // Repeated START
    yield();
    driveControl(kSclLow);
    yield();
    driveControl(kSclRelease);
    yield();
    driveData(kSdaLow);
    yield();
    driveControl(kSclLow);

    sendReadPhaseByte(static_cast<std::uint8_t>(address | 1u));
    if (!acknowledged())
        return MVX_ERR_TIMEOUT;

    for (int i = 0; i < count; ++i) {
        std::uint8_t byte = 0;
        for (int bit = 0; bit < 8; ++bit) {
            driveControl(kSclLow);
            driveData(kSdaRelease);
            yield();
            driveControl(kSclRelease);
            yield();
            byte = static_cast<std::uint8_t>((byte << 1) | (sdaHigh() ? 1u : 0u));
            yield();
        }
        buffer[i] = byte;
        // Acknowledge every byte but the last.
        yield();
        driveControl(kSclLow);
        if (i + 1 < count)
            driveData(kSdaLow);
        driveControl(kSclRelease);
    }

    // STOP
    yield();
    driveControl(kSclLow);
    yield();
    driveData(kSdaLow);
    yield();
    driveControl(kSclRelease);
    yield();
    driveData(kSdaRelease);
    return MVX_OK;
}

// ---- probe ----

int ParallelIic::probe()
{
    if (!reachPort())
        return -1;
    driveData(kSdaLow);
    clock_.sleepMillis(kProbeSettleMillis);
    driveData(kSdaRelease);
    clock_.sleepMillis(kProbeSettleMillis);
    return sdaHigh() ? 1 : 0;
}

// ---- AdapterOps ----

int ParallelIic::write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                       PassThrough)
{
    if (count < 0 || count > kMaxDataBytes || (count > 0 && data == nullptr)) {
        platform::debugOutput("debug write fail");
        return MVX_ERR_LIBRARY_WRITE;
    }
    std::array<std::uint8_t, kMaxFrame> frame{};
    frame[0] = address;
    frame[1] = subAddress;
    if (count > 0)
        std::memcpy(frame.data() + 2, data, static_cast<std::size_t>(count));
    frameWrite(frame.data(), count + 2, kStart | kStop);   // its acknowledges are not passed on
    return MVX_OK;
}

int ParallelIic::read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count, PassThrough)
{
    return registerRead(address, subAddress, buffer, count);
}

int ParallelIic::writeBlock(const std::uint8_t* block, int length, std::uint8_t, std::uint8_t, std::uint16_t)
{
    if (block == nullptr || length <= 0 || length > kMaxFrame) {
        platform::debugOutput("debug write fail");
        return MVX_ERR_LIBRARY_WRITE;
    }
    frameWrite(block, length, kStart | kStop);
    return MVX_OK;
}

int ParallelIic::probeTarget()
{
    return probe() == 0 ? MVX_ERR_ISP_MODE : MVX_OK;
}

}  // namespace mvx::adapters
