#include "mvx/i2cdev/i2c_dev_master.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>
#include <vector>

namespace mvx::i2cdev {
namespace {

// The kernel's own "not supported" (ENOTSUPP), which some drivers let through.
constexpr int kKernelNotSupported = 524;

// The driver will not carry a transfer of this shape at all.
bool refused(int error)
{
    switch (-error) {
    case EOPNOTSUPP:
    case EINVAL:
    case ENOTTY:
    case ENOSYS:
    case kKernelNotSupported:
        return true;
    default:
        return false;
    }
}

// Worth another try: nobody answered, or the bus was busy for a moment.
bool transient(int error)
{
    switch (-error) {
    case ENXIO:
    case EREMOTEIO:
    case EIO:
    case EAGAIN:
    case EBUSY:
    case ETIMEDOUT:
    case EPROTO:
        return true;
    default:
        return false;
    }
}

std::string hex(int value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", static_cast<unsigned>(value) & 0xFFu);
    return text;
}

std::string systemText(int error)
{
    return std::generic_category().message(-error);
}

std::uint16_t sevenBit(int address)
{
    return static_cast<std::uint16_t>((address >> 1) & 0x7F);
}

}  // namespace

I2cDevMaster::I2cDevMaster(I2cDevLayer& layer, platform::Clock& clock, std::string busPath)
    : layer_(layer), clock_(clock), busPath_(std::move(busPath))
{
}

I2cDevMaster::~I2cDevMaster()
{
    close();
}

bool I2cDevMaster::open()
{
    const Outcome outcome = ensureOpen();
    if (outcome.error == 0)
        return true;
    return fail(explain(outcome, -1, "open"));
}

void I2cDevMaster::close()
{
    if (fd_ >= 0)
        layer_.close(fd_);
    fd_ = -1;
    plain_ = false;
    slave_ = -1;
    plainReadChunk_ = kMaxMessageBytes;
}

void I2cDevMaster::setRetries(int retries)
{
    retries_ = std::clamp(retries, 0, kMaxRetries);
}

bool I2cDevMaster::writeRegister(int address, int subAddress, const std::uint8_t* data, int count)
{
    if (address < 0 || address > 0xFF || subAddress < 0 || subAddress > 0xFF || count < 0 ||
        (count > 0 && data == nullptr))
        return fail("register write refused: bad arguments (address " + std::to_string(address) + ", register " +
                    std::to_string(subAddress) + ", count " + std::to_string(count) + ")");
    const auto length = static_cast<std::size_t>(count) + 1;
    if (length > kMaxMessageBytes)
        return fail("a register write of " + std::to_string(count) + " bytes to " + hex(address) +
                    " cannot go out as one transaction (the kernel carries at most " +
                    std::to_string(kMaxMessageBytes - 1) + " data bytes after the register)");
    std::vector<std::uint8_t> bytes(length);
    bytes[0] = static_cast<std::uint8_t>(subAddress);
    if (count > 0)
        std::copy(data, data + count, bytes.begin() + 1);
    const std::uint16_t address7 = sevenBit(address);
    const std::string what = "register write of " + std::to_string(count) + " bytes to register " + hex(subAddress);
    return run(
        address, what, [&] { return combinedWrite(address7, bytes.data(), length); },
        [&] { return plainWrite(address7, bytes.data(), length); });
}

bool I2cDevMaster::readRegister(int address, int subAddress, std::uint8_t* buffer, int count)
{
    if (address < 0 || address > 0xFF || subAddress < 0 || subAddress > 0xFF || count < 0 ||
        (count > 0 && buffer == nullptr))
        return fail("register read refused: bad arguments (address " + std::to_string(address) + ", register " +
                    std::to_string(subAddress) + ", count " + std::to_string(count) + ")");
    std::uint8_t sub = static_cast<std::uint8_t>(subAddress);
    const std::uint16_t address7 = sevenBit(address);
    const auto length = static_cast<std::size_t>(count);
    const std::string what = "register read of " + std::to_string(count) + " bytes from register " + hex(subAddress);
    return run(
        address, what, [&] { return combinedRead(address7, &sub, buffer, length); },
        [&] { return plainRead(address7, &sub, buffer, length); });
}

bool I2cDevMaster::probe(int address)
{
    if (address < 0 || address > 0xFF)
        return fail("probe refused: bad address " + std::to_string(address));
    const std::uint16_t address7 = sevenBit(address);
    return run(
        address, "probe", [&] { return combinedProbe(address7); }, [&] { return plainProbe(address7); });
}

template <typename Combined, typename Plain>
bool I2cDevMaster::run(int address, const std::string& what, Combined combined, Plain plain)
{
    for (int tries = 0;;) {
        Outcome outcome = ensureOpen();
        if (outcome.error == 0) {
            const bool wasPlain = plain_;
            outcome = wasPlain ? plain() : combined();
            if (outcome.error == 0) {
                lastError_.clear();
                return true;
            }
            if (!wasPlain && outcome.stage == Stage::Transfer && refused(outcome.error)) {
                // This driver does not take I2C_RDWR: the same access again, plainly.
                plain_ = true;
                slave_ = -1;
                continue;
            }
        }
        if (outcome.stage == Stage::Transfer && -outcome.error == ENODEV) {
            const std::string text = explain(outcome, address, what.c_str());
            close();   // the node is dead; the next access opens it again
            return fail(text);
        }
        if (outcome.stage == Stage::Transfer && transient(outcome.error) && tries < retries_) {
            ++tries;
            clock_.sleepMicros(kRetryPauseMicros);
            continue;
        }
        return fail(explain(outcome, address, what.c_str()));
    }
}

I2cDevMaster::Outcome I2cDevMaster::ensureOpen()
{
    if (fd_ >= 0)
        return {};
    const int fd = layer_.open(busPath_);
    if (fd < 0)
        return {fd, Stage::Open};
    fd_ = fd;
    plain_ = false;
    slave_ = -1;
    plainReadChunk_ = kMaxMessageBytes;
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::select(std::uint16_t address7)
{
    if (slave_ == address7)
        return {};
    const int rc = layer_.setSlave(fd_, address7);
    if (rc < 0)
        return {rc, Stage::Select};
    slave_ = address7;
    return {};
}

int I2cDevMaster::transfer(i2c_msg* messages, std::uint32_t count)
{
    pace();
    const int rc = layer_.transfer(fd_, messages, count);
    finished();
    if (rc < 0)
        return rc;
    return rc == static_cast<int>(count) ? rc : -EIO;
}

I2cDevMaster::Outcome I2cDevMaster::combinedWrite(std::uint16_t address7, std::uint8_t* bytes, std::size_t length)
{
    i2c_msg message{address7, 0, static_cast<std::uint16_t>(length), bytes};
    const int rc = transfer(&message, 1);
    if (rc < 0)
        return {rc, Stage::Transfer};
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::plainWrite(std::uint16_t address7, const std::uint8_t* bytes, std::size_t length)
{
    if (Outcome selected = select(address7); selected.error != 0)
        return selected;
    pace();
    const ssize_t written = layer_.write(fd_, bytes, length);
    finished();
    if (written < 0)
        return {static_cast<int>(written), Stage::Transfer};
    if (static_cast<std::size_t>(written) != length)
        return {-EIO, Stage::Transfer};
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::combinedRead(std::uint16_t address7, std::uint8_t* subAddress,
                                                 std::uint8_t* buffer, std::size_t count)
{
    std::array<i2c_msg, kMaxMessages> messages{};
    std::size_t offset = 0;
    bool first = true;
    while (first || offset < count) {
        std::uint32_t used = 0;
        if (first)
            messages[used++] = i2c_msg{address7, 0, 1, subAddress};
        while (used < kMaxMessages && offset < count) {
            const std::size_t length = std::min(count - offset, kMaxMessageBytes);
            messages[used++] = i2c_msg{address7, I2C_M_RD, static_cast<std::uint16_t>(length), buffer + offset};
            offset += length;
        }
        const int rc = transfer(messages.data(), used);
        if (rc < 0)
            return {rc, Stage::Transfer};
        first = false;
    }
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::plainRead(std::uint16_t address7, const std::uint8_t* subAddress,
                                              std::uint8_t* buffer, std::size_t count)
{
    if (Outcome selected = select(address7); selected.error != 0)
        return selected;
    pace();
    const ssize_t written = layer_.write(fd_, subAddress, 1);
    finished();
    if (written < 0)
        return {static_cast<int>(written), Stage::Transfer};
    if (written != 1)
        return {-EIO, Stage::Transfer};
    std::size_t offset = 0;
    while (offset < count) {
        const std::size_t length = std::min(count - offset, plainReadChunk_);
        pace();
        const ssize_t got = layer_.read(fd_, buffer + offset, length);
        finished();
        if (got < 0 && refused(static_cast<int>(got)) && length > 1) {
            // Nothing went over the bus: ask for less.
            plainReadChunk_ = std::max<std::size_t>(1, length / 2);
            continue;
        }
        if (got < 0)
            return {static_cast<int>(got), Stage::Transfer};
        if (static_cast<std::size_t>(got) != length)
            return {-EIO, Stage::Transfer};
        offset += length;
    }
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::combinedProbe(std::uint16_t address7)
{
    i2c_msg quick{address7, 0, 0, nullptr};
    int rc = transfer(&quick, 1);
    if (rc < 0 && refused(rc)) {
        // No zero-length messages on this bus: read one byte instead.
        std::uint8_t byte = 0;
        i2c_msg read{address7, I2C_M_RD, 1, &byte};
        rc = transfer(&read, 1);
    }
    if (rc < 0)
        return {rc, Stage::Transfer};
    return {};
}

I2cDevMaster::Outcome I2cDevMaster::plainProbe(std::uint16_t address7)
{
    if (Outcome selected = select(address7); selected.error != 0)
        return selected;
    std::uint8_t byte = 0;
    pace();
    const ssize_t got = layer_.read(fd_, &byte, 1);
    finished();
    if (got < 0)
        return {static_cast<int>(got), Stage::Transfer};
    if (got != 1)
        return {-EIO, Stage::Transfer};
    return {};
}

void I2cDevMaster::pace()
{
    if (!paced_ || idleGapMicros_ == 0)
        return;
    const std::uint64_t now = clock_.nowMicros();
    const std::uint64_t due = lastEndMicros_ + idleGapMicros_;
    if (now < due)
        clock_.sleepMicros(due - now);
}

void I2cDevMaster::finished()
{
    lastEndMicros_ = clock_.nowMicros();
    paced_ = true;
}

bool I2cDevMaster::fail(const std::string& text)
{
    lastError_ = text;
    return false;
}

std::string I2cDevMaster::explain(const Outcome& outcome, int address, const char* what) const
{
    const int error = -outcome.error;
    const std::string at = address < 0 ? std::string()
                                       : " at " + hex(address) + " (7-bit " + hex(sevenBit(address)) + ")";
    const std::string bus = busPath_;
    switch (outcome.stage) {
    case Stage::Open:
        switch (error) {
        case ENOENT:
        case ENODEV:
        case ENXIO:
            return "I2C bus " + bus + " does not exist: load the i2c-dev module (modprobe i2c-dev) and choose "
                   "the monitor's DDC bus (i2cdetect -l lists the buses) with MVX_I2C_BUS or the registry "
                   "value \"bus\" of key \"MVX I2C Bus\"";
        case EACCES:
        case EPERM:
            return "no permission to open " + bus + ": add the user to the group that owns it (usually i2c: "
                   "sudo usermod -aG i2c $USER, then log in again) or grant access with a udev rule";
        case EBUSY:
            return bus + " is busy: another program holds it; close that program and try again";
        default:
            return "cannot open " + bus + ": " + systemText(outcome.error);
        }
    case Stage::Select:
        if (error == EBUSY)
            return std::string(what) + at + " on " + bus +
                   ": the address is claimed by a kernel driver; unbind that driver from it "
                   "(see /sys/bus/i2c/devices) and try again";
        return std::string(what) + at + " on " + bus + ": the bus does not take the address: " +
               systemText(outcome.error);
    case Stage::Transfer:
        switch (error) {
        case ENXIO:
        case EREMOTEIO:
        case EIO:
            return std::string(what) + at + " on " + bus + ": no acknowledge (" + systemText(outcome.error) +
                   "): check that the monitor is on, the cable is plugged in and this is its DDC bus";
        case EBUSY:
        case EAGAIN:
            return std::string(what) + at + " on " + bus +
                   ": the bus stayed busy; another program or driver is using it, close it and try again";
        case ETIMEDOUT:
            return std::string(what) + at + " on " + bus +
                   ": timed out; a device is holding the bus lines, power-cycle the monitor";
        case ENODEV:
            return std::string(what) + at + ": " + bus + " went away (adapter or monitor unplugged)";
        default:
            if (refused(outcome.error))
                return std::string(what) + at + ": the driver of " + bus +
                       " refuses it (" + systemText(outcome.error) + "); this bus cannot carry the transfer "
                       "as one transaction";
            return std::string(what) + at + " on " + bus + " failed: " + systemText(outcome.error);
        }
    case Stage::None:
        break;
    }
    return std::string(what) + " failed";
}

}  // namespace mvx::i2cdev
