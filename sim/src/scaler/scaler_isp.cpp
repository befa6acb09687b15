// The register side of the scaler's ISP port: addresses, the register
// pointer, and what each register does when written or read.
#include "mvx/sim/scaler.hpp"

namespace mvx::sim {
namespace {

constexpr std::uint8_t kCommandControl = 0x60;
constexpr std::uint8_t kProgramOpcode = 0x6D;
constexpr std::uint8_t kIspControl = 0x6F;
constexpr std::uint8_t kDataPort = 0x70;
constexpr std::uint8_t kCrcResult = 0x75;
constexpr std::uint8_t kIndirectIndex = 0xF4;
constexpr std::uint8_t kIndirectValue = 0xF5;

// Internal register 0x00 is the IC code; 0x09 comes out of reset with bit 2
// set, which the ISP entry clears.
constexpr std::uint8_t kIndirectIcCode = 0x00;
constexpr std::uint8_t kIndirectMode = 0x09;
constexpr std::uint8_t kIndirectModeAtReset = 0x04;

}  // namespace

ScalerIsp::ScalerIsp(SpiFlash& flash, VirtualClock& clock, const BoardConfig& config)
    : flash_(flash),
      clock_(clock),
      primary_(static_cast<std::uint8_t>(config.scalerAddress & 0xFEu)),
      icCode_(config.icCode),
      stuckBusy_(config.faults.stuckBusy),
      crcMismatchOnce_(config.faults.crcMismatchOnce)
{
    // The scaler runs its own firmware from the flash, so the read opcodes
    // come out of reset usable; the write opcodes are unset until the ISP
    // software sets the controller up.
    regs_[0x62] = 0xFF;
    regs_[0x63] = 0xFF;
    regs_[0x6A] = 0x03;
    regs_[0x6B] = 0x0B;
    regs_[0x6D] = 0xFF;
    regs_[0xEE] = 0x06;
    indirect_[kIndirectMode] = kIndirectModeAtReset;
    pageBuffer_.fill(0xFF);
}

void ScalerIsp::attach(I2cBus& bus)
{
    bus.attach(primaryAddress(), *this);
    bus.attach(secondaryAddress(), *this);
}

void ScalerIsp::detach(I2cBus& bus)
{
    if (bus.deviceAt(primaryAddress()) == this)
        bus.detach(primaryAddress());
    if (bus.deviceAt(secondaryAddress()) == this)
        bus.detach(secondaryAddress());
}

// ---- I2C ----

bool ScalerIsp::onStart(std::uint8_t address, bool read)
{
    refresh();
    if (address != primaryAddress() && address != secondaryAddress())
        return false;
    expectRegister_ = !read;
    return true;
}

bool ScalerIsp::onWrite(std::uint8_t byte)
{
    refresh();
    if (expectRegister_) {
        expectRegister_ = false;
        pointer_ = byte;
        // Addressing the data port starts a new page in the buffer.
        if (pointer_ == kDataPort)
            pageFill_ = 0;
        return true;
    }
    const bool accepted = writeRegister(pointer_, byte);
    if (pointer_ != kDataPort)
        ++pointer_;
    return accepted;
}

std::uint8_t ScalerIsp::onRead()
{
    refresh();
    const std::uint8_t value = readRegister(pointer_);
    if (pointer_ != kDataPort)
        ++pointer_;
    return value;
}

void ScalerIsp::onStop()
{
    refresh();
    expectRegister_ = false;
}

// ---- registers ----

bool ScalerIsp::writeRegister(std::uint8_t reg, std::uint8_t value)
{
    switch (reg) {
    case kCommandControl:
        if (commandActive_) {
            // Locked while the command runs.
            if (value & 0x01u)
                ++stats_.refusedStarts;
            return true;
        }
        regs_[reg] = static_cast<std::uint8_t>(value & 0xFEu);
        if (value & 0x01u)
            startCommand(value);
        return true;
    case kProgramOpcode:
        regs_[reg] = value;
        programOpcodeRewritten_ = true;
        return true;
    case kIspControl:
        writeControl(value);
        return true;
    case kDataPort:
        if (!ispEnabled() || programActive_) {
            ++stats_.refusedPageBytes;
            return false;
        }
        pageBuffer_[pageFill_++] = value;
        return true;
    case kCrcResult:
        return true;   // read only
    case kIndirectValue:
        regs_[reg] = value;
        if (regs_[kIndirectIndex] != kIndirectIcCode)
            indirect_[regs_[kIndirectIndex]] = value;
        return true;
    default:
        regs_[reg] = value;
        return true;
    }
}

std::uint8_t ScalerIsp::readRegister(std::uint8_t reg)
{
    switch (reg) {
    case kCommandControl:
        return static_cast<std::uint8_t>((regs_[reg] & 0xFEu) | (commandActive_ ? 0x01u : 0x00u));
    case kIspControl:
        return controlStatus();
    case kDataPort:
        return streamRead();
    case kIndirectValue:
        return indirectValue(regs_[kIndirectIndex]);
    default:
        return regs_[reg];
    }
}

std::uint8_t ScalerIsp::registerValue(std::uint8_t reg)
{
    refresh();
    if (reg == kDataPort)
        return lastStreamByte_;
    return readRegister(reg);
}

std::uint8_t ScalerIsp::indirectValue(std::uint8_t index) const
{
    return index == kIndirectIcCode ? icCode_ : indirect_[index];
}

// 0x6F keeps its control bits (7 ISP enable, 6 auto-increment mode, and the
// unused 3 and 0); bits 5, 4, 2 and 1 report the controller.
std::uint8_t ScalerIsp::controlStatus() const
{
    std::uint8_t value = static_cast<std::uint8_t>(regs_[kIspControl] & 0xC9u);
    if (programActive_)
        value |= 0x20u;
    if (ispEnabled() && !programActive_)
        value |= 0x10u;
    if (crcActive_)
        value |= 0x04u;
    if (crcDone_)
        value |= 0x02u;
    return value;
}

void ScalerIsp::writeControl(std::uint8_t value)
{
    regs_[kIspControl] = static_cast<std::uint8_t>(value & 0xC9u);
    if (!(value & 0x80u)) {
        // Leaving ISP mode hands the flash back: nothing more is started.
        if (value & 0x24u)
            ++stats_.refusedStarts;
        streamArmed_ = false;
        autoIncrementSession_ = false;
        return;
    }
    if (!(value & 0x40u))
        autoIncrementSession_ = false;
    if (value & 0x20u)
        startProgram((value & 0x40u) != 0);
    if (value & 0x04u)
        startCrc();
}

}  // namespace mvx::sim
