#include "mvx/sim/ftdi_device.hpp"

#include <algorithm>

namespace mvx::sim {

namespace {

constexpr std::uint8_t kSckBit = 0x01;
constexpr std::uint8_t kDoBit = 0x02;
constexpr std::uint8_t kDiBit = 0x04;

// Data-shifting opcode bits.
constexpr std::uint8_t kOutOnFalling = 0x01;
constexpr std::uint8_t kBitMode = 0x02;
constexpr std::uint8_t kInOnFalling = 0x04;
constexpr std::uint8_t kLsbFirst = 0x08;
constexpr std::uint8_t kDataOut = 0x10;
constexpr std::uint8_t kDataIn = 0x20;

bool isShift(std::uint8_t opcode)
{
    return opcode >= 0x10 && opcode <= 0x3F;
}

bool isTmsShift(std::uint8_t opcode)
{
    switch (opcode) {
    case 0x4A: case 0x4B: case 0x6A: case 0x6B: case 0x6E: case 0x6F:
        return true;
    default:
        return false;
    }
}

bool validBitMode(std::uint8_t mode)
{
    switch (mode) {
    case 0x00: case 0x01: case 0x02: case 0x04: case 0x08: case 0x10: case 0x20: case 0x40:
        return true;
    default:
        return false;
    }
}

}  // namespace

VirtualFtdiDevice::VirtualFtdiDevice(I2cBus& bus, VirtualClock& clock) : lines_(bus), clock_(clock)
{
}

// ---- D2XX calls ----

FtStatus VirtualFtdiDevice::usable() const
{
    if (!open_)
        return FtStatus::InvalidHandle;
    if (!plugged_)
        return FtStatus::IoError;
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::open(int deviceIndex)
{
    if (!plugged_ || deviceIndex != 0)
        return FtStatus::DeviceNotFound;
    if (open_)
        return FtStatus::DeviceNotOpened;   // already open elsewhere
    open_ = true;
    hostQueue_.clear();
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::close()
{
    if (!open_)
        return FtStatus::InvalidHandle;
    open_ = false;
    hostQueue_.clear();
    chipAnswers_.clear();
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::write(std::span<const std::uint8_t> bytes, std::uint32_t& written)
{
    written = 0;
    if (const FtStatus status = usable(); status != FtStatus::Ok)
        return status;
    if (bytes.empty())
        return FtStatus::Ok;
    usbTransfer();
    written = static_cast<std::uint32_t>(bytes.size());
    if (bitMode_ != kBitModeMpsse)
        return FtStatus::Ok;   // the UART side: nothing is listening
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    interpret();
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::read(std::span<std::uint8_t> buffer, std::uint32_t& returned)
{
    returned = 0;
    if (const FtStatus status = usable(); status != FtStatus::Ok)
        return status;
    deliverDueAnswers();
    if (hostQueue_.size() < buffer.size() && !chipAnswers_.empty()) {
        // Wait for the latency timer to send what the chip holds.
        const std::uint64_t due = answersSince_ + std::uint64_t{latencyMillis_} * 1000u;
        const std::uint64_t now = clock_.nowMicros();
        if (due > now)
            clock_.advance(due - now);
        deliverAnswers();
    }
    const std::size_t count = std::min(buffer.size(), hostQueue_.size());
    std::copy_n(hostQueue_.begin(), count, buffer.begin());
    hostQueue_.erase(hostQueue_.begin(), hostQueue_.begin() + static_cast<std::ptrdiff_t>(count));
    returned = static_cast<std::uint32_t>(count);
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::setLatencyTimer(std::uint8_t millis)
{
    if (const FtStatus status = usable(); status != FtStatus::Ok)
        return status;
    if (millis < 2)
        return FtStatus::InvalidParameter;
    usbTransfer();
    latencyMillis_ = millis;
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::setBitMode(std::uint8_t /*mask*/, std::uint8_t mode)
{
    if (const FtStatus status = usable(); status != FtStatus::Ok)
        return status;
    if (!validBitMode(mode))
        return FtStatus::InvalidParameter;
    usbTransfer();
    if (mode == kBitModeMpsse)
        enterMpsse();
    else
        leaveMpsse();
    bitMode_ = mode;
    applyPins();
    return FtStatus::Ok;
}

FtStatus VirtualFtdiDevice::getQueueStatus(std::uint32_t& bytesWaiting)
{
    bytesWaiting = 0;
    if (const FtStatus status = usable(); status != FtStatus::Ok)
        return status;
    deliverDueAnswers();
    bytesWaiting = static_cast<std::uint32_t>(hostQueue_.size());
    return FtStatus::Ok;
}

// ---- USB ----

void VirtualFtdiDevice::usbTransfer()
{
    ++usbTransfers_;
    clock_.advance(kUsbTransferMicros);
}

void VirtualFtdiDevice::answer(std::uint8_t byte)
{
    if (chipAnswers_.empty())
        answersSince_ = clock_.nowMicros();
    chipAnswers_.push_back(byte);
    if (chipAnswers_.size() >= kPacketPayload)
        deliverAnswers();
}

void VirtualFtdiDevice::deliverAnswers()
{
    if (chipAnswers_.empty())
        return;
    usbTransfer();
    for (std::uint8_t byte : chipAnswers_) {
        if (hostQueue_.size() < kHostQueueLimit)
            hostQueue_.push_back(byte);
        else
            ++lostBytes_;
    }
    chipAnswers_.clear();
}

void VirtualFtdiDevice::deliverDueAnswers()
{
    if (!chipAnswers_.empty() &&
        clock_.nowMicros() >= answersSince_ + std::uint64_t{latencyMillis_} * 1000u)
        deliverAnswers();
}

// ---- MPSSE ----

std::uint64_t VirtualFtdiDevice::bitNanos() const
{
    // The 60 MHz master clock, divided by 5 unless 0x8A turned that off, then
    // by (1 + divisor) x 2.
    const std::uint64_t masterHz = divideBy5_ ? 12'000'000u : 60'000'000u;
    return (std::uint64_t{divisor_} + 1u) * 2u * 1'000'000'000u / masterHz;
}

void VirtualFtdiDevice::enterMpsse()
{
    // The engine starts with every pin an input and its default clock options.
    pending_.clear();
    lowValue_ = lowDirection_ = highValue_ = highDirection_ = 0;
    divisor_ = 0;
    divideBy5_ = true;
    loopback_ = false;
    threePhase_ = false;
    adaptive_ = false;
    driveZeroMask_ = 0;
}

void VirtualFtdiDevice::leaveMpsse()
{
    pending_.clear();
}

void VirtualFtdiDevice::interpret()
{
    std::size_t at = 0;
    while (at < pending_.size()) {
        const std::span<const std::uint8_t> rest(pending_.data() + at, pending_.size() - at);
        const std::size_t size = commandSize(rest);
        if (size > rest.size())
            break;   // the rest of the command comes with the next write
        execute(rest.first(size));
        at += size;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(at));
}

std::size_t VirtualFtdiDevice::commandSize(std::span<const std::uint8_t> rest) const
{
    const std::uint8_t opcode = rest[0];
    if (isShift(opcode)) {
        if ((opcode & kBitMode) != 0)
            return (opcode & kDataOut) != 0 ? 3 : 2;
        if ((opcode & kDataOut) == 0)
            return 3;
        if (rest.size() < 3)
            return 3;   // the length is not known yet
        const std::size_t length = rest[1] | (std::size_t{rest[2]} << 8);
        return 3 + length + 1;
    }
    if (isTmsShift(opcode))
        return 3;
    switch (opcode) {
    case 0x80: case 0x82: case 0x86: case 0x8F: case 0x9C: case 0x9D: case 0x9E:
        return 3;
    case 0x8E:
        return 2;
    default:
        return 1;   // one-byte commands, and bad commands
    }
}

void VirtualFtdiDevice::execute(std::span<const std::uint8_t> command)
{
    const std::uint8_t opcode = command[0];
    if (isShift(opcode)) {
        const bool in = (opcode & kDataIn) != 0;
        if ((opcode & kBitMode) != 0) {
            const unsigned count = (command[1] & 0x07u) + 1;
            const std::uint8_t out = (opcode & kDataOut) != 0 ? command[2] : 0;
            const std::uint8_t value = clockBits(opcode, out, count);
            if (in)
                answer(value);
            return;
        }
        const std::size_t length = (command[1] | (std::size_t{command[2]} << 8)) + 1;
        for (std::size_t i = 0; i < length; ++i) {
            const std::uint8_t out = (opcode & kDataOut) != 0 ? command[3 + i] : 0;
            const std::uint8_t value = clockBits(opcode, out, 8);
            if (in)
                answer(value);
        }
        return;
    }
    if (isTmsShift(opcode)) {
        // TMS (ADBUS3) goes nowhere; DO holds bit 7 of the data byte meanwhile.
        lowValue_ = static_cast<std::uint8_t>((command[2] & 0x80u) != 0 ? lowValue_ | kDoBit : lowValue_ & ~kDoBit);
        applyPins();
        const std::uint8_t value = clockBits(static_cast<std::uint8_t>(opcode & ~kDataOut), 0,
                                             (command[1] & 0x07u) + 1);
        if ((opcode & kDataIn) != 0)
            answer(value);
        return;
    }
    if (opcode >= 0x80 && opcode <= 0x83)
        clock_.advanceNanos(kGpioCommandNanos);
    switch (opcode) {
    case 0x80:
        lowValue_ = command[1];
        lowDirection_ = command[2];
        applyPins();
        break;
    case 0x81:
        answer(readLowPins());
        break;
    case 0x82:
        highValue_ = command[1];
        highDirection_ = command[2];
        break;
    case 0x83:
        // Nothing is wired to the high byte: inputs float high.
        answer(static_cast<std::uint8_t>((highValue_ & highDirection_) | ~highDirection_));
        break;
    case 0x84:
        loopback_ = true;
        break;
    case 0x85:
        loopback_ = false;
        break;
    case 0x86:
        divisor_ = static_cast<std::uint16_t>(command[1] | (command[2] << 8));
        break;
    case 0x87:
        deliverAnswers();
        break;
    case 0x8A:
        divideBy5_ = false;
        break;
    case 0x8B:
        divideBy5_ = true;
        break;
    case 0x8C:
        threePhase_ = true;
        break;
    case 0x8D:
        threePhase_ = false;
        break;
    case 0x8E:
        clockBits(0, 0, (command[1] & 0x07u) + 1);
        break;
    case 0x8F: {
        const std::size_t bytes = (command[1] | (std::size_t{command[2]} << 8)) + 1;
        for (std::size_t i = 0; i < bytes; ++i)
            clockBits(0, 0, 8);
        break;
    }
    case 0x96:
        adaptive_ = true;
        break;
    case 0x97:
        adaptive_ = false;
        break;
    case 0x9E:
        driveZeroMask_ = static_cast<std::uint16_t>(command[1] | (command[2] << 8));
        break;
    case 0x88: case 0x89: case 0x94: case 0x95: case 0x9C: case 0x9D:
        break;   // waits on GPIOL1, which nothing drives
    default:
        ++badCommands_;
        answer(kBadCommand);
        answer(opcode);
        break;
    }
}

std::uint8_t VirtualFtdiDevice::clockBits(std::uint8_t opcode, std::uint8_t out, unsigned count)
{
    const bool clockOut = (opcode & kDataOut) != 0;
    const bool clockIn = (opcode & kDataIn) != 0;
    const bool lsbFirst = (opcode & kLsbFirst) != 0;
    const bool outOnFalling = (opcode & kOutOnFalling) != 0;
    const bool inOnFalling = (opcode & kInOnFalling) != 0;
    std::uint8_t value = 0;
    clock_.advanceNanos(count * bitNanos());
    for (unsigned i = 0; i < count; ++i) {
        const bool bit = ((lsbFirst ? out >> i : out >> (7 - i)) & 1u) != 0;
        const bool idleHigh = (lowValue_ & kSckBit) != 0;
        // Each bit is two clock edges: away from the idle level and back.
        const bool firstRising = !idleHigh;
        const bool outOnFirst = firstRising != outOnFalling;
        if (clockOut && !outOnFirst) {
            // The data changes on the edge that ends the previous bit, so it is
            // on the line before this bit's first edge.
            lowValue_ = static_cast<std::uint8_t>(bit ? lowValue_ | kDoBit : lowValue_ & ~kDoBit);
            applyPins();
        }
        bool sample = false;
        for (int edge = 0; edge < 2; ++edge) {
            const bool rising = edge == 0 ? firstRising : !firstRising;
            if (clockIn && inOnFalling && !rising)
                sample = dataIn();
            lowValue_ = static_cast<std::uint8_t>(rising ? lowValue_ | kSckBit : lowValue_ & ~kSckBit);
            if (clockOut && outOnFirst && edge == 0)
                lowValue_ = static_cast<std::uint8_t>(bit ? lowValue_ | kDoBit : lowValue_ & ~kDoBit);
            applyPins();
            if (clockIn && !inOnFalling && rising)
                sample = dataIn();
        }
        value = lsbFirst ? static_cast<std::uint8_t>((value >> 1) | (sample ? 0x80u : 0u))
                         : static_cast<std::uint8_t>((value << 1) | (sample ? 1u : 0u));
    }
    return value;
}

void VirtualFtdiDevice::applyPins()
{
    const bool mpsse = bitMode_ == kBitModeMpsse;
    const bool sclLow = mpsse && (lowDirection_ & kSckBit) != 0 && (lowValue_ & kSckBit) == 0;
    const bool sdaLow = mpsse && (lowDirection_ & kDoBit) != 0 && (lowValue_ & kDoBit) == 0;
    lines_.drive(!sclLow, !sdaLow);
}

bool VirtualFtdiDevice::dataIn() const
{
    if (loopback_)
        return (lowValue_ & kDoBit) != 0;
    return lines_.sda();
}

std::uint8_t VirtualFtdiDevice::readLowPins() const
{
    // Outputs read what they drive; SCK, DO and DI as inputs read the lines;
    // the other inputs float high.
    std::uint8_t pins = static_cast<std::uint8_t>((lowValue_ & lowDirection_) | ~lowDirection_);
    const auto input = [&](std::uint8_t bit, bool level) {
        if ((lowDirection_ & bit) == 0)
            pins = static_cast<std::uint8_t>(level ? pins | bit : pins & ~bit);
    };
    input(kSckBit, lines_.scl());
    input(kDoBit, lines_.sda());
    input(kDiBit, dataIn());
    return pins;
}

}  // namespace mvx::sim
