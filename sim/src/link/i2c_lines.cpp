#include "mvx/sim/i2c_lines.hpp"

namespace mvx::sim {

I2cLines::I2cLines(I2cBus& bus) : bus_(bus)
{
}

void I2cLines::driveScl(bool released)
{
    const I2cBus::MasterPaced paced(bus_);
    if (released == masterScl_)
        return;
    masterScl_ = released;
    if (released)
        onRising();
    else
        onFalling();
}

void I2cLines::driveSda(bool released)
{
    const I2cBus::MasterPaced paced(bus_);
    const bool before = sda();
    masterSda_ = released;
    const bool after = sda();
    if (before == after || !masterScl_)
        return;
    if (after)
        onStop();
    else
        onStart();
}

void I2cLines::drive(bool sclReleased, bool sdaReleased)
{
    if (sclReleased == masterScl_) {
        driveSda(sdaReleased);
    } else if (sclReleased) {
        driveSda(sdaReleased);   // set up before the rising edge
        driveScl(true);
    } else {
        driveScl(false);         // changes after the falling edge
        driveSda(sdaReleased);
    }
}

void I2cLines::onStart()
{
    ++starts_;
    slaveSda_ = true;
    phase_ = Phase::MasterByte;
    addressPending_ = true;
    reading_ = false;
    bits_ = 0;
    shift_ = 0;
}

void I2cLines::onStop()
{
    ++stops_;
    slaveSda_ = true;
    phase_ = Phase::Idle;
    addressPending_ = false;
    if (bus_.inTransaction())
        bus_.stop();
}

void I2cLines::onRising()
{
    switch (phase_) {
    case Phase::MasterByte:
        if (bits_ < 8) {
            shift_ = static_cast<std::uint8_t>((shift_ << 1) | (sda() ? 1u : 0u));
            ++bits_;
        }
        break;
    case Phase::SlaveAck:
        ninthClockSeen_ = true;
        break;
    case Phase::SlaveByte:
        if (bits_ < 8)
            ++bits_;   // the master samples the bit presented
        break;
    case Phase::MasterAck:
        if (!ninthClockSeen_) {
            ninthClockSeen_ = true;
            masterAcknowledged_ = !sda();
            bus_.acknowledgeRead(masterAcknowledged_);
        }
        break;
    case Phase::Idle:
    case Phase::Released:
        break;
    }
}

void I2cLines::onFalling()
{
    switch (phase_) {
    case Phase::MasterByte:
        if (bits_ == 8) {
            bool acknowledged = false;
            if (addressPending_) {
                addressPending_ = false;
                reading_ = (shift_ & 1u) != 0;
                acknowledged = bus_.start(shift_);
            } else {
                acknowledged = bus_.write(shift_);
            }
            slaveSda_ = !acknowledged;
            ninthClockSeen_ = false;
            phase_ = Phase::SlaveAck;
        }
        break;
    case Phase::SlaveAck:
        if (!ninthClockSeen_)
            break;
        slaveSda_ = true;
        if (reading_) {
            // A read from nobody still clocks: the bus answers the released line.
            beginReadByte();
        } else {
            phase_ = Phase::MasterByte;
            bits_ = 0;
            shift_ = 0;
        }
        break;
    case Phase::SlaveByte:
        if (bits_ < 8) {
            presentBit();
        } else {
            slaveSda_ = true;   // the master's turn: its acknowledge
            ninthClockSeen_ = false;
            phase_ = Phase::MasterAck;
        }
        break;
    case Phase::MasterAck:
        if (!ninthClockSeen_)
            break;
        if (masterAcknowledged_)
            beginReadByte();
        else
            phase_ = Phase::Released;
        break;
    case Phase::Idle:
    case Phase::Released:
        break;
    }
}

void I2cLines::beginReadByte()
{
    readByte_ = bus_.read();
    bits_ = 0;
    phase_ = Phase::SlaveByte;
    presentBit();
}

void I2cLines::presentBit()
{
    slaveSda_ = ((readByte_ >> (7 - bits_)) & 1u) != 0;
}

}  // namespace mvx::sim
