#include "mvx/sim/mcu.hpp"

#include <algorithm>

namespace mvx::sim {
namespace {

constexpr std::uint8_t kRegSetupMode = 0x38;
constexpr std::uint8_t kRegSetupTiming = 0x10;
constexpr std::uint8_t kRegSetupPulse = 0x12;
constexpr std::uint8_t kRegCpuControl = 0x36;
constexpr std::uint8_t kRegReset = 0x39;
constexpr std::uint8_t kRegBankSelect = 0x90;
constexpr std::uint8_t kRegPageErase = 0x91;
constexpr std::uint8_t kRegPage = 0x92;
constexpr std::uint8_t kRegByte = 0x93;
constexpr std::uint8_t kRegData = 0x94;
constexpr std::uint8_t kRegEndHigh = 0xA0;
constexpr std::uint8_t kRegEndLow = 0xA1;
constexpr std::uint8_t kRegUnitControl = 0xA2;
constexpr std::uint8_t kRegResultLow = 0xA3;
constexpr std::uint8_t kRegResultHigh = 0xA4;
constexpr std::uint8_t kRegKey = 0xB0;

constexpr std::uint32_t kBankBytes = 0x10000;
constexpr std::uint32_t kEraseUnit = 1024;

constexpr std::array<std::uint8_t, 256> makeCrc8Table()
{
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80u) ? ((crc << 1) ^ 0x07u) : (crc << 1);
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> makeCrc16Table()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) ? ((crc << 1) ^ 0x1021u) : (crc << 1);
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr auto kCrc8Table = makeCrc8Table();
constexpr auto kCrc16Table = makeCrc16Table();

void settingFailed(std::string* error, const std::string& message)
{
    if (error != nullptr && error->empty())
        *error = "board.ini: " + message;
}

}  // namespace

McuSettings McuSettings::read(const BoardConfig& config, std::string* error)
{
    McuSettings settings;
    if (auto reset = config.ini.value("board", "mcu_reset")) {
        if (*reset == "checksums")
            settings.reset = McuReset::Checksums;
        else if (*reset == "clear")
            settings.reset = McuReset::Clear;
        else if (*reset == "stay")
            settings.reset = McuReset::Stay;
        else
            settingFailed(error, "[board] mcu_reset must be checksums, clear or stay, not " + *reset);
    }
    if (auto kb = config.number("board", "mcu_last_bank_kb", error)) {
        if (*kb < 1 || *kb > 32)
            settingFailed(error, "[board] mcu_last_bank_kb must lie in 1..32");
        else
            settings.lastBankKb = static_cast<unsigned>(*kb);
    }
    return settings;
}

std::size_t Mcu::flashSize(McuType type)
{
    return type == McuType::M5310 ? 0x18000 : 0x28000;
}

Mcu::Mcu(McuType type, VirtualClock& clock, const BoardConfig& config)
    : type_(type),
      clock_(clock),
      settings_(McuSettings::read(config, &settingsError_)),
      stuckBusy_(config.faults.stuckBusy),
      crcMismatchOnce_(config.faults.crcMismatchOnce),
      flash_(flashSize(type), 0xFF)
{
    switch (type_) {
    case McuType::M5310: flashLimit_ = kBankBytes + settings_.lastBankKb * kEraseUnit; break;
    case McuType::M5312: flashLimit_ = 2 * kBankBytes + settings_.lastBankKb * kEraseUnit; break;
    case McuType::Writer: flashLimit_ = static_cast<std::uint32_t>(flashSize(type_)); break;
    }
}

void Mcu::attach(I2cBus& bus, std::uint8_t primary)
{
    primary_ = static_cast<std::uint8_t>(primary & 0xFEu);
    secondary_ = static_cast<std::uint8_t>(primary_ + 2);
    bus.attach(primary_, *this);
    bus.attach(secondary_, *this);
}

void Mcu::endOfCall()
{
    if (settings_.reset == McuReset::Stay)
        return;
    settle();
    reset();
}

// ---- the I2C side ----

bool Mcu::onStart(std::uint8_t address, bool read)
{
    settle();
    endSegment();
    onSecondary_ = address == secondary_;
    expectRegister_ = !read;
    return true;
}

bool Mcu::onWrite(std::uint8_t byte)
{
    settle();
    if (expectRegister_) {
        pointer_ = byte;
        expectRegister_ = false;
        return true;
    }
    writeRegister(pointer_, byte);
    advancePointer();
    return true;
}

std::uint8_t Mcu::onRead()
{
    settle();
    const std::uint8_t value = readRegister(pointer_);
    advancePointer();
    return value;
}

void Mcu::onStop()
{
    settle();
    endSegment();
}

void Mcu::advancePointer()
{
    if (onSecondary_ && pointer_ != kRegData && pointer_ != kRegKey)
        ++pointer_;
}

void Mcu::endSegment()
{
    if (keyCount_ != 0)
        unlocked_ = isp_ && keyMatches_ && keyCount_ == kMcuUnlockCode.size() && setupReady();
    keyCount_ = 0;
    keyMatches_ = true;
}

