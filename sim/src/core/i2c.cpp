#include "mvx/sim/i2c.hpp"

namespace mvx::sim {

I2cBus::I2cBus(VirtualClock& clock, unsigned busKhz) : clock_(clock), busKhz_(busKhz == 0 ? 100 : busKhz)
{
}

void I2cBus::attach(std::uint8_t address, I2cDevice& device)
{
    devices_[address >> 1] = &device;
}

void I2cBus::detach(std::uint8_t address)
{
    if (current_ == devices_[address >> 1])
        current_ = nullptr;
    devices_[address >> 1] = nullptr;
}

I2cDevice* I2cBus::deviceAt(std::uint8_t address) const
{
    return devices_[address >> 1];
}

std::uint64_t I2cBus::busFreeNanos() const
{
    if (busKhz_ <= 100)
        return 4'700;   // standard mode tBUF
    if (busKhz_ <= 400)
        return 1'300;   // fast mode
    return 500;         // fast-mode plus
}

void I2cBus::clocks(unsigned count)
{
    if (masterPaced_)
        return;
    // One clock lasts 1e9 / kHz picoseconds; whole microseconds go to the clock.
    picosPending_ += std::uint64_t{count} * 1'000'000'000ull / busKhz_;
    const std::uint64_t micros = picosPending_ / 1'000'000ull;
    picosPending_ %= 1'000'000ull;
    if (micros != 0)
        clock_.advance(micros);
}

bool I2cBus::silenced() const
{
    return dead_ || (nackAfter_ && stats_.transactions >= *nackAfter_);
}

bool I2cBus::start(std::uint8_t addressByte)
{
    I2cDevice* device = devices_[addressByte >> 1];
    // A repeated START to another device ends the first one's part; the same
    // device keeps its state (a register read's pointer survives it).
    if (inTransaction_ && current_ != nullptr && current_ != device)
        current_->onStop();
    if (!inTransaction_ && stats_.transactions != 0 && !masterPaced_)
        clock_.advanceNanos(busFreeNanos());
    inTransaction_ = true;
    ++stats_.starts;
    ++stats_.bytes;
    clocks(1 + 9);
    current_ = nullptr;
    currentRead_ = (addressByte & 1u) != 0;
    if (device == nullptr || silenced()) {
        ++stats_.nacks;
        return false;
    }
    const std::uint8_t address = static_cast<std::uint8_t>(addressByte & 0xFEu);
    if (!device->onStart(address, currentRead_)) {
        ++stats_.nacks;
        return false;
    }
    current_ = device;
    return true;
}

bool I2cBus::write(std::uint8_t byte)
{
    ++stats_.bytes;
    clocks(9);
    if (current_ == nullptr || currentRead_ || silenced()) {
        ++stats_.nacks;
        return false;
    }
    if (!current_->onWrite(byte)) {
        ++stats_.nacks;
        return false;
    }
    return true;
}

std::uint8_t I2cBus::read()
{
    ++stats_.bytes;
    clocks(8);
    if (current_ == nullptr || !currentRead_ || silenced())
        return 0xFF;
    return current_->onRead();
}

void I2cBus::acknowledgeRead(bool acknowledged)
{
    clocks(1);
    if (current_ != nullptr && currentRead_)
        current_->onReadAck(acknowledged);
}

void I2cBus::stop()
{
    clocks(1);
    if (current_ != nullptr)
        current_->onStop();
    current_ = nullptr;
    if (inTransaction_) {
        inTransaction_ = false;
        ++stats_.transactions;
    }
}

bool I2cBus::writeRegister(std::uint8_t address, std::uint8_t reg, std::span<const std::uint8_t> data)
{
    bool acknowledged = start(static_cast<std::uint8_t>(address & 0xFEu));
    acknowledged = write(reg) && acknowledged;
    for (std::uint8_t byte : data)
        acknowledged = write(byte) && acknowledged;
    stop();
    return acknowledged;
}

bool I2cBus::readRegister(std::uint8_t address, std::uint8_t reg, std::span<std::uint8_t> out)
{
    const std::uint8_t writeForm = static_cast<std::uint8_t>(address & 0xFEu);
    bool acknowledged = start(writeForm) && write(reg);
    acknowledged = start(static_cast<std::uint8_t>(writeForm | 1u)) && acknowledged;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = read(i + 1 < out.size());
    stop();
    return acknowledged;
}

bool I2cBus::writeFrame(std::span<const std::uint8_t> frame)
{
    if (frame.empty())
        return false;
    bool acknowledged = start(frame[0]);
    for (std::size_t i = 1; i < frame.size(); ++i)
        acknowledged = write(frame[i]) && acknowledged;
    stop();
    return acknowledged;
}

}  // namespace mvx::sim
