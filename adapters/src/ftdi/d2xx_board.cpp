// The seven calls on the virtual board's FTDI chip.  The handle is the
// device itself; any other handle is refused as the driver would.
#include <span>

#include "ftdi/d2xx.hpp"
#include "mvx/sim/ftdi_device.hpp"

namespace mvx::adapters {

namespace {

class BoardD2xx final : public D2xxApi {
public:
    explicit BoardD2xx(sim::VirtualFtdiDevice& device) : device_(device) {}

    FtStatus open(int deviceIndex, FtHandle* handle) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidParameter;
        *handle = nullptr;
        const FtStatus status = toStatus(device_.open(deviceIndex));
        if (status == d2xx::kOk)
            *handle = &device_;
        return status;
    }
    FtStatus close(FtHandle handle) override
    {
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.close());
    }
    FtStatus read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* returned) override
    {
        if (returned == nullptr || (buffer == nullptr && size > 0))
            return d2xx::kInvalidParameter;
        *returned = 0;
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.read(std::span(buffer, size), *returned));
    }
    FtStatus write(FtHandle handle, const std::uint8_t* bytes, std::uint32_t size, std::uint32_t* written) override
    {
        if (written == nullptr || (bytes == nullptr && size > 0))
            return d2xx::kInvalidParameter;
        *written = 0;
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.write(std::span(bytes, size), *written));
    }
    FtStatus setLatencyTimer(FtHandle handle, std::uint8_t millis) override
    {
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.setLatencyTimer(millis));
    }
    FtStatus setBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override
    {
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.setBitMode(mask, mode));
    }
    FtStatus getQueueStatus(FtHandle handle, std::uint32_t* waiting) override
    {
        if (waiting == nullptr)
            return d2xx::kInvalidParameter;
        *waiting = 0;
        if (handle != &device_)
            return d2xx::kInvalidHandle;
        return toStatus(device_.getQueueStatus(*waiting));
    }
    const char* name() const override { return "virtual board"; }

private:
    // The board uses the driver's numbers.
    static FtStatus toStatus(sim::FtStatus status) { return static_cast<FtStatus>(status); }

    sim::VirtualFtdiDevice& device_;
};

}  // namespace

std::unique_ptr<D2xxApi> makeBoardD2xx(sim::VirtualFtdiDevice& device)
{
    return std::make_unique<BoardD2xx>(device);
}

}  // namespace mvx::adapters
