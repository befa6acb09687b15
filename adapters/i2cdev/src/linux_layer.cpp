// The i2c-dev layer over the kernel.
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "mvx/i2cdev/i2c_dev_layer.hpp"

namespace mvx::i2cdev {
namespace {

// Repeats a call interrupted by a signal; a failure becomes -errno.
template <typename Call>
auto retryInterrupted(Call call) -> decltype(call())
{
    for (;;) {
        const auto result = call();
        if (result >= 0)
            return result;
        if (errno != EINTR)
            return -errno;
    }
}

class LinuxLayer final : public I2cDevLayer {
public:
    int open(const std::string& path) override
    {
        return retryInterrupted([&] { return ::open(path.c_str(), O_RDWR | O_CLOEXEC); });
    }
    void close(int fd) override { ::close(fd); }
    int transfer(int fd, i2c_msg* messages, std::uint32_t count) override
    {
        i2c_rdwr_ioctl_data data{messages, count};
        return retryInterrupted([&] { return ::ioctl(fd, I2C_RDWR, &data); });
    }
    int setSlave(int fd, std::uint16_t address) override
    {
        return retryInterrupted([&] { return ::ioctl(fd, I2C_SLAVE, static_cast<unsigned long>(address)); });
    }
    ssize_t read(int fd, std::uint8_t* buffer, std::size_t count) override
    {
        return retryInterrupted([&] { return ::read(fd, buffer, count); });
    }
    ssize_t write(int fd, const std::uint8_t* data, std::size_t count) override
    {
        return retryInterrupted([&] { return ::write(fd, data, count); });
    }
};

}  // namespace

std::unique_ptr<I2cDevLayer> makeLinuxLayer()
{
    return std::make_unique<LinuxLayer>();
}

}  // namespace mvx::i2cdev
