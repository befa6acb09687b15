#include "bridge/libusb_io.hpp"

#include <libusb.h>

#include <climits>
#include <cstdio>
#include <string>

#include "mvx/platform/debug_output.hpp"

namespace mvx::adapters {
namespace {

constexpr std::uint8_t kStandardDeviceIn = 0x80;   // LIBUSB_ENDPOINT_IN | standard | device
constexpr std::uint8_t kGetDescriptor = 0x06;

void report(const char* what, int error)
{
    platform::debugOutput(std::string("USB bridge: ") + what + ": " + libusb_error_name(error));
}

// Calls visit(device) for each attached device with the vendor:product, in
// the order libusb lists them, until visit answers true.
template <typename Visit>
void forEachBridge(libusb_context* context, std::uint16_t vendor, std::uint16_t product, Visit visit)
{
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context, &list);
    if (count < 0) {
        report("cannot list the USB devices", static_cast<int>(count));
        return;
    }
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS)
            continue;
        if (descriptor.idVendor == vendor && descriptor.idProduct == product && visit(list[i]))
            break;
    }
    libusb_free_device_list(list, 1);
}

}  // namespace

LibusbIo::LibusbIo(std::uint16_t vendor, std::uint16_t product) : vendor_(vendor), product_(product) {}

LibusbIo::~LibusbIo()
{
    close();
    if (context_ != nullptr)
        libusb_exit(context_);
}

bool LibusbIo::haveContext()
{
    if (context_ != nullptr)
        return true;
    const int rc = libusb_init(&context_);
    if (rc != LIBUSB_SUCCESS) {
        report("USB not usable", rc);
        context_ = nullptr;
        return false;
    }
    return true;
}

int LibusbIo::countDevices()
{
    if (!haveContext())
        return 0;
    int count = 0;
    forEachBridge(context_, vendor_, product_, [&count](libusb_device*) {
        ++count;
        return false;
    });
    return count;
}

std::string LibusbIo::location(int index)
{
    if (index < 0 || !haveContext())
        return {};
    std::string where;
    int seen = 0;
    forEachBridge(context_, vendor_, product_, [&](libusb_device* device) {
        if (seen++ != index)
            return false;
        char text[32];
        std::snprintf(text, sizeof text, "usb bridge %03u/%03u", unsigned{libusb_get_bus_number(device)},
                      unsigned{libusb_get_device_address(device)});
        where = text;
        return true;
    });
    return where;
}

bool LibusbIo::open(int index)
{
    close();
    if (index < 0 || !haveContext())
        return false;
    int seen = 0;
    int rc = LIBUSB_ERROR_NOT_FOUND;
    forEachBridge(context_, vendor_, product_, [&](libusb_device* device) {
        if (seen++ != index)
            return false;
        rc = libusb_open(device, &handle_);
        return true;
    });
    if (rc != LIBUSB_SUCCESS) {
        report("cannot open the bridge", rc);
        handle_ = nullptr;
        return false;
    }
    // Not every platform can detach a kernel driver; where it cannot, none is bound.
    libusb_set_auto_detach_kernel_driver(handle_, 1);
    return true;
}

void LibusbIo::close()
{
    if (handle_ == nullptr)
        return;
    if (claimed_ >= 0)
        libusb_release_interface(handle_, claimed_);
    claimed_ = -1;
    libusb_close(handle_);
    handle_ = nullptr;
}

int LibusbIo::getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                            std::span<std::uint8_t> buffer)
{
    if (handle_ == nullptr || buffer.size() > 0xFFFF)
        return -1;
    const int rc = libusb_control_transfer(handle_, kStandardDeviceIn, kGetDescriptor,
                                           static_cast<std::uint16_t>((type << 8) | index), language, buffer.data(),
                                           static_cast<std::uint16_t>(buffer.size()), kControlTimeoutMillis);
    if (rc < 0) {
        report("descriptor request failed", rc);
        return -1;
    }
    return rc;
}

bool LibusbIo::claimInterface(std::uint8_t number, std::uint8_t alternate)
{
    if (handle_ == nullptr)
        return false;
    int rc = libusb_claim_interface(handle_, number);
    if (rc != LIBUSB_SUCCESS) {
        report("cannot claim the interface", rc);
        return false;
    }
    claimed_ = number;
    if (alternate != 0) {
        rc = libusb_set_interface_alt_setting(handle_, number, alternate);
        if (rc != LIBUSB_SUCCESS) {
            report("cannot select the alternate setting", rc);
            return false;
        }
    }
    return true;
}

UsbTransfer LibusbIo::bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned timeoutMillis)
{
    if (handle_ == nullptr)
        return {UsbStatus::NoDevice, 0};
    if (data.size() > static_cast<std::size_t>(INT_MAX))
        return {UsbStatus::Failed, 0};
    int moved = 0;
    // On a time-out libusb cancels the transfer and waits for the
    // cancellation to complete before it returns.
    const int rc = libusb_bulk_transfer(handle_, endpoint, data.data(), static_cast<int>(data.size()), &moved,
                                        timeoutMillis);
    const std::size_t length = moved > 0 ? static_cast<std::size_t>(moved) : 0u;
    switch (rc) {
    case LIBUSB_SUCCESS: return {UsbStatus::Ok, length};
    case LIBUSB_ERROR_TIMEOUT: return {UsbStatus::Timeout, length};
    case LIBUSB_ERROR_NO_DEVICE: return {UsbStatus::NoDevice, length};
    case LIBUSB_ERROR_OVERFLOW: return {UsbStatus::Overflow, length};
    default:
        report("bulk transfer failed", rc);
        return {UsbStatus::Failed, length};
    }
}

}  // namespace mvx::adapters
