// The library dispatcher in FTDI mode: kind 1 with library.  It carries the
// engine's register accesses over the process's one FTDI object:
//
//   write  START, address, sub-address, data, STOP              (one write)
//   read   START, address, sub-address, STOP                    (one write)
//          START, address | 1, data bytes, STOP, then collect   (one write)
//
// The FTDI object is process-wide: the first open() creates it (loading the
// driver calls and opening the chip); a later open() while the chip is open
// uses it as it is, without touching the chip; an open() that finds it not
// open replaces it with a fresh one.  close() destroys it, and so does
// destroying a dispatcher that opened it without closing it, so the object
// never outlives the run (and the board) it was opened for.
//
// Whether the chip opened is not open()'s answer (always 0): a run without
// a chip fails on its first transfer, writes with 25 and reads with 24.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "ftdi/ftdi_iic.hpp"
#include "mvx/adapters/adapter_ops.hpp"

namespace mvx::adapters {

// The process's FTDI object (nullptr when none exists).  Only one engine
// call runs at a time in a process, and every run in FTDI mode shares this
// one object, as the chip itself is one per process; tests reset it.
std::unique_ptr<TFtdiIIC_Base>& processFtdi();

class FtdiDispatcher final : public AdapterOps {
public:
    // Sub-address and data of one write.
    static constexpr int kWriteBufferSize = 4096;
    static constexpr int kMaxWriteData = kWriteBufferSize - 1;

    // clockDivisor: option 68.  loader and delays go to a new FTDI object.
    FtdiDispatcher(TFtdiIIC_Base::D2xxLoader loader, int clockDivisor, platform::Clock& clock,
                   TFtdiIIC_Base::Delays delays);
    ~FtdiDispatcher() override;
    FtdiDispatcher(const FtdiDispatcher&) = delete;
    FtdiDispatcher& operator=(const FtdiDispatcher&) = delete;

    // The dispatcher's Open in FTDI mode: true when the chip is open.
    bool openChip();

    int open() override;
    void close() override;
    // 25 when the chip is not open, the write did not go out, or it cannot
    // be carried (negative count, missing data, more than 4,095 data bytes).
    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              PassThrough pass) override;
    // 17 for a null buffer; 24 when the chip is not open, a write did not go
    // out, the bytes did not come back, or the count is negative or too large.
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             PassThrough pass) override;
    // The block's address and register bytes open a write of the rest.
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override;
    // The FTDI adapter has no probe.
    int probeTarget() override { return 0; }
    // The chip open() takes (D2xxApi::chipName of chip 0); empty without a driver.
    std::string busName() override;

private:
    TFtdiIIC_Base::D2xxLoader loader_;
    int clockDivisor_;
    platform::Clock& clock_;
    TFtdiIIC_Base::Delays delays_;
    bool opened_ = false;   // this dispatcher opened (and so must close) the process object
    std::array<std::uint8_t, kWriteBufferSize> writeBuffer_{};
};

}  // namespace mvx::adapters
