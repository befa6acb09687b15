// Register accesses of the scaler's ISP port (and the MCUs) as i2c-dev
// transfers on one bus node.
//
// Addresses come in the engine's 8-bit write form (0x94); the kernel takes
// the 7-bit address (0x4A), so bit 0 is dropped.  A register access is:
//
//   write  one message: sub-address, data...                   (START .. STOP)
//   read   a message with the sub-address, then read messages for the data,
//          all in one I2C_RDWR, so each read follows a repeated START
//
// Transfer paths.  I2C_RDWR is used first.  When the bus driver refuses it
// (EOPNOTSUPP, EINVAL, ENOTTY, ENOSYS: drivers that cannot combine messages
// or repeat a START) the master switches, for as long as the bus stays open,
// to the plain path: I2C_SLAVE, then write() of the same bytes, and for reads
// write() of the sub-address followed by read() of the data, each its own
// transaction with a STOP.  The scaler's register pointer survives the STOP,
// so both paths read the same bytes.
//
// Size limits.  A register write is one transaction and is never split:
// several shorter writes are not the same thing to the device (a page-buffer
// burst to 0x70 starts again at the buffer's first byte with every
// transaction).  A write longer than one kernel message (8191 data bytes), or
// one the driver refuses on the plain path, fails.  A read is split where the
// kernel or driver needs it: into read messages of at most 8192 bytes, at
// most 42 messages per I2C_RDWR, and on the plain path into read() calls of
// at most 8192 bytes, halved whenever the driver refuses one (down to single
// bytes).  Continuing reads leave the device's pointer where the previous
// read stopped, so the bytes come out as from one read.
//
// Pacing.  setIdleGap(t): before every transaction the master waits until t
// has passed since the previous one ended (no wait when it has).
// setRetries(n): a transaction that fails with a transient error (no
// acknowledge: ENXIO, EREMOTEIO, EIO; EAGAIN, EBUSY, ETIMEDOUT, EPROTO) is
// tried again up to n more times, kRetryPause apart; a retry repeats the
// whole access from its sub-address.
//
// Probe: a zero-length write to the address (START, address, STOP); a driver
// that refuses zero-length messages gets a one-byte read instead.
//
// Failures answer false and leave a one-line explanation in lastError() that
// names the bus, the address and, where there is one, the fix.  Nothing here
// throws or prints.
#pragma once

#include <cstdint>
#include <string>

#include "mvx/i2cdev/i2c_dev_layer.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::i2cdev {

inline constexpr std::uint64_t kRetryPauseMicros = 1000;
inline constexpr int kMaxRetries = 100;

class I2cDevMaster {
public:
    I2cDevMaster(I2cDevLayer& layer, platform::Clock& clock, std::string busPath);
    ~I2cDevMaster();
    I2cDevMaster(const I2cDevMaster&) = delete;
    I2cDevMaster& operator=(const I2cDevMaster&) = delete;

    // Opens the bus node when it is not open yet.  Every access below opens
    // it itself, so calling this first only reports trouble earlier.
    bool open();
    void close();
    bool isOpen() const { return fd_ >= 0; }

    // address: 8-bit write form 0..0xFF; subAddress 0..0xFF; count >= 0.
    // A read of count 0 sends the sub-address only.
    bool writeRegister(int address, int subAddress, const std::uint8_t* data, int count);
    bool readRegister(int address, int subAddress, std::uint8_t* buffer, int count);
    // True when a device acknowledges the address.
    bool probe(int address);

    // Clamped to 0..kMaxRetries.
    void setRetries(int retries);
    void setIdleGap(std::uint64_t micros) { idleGapMicros_ = micros; }
    int retries() const { return retries_; }
    std::uint64_t idleGap() const { return idleGapMicros_; }

    // The plain path is in use (the driver refused I2C_RDWR).
    bool plainTransfers() const { return plain_; }
    // The longest read() the plain path currently asks for.
    std::size_t plainReadChunk() const { return plainReadChunk_; }

    const std::string& busPath() const { return busPath_; }
    const std::string& lastError() const { return lastError_; }

private:
    // What one attempt at an access came to: 0, or the failing call's -errno
    // and which call it was.
    enum class Stage { None, Open, Select, Transfer };
    struct Outcome {
        int error = 0;
        Stage stage = Stage::None;
    };

    // One access: the combined or the plain attempt, the switch to the plain
    // path when the driver refuses the combined one, and the retries.
    template <typename Combined, typename Plain>
    bool run(int address, const std::string& what, Combined combined, Plain plain);
    Outcome ensureOpen();
    Outcome select(std::uint16_t address7);
    Outcome combinedWrite(std::uint16_t address7, std::uint8_t* bytes, std::size_t length);
    Outcome plainWrite(std::uint16_t address7, const std::uint8_t* bytes, std::size_t length);
    Outcome combinedRead(std::uint16_t address7, std::uint8_t* subAddress, std::uint8_t* buffer, std::size_t count);
    Outcome plainRead(std::uint16_t address7, const std::uint8_t* subAddress, std::uint8_t* buffer,
                      std::size_t count);
    Outcome combinedProbe(std::uint16_t address7);
    Outcome plainProbe(std::uint16_t address7);
    int transfer(i2c_msg* messages, std::uint32_t count);
    void pace();
    void finished();
    bool fail(const std::string& text);
    std::string explain(const Outcome& outcome, int address, const char* what) const;

    I2cDevLayer& layer_;
    platform::Clock& clock_;
    std::string busPath_;
    int fd_ = -1;
    bool plain_ = false;
    int slave_ = -1;                 // the plain path's current I2C_SLAVE address
    std::size_t plainReadChunk_ = kMaxMessageBytes;
    int retries_ = 0;
    std::uint64_t idleGapMicros_ = 0;
    bool paced_ = false;             // a transaction has ended: lastEnd_ is valid
    std::uint64_t lastEndMicros_ = 0;
    std::string lastError_;
};

}  // namespace mvx::i2cdev
