#include "flash_commands.hpp"

#include "flash_erase.hpp"
#include "flash_identify.hpp"
#include "isp_context.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::engine {

namespace {

// The mode registers are read back this many times at most until they show
// the ISP values; the outcome is not used, the reads only give the scaler
// time to switch.
constexpr int kModeReadBacks = 11;

// Pauses of the read commands, in milliseconds.
constexpr std::uint32_t kStatusReadPause = 4;
constexpr std::uint32_t kIdReadPause = 2;
constexpr std::uint32_t kChipErasePause = 50;

// The IC codes whose clock set-up value is 0; every other code takes 28.
constexpr std::uint8_t clockSetUpValue(std::uint8_t icCode)
{
    const bool low = icCode <= 0x0F || (icCode >= 0x60 && icCode <= 0x7F);
    return low ? 0x00 : 0x1C;
}

int waitForCommand(Link& link, int waitLimit)
{
    return link.waitClear(scaler::kCommandControl, 0x01, waitLimit) ? MVX_OK : MVX_ERR_TIMEOUT;
}

void prepareCommand(Link& link, std::uint8_t commandForm, std::uint8_t opcode)
{
    link.set(scaler::kCommandControl, commandForm);
    link.set(scaler::kCommandOpcode, opcode);
}

void startCommand(Link& link, std::uint8_t commandForm)
{
    link.set(scaler::kCommandControl, static_cast<std::uint8_t>(commandForm + 1));
}

// An answer byte of a read command.  A failed read answers 0: no part has
// that ID byte, so identification finds nothing, and the status byte is only
// shown, never acted on.
std::uint8_t readByte(Link& link, std::uint8_t reg)
{
    std::uint8_t value = 0;
    if (link.readRegister(reg, value) != MVX_OK)
        return 0;
    return value;
}

// 0xED / 0xEE to their ISP values, then read back until they show them.
void setIspModeRegisters(Link& link)
{
    link.set(scaler::kModeED, scaler::kModeEDInIsp);
    link.set(scaler::kModeEE, scaler::kModeEEInIsp);
    for (int i = 0; i < kModeReadBacks; ++i) {
        std::uint8_t ed = 0;
        std::uint8_t ee = 0;
        const bool read = link.readRegister(scaler::kModeED, ed) == MVX_OK &&
                          link.readRegister(scaler::kModeEE, ee) == MVX_OK;
        if (read && ed == scaler::kModeEDInIsp && ee == scaler::kModeEEInIsp)
            break;
    }
}

void writeIndirect(Link& link, std::uint8_t index, std::uint8_t value)
{
    link.set(scaler::kIndirectIndex, index);
    link.set(scaler::kIndirectValue, value);
}

}  // namespace

// ---- flash commands ----

int flashCommand(Link& link, std::uint8_t opcode, int waitLimit)
{
    startFlashCommand(link, opcode);
    return waitForCommand(link, waitLimit);
}

void startFlashCommand(Link& link, std::uint8_t opcode)
{
    prepareCommand(link, form::kOpcodeOnly, opcode);
    startCommand(link, form::kOpcodeOnly);
}

int flashCommandWithByte(Link& link, std::uint8_t commandForm, std::uint8_t opcode, std::uint8_t data,
                         int waitLimit)
{
    prepareCommand(link, commandForm, opcode);
    link.set(scaler::kAddress, data);
    startCommand(link, commandForm);
    return waitForCommand(link, waitLimit);
}

int flashCommandWithBytes(Link& link, std::uint8_t commandForm, std::uint8_t opcode,
                          const std::array<std::uint8_t, 3>& bytes, int waitLimit)
{
    prepareCommand(link, commandForm, opcode);
    link.setBurst3(scaler::kAddress, bytes[0], bytes[1], bytes[2]);
    startCommand(link, commandForm);
    return waitForCommand(link, waitLimit);
}

int chipEraseCommand(Link& link, std::uint8_t opcode, int waitLimit)
{
    prepareCommand(link, form::kChipErase, opcode);
    startCommand(link, form::kChipErase);
    link.clock().sleepMillis(kChipErasePause);
    return waitForCommand(link, waitLimit);
}

int writeEnable(Link& link, int waitLimit)
{
    return flashCommand(link, opcode::kWriteEnable, waitLimit);
}

int writeDisable(Link& link, int waitLimit)
{
    return flashCommand(link, opcode::kWriteDisable, waitLimit);
}

