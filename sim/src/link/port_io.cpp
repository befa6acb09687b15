#include "mvx/sim/port_io.hpp"

namespace mvx::sim {

namespace {

constexpr std::uint8_t kUnconnectedStatusInputs = 0x78;   // bits 3-6 float high
constexpr std::uint8_t kFloatingBus = 0xFF;

}  // namespace

VirtualParallelPort::VirtualParallelPort(I2cBus& bus, ParallelWiring wiring)
    : lines_(bus), clock_(bus.clock()), wiring_(wiring)
{
}

void VirtualParallelPort::yield()
{
    clock_.advanceNanos(kYieldNanos);
}

void VirtualParallelPort::write(std::uint16_t port, std::uint8_t value)
{
    ++accesses_;
    clock_.advanceNanos(kAccessNanos);
    switch (port) {
    case kDataPort:
        ++writes_;
        data_ = value;
        lines_.driveSda((value & kSdaLowBit) == 0);
        break;
    case kControlPort:
        ++writes_;
        control_ = value;
        lines_.driveScl((value & kSclReleaseBit) != 0);
        break;
    default:
        break;   // the status port is input only; other ports are not decoded
    }
}

std::uint8_t VirtualParallelPort::read(std::uint16_t port)
{
    ++accesses_;
    clock_.advanceNanos(kAccessNanos);
    switch (port) {
    case kDataPort:
        return data_;
    case kControlPort:
        return control_;
    case kStatusPort: {
        const bool sdaHigh = lines_.sda();
        const bool bit7 = wiring_ == ParallelWiring::Cvt ? sdaHigh : !sdaHigh;
        return static_cast<std::uint8_t>(kUnconnectedStatusInputs | (bit7 ? kSdaStatusBit : 0u));
    }
    default:
        return kFloatingBus;
    }
}

}  // namespace mvx::sim
