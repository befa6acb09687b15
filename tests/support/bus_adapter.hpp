// The simplest transport over the virtual board's bus, for engine tests that
// are about the device sequences rather than a transport: every access is one
// whole I2C transaction, a missing acknowledge on a read is 18, and a
// transfer block goes out as one frame.
#pragma once

#include <span>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvxisp.h"

namespace mvx::test {

class BusAdapter final : public adapters::AdapterOps {
public:
    explicit BusAdapter(sim::I2cBus& bus) : bus_(bus) {}

    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              adapters::PassThrough) override
    {
        ++writes;
        bus_.writeRegister(address, subAddress, std::span(data, count > 0 ? static_cast<std::size_t>(count) : 0u));
        return MVX_OK;
    }
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             adapters::PassThrough) override
    {
        ++reads;
        if (buffer == nullptr)
            return MVX_ERR_NULL_BUFFER;
        const bool acknowledged =
            bus_.readRegister(address, subAddress, std::span(buffer, count > 0 ? static_cast<std::size_t>(count) : 0u));
        return acknowledged ? MVX_OK : MVX_ERR_TIMEOUT;
    }
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t, std::uint8_t, std::uint16_t) override
    {
        ++blocks;
        bus_.writeFrame(std::span(block, length > 0 ? static_cast<std::size_t>(length) : 0u));
        return MVX_OK;
    }
    int probeTarget() override { return MVX_OK; }

    int writes = 0;
    int reads = 0;
    int blocks = 0;

private:
    sim::I2cBus& bus_;
};

}  // namespace mvx::test