int writeStatus(Link& link, std::uint8_t value, int waitLimit)
{
    return flashCommandWithByte(link, form::kStatusWrite, opcode::kWriteStatus, value, waitLimit);
}

int writeStatusSst(Link& link, std::uint8_t value, int waitLimit)
{
    return flashCommandWithByte(link, form::kSstStatusWrite, opcode::kWriteStatus, value, waitLimit);
}

// ---- read commands ----

std::uint8_t readFlashStatus(Link& link)
{
    prepareCommand(link, form::kReadStatus, opcode::kReadStatus);
    startCommand(link, form::kReadStatus);
    link.clock().sleepMillis(kStatusReadPause);
    return readByte(link, scaler::kReturned);
}

std::array<std::uint8_t, 3> readJedecId(Link& link)
{
    prepareCommand(link, form::kReadJedecId, opcode::kJedecId);
    startCommand(link, form::kReadJedecId);
    link.clock().sleepMillis(kIdReadPause);
    return {readByte(link, scaler::kReturned), readByte(link, scaler::kReturned + 1),
            readByte(link, scaler::kReturned + 2)};
}

std::array<std::uint8_t, 3> readSignature(Link& link)
{
    prepareCommand(link, form::kReadSignature, opcode::kSignature);
    link.setBurst3(scaler::kAddress, 0, 0, 0);
    startCommand(link, form::kReadSignature);
    link.clock().sleepMillis(kIdReadPause);
    return {readByte(link, scaler::kReturned), readByte(link, scaler::kReturned + 1),
            readByte(link, scaler::kReturned + 2)};
}

std::array<std::uint8_t, 2> readManufacturerId(Link& link)
{
    prepareCommand(link, form::kReadManufacturerId, opcode::kManufacturerId);
    link.setBurst3(scaler::kAddress, 0, 0, 0);
    startCommand(link, form::kReadManufacturerId);
    link.clock().sleepMillis(kIdReadPause);
    return {readByte(link, scaler::kReturned), readByte(link, scaler::kReturned + 1)};
}

// ---- the controller ----

void controllerSetUp(Link& link)
{
    link.set(scaler::kWriteEnableOpcode, opcode::kWriteEnable);
    link.set(scaler::kStatusEnableOpcode, 0x50);
    link.set(scaler::kReadOpcode, 0x03);
    link.set(scaler::kReadOpcode + 1, 0x0B);
    link.set(scaler::kReadOpcode + 2, 0x00);
}

void controllerReset(Link& link)
{
    link.set(scaler::kCommandControl, 0xFE);
    link.set(scaler::kCommandOpcode, 0xFF);
    link.set(scaler::kWriteEnableOpcode, 0xFF);
    link.set(scaler::kStatusEnableOpcode, 0xFF);
    link.set(scaler::kProgramOpcode, 0xFF);
}

int deviceCrc(Link& link, std::uint8_t bank, std::uint16_t end, int rereadLimit)
{
    return deviceRangeCrc(link, bank, 0, end, rereadLimit);
}

int deviceRangeCrc(Link& link, std::uint8_t bank, std::uint16_t first, std::uint16_t end, int rereadLimit)
{
    link.setBurst3(scaler::kAddress, bank, static_cast<std::uint8_t>(first >> 8), static_cast<std::uint8_t>(first & 0xFF));
    link.setBurst3(scaler::kCrcEnd, bank, static_cast<std::uint8_t>(end >> 8), static_cast<std::uint8_t>(end & 0xFF));
    std::uint8_t control = 0;
    if (link.readRegister(scaler::kIspControl, control) != MVX_OK)
        return -1;
    // Written back with the start bits; the program-start bit is never
    // written back, so a stale busy reading cannot start a page program.
    link.set(scaler::kIspControl,
                       static_cast<std::uint8_t>((control & ~scaler::kProgramBusy) | scaler::kCrcStart));
    link.clock().sleepMillis(5);
    if (link.readRegister(scaler::kIspControl, control) != MVX_OK)
        return -1;
    for (int reread = 1; (control & scaler::kCrcBusy) != 0 && (control & scaler::kCrcDone) == 0; ++reread) {
        if (reread > rereadLimit)
            return -1;
        link.clock().sleepMillis(1);
        if (link.readRegister(scaler::kIspControl, control) != MVX_OK)
            return -1;
    }
    std::uint8_t crc = 0;
    if (link.readRegister(scaler::kCrcResult, crc) != MVX_OK)
        return -1;
    return crc;
}

