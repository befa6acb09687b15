// The seven driver calls carried out with libftdi1 (see d2xx.hpp).
#include <ftdi.h>
#include <libusb.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <string>

#include "ftdi/d2xx.hpp"
#include "mvx/platform/debug_output.hpp"

namespace mvx::adapters {

namespace {

// What a handle of this implementation points to.
struct LibftdiDevice {
    ftdi_context* context = nullptr;
    std::deque<std::uint8_t> readAhead;   // received, not yet taken by read()
};

void report(ftdi_context* context, const char* what)
{
    const char* detail = context != nullptr ? ftdi_get_error_string(context) : nullptr;
    platform::debugOutput(std::string("libftdi1: ") + what + (detail != nullptr ? std::string(": ") + detail : ""));
}

class LibftdiD2xx final : public D2xxApi {
public:
    FtStatus open(int deviceIndex, FtHandle* handle) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidParameter;
        *handle = nullptr;
        if (deviceIndex < 0)
            return d2xx::kDeviceNotFound;
        ftdi_context* context = ftdi_new();
        if (context == nullptr) {
            platform::debugOutput("libftdi1: cannot start (no USB access)");
            return d2xx::kDeviceNotFound;
        }
        if (ftdi_set_interface(context, INTERFACE_A) < 0) {
            report(context, "cannot select the first channel");
            ftdi_free(context);
            return d2xx::kOtherError;
        }
        ftdi_device_list* list = nullptr;
        // Vendor and product 0: every product id FTDI's chips come with.
        const int found = ftdi_usb_find_all(context, &list, 0, 0);
        if (found < 0)
            report(context, "cannot list the USB devices");
        ftdi_device_list* chosen = list;
        for (int i = 0; chosen != nullptr && i < deviceIndex; ++i)
            chosen = chosen->next;
        if (found <= deviceIndex || chosen == nullptr) {
            ftdi_list_free(&list);
            ftdi_free(context);
            return d2xx::kDeviceNotFound;
        }
        const int opened = ftdi_usb_open_dev(context, chosen->dev);
        ftdi_list_free(&list);
        if (opened < 0) {
            report(context, "cannot open the chip");
            ftdi_free(context);
            return d2xx::kDeviceNotOpened;
        }
        auto device = std::make_unique<LibftdiDevice>();
        device->context = context;
        *handle = device.release();
        return d2xx::kOk;
    }

    // "ftdi usb <bus>/<address>" of the chip open() would take.
    std::string chipName(int deviceIndex) override
    {
        std::string where = D2xxApi::chipName(deviceIndex);
        ftdi_context* context = ftdi_new();
        if (context == nullptr || deviceIndex < 0)
            return where;
        ftdi_device_list* list = nullptr;
        if (ftdi_usb_find_all(context, &list, 0, 0) > deviceIndex) {
            ftdi_device_list* chosen = list;
            for (int i = 0; chosen != nullptr && i < deviceIndex; ++i)
                chosen = chosen->next;
            if (chosen != nullptr) {
                char text[32];
                std::snprintf(text, sizeof text, "ftdi usb %03u/%03u", unsigned{libusb_get_bus_number(chosen->dev)},
                              unsigned{libusb_get_device_address(chosen->dev)});
                where = text;
            }
        }
        ftdi_list_free(&list);
        ftdi_free(context);
        return where;
    }

    FtStatus close(FtHandle handle) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        std::unique_ptr<LibftdiDevice> device(static_cast<LibftdiDevice*>(handle));
        ftdi_usb_close(device->context);
        ftdi_free(device->context);
        return d2xx::kOk;
    }

    FtStatus read(FtHandle handle, std::uint8_t* buffer, std::uint32_t size, std::uint32_t* returned) override
    {
        if (returned == nullptr || (buffer == nullptr && size > 0))
            return d2xx::kInvalidParameter;
        *returned = 0;
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        auto& device = *static_cast<LibftdiDevice*>(handle);
        if (device.readAhead.size() < size) {
            if (const FtStatus status = receive(device); status != d2xx::kOk)
                return status;
        }
        const std::size_t count = std::min<std::size_t>(size, device.readAhead.size());
        std::copy_n(device.readAhead.begin(), count, buffer);
        device.readAhead.erase(device.readAhead.begin(),
                               device.readAhead.begin() + static_cast<std::ptrdiff_t>(count));
        *returned = static_cast<std::uint32_t>(count);
        return d2xx::kOk;
    }

