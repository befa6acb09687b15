// A test device for the link layers: 256 registers behind an auto-incrementing
// pointer that a write's first byte sets; reads go on from the pointer, also
// across STOP.  It records the transactions it sees.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "mvx/sim/i2c.hpp"

namespace mvx::test {

class RegisterFile final : public sim::I2cDevice {
public:
    std::array<std::uint8_t, 256> regs{};
    std::vector<std::string> log;   // "W148", "R149"..., "ack" / "nack" after reads, "stop"
    std::uint8_t pointer = 0;

    bool onStart(std::uint8_t address, bool read) override
    {
        log.push_back((read ? "R" : "W") + std::to_string(address | (read ? 1 : 0)));
        expectPointer_ = !read;
        return true;
    }
    bool onWrite(std::uint8_t byte) override
    {
        if (expectPointer_) {
            pointer = byte;
            expectPointer_ = false;
        } else {
            regs[pointer++] = byte;
        }
        return true;
    }
    std::uint8_t onRead() override { return regs[pointer++]; }
    void onReadAck(bool acknowledged) override { log.push_back(acknowledged ? "ack" : "nack"); }
    void onStop() override { log.push_back("stop"); }

private:
    bool expectPointer_ = false;
};

}  // namespace mvx::test
