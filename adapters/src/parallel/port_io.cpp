#include "parallel/port_io.hpp"

#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "mvx/platform/debug_output.hpp"
#include "mvx/sim/port_io.hpp"

namespace mvx::adapters {

// ---- ppdev ----

PpdevPortIo::PpdevPortIo(std::string device) : device_(std::move(device))
{
}

PpdevPortIo::~PpdevPortIo()
{
    if (fd_ >= 0) {
        ::ioctl(fd_, PPRELEASE);
        ::close(fd_);
    }
}

bool PpdevPortIo::available()
{
    if (fd_ >= 0)
        return true;
    const int fd = ::open(device_.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        if (!failureReported_) {
            failureReported_ = true;
            platform::debugOutput("parallel port " + device_ + " cannot be opened: " + std::strerror(errno));
        }
        return false;
    }
    if (::ioctl(fd, PPCLAIM) != 0) {
        if (!failureReported_) {
            failureReported_ = true;
            platform::debugOutput("parallel port " + device_ + " cannot be claimed: " + std::strerror(errno));
        }
        ::close(fd);
        return false;
    }
    fd_ = fd;
    failureReported_ = false;
    return true;
}

void PpdevPortIo::write(std::uint16_t port, std::uint8_t value)
{
    if (fd_ < 0)
        return;
    unsigned char byte = value;
    switch (port) {
    case kDataPort:
        ::ioctl(fd_, PPWDATA, &byte);
        break;
    case kControlPort:
        ::ioctl(fd_, PPWCONTROL, &byte);
        break;
    default:
        break;   // the status register is input only
    }
}

std::uint8_t PpdevPortIo::read(std::uint16_t port)
{
    if (fd_ < 0)
        return 0xFF;
    unsigned char byte = 0xFF;
    unsigned long request = 0;
    switch (port) {
    case kDataPort:
        request = PPRDATA;
        break;
    case kStatusPort:
        request = PPRSTATUS;
        break;
    case kControlPort:
        request = PPRCONTROL;
        break;
    default:
        return 0xFF;
    }
    if (::ioctl(fd_, request, &byte) != 0)
        return 0xFF;
    return byte;
}

void PpdevPortIo::yield()
{
    ::sched_yield();
}

// ---- the virtual board ----

void SimPortIo::write(std::uint16_t port, std::uint8_t value)
{
    port_.write(port, value);
}

std::uint8_t SimPortIo::read(std::uint16_t port)
{
    return port_.read(port);
}

void SimPortIo::yield()
{
    port_.yield();
}

}  // namespace mvx::adapters
