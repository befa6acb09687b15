// A transaction-level I2C bus: START (or repeated START) with an address byte,
// data bytes with their acknowledges, STOP.  Devices attach at 8-bit bus
// addresses (write form; the read form is address | 1).  An address nobody
// answers is not acknowledged, and a read from nobody sees the released line
// (0xFF).
//
// Every byte costs 9 clocks and every START and STOP one clock at the bus
// speed; that time advances the virtual clock.  A START after a STOP first
// waits out the bus free time of the bus's mode (tBUF of the I2C bus's
// standard timing: 4.7 us in standard mode up to 100 kHz, 1.3 us in fast mode
// up to 400 kHz, 0.5 us in fast-mode plus above).
//
// A master that bit-bangs the lines (the parallel-port cable, the FTDI
// MPSSE engine) sets the bus's pace itself: while it drives (MasterPaced),
// the bus charges nothing and the master's own model charges its edges.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

class I2cDevice {
public:
    virtual ~I2cDevice() = default;
    // START or repeated START with an address byte of this device.  `address`
    // is the 8-bit write form it was attached at; read = bit 0 of the byte.
    // Answers whether the device acknowledges.
    virtual bool onStart(std::uint8_t address, bool read) = 0;
    // A byte the master wrote; answers the device's acknowledge.
    virtual bool onWrite(std::uint8_t byte) = 0;
    // The device puts the next byte on the bus for the master to read.
    virtual std::uint8_t onRead() = 0;
    // The master's answer to the byte just read (true = acknowledge, more to come).
    virtual void onReadAck(bool /*acknowledged*/) {}
    // STOP ends the transaction.
    virtual void onStop() = 0;
};

struct I2cStats {
    std::uint64_t transactions = 0;   // START ... STOP, repeated STARTs included in one
    std::uint64_t starts = 0;         // STARTs and repeated STARTs
    std::uint64_t bytes = 0;          // address and data bytes clocked
    std::uint64_t nacks = 0;          // bytes nobody acknowledged
};

class I2cBus {
public:
    explicit I2cBus(VirtualClock& clock, unsigned busKhz = 100);

    void attach(std::uint8_t address, I2cDevice& device);
    void detach(std::uint8_t address);
    I2cDevice* deviceAt(std::uint8_t address) const;

    // ---- master side ----
    // START, or a repeated START inside a transaction, then the address byte.
    bool start(std::uint8_t addressByte);
    // Writes one byte to the addressed device; true when acknowledged.
    bool write(std::uint8_t byte);
    // Clocks one byte in from the addressed device (0xFF when none).
    std::uint8_t read();
    // The master's acknowledge of the byte just read.
    void acknowledgeRead(bool acknowledged);
    std::uint8_t read(bool acknowledged)
    {
        const std::uint8_t byte = read();
        acknowledgeRead(acknowledged);
        return byte;
    }
    void stop();
    bool inTransaction() const { return inTransaction_; }

    // ---- whole register accesses, for transaction-level transports ----
    // START, address, register, data..., STOP.  True when every byte was acknowledged.
    bool writeRegister(std::uint8_t address, std::uint8_t reg, std::span<const std::uint8_t> data);
    // START, address, register, repeated START, address | 1, count bytes
    // (the last one not acknowledged), STOP.  False when an address or
    // register byte was not acknowledged (out then holds 0xFF bytes).
    bool readRegister(std::uint8_t address, std::uint8_t reg, std::span<std::uint8_t> out);
    // START, then the raw bytes (the first being the address), STOP.
    bool writeFrame(std::span<const std::uint8_t> frame);

    // ---- faults ----
    // A dead link acknowledges nothing.
    void setDead(bool dead) { dead_ = dead; }
    // After this many completed transactions nothing acknowledges any more.
    void setNackAfter(std::optional<std::uint64_t> transactions) { nackAfter_ = transactions; }

    // While one lives, the bus transfers are timed by the master driving the
    // lines, not by the bus speed.
    class MasterPaced {
    public:
        explicit MasterPaced(I2cBus& bus) : bus_(bus), before_(bus.masterPaced_) { bus.masterPaced_ = true; }
        ~MasterPaced() { bus_.masterPaced_ = before_; }
        MasterPaced(const MasterPaced&) = delete;
        MasterPaced& operator=(const MasterPaced&) = delete;

    private:
        I2cBus& bus_;
        bool before_;
    };

    // The bus free time between a STOP and the next START at this speed.
    std::uint64_t busFreeNanos() const;

    const I2cStats& stats() const { return stats_; }
    unsigned busKhz() const { return busKhz_; }
    VirtualClock& clock() { return clock_; }

private:
    void clocks(unsigned count);
    bool silenced() const;

    VirtualClock& clock_;
    unsigned busKhz_;
    std::uint64_t picosPending_ = 0;
    std::array<I2cDevice*, 128> devices_{};
    I2cDevice* current_ = nullptr;
    bool currentRead_ = false;
    bool inTransaction_ = false;
    bool masterPaced_ = false;
    bool dead_ = false;
    std::optional<std::uint64_t> nackAfter_;
    I2cStats stats_;
};

}  // namespace mvx::sim