void Mcu::settle()
{
    const std::uint64_t now = clock_.nowMicros();
    if (bootPending_ && now >= bootDoneAt_) {
        regs_[kRegEndHigh] = static_cast<std::uint8_t>(bootSum0_ >> 8);
        regs_[kRegEndLow] = static_cast<std::uint8_t>(bootSum0_);
        regs_[kRegPage] = static_cast<std::uint8_t>(bootSum1_ >> 8);
        regs_[kRegByte] = static_cast<std::uint8_t>(bootSum1_);
        bootPending_ = false;
    }
    if (unitBusy_ && now >= unitDoneAt_) {
        regs_[kRegResultLow] = static_cast<std::uint8_t>(unitResult_);
        regs_[kRegResultHigh] = static_cast<std::uint8_t>(unitResult_ >> 8);
        unitBusy_ = false;
        unitDone_ = true;
    }
}

// ---- registers ----

void Mcu::writeRegister(std::uint8_t reg, std::uint8_t value)
{
    switch (reg) {
    case kRegReset:
        if (value == 0x02 && settings_.reset != McuReset::Stay)
            reset();
        return;
    case kRegBankSelect:
        writeBankSelect(value);
        return;
    case kRegCpuControl:
        if (!isp_) {
            if (value == 0x00 && ispRequested_)
                enterIsp();
            return;
        }
        regs_[reg] = value;
        return;
    default:
        break;
    }
    // The flash controller belongs to the CPU while it runs.
    if (!isp_)
        return;
    switch (reg) {
    case kRegPageErase:
        regs_[reg] = static_cast<std::uint8_t>(value & 0x7Fu);
        if (value & 0x80u)
            pageErase(static_cast<std::uint8_t>(value & 0x7Fu));
        return;
    case kRegData: programByte(value); return;
    case kRegUnitControl: startUnit(value); return;
    case kRegResultLow:
    case kRegResultHigh: return;
    case kRegKey: keyByte(value); return;
    default: regs_[reg] = value; return;
    }
}

std::uint8_t Mcu::readRegister(std::uint8_t reg)
{
    switch (reg) {
    case kRegBankSelect: {
        if (!isp_)
            return select_;
        std::uint8_t value = static_cast<std::uint8_t>(0x40u | select_);
        if (busyUntil(massEraseUntil_))
            value |= 0x80u;
        if (busyUntil(programUntil_))
            value |= 0x10u;
        if (unitBusy_)
            value |= 0x08u;
        return value;
    }
    case kRegPageErase:
        return static_cast<std::uint8_t>((busyUntil(pageEraseUntil_) ? 0x80u : 0u) | regs_[reg]);
    case kRegUnitControl:
        return static_cast<std::uint8_t>((unitBusy_ ? 0x80u : 0u) | (unitDone_ ? 0x40u : 0u) |
                                         (unitControl_ & 0x30u));
    default:
        return regs_[reg];
    }
}

void Mcu::writeBankSelect(std::uint8_t value)
{
    select_ = static_cast<std::uint8_t>(value & (is5312Style() ? 0x26u : 0x20u));
    if (!isp_) {
        ispRequested_ = (value & 0x40u) != 0;
        return;
    }
    if ((value & 0xC0u) == 0xC0u)
        massErase();
}

// ---- the flash controller ----

bool Mcu::exists(std::uint32_t address) const
{
    return address < flashLimit_ && address < flash_.size();
}

std::uint8_t Mcu::flashByte(std::uint32_t address) const
{
    return exists(address) ? flash_[address] : 0xFF;
}

std::uint32_t Mcu::bankBase() const
{
    if (!is5312Style())
        return (select_ & 0x20u) ? kBankBytes : 0;
    return ((select_ & 0x20u) ? 2 * kBankBytes : 0) + ((select_ & 0x04u) ? kBankBytes : 0);
}

bool Mcu::controllerStuck() const
{
    return massEraseUntil_ == kForever || pageEraseUntil_ == kForever || programUntil_ == kForever;
}

bool Mcu::flashWritable()
{
    const bool locked = type_ != McuType::Writer && !unlocked_;
    if (!isp_ || locked || eraseBusy() || controllerStuck()) {
        ++stats_.refused;
        return false;
    }
    return true;
}

std::uint64_t Mcu::finishTime(std::uint64_t micros) const
{
    return stuckBusy_ ? kForever : clock_.nowMicros() + micros;
}

void Mcu::massErase()
{
    if (!flashWritable())
        return;
    std::fill(flash_.begin(), flash_.end(), std::uint8_t{0xFF});
    massEraseUntil_ = finishTime(type_ == McuType::M5310 ? McuTiming::massErase5310Micros
                                                        : McuTiming::massErase5312Micros);
    ++stats_.massErases;
}

void Mcu::pageErase(std::uint8_t page)
{
    if (!flashWritable())
        return;
    const std::uint32_t window = (is5312Style() && (select_ & 0x02u)) ? 128 : 0;
    const std::uint32_t start = (window + page) * kEraseUnit;
    if (!exists(start)) {
        ++stats_.refused;
        return;
    }
    for (std::uint32_t address = start; address < start + kEraseUnit && exists(address); ++address)
        flash_[address] = 0xFF;
    pageEraseUntil_ = finishTime(McuTiming::pageEraseMicros);
    ++stats_.pageErases;
}

