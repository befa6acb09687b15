// Byte access to the PC's first parallel port, the only thing the
// parallel-port cable code needs from the machine:
//
//   0x378 data     0x8F pulls SDA low, 0x0F releases it
//   0x379 status   bit 7 reads SDA back (in the sense of the cable's wiring)
//   0x37A control  0x00 pulls SCL low, 0x08 releases it
//
// available() stands for loading the port-I/O library: the cable code asks
// for it before every frame and every probe, and does not touch the port
// when it answers false.
#pragma once

#include <cstdint>
#include <string>

namespace mvx::sim {
class VirtualParallelPort;
}

namespace mvx::adapters {

class PortIo {
public:
    static constexpr std::uint16_t kDataPort = 0x378;
    static constexpr std::uint16_t kStatusPort = 0x379;
    static constexpr std::uint16_t kControlPort = 0x37A;

    virtual ~PortIo() = default;

    // The port can be reached (opened now or earlier).
    virtual bool available() = 0;
    virtual void write(std::uint16_t port, std::uint8_t value) = 0;
    virtual std::uint8_t read(std::uint16_t port) = 0;
    // Gives up the rest of the time slice: the only pacing of the bus.
    virtual void yield() = 0;
    // The device to lock for a run (AdapterOps::busName), or empty.
    virtual std::string busName() const { return {}; }
};

// The real port through the kernel's ppdev driver.  The device is opened and
// claimed by the first available() that finds it and kept until the object
// goes; while it cannot be opened every available() tries again.
//
// The three registers map onto PPWDATA / PPRSTATUS / PPWCONTROL (reads of the
// data and control registers onto PPRDATA / PPRCONTROL).  ppdev hands the
// values to the port's registers as they are, in PC register terms, so the
// cable sees exactly what a direct port write would give it: the inverting
// line drivers of the control and status bits (nSelectIn on control bit 3,
// Busy on status bit 7) sit between register and pin in both cases, and the
// cables are wired for them.  Ports other than the three are ignored (reads
// answer 0xFF).
class PpdevPortIo final : public PortIo {
public:
    static constexpr const char* kDefaultDevice = "/dev/parport0";

    explicit PpdevPortIo(std::string device = kDefaultDevice);
    ~PpdevPortIo() override;
    PpdevPortIo(const PpdevPortIo&) = delete;
    PpdevPortIo& operator=(const PpdevPortIo&) = delete;

    bool available() override;
    void write(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t read(std::uint16_t port) override;
    void yield() override;
    std::string busName() const override { return device_; }

    const std::string& device() const { return device_; }

private:
    std::string device_;
    int fd_ = -1;
    bool failureReported_ = false;
};

// The virtual board's port with the cable of one wiring on it.  Always
// available; the port charges its accesses and yields on the board's clock.
class SimPortIo final : public PortIo {
public:
    explicit SimPortIo(sim::VirtualParallelPort& port) : port_(port) {}

    bool available() override { return true; }
    void write(std::uint16_t port, std::uint8_t value) override;
    std::uint8_t read(std::uint16_t port) override;
    void yield() override;

private:
    sim::VirtualParallelPort& port_;
};

}  // namespace mvx::adapters
