// Register access to the scaler's ISP port and the MCUs: single-register
// writes and reads through the primary slave, 3-byte bursts through the
// secondary slave, the bounded wait for status bits, and entering and leaving
// MCU ISP mode.  Everything the engine does to a device is built from these.
//
// A write the transport reports as failed is never lost silently: the link
// latches the first failed write (or burst) since the current step began,
// as an MPSSE command queue keeps its first error, and the step turns it into
// its result with stepResult().  Long register sequences therefore use the
// set*() forms, whose failure only the latch records; a write whose outcome
// decides what happens next uses the checked forms.
#pragma once

#include <cstdint>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::engine {

class Link {
public:
    Link(adapters::AdapterOps& ops, platform::Clock& clock, std::uint8_t primary = 0x94,
         std::uint8_t secondary = 0x96)
        : ops_(ops), clock_(clock), primary_(primary), secondary_(secondary)
    {
    }

    adapters::AdapterOps& ops() { return ops_; }
    platform::Clock& clock() { return clock_; }
    std::uint8_t primary() const { return primary_; }
    std::uint8_t secondary() const { return secondary_; }
    void setSlaves(std::uint8_t primary, std::uint8_t secondary)
    {
        primary_ = primary;
        secondary_ = secondary;
    }

    // One byte to a register of the primary slave (count 1, fifth value 1).
    // The transport's result; a failure is latched as well.
    [[nodiscard]] int writeRegister(std::uint8_t reg, std::uint8_t value);
    [[nodiscard]] int writeRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t value);
    // One byte from a register of the primary slave.
    [[nodiscard]] int readRegister(std::uint8_t reg, std::uint8_t& value);
    [[nodiscard]] int readRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t& value);
    // count bytes through the secondary slave (fifth value count, sixth 1).
    [[nodiscard]] int burst(std::uint8_t reg, const std::uint8_t* bytes, int count);
    [[nodiscard]] int burst3(std::uint8_t reg, std::uint8_t a, std::uint8_t b, std::uint8_t c)
    {
        const std::uint8_t bytes[] = {a, b, c};
        return burst(reg, bytes, 3);
    }

    // A write whose caller retries it and judges the outcome by reading the
    // register back: its failure is returned but not latched.
    [[nodiscard]] int tryWriteRegister(std::uint8_t reg, std::uint8_t value)
    {
        return ops_.write(primary_, reg, &value, 1, {1, 0, 0});
    }

    // The same writes in a sequence: a failure is only latched, and the step
    // reports it.
    void set(std::uint8_t reg, std::uint8_t value) { static_cast<void>(writeRegister(reg, value)); }
    void setOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t value)
    {
        static_cast<void>(writeRegisterOn(slave, reg, value));
    }
    void setBurst(std::uint8_t reg, const std::uint8_t* bytes, int count)
    {
        static_cast<void>(burst(reg, bytes, count));
    }
    void setBurst3(std::uint8_t reg, std::uint8_t a, std::uint8_t b, std::uint8_t c)
    {
        static_cast<void>(burst3(reg, a, b, c));
    }

    // A step begins: the latch is cleared.
    void beginStep() { firstWriteError_ = 0; }
    // The first failed write since the step began (the transport's code), or 0.
    [[nodiscard]] int firstWriteError() const { return firstWriteError_; }
    // What the step reports: the first failed write when there was one (it is
    // what made the rest of the step go wrong), otherwise the step's own rc.
    [[nodiscard]] int stepResult(int rc) const { return firstWriteError_ != 0 ? firstWriteError_ : rc; }

    // Reads the register once; while (value & mask) is set, sleeps 10 ms and
    // reads again.  A failed re-read or the (limit + 2)-th re-read ends the
    // wait with false; true once the bits read clear.
    [[nodiscard]] bool waitClear(std::uint8_t reg, std::uint8_t mask, int limit)
    {
        return waitClearPaced(reg, mask, limit, kWaitClearPauseMillis);
    }
    // The same wait with the same re-read limit and outcome, re-reading at
    // once: the page loops' waits, whose only pacing is the transport (a page
    // program is done in about 1.5 ms, well within the re-reads of its limit).
    [[nodiscard]] bool pollClear(std::uint8_t reg, std::uint8_t mask, int limit)
    {
        return waitClearPaced(reg, mask, limit, 0);
    }

    // One attempt at MCU ISP mode: 0x90 = 0x40, 0x36 = 0x00 (both must be
    // taken), then 0x90 must read 0x40 (5310) or have bit 6 set (5312).
    [[nodiscard]] bool enterMcuIsp(bool is5312);
    // Two attempts, each a step of its own; 0 or 13.
    [[nodiscard]] int enterMcuIspTwice(bool is5312);
    // 0x39 = 0x02, twice.  The chip resets on the first one and need not
    // acknowledge the second, so neither result means anything: they are
    // neither returned nor latched.
    void leaveMcuIsp();

private:
    static constexpr std::uint32_t kWaitClearPauseMillis = 10;
    [[nodiscard]] bool waitClearPaced(std::uint8_t reg, std::uint8_t mask, int limit, std::uint32_t pauseMillis);

    adapters::AdapterOps& ops_;
    platform::Clock& clock_;
    std::uint8_t primary_;
    std::uint8_t secondary_;
    int firstWriteError_ = 0;
};

}  // namespace mvx::engine