void Mcu::programByte(std::uint8_t value)
{
    const std::uint32_t address = bankBase() + (std::uint32_t{regs_[kRegPage]} << 8) + regs_[kRegByte];
    // The byte counter steps on whatever the flash does with the byte.
    regs_[kRegByte] = static_cast<std::uint8_t>(regs_[kRegByte] + 1);
    if (!flashWritable())
        return;
    if (!exists(address)) {
        ++stats_.refused;
        return;
    }
    flash_[address] = static_cast<std::uint8_t>(flash_[address] & value);
    ++stats_.programmedBytes;
    programmedSinceCheck_ = true;
    // Bytes are programmed one after another as they come in; a bus faster
    // than the flash leaves a queue that keeps the busy bit up after the STOP.
    programUntil_ = stuckBusy_ ? kForever
                               : std::max(programUntil_, clock_.nowMicros()) + McuTiming::byteProgramMicros;
}

void Mcu::startUnit(std::uint8_t control)
{
    if (!(control & 0x80u)) {
        unitControl_ = control;
        return;
    }
    if (unitBusy_) {
        ++stats_.refused;
        return;
    }
    unitControl_ = control;
    std::uint32_t base = bankBase();
    bool crc = true;
    if (is5312Style()) {
        base = ((select_ & 0x20u) ? 2 * kBankBytes : 0) + ((control & 0x10u) ? kBankBytes : 0);
        crc = (control & 0x20u) != 0;
    }
    const std::uint32_t first = (std::uint32_t{regs_[kRegPage]} << 8) | regs_[kRegByte];
    const std::uint32_t last = (std::uint32_t{regs_[kRegEndHigh]} << 8) | regs_[kRegEndLow];
    std::uint8_t crc8 = 0;
    std::uint16_t crc16 = 0;
    std::uint16_t sum = 0;
    for (std::uint32_t offset = first; offset <= last; ++offset) {
        const std::uint8_t byte = flashByte(base + offset);
        crc8 = kCrc8Table[crc8 ^ byte];
        crc16 = static_cast<std::uint16_t>((crc16 << 8) ^ kCrc16Table[((crc16 >> 8) ^ byte) & 0xFFu]);
        sum = static_cast<std::uint16_t>(sum + ((offset & 1u) ? byte * 256u : byte));
    }
    std::uint16_t result = !is5312Style() ? crc8 : (crc ? crc16 : sum);
    if (crcMismatchOnce_ && programmedSinceCheck_ && !crcFaultSpent_) {
        result = static_cast<std::uint16_t>(result ^ (is5312Style() ? 0x5AA5u : 0x5Au));
        crcFaultSpent_ = true;
    }
    const std::uint32_t count = last >= first ? last - first + 1 : 0;
    unitResult_ = result;
    unitBusy_ = true;
    unitDone_ = false;
    unitDoneAt_ = clock_.nowMicros() + std::max<std::uint64_t>(1, count / McuTiming::unitBytesPerMicro);
}

// ---- unlock, reset, ISP mode ----

bool Mcu::setupReady() const
{
    const std::uint8_t mode = is5312Style() ? 0x84 : 0x80;
    return regs_[kRegSetupMode] == mode && regs_[kRegSetupTiming] == 0xC1 && regs_[kRegSetupPulse] == 0x10;
}

void Mcu::keyByte(std::uint8_t value)
{
    if (keyCount_ >= kMcuUnlockCode.size() || value != kMcuUnlockCode[keyCount_])
        keyMatches_ = false;
    if (keyCount_ <= kMcuUnlockCode.size())
        ++keyCount_;
}

void Mcu::reset()
{
    ++stats_.resets;
    isp_ = false;
    ispRequested_ = false;
    unlocked_ = false;
    select_ = 0;
    regs_.fill(0);
    massEraseUntil_ = 0;
    pageEraseUntil_ = 0;
    programUntil_ = 0;
    unitBusy_ = false;
    unitDone_ = false;
    unitControl_ = 0;
    keyCount_ = 0;
    keyMatches_ = true;
    bootPending_ = false;
    if (settings_.reset == McuReset::Checksums && type_ == McuType::M5310) {
        std::uint16_t bank0 = 0;
        for (std::uint32_t address = 0; address < kBankBytes; ++address)
            bank0 = static_cast<std::uint16_t>(bank0 + flashByte(address));
        std::uint16_t bank1 = 0;
        for (std::uint32_t address = kBankBytes; address < flashLimit_; ++address)
            bank1 = static_cast<std::uint16_t>(bank1 + flashByte(address));
        bootSum0_ = bank0;
        bootSum1_ = bank1;
        bootPending_ = true;
        bootDoneAt_ = clock_.nowMicros() + McuTiming::bootMicros;
    }
}

void Mcu::enterIsp()
{
    isp_ = true;
    ispRequested_ = false;
    // The CPU is halted before its boot code got as far as the checksums.
    bootPending_ = false;
}

}  // namespace mvx::sim
