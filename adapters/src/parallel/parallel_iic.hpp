// I2C bit-banged on the PC's first parallel port, in the cable's two wirings
// (kinds 2 and 3 without library).  Every step is one port write; a yield
// between steps is the only pacing, so the bus runs as fast as the port
// writes allow.  The wirings differ only in the sense of status bit 7:
//
//   CVT wiring      bit 7 = 1 means SDA is high
//   Norvane wiring  bit 7 = 1 means SDA is low
//
// The port is reached through PortIo.  Frame writes and probes check that
// the port can be reached before every use (and do nothing without it); a
// register read relies on an earlier frame write or probe of this object
// having found it, and without one leaves the port alone.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"
#include "parallel/port_io.hpp"

namespace mvx::adapters {

enum class Wiring { Cvt, Norvane };

class ParallelIic : public AdapterOps {
public:
    static constexpr unsigned kStart = 1;           // frame flags
    static constexpr unsigned kStop = 2;
    static constexpr int kMaxDataBytes = 256;       // data bytes of one register write
    static constexpr int kMaxFrame = kMaxDataBytes + 2;

    ParallelIic(Wiring wiring, PortIo& port, platform::Clock& clock);

    Wiring wiring() const { return wiring_; }

    // ---- the cable protocol ----
    // Sends count raw bytes (the first being the address byte) with START
    // and / or STOP as flags ask.  -1 when the port cannot be reached, else 1
    // when every byte was acknowledged and 0 otherwise.  A negative count or
    // missing bytes send nothing and answer 0.
    int frameWrite(const std::uint8_t* bytes, int count, unsigned flags);
    // address, subAddress, repeated START, address | 1, count bytes.  17 for a
    // null buffer, 18 on a missing acknowledge (the bus is left mid-transfer)
    // or when no frame write or probe has reached the port yet, else 0.  The
    // buffer is zeroed first.  A negative count reads nothing and answers 24.
    int registerRead(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count);
    // Pulls SDA low, lets it go and looks whether it floats high (20 ms each
    // way): 1 high, 0 held low, -1 the port cannot be reached.  SCL is not
    // touched.
    int probe();

    // ---- AdapterOps ----
    // One frame: address, subAddress, count data bytes.  The frame's
    // acknowledges are not passed on: 0 whenever the frame went out (or the
    // port could not be reached).  More than 256 data bytes, a negative
    // count or missing data are refused with 25, and nothing goes out.
    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              PassThrough pass) override;
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             PassThrough pass) override;
    // The block as it is, as one frame (at most 258 bytes; else 25, nothing sent).
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override;
    // 13 when SDA is held low, else 0 (also without a port).
    int probeTarget() override;
    // The port's device (/dev/parport0).
    std::string busName() override { return port_.busName(); }

private:
    bool reachPort();
    bool sdaHigh();
    void driveData(std::uint8_t value) { port_.write(PortIo::kDataPort, value); }
    void driveControl(std::uint8_t value) { port_.write(PortIo::kControlPort, value); }
    void yield() { port_.yield(); }
    // Register-read helpers: one byte with one yield per bit, and the
    // acknowledge check after it.
    void sendReadPhaseByte(std::uint8_t byte);
    bool acknowledged();

    Wiring wiring_;
    PortIo& port_;
    platform::Clock& clock_;
    bool portReached_ = false;
};

// A ParallelIic that owns its port (port must not be null).
struct OwnedPort {
    std::unique_ptr<PortIo> ownedPort;
};

class OwningParallelIic final : private OwnedPort, public ParallelIic {
public:
    OwningParallelIic(Wiring wiring, std::unique_ptr<PortIo> port, platform::Clock& clock)
        : OwnedPort{std::move(port)}, ParallelIic(wiring, *ownedPort, clock)
    {
    }
};

}  // namespace mvx::adapters