bool readIcCode(Link& link, std::uint8_t& code)
{
    // A lost index write would read whatever register the index last named.
    return link.writeRegister(scaler::kIndirectIndex, scaler::kInternalIcCode) == MVX_OK &&
           link.readRegister(scaler::kIndirectValue, code) == MVX_OK;
}

// ---- serial-flash ISP mode ----

bool enterSerialFlashIspOnce(IspContext& ctx)
{
    Link& link = *ctx.link;
    link.beginStep();
    if (link.writeRegister(scaler::kIspControl, scaler::kIspEnable) != MVX_OK)
        return false;
    link.set(scaler::kEntryHold, 0x00);
    // A read that fails tells nothing about the enable bit: not entered.
    std::uint8_t control = 0;
    if (link.readRegister(scaler::kIspControl, control) != MVX_OK || (control & scaler::kIspEnable) == 0)
        return false;

    link.set(scaler::kIndirectIndex, scaler::kInternalMode);
    std::uint8_t mode = 0;
    if (link.readRegister(scaler::kIndirectValue, mode) == MVX_OK && (mode & 0x04) != 0)
        writeIndirect(link, scaler::kInternalMode, 0x00);
    setIspModeRegisters(link);

    if (ctx.libraryMode != 0)
        link.ops().reapplySettings();

    identifyFlash(ctx);

    if (ctx.flashBrand == MVX_BRAND_SST) {
        // The status-write enable opcode comes from the controller set-up; an
        // SST part whose status register cannot be cleared is not ready.
        controllerSetUp(link);
        if (writeEnable(link, kEraseWait) != MVX_OK || writeStatusSst(link, 0x00, kEraseWait) != MVX_OK) {
            platform::debugOutput("serial flash entry: SST status wait failed");
            return false;
        }
    }
    // A set-up write the device did not take leaves it half in ISP mode.
    if (link.firstWriteError() != MVX_OK) {
        platform::debugOutput("serial flash entry: a set-up write failed");
        return false;
    }
    return true;
}

int enterSerialFlashIsp(IspContext& ctx)
{
    if (!ctx.link)
        return MVX_ERR_ISP_MODE;
    if (enterSerialFlashIspOnce(ctx) || enterSerialFlashIspOnce(ctx))
        return MVX_OK;
    return MVX_ERR_ISP_MODE;
}

int leaveSerialFlashIsp(IspContext& ctx)
{
    Link& link = *ctx.link;
    int result = MVX_OK;
    const auto keep = [&result](int rc) {
        if (result == MVX_OK)
            result = rc;
    };

    controllerSetUp(link);
    keep(unprotectFlash(ctx));
    if (ctx.flashBrand == MVX_BRAND_SST) {
        keep(writeEnable(link, kShortWait));
        keep(writeStatusSst(link, 0x8C, kShortWait));
        keep(writeDisable(link, kShortWait));
        link.set(scaler::kProgramOpcode, 0xFF);
    } else {
        const IspOptions& options = ctx.options.fields;
        const auto status = options.enable_setflashstatusafterisp == 1
                                ? static_cast<std::uint8_t>(options.flashstatus_value & 0xFF)
                                : std::uint8_t{0xFC};
        keep(writeStatus(link, status, kShortWait));
        controllerReset(link);
    }
    link.set(scaler::kModeEE, scaler::kModeEEAfterIsp);
    if (result != MVX_OK)
        platform::debugOutput("serial flash exit: a status wait failed");
    return result;
}

void postIdentificationSetUp(Link& link)
{
    // An IC code that cannot be read takes the set-up value of code 0; the
    // failure is latched (or the next reads fail) and the step reports it.
    std::uint8_t icCode = 0;
    if (!readIcCode(link, icCode))
        icCode = 0;
    const std::uint8_t t = clockSetUpValue(icCode);
    for (const std::uint8_t base : {std::uint8_t{0x1B}, std::uint8_t{0x1E}, std::uint8_t{0x2C}}) {
        link.set(base, 0x02);
        link.set(static_cast<std::uint8_t>(base + 1), 0x00);
        link.set(static_cast<std::uint8_t>(base + 2), t);
    }
    link.set(scaler::kReadOpcode, 0x03);
    link.set(scaler::kReadOpcode + 1, 0x0B);
    link.set(scaler::kReadOpcode + 2, 0x00);
    setIspModeRegisters(link);
}

}  // namespace mvx::engine
