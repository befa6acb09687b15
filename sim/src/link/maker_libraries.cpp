#include "mvx/sim/maker_libraries.hpp"

#include <span>

namespace mvx::sim {

namespace {

bool validAccess(std::int32_t address, std::int32_t subAddress, const void* buffer, std::int32_t count,
                 std::int32_t maxTransfer)
{
    if (address < 0 || address > 0xFF || subAddress < 0 || subAddress > 0xFF)
        return false;
    if (count < 0 || count > maxTransfer)
        return false;
    return count == 0 || buffer != nullptr;
}

std::int32_t busRead(I2cBus& bus, std::int32_t address, std::int32_t subAddress, std::uint8_t* buffer,
                     std::int32_t count)
{
    const std::span<std::uint8_t> out(buffer, static_cast<std::size_t>(count));
    return bus.readRegister(static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(subAddress), out) ? 1 : 0;
}

std::int32_t busWrite(I2cBus& bus, std::int32_t address, std::int32_t subAddress, const std::uint8_t* data,
                      std::int32_t count)
{
    const std::span<const std::uint8_t> in(data, static_cast<std::size_t>(count));
    return bus.writeRegister(static_cast<std::uint8_t>(address), static_cast<std::uint8_t>(subAddress), in) ? 1 : 0;
}

}  // namespace

// ---- the USB adapter ----

VirtualMakerUsbLibrary::VirtualMakerUsbLibrary(I2cBus& bus, VirtualClock& clock) : bus_(bus), clock_(clock)
{
}

void VirtualMakerUsbLibrary::transfer(unsigned count)
{
    usbTransfers_ += count;
    clock_.advance(std::uint64_t{count} * kUsbTransferMicros);
}

std::int32_t VirtualMakerUsbLibrary::initialize()
{
    if (!plugged_)
        return 0;
    transfer(1);
    initialized_ = true;
    return 1;
}

std::int32_t VirtualMakerUsbLibrary::debugRead(std::int32_t address, std::int32_t subAddress, std::uint8_t* buffer,
                                               std::int32_t count, std::int32_t /*a*/, std::int32_t /*b*/,
                                               std::int32_t /*c*/)
{
    if (!ready() || !validAccess(address, subAddress, buffer, count, kMaxTransfer))
        return 0;
    transfer(2);
    pacing_.before(clock_);
    const std::int32_t answer = busRead(bus_, address, subAddress, buffer, count);
    pacing_.after(clock_);
    return answer;
}

std::int32_t VirtualMakerUsbLibrary::debugWrite(std::int32_t address, std::int32_t subAddress,
                                                const std::uint8_t* data, std::int32_t count, std::int32_t /*a*/,
                                                std::int32_t /*b*/, std::int32_t /*c*/)
{
    if (!ready() || !validAccess(address, subAddress, data, count, kMaxTransfer))
        return 0;
    transfer(1);
    pacing_.before(clock_);
    const std::int32_t answer = busWrite(bus_, address, subAddress, data, count);
    pacing_.after(clock_);
    return answer;
}

std::int32_t VirtualMakerUsbLibrary::setUsbPolling(std::int32_t a, std::int32_t /*b*/)
{
    if (!ready())
        return 0;
    transfer(1);
    polling_ = a;
    return 1;
}

std::int32_t VirtualMakerUsbLibrary::setUsbSpeedMode(std::int32_t mode, std::int32_t /*b*/)
{
    if (!ready())
        return 0;
    transfer(1);
    speedMode_ = mode;
    return 1;
}

std::int32_t VirtualMakerUsbLibrary::setUsbDelay(std::int32_t delay, std::int32_t /*b*/)
{
    if (!ready())
        return 0;
    transfer(1);
    delay_ = delay;
    pacing_.setDelay(delay);
    return 1;
}

// ---- the I2C adapter ----

VirtualMakerIicLibrary::VirtualMakerIicLibrary(I2cBus& bus, std::uint8_t targetAddress)
    : bus_(bus), targetAddress_(static_cast<std::uint8_t>(targetAddress & 0xFEu))
{
}

void VirtualMakerIicLibrary::call()
{
    pacing_.before(bus_.clock());
    bus_.clock().advance(kCallMicros);
}

std::int32_t VirtualMakerIicLibrary::initialize()
{
    if (!plugged_)
        return 0;
    initialized_ = true;
    return 1;
}

std::int32_t VirtualMakerIicLibrary::debugRead(std::int32_t address, std::int32_t subAddress, std::uint8_t* buffer,
                                               std::int32_t count, std::int32_t /*a*/, std::int32_t /*b*/)
{
    if (!ready() || !validAccess(address, subAddress, buffer, count, kMaxTransfer))
        return 0;
    call();
    const std::int32_t answer = busRead(bus_, address, subAddress, buffer, count);
    callDone();
    return answer;
}

std::int32_t VirtualMakerIicLibrary::debugWrite(std::int32_t address, std::int32_t subAddress,
                                                const std::uint8_t* data, std::int32_t count, std::int32_t /*a*/,
                                                std::int32_t /*b*/)
{
    if (!ready() || !validAccess(address, subAddress, data, count, kMaxTransfer))
        return 0;
    call();
    const std::int32_t answer = busWrite(bus_, address, subAddress, data, count);
    callDone();
    return answer;
}

std::int32_t VirtualMakerIicLibrary::setPolling(std::int32_t polling)
{
    if (!ready())
        return 0;
    polling_ = polling;
    return 1;
}

std::int32_t VirtualMakerIicLibrary::setWorkDelay(std::int32_t delay)
{
    if (!ready())
        return 0;
    workDelay_ = delay;
    pacing_.setDelay(delay);
    return 1;
}

std::int32_t VirtualMakerIicLibrary::targetBoardTest()
{
    if (!ready())
        return 0;
    const bool acknowledged = bus_.start(targetAddress_);
    bus_.stop();
    return acknowledged ? 1 : 0;
}

}  // namespace mvx::sim
