// The maker's two adapter libraries, played by the board: one method per
// export, with the export's arguments and answers (nonzero = success).
// Register accesses run as whole transactions on the I2C bus:
//
//   read   START addr sub, repeated START addr|1, count bytes (the last one
//          not acknowledged), STOP; answers 0 when the address or register
//          byte was not acknowledged (the buffer then holds 0xFF bytes)
//   write  START addr sub data... STOP; answers 0 unless every byte was
//          acknowledged
//
// Addresses are 8-bit bus addresses in write form (bit 0 is ignored).
// Arguments outside what the adapter can carry (an address or register above
// 0xFF, a negative count or one above kMaxTransfer, a missing buffer for a
// nonzero count) answer 0 without touching the bus.  Both libraries answer 0
// to everything until _Initialize has been called, and to everything while
// their adapter is unplugged.  The pass-through values of the engine's calls
// are accepted and change nothing.
//
// Both libraries pace their transactions by their delay setting: a
// transaction starts no sooner than delay x kDelayUnitMicros after the end of
// the one before (the unit the IIC library over i2c-dev uses for its work
// delay, and the USB adapter for its delay byte).
#pragma once

#include <cstdint>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

// The pacing both libraries share.
class TransactionPacing {
public:
    static constexpr std::uint64_t kDelayUnitMicros = 100;

    void setDelay(std::int32_t delay)
    {
        gapMicros_ = delay > 0 ? static_cast<std::uint64_t>(delay) * kDelayUnitMicros : 0;
    }
    // Before a transaction: waits out what is left of the gap.
    void before(VirtualClock& clock) const
    {
        const std::uint64_t due = lastEndMicros_ + gapMicros_;
        if (ended_ && gapMicros_ != 0 && clock.nowMicros() < due)
            clock.advance(due - clock.nowMicros());
    }
    void after(VirtualClock& clock)
    {
        lastEndMicros_ = clock.nowMicros();
        ended_ = true;
    }

private:
    std::uint64_t gapMicros_ = 0;
    std::uint64_t lastEndMicros_ = 0;
    bool ended_ = false;   // a transaction has ended: the gap counts from it
};

// The maker's USB adapter (MVXUSBDLL).  Each register write is one USB
// transfer to the adapter, each read a request and an answer (two); the
// setting calls are one transfer each.  A transfer costs kUsbTransferMicros
// of virtual time (the adapter is a full-speed device: one transfer per 1 ms
// frame for a caller that waits for each), on top of the I2C time on the bus.
// _SetUSBDelay paces the transactions (above); the speed class of
// _SetUSBSpeedMode picks the adapter's clock table, whose rate is the board's
// bus_khz, so it costs nothing of its own.
class VirtualMakerUsbLibrary {
public:
    static constexpr std::uint64_t kUsbTransferMicros = 1000;
    static constexpr std::int32_t kMaxTransfer = 4096;

    VirtualMakerUsbLibrary(I2cBus& bus, VirtualClock& clock);

    void setPlugged(bool plugged) { plugged_ = plugged; }

    // ---- the six exports ----
    std::int32_t initialize();                                        // _Initialize
    std::int32_t debugRead(std::int32_t address, std::int32_t subAddress, std::uint8_t* buffer,
                           std::int32_t count, std::int32_t a, std::int32_t b, std::int32_t c);
    std::int32_t debugWrite(std::int32_t address, std::int32_t subAddress, const std::uint8_t* data,
                            std::int32_t count, std::int32_t a, std::int32_t b, std::int32_t c);
    std::int32_t setUsbPolling(std::int32_t a, std::int32_t b);       // _SetUSBPolling
    std::int32_t setUsbSpeedMode(std::int32_t mode, std::int32_t b);  // _SetUSBSpeedMode
    std::int32_t setUsbDelay(std::int32_t delay, std::int32_t b);     // _SetUSBDelay

    bool initialized() const { return initialized_; }
    std::int32_t polling() const { return polling_; }
    std::int32_t speedMode() const { return speedMode_; }
    std::int32_t delay() const { return delay_; }
    std::uint64_t usbTransfers() const { return usbTransfers_; }

private:
    bool ready() const { return plugged_ && initialized_; }
    void transfer(unsigned count);

    I2cBus& bus_;
    VirtualClock& clock_;
    TransactionPacing pacing_;
    bool plugged_ = true;
    bool initialized_ = false;
    std::int32_t polling_ = 0;
    std::int32_t speedMode_ = 0;
    std::int32_t delay_ = 0;
    std::uint64_t usbTransfers_ = 0;
};

// The maker's I2C adapter (MVXIICDLL).  _TargetBoardTest addresses the
// scaler (START, its address in write form, STOP) and answers 1 when it
// acknowledges; the address is the board's scaler address, 0x94 unless the
// board says otherwise.  Every transaction is one I2C_RDWR ioctl on the
// i2c-dev node: a system call and the bus driver's completion interrupt,
// kCallMicros on top of the bus time; _SetWorkDelay paces them (above).
class VirtualMakerIicLibrary {
public:
    static constexpr std::int32_t kMaxTransfer = 4096;
    static constexpr std::uint64_t kCallMicros = 10;

    explicit VirtualMakerIicLibrary(I2cBus& bus, std::uint8_t targetAddress = 0x94);

    void setPlugged(bool plugged) { plugged_ = plugged; }

    // ---- the six exports ----
    std::int32_t initialize();                                        // _Initialize
    std::int32_t debugRead(std::int32_t address, std::int32_t subAddress, std::uint8_t* buffer,
                           std::int32_t count, std::int32_t a, std::int32_t b);
    std::int32_t debugWrite(std::int32_t address, std::int32_t subAddress, const std::uint8_t* data,
                            std::int32_t count, std::int32_t a, std::int32_t b);
    std::int32_t setPolling(std::int32_t polling);                    // _SetPolling
    std::int32_t setWorkDelay(std::int32_t delay);                    // _SetWorkDelay
    std::int32_t targetBoardTest();                                   // _TargetBoardTest

    bool initialized() const { return initialized_; }
    std::int32_t polling() const { return polling_; }
    std::int32_t workDelay() const { return workDelay_; }
    std::uint8_t targetAddress() const { return targetAddress_; }

private:
    bool ready() const { return plugged_ && initialized_; }
    void call();
    void callDone() { pacing_.after(bus_.clock()); }

    I2cBus& bus_;
    TransactionPacing pacing_;
    std::uint8_t targetAddress_;
    bool plugged_ = true;
    bool initialized_ = false;
    std::int32_t polling_ = 0;
    std::int32_t workDelay_ = 0;
};

}  // namespace mvx::sim
