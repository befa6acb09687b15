// The few calls MVXIICDLL makes of a Linux i2c-dev bus node (/dev/i2c-N),
// behind one interface so that the logic above can run over the kernel, over
// the virtual board's bus, or over a test's recording double.
//
// Every call answers like its system call, except that a failure is the
// negative errno instead of -1 with errno set:
//   open      open(path, O_RDWR)                    fd >= 0
//   close     close(fd)
//   transfer  ioctl(fd, I2C_RDWR, {msgs, count})    the number of messages done
//   setSlave  ioctl(fd, I2C_SLAVE, 7-bit address)   0
//   read      read(fd, buffer, count)               bytes read
//   write     write(fd, data, count)                bytes written
//
// The kernel's limits (drivers may set lower ones and refuse what exceeds
// them, usually with EOPNOTSUPP): at most kMaxMessages messages per
// I2C_RDWR, at most kMaxMessageBytes bytes per message, and read() / write()
// carry at most kMaxMessageBytes bytes (more is silently cut short).
#pragma once

#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace mvx::i2cdev {

inline constexpr std::size_t kMaxMessages = I2C_RDWR_IOCTL_MAX_MSGS;
inline constexpr std::size_t kMaxMessageBytes = 8192;

class I2cDevLayer {
public:
    virtual ~I2cDevLayer() = default;

    virtual int open(const std::string& path) = 0;
    virtual void close(int fd) = 0;
    virtual int transfer(int fd, i2c_msg* messages, std::uint32_t count) = 0;
    virtual int setSlave(int fd, std::uint16_t address) = 0;
    virtual ssize_t read(int fd, std::uint8_t* buffer, std::size_t count) = 0;
    virtual ssize_t write(int fd, const std::uint8_t* data, std::size_t count) = 0;
};

// The machine's i2c-dev nodes (calls interrupted by a signal are repeated).
std::unique_ptr<I2cDevLayer> makeLinuxLayer();

}  // namespace mvx::i2cdev
