// An i2c-dev bus node played by the virtual board's I2C bus: I2C_RDWR message
// arrays and plain read() / write() run as bus transactions, with the
// kernel's checks and answers.
//
//   I2C_RDWR   each message begins with a START (a repeated START after the
//              first) and its address byte; a write message's bytes follow,
//              a read message clocks its bytes in, acknowledging all but the
//              last; one STOP ends the array.  An address nobody acknowledges
//              answers ENXIO, a refused data byte EIO (a STOP is sent either
//              way).  No messages or more than 42, or a message longer than
//              8192 bytes, answer EINVAL; message flags other than I2C_M_RD
//              answer EOPNOTSUPP.
//   I2C_SLAVE  addresses above 0x7F answer EINVAL.
//   read/write one transaction to the I2C_SLAVE address (EDESTADDRREQ when
//              none is set); more than 8192 bytes are cut to 8192.
//
// A Driver can make the node behave like a more limited bus driver: one that
// refuses I2C_RDWR, refuses zero-length messages, or carries only messages
// up to some length (all refused with EOPNOTSUPP before anything reaches the
// bus), or a bus node that cannot be opened.
//
// When given a real-time clock the board's clock is moved on, before each
// transaction, by the real time that passed since the previous one, so that
// the devices' busy times run out while a caller sleeps on the real clock.
#pragma once

#include <cstdint>
#include <string>

#include "mvx/i2cdev/i2c_dev_layer.hpp"
#include "mvx/platform/clock.hpp"
#include "mvx/sim/i2c.hpp"

namespace mvx::i2cdev {

struct Driver {
    bool refuseCombined = false;           // I2C_RDWR answers EOPNOTSUPP
    bool refuseZeroLength = false;         // zero-length messages answer EOPNOTSUPP
    std::size_t maxLength = kMaxMessageBytes;   // longer messages / read() / write() answer EOPNOTSUPP
    int openError = 0;                     // nonzero: open() answers -openError
};

struct BoardLayerStats {
    std::uint64_t combinedTransfers = 0;   // I2C_RDWR calls that reached the bus
    std::uint64_t plainReads = 0;          // read() calls that reached the bus
    std::uint64_t plainWrites = 0;         // write() calls that reached the bus
    std::uint64_t refused = 0;             // calls refused before the bus
};

class BoardLayer final : public I2cDevLayer {
public:
    // path: the node name open() accepts (any other answers ENOENT).
    BoardLayer(sim::I2cBus& bus, std::string path, Driver driver = {}, platform::Clock* realTime = nullptr);

    int open(const std::string& path) override;
    void close(int fd) override;
    int transfer(int fd, i2c_msg* messages, std::uint32_t count) override;
    int setSlave(int fd, std::uint16_t address) override;
    ssize_t read(int fd, std::uint8_t* buffer, std::size_t count) override;
    ssize_t write(int fd, const std::uint8_t* data, std::size_t count) override;

    Driver& driver() { return driver_; }
    const BoardLayerStats& stats() const { return stats_; }
    int openCount() const { return openFds_; }

private:
    bool validFd(int fd) const { return fd == kFd && openFds_ > 0; }
    void catchUp();
    // One message's bytes after its address byte was acknowledged; 0 or -EIO.
    int runMessage(const i2c_msg& message);

    static constexpr int kFd = 3;

    sim::I2cBus& bus_;
    std::string path_;
    Driver driver_;
    platform::Clock* realTime_;
    std::uint64_t lastRealMicros_ = 0;
    int openFds_ = 0;
    int slave_ = -1;
    BoardLayerStats stats_;
};

}  // namespace mvx::i2cdev