    FtStatus write(FtHandle handle, const std::uint8_t* bytes, std::uint32_t size, std::uint32_t* written) override
    {
        if (written == nullptr || (bytes == nullptr && size > 0) || size > INT_MAX)
            return d2xx::kInvalidParameter;
        *written = 0;
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        if (size == 0)
            return d2xx::kOk;
        auto& device = *static_cast<LibftdiDevice*>(handle);
        const int sent = ftdi_write_data(device.context, bytes, static_cast<int>(size));
        if (sent < 0) {
            report(device.context, "write failed");
            return d2xx::kIoError;
        }
        *written = static_cast<std::uint32_t>(sent);
        return d2xx::kOk;
    }

    FtStatus setLatencyTimer(FtHandle handle, std::uint8_t millis) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        auto& device = *static_cast<LibftdiDevice*>(handle);
        const int result = ftdi_set_latency_timer(device.context, millis);
        if (result == -1)
            return d2xx::kInvalidParameter;   // outside 1..255
        return result < 0 ? d2xx::kIoError : d2xx::kOk;
    }

    FtStatus setBitMode(FtHandle handle, std::uint8_t mask, std::uint8_t mode) override
    {
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        auto& device = *static_cast<LibftdiDevice*>(handle);
        if (ftdi_set_bitmode(device.context, mask, mode) < 0) {
            report(device.context, "cannot set the bit mode");
            return d2xx::kIoError;
        }
        return d2xx::kOk;
    }

    FtStatus getQueueStatus(FtHandle handle, std::uint32_t* waiting) override
    {
        if (waiting == nullptr)
            return d2xx::kInvalidParameter;
        *waiting = 0;
        if (handle == nullptr)
            return d2xx::kInvalidHandle;
        auto& device = *static_cast<LibftdiDevice*>(handle);
        if (const FtStatus status = receive(device); status != d2xx::kOk)
            return status;
        *waiting = static_cast<std::uint32_t>(std::min<std::size_t>(device.readAhead.size(), UINT32_MAX));
        return d2xx::kOk;
    }

    const char* name() const override { return "libftdi1"; }

private:
    // One look at the USB side: a one-byte read comes back as soon as the
    // chip sends a packet with data (the rest of the packet stays in
    // libftdi1's buffer) or after the chip's latency timer with nothing.
    // Everything received moves into the read-ahead buffer.
    static FtStatus receive(LibftdiDevice& device)
    {
        if (!takeBuffered(device))
            return d2xx::kIoError;
        std::uint8_t byte = 0;
        const int got = ftdi_read_data(device.context, &byte, 1);
        if (got < 0) {
            report(device.context, "read failed");
            return d2xx::kIoError;
        }
        if (got == 1)
            device.readAhead.push_back(byte);
        return takeBuffered(device) ? d2xx::kOk : d2xx::kIoError;
    }

    // Moves what libftdi1 already holds into the read-ahead buffer, without
    // touching USB (a read no larger than its buffer is served from it).
    static bool takeBuffered(LibftdiDevice& device)
    {
        std::uint8_t chunk[512];
        while (device.context->readbuffer_remaining > 0) {
            const int want = static_cast<int>(std::min<std::size_t>(device.context->readbuffer_remaining, sizeof chunk));
            const int got = ftdi_read_data(device.context, chunk, want);
            if (got < 0) {
                report(device.context, "read failed");
                return false;
            }
            if (got == 0)
                break;
            device.readAhead.insert(device.readAhead.end(), chunk, chunk + got);
        }
        return true;
    }
};

}  // namespace

std::unique_ptr<D2xxApi> makeLibftdiD2xx()
{
    return std::make_unique<LibftdiD2xx>();
}

}  // namespace mvx::adapters
