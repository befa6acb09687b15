#include "link.hpp"

#include "mvxisp.h"

namespace mvx::engine {

int Link::writeRegister(std::uint8_t reg, std::uint8_t value)
{
    return writeRegisterOn(primary_, reg, value);
}

int Link::writeRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t value)
{
    const int rc = ops_.write(slave, reg, &value, 1, {1, 0, 0});
    if (rc != MVX_OK && firstWriteError_ == MVX_OK)
        firstWriteError_ = rc;
    return rc;
}

int Link::readRegister(std::uint8_t reg, std::uint8_t& value)
{
    return readRegisterOn(primary_, reg, value);
}

int Link::readRegisterOn(std::uint8_t slave, std::uint8_t reg, std::uint8_t& value)
{
    return ops_.read(slave, reg, &value, 1, {1, 0, 0});
}

int Link::burst(std::uint8_t reg, const std::uint8_t* bytes, int count)
{
    const int rc = ops_.write(secondary_, reg, bytes, count, {count, 1, 0});
    if (rc != MVX_OK && firstWriteError_ == MVX_OK)
        firstWriteError_ = rc;
    return rc;
}

bool Link::waitClearPaced(std::uint8_t reg, std::uint8_t mask, int limit, std::uint32_t pauseMillis)
{
    std::uint8_t value = 0;
    // The first read's own result is not checked (the wait is defined that
    // way): a failed first read is judged by whatever value it left, and a
    // link that has gone shows in the step's next read.
    static_cast<void>(readRegister(reg, value));
    for (int reread = 1; (value & mask) != 0; ++reread) {
        if (pauseMillis != 0)
            clock_.sleepMillis(pauseMillis);
        if (readRegister(reg, value) != MVX_OK)
            return false;
        if (reread == limit + 2)
            return false;   // that re-read's value is not examined
    }
    return true;
}

bool Link::enterMcuIsp(bool is5312)
{
    beginStep();
    if (writeRegister(0x90, 0x40) != MVX_OK || writeRegister(0x36, 0x00) != MVX_OK)
        return false;
    std::uint8_t value = 0;
    if (readRegister(0x90, value) != MVX_OK)
        return false;
    return is5312 ? (value & 0x40) != 0 : value == 0x40;
}

int Link::enterMcuIspTwice(bool is5312)
{
    if (enterMcuIsp(is5312) || enterMcuIsp(is5312))
        return MVX_OK;
    return MVX_ERR_ISP_MODE;
}

void Link::leaveMcuIsp()
{
    const std::uint8_t leave = 0x02;
    static_cast<void>(ops_.write(primary_, 0x39, &leave, 1, {1, 0, 0}));
    static_cast<void>(ops_.write(primary_, 0x39, &leave, 1, {1, 0, 0}));
}

}  // namespace mvx::engine
