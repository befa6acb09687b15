// I2C at the level of its two wires, for the transports that bit-bang them
// (the parallel-port cable, the MPSSE engine of the FTDI chip).
//
// Both lines are open-drain: each driver either releases a line (the pull-up
// holds it high) or pulls it low, and everyone sees the wired-AND.  The
// master's drive comes in through drive*(); the slave side is played by this
// class on behalf of whatever device answers on the I2cBus:
//
//   - SDA falling while SCL is high is a START (or repeated START), SDA rising
//     while SCL is high a STOP;
//   - a byte from the master is shifted in on SCL rising edges, MSB first;
//     after the eighth clock falls, the address byte goes to I2cBus::start and
//     a data byte to I2cBus::write, and an acknowledging slave pulls SDA low
//     for the ninth clock, releasing it when that clock falls;
//   - after an acknowledged read address (and after every byte the master
//     acknowledges) the slave fetches the next byte with I2cBus::read and
//     presents it MSB first, each bit put on SDA while SCL is low (the first
//     one right after the previous ninth clock falls); after the eighth bit it
//     releases SDA, and the master's ninth-clock level goes to
//     I2cBus::acknowledgeRead.  After a no-acknowledge the slave stays off the
//     line until the next START or STOP.
//
// The slave changes SDA only while SCL is low, so it never makes a START or
// STOP itself; the master can, whenever it moves SDA with SCL high.  A master
// that holds SDA high against a slave's low sees the low: the line is the AND.
//
// The master sets the pace of the bus here: the bus charges nothing for what
// the lines carry, and the master's model charges its port accesses or its
// clock edges.
#pragma once

#include <cstdint>

#include "mvx/sim/i2c.hpp"

namespace mvx::sim {

class I2cLines {
public:
    explicit I2cLines(I2cBus& bus);

    // The master's drive of one line: true releases it, false pulls it low.
    void driveScl(bool released);
    void driveSda(bool released);
    // Both lines in one step (one GPIO write).  A data change that comes with
    // a clock edge is taken as set up before a rising edge and as changing
    // after a falling one, so it never makes a START or STOP.
    void drive(bool sclReleased, bool sdaReleased);

    // The line levels everyone on the bus sees (true = high).
    bool scl() const { return masterScl_; }
    bool sda() const { return masterSda_ && slaveSda_; }
    // The master's own drive, as last set.
    bool masterScl() const { return masterScl_; }
    bool masterSda() const { return masterSda_; }

    std::uint64_t startConditions() const { return starts_; }
    std::uint64_t stopConditions() const { return stops_; }

    I2cBus& bus() { return bus_; }

private:
    enum class Phase {
        Idle,        // no START yet, or after a STOP
        MasterByte,  // the master shifts an address or data byte in
        SlaveAck,    // ninth clock of a written byte: the slave's acknowledge
        SlaveByte,   // the slave shifts a byte out
        MasterAck,   // ninth clock of a read byte: the master's acknowledge
        Released,    // after the master's no-acknowledge: off the line until START / STOP
    };

    void onStart();
    void onStop();
    void onRising();
    void onFalling();
    void beginReadByte();
    void presentBit();

    I2cBus& bus_;
    bool masterScl_ = true;
    bool masterSda_ = true;
    bool slaveSda_ = true;
    Phase phase_ = Phase::Idle;
    bool addressPending_ = false;   // the next master byte is an address
    bool reading_ = false;          // the addressed transfer runs slave -> master
    bool ninthClockSeen_ = false;
    bool masterAcknowledged_ = false;
    unsigned bits_ = 0;
    std::uint8_t shift_ = 0;
    std::uint8_t readByte_ = 0xFF;
    std::uint64_t starts_ = 0;
    std::uint64_t stops_ = 0;
};

}  // namespace mvx::sim
