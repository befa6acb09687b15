#include "mvx/i2cdev/board_layer.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

namespace mvx::i2cdev {

BoardLayer::BoardLayer(sim::I2cBus& bus, std::string path, Driver driver, platform::Clock* realTime)
    : bus_(bus), path_(std::move(path)), driver_(driver), realTime_(realTime)
{
    if (realTime_ != nullptr)
        lastRealMicros_ = realTime_->nowMicros();
}

int BoardLayer::open(const std::string& path)
{
    if (driver_.openError != 0)
        return -driver_.openError;
    if (path != path_)
        return -ENOENT;
    ++openFds_;
    return kFd;
}

void BoardLayer::close(int fd)
{
    if (validFd(fd))
        --openFds_;
}

void BoardLayer::catchUp()
{
    if (realTime_ == nullptr)
        return;
    const std::uint64_t now = realTime_->nowMicros();
    if (now > lastRealMicros_)
        bus_.clock().advance(now - lastRealMicros_);
    lastRealMicros_ = now;
}

int BoardLayer::runMessage(const i2c_msg& message)
{
    if (message.flags & I2C_M_RD) {
        for (std::uint16_t i = 0; i < message.len; ++i)
            message.buf[i] = bus_.read(i + 1 < message.len);
        return 0;
    }
    for (std::uint16_t i = 0; i < message.len; ++i)
        if (!bus_.write(message.buf[i]))
            return -EIO;
    return 0;
}

int BoardLayer::transfer(int fd, i2c_msg* messages, std::uint32_t count)
{
    if (!validFd(fd))
        return -EBADF;
    if (messages == nullptr || count == 0 || count > kMaxMessages) {
        ++stats_.refused;
        return -EINVAL;
    }
    for (std::uint32_t i = 0; i < count; ++i) {
        const i2c_msg& message = messages[i];
        if (message.len > kMaxMessageBytes || (message.len > 0 && message.buf == nullptr)) {
            ++stats_.refused;
            return -EINVAL;
        }
        if ((message.flags & ~I2C_M_RD) != 0 || message.addr > 0x7F || driver_.refuseCombined ||
            message.len > driver_.maxLength || (message.len == 0 && driver_.refuseZeroLength)) {
            ++stats_.refused;
            return -EOPNOTSUPP;
        }
    }
    catchUp();
    ++stats_.combinedTransfers;
    int result = static_cast<int>(count);
    for (std::uint32_t i = 0; i < count && result > 0; ++i) {
        const i2c_msg& message = messages[i];
        const bool read = (message.flags & I2C_M_RD) != 0;
        if (!bus_.start(static_cast<std::uint8_t>((message.addr << 1) | (read ? 1 : 0))))
            result = -ENXIO;
        else if (const int rc = runMessage(message); rc < 0)
            result = rc;
    }
    bus_.stop();
    return result;
}

int BoardLayer::setSlave(int fd, std::uint16_t address)
{
    if (!validFd(fd))
        return -EBADF;
    if (address > 0x7F)
        return -EINVAL;
    slave_ = address;
    return 0;
}

ssize_t BoardLayer::read(int fd, std::uint8_t* buffer, std::size_t count)
{
    if (!validFd(fd))
        return -EBADF;
    if (slave_ < 0)
        return -EDESTADDRREQ;
    count = std::min(count, kMaxMessageBytes);
    if (count > driver_.maxLength || (count == 0 && driver_.refuseZeroLength) || (count > 0 && buffer == nullptr)) {
        ++stats_.refused;
        return count > 0 && buffer == nullptr ? -EFAULT : -EOPNOTSUPP;
    }
    catchUp();
    ++stats_.plainReads;
    if (!bus_.start(static_cast<std::uint8_t>((slave_ << 1) | 1))) {
        bus_.stop();
        return -ENXIO;
    }
    for (std::size_t i = 0; i < count; ++i)
        buffer[i] = bus_.read(i + 1 < count);
    bus_.stop();
    return static_cast<ssize_t>(count);
}

ssize_t BoardLayer::write(int fd, const std::uint8_t* data, std::size_t count)
{
    if (!validFd(fd))
        return -EBADF;
    if (slave_ < 0)
        return -EDESTADDRREQ;
    count = std::min(count, kMaxMessageBytes);
    if (count > driver_.maxLength || (count == 0 && driver_.refuseZeroLength) || (count > 0 && data == nullptr)) {
        ++stats_.refused;
        return count > 0 && data == nullptr ? -EFAULT : -EOPNOTSUPP;
    }
    catchUp();
    ++stats_.plainWrites;
    ssize_t result = static_cast<ssize_t>(count);
    if (!bus_.start(static_cast<std::uint8_t>(slave_ << 1)))
        result = -ENXIO;
    for (std::size_t i = 0; i < count && result > 0; ++i)
        if (!bus_.write(data[i]))
            result = -EIO;
    bus_.stop();
    return result;
}

}  // namespace mvx::i2cdev
