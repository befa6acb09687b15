// The flash side of the scaler's ISP port: the command interface of 0x60,
// the page-program engine, the CRC engine and the read stream, each a
// sequence of SPI transactions on the flash.
#include <cstddef>

#include "mvx/sim/scaler.hpp"

namespace mvx::sim {
namespace {

constexpr std::uint8_t kCommandOpcode = 0x61;
constexpr std::uint8_t kWriteEnableOpcode = 0x62;
constexpr std::uint8_t kStatusEnableOpcode = 0x63;
constexpr std::uint8_t kAddress = 0x64;   // 0x64..0x66
constexpr std::uint8_t kReturned = 0x67;  // 0x67..0x69
constexpr std::uint8_t kReadOpcode = 0x6A;
constexpr std::uint8_t kProgramOpcode = 0x6D;
constexpr std::uint8_t kProgramLength = 0x71;
constexpr std::uint8_t kCrcEnd = 0x72;    // 0x72..0x74
constexpr std::uint8_t kCrcResult = 0x75;

// Command kinds, bits 7..5 of the form.
constexpr unsigned kKindRead = 2;
constexpr unsigned kKindStatusWrite = 3;
constexpr unsigned kKindEnabledStatusWrite = 4;
constexpr unsigned kKindErase = 5;

constexpr std::uint32_t kAddressMask = 0xFF'FFFFu;

std::uint8_t crc8Update(std::uint8_t crc, std::uint8_t byte)
{
    crc = static_cast<std::uint8_t>(crc ^ byte);
    for (int bit = 0; bit < 8; ++bit)
        crc = static_cast<std::uint8_t>((crc & 0x80u) ? (crc << 1) ^ 0x07u : crc << 1);
    return crc;
}

}  // namespace

// ---- SPI ----

std::uint8_t ScalerIsp::spi(std::uint8_t mosi)
{
    ++stats_.spiBytes;
    return flash_.transfer(mosi);
}

void ScalerIsp::spiCommand(std::uint8_t opcode)
{
    flash_.select();
    spi(opcode);
    flash_.deselect();
}

void ScalerIsp::spiAddress(std::uint32_t address)
{
    spi(static_cast<std::uint8_t>(address >> 16));
    spi(static_cast<std::uint8_t>(address >> 8));
    spi(static_cast<std::uint8_t>(address));
}

std::uint64_t ScalerIsp::spiDoneAt(std::uint64_t bytes)
{
    const std::uint64_t micros = (bytes * 8u * 1'000'000u + kSpiClockHz - 1) / kSpiClockHz;
    return clock_.nowMicros() + micros;
}

std::uint32_t ScalerIsp::addressRegisters() const
{
    return (std::uint32_t{regs_[kAddress]} << 16) | (std::uint32_t{regs_[kAddress + 1]} << 8) |
           regs_[kAddress + 2];
}

void ScalerIsp::setAddressRegisters(std::uint32_t address)
{
    regs_[kAddress] = static_cast<std::uint8_t>(address >> 16);
    regs_[kAddress + 1] = static_cast<std::uint8_t>(address >> 8);
    regs_[kAddress + 2] = static_cast<std::uint8_t>(address);
}

// ---- progress on the virtual clock ----

bool ScalerIsp::commandRunning()
{
    refresh();
    return commandActive_;
}

bool ScalerIsp::programRunning()
{
    refresh();
    return programActive_;
}

bool ScalerIsp::crcRunning()
{
    refresh();
    return crcActive_;
}

void ScalerIsp::refresh()
{
    const std::uint64_t now = clock_.nowMicros();
    if (commandActive_ && now >= commandSpiDoneAt_) {
        // Status writes and erases poll the flash until it is done.
        const bool stuck = stuckBusy_ && commandIsErase_;
        if (!commandPolls_ || (!stuck && !flash_.busy()))
            commandActive_ = false;
    }
    if (programActive_ && now >= programSpiDoneAt_ && !stuckBusy_ && !flash_.busy())
        programActive_ = false;
    if (crcActive_ && now >= crcDoneAt_) {
        crcActive_ = false;
        crcDone_ = true;
        regs_[kCrcResult] = crcValue_;
    }
}

// ---- the command interface ----

void ScalerIsp::startCommand(std::uint8_t form)
{
    if (!ispEnabled() || programActive_ || crcActive_) {
        ++stats_.refusedStarts;
        return;
    }
    ++stats_.flashCommands;
    const unsigned kind = form >> 5;
    const unsigned sent = (form >> 3) & 3u;
    const std::uint8_t opcode = regs_[kCommandOpcode];
    const std::uint64_t before = stats_.spiBytes;

    // Any command ends a read stream and an auto-increment sequence: the
    // flash leaves both when it is deselected and given something else.
    streamArmed_ = false;
    autoIncrementSession_ = false;

    if (kind == kKindStatusWrite || kind == kKindErase)
        spiCommand(regs_[kWriteEnableOpcode]);
    if (kind == kKindEnabledStatusWrite)
        spiCommand(regs_[kStatusEnableOpcode]);

    // A read with the controller's read opcode is a memory read: the address
    // registers go out as its address, and it opens the read stream of 0x70
    // there.  Every read fills all three returned-byte registers.
    const bool memoryRead = kind == kKindRead && opcode == regs_[kReadOpcode];
    flash_.select();
    spi(opcode);
    if (memoryRead) {
        spiAddress(addressRegisters());
    } else {
        for (unsigned i = 0; i < sent; ++i)
            spi(regs_[kAddress + i]);
    }
    if (kind == kKindRead)
        for (unsigned i = 0; i < 3; ++i)
            regs_[kReturned + i] = spi(0x00);
    flash_.deselect();

    if (memoryRead) {
        streamArmed_ = true;
        streamAddress_ = addressRegisters();
    }
    commandActive_ = true;
    commandPolls_ = kind == kKindStatusWrite || kind == kKindEnabledStatusWrite || kind == kKindErase;
    commandIsErase_ = kind == kKindErase;
    commandSpiDoneAt_ = spiDoneAt(stats_.spiBytes - before);
}

// ---- the page-program engine ----

// A page program sends the write enable of 0x62, then the program opcode of
// 0x6D with the address and 0x71 + 1 bytes of the page buffer.
void ScalerIsp::startProgram(bool autoIncrement)
{
    if (!controllerIdle()) {
        ++stats_.refusedStarts;
        return;
    }
    ++stats_.pagePrograms;
    const std::uint32_t count = regs_[kProgramLength] + 1u;
    const std::uint32_t address = addressRegisters();
    const std::uint64_t before = stats_.spiBytes;

    programActive_ = true;
    if (autoIncrement) {
        programAutoIncrement(address, count);
    } else {
        autoIncrementSession_ = false;
        spiCommand(regs_[kWriteEnableOpcode]);
        flash_.select();
        spi(regs_[kProgramOpcode]);
        spiAddress(address);
        for (std::uint32_t i = 0; i < count; ++i)
            spi(pageBuffer_[i]);
        flash_.deselect();
        programSpiDoneAt_ = spiDoneAt(stats_.spiBytes - before);
    }
    // The address registers follow the flash's own address.
    setAddressRegisters((address + count) & kAddressMask);
    pageFill_ = 0;
    if (!crcFaultSpent_)
        programmedSinceFault_ = true;
    programOpcodeRewritten_ = false;
}

// Auto-increment mode takes one byte per command: the first of a sequence
// behind the write enable with opcode and address, every later one with the
// opcode alone.  The flash is busy after each byte; the controller polls its
// status on the SPI bus until it is ready for the next, and that polling is
// the time the page takes.  A flash that stays busy ends the feeding, and the
// program never finishes.
void ScalerIsp::programAutoIncrement(std::uint32_t address, std::uint32_t count)
{
    const std::uint32_t pollLimitMicros = 2 * flash_.part().byteProgramMicros + 100;
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t waited = 0; flash_.busy(); ++waited) {
            if (waited >= pollLimitMicros)
                return;
            clock_.advance(1);
        }
        const std::uint64_t before = stats_.spiBytes;
        if (!autoIncrementSession_) {
            spiCommand(regs_[kWriteEnableOpcode]);
            flash_.select();
            spi(regs_[kProgramOpcode]);
            spiAddress(address);
            autoIncrementSession_ = true;
        } else {
            flash_.select();
            spi(regs_[kProgramOpcode]);
        }
        spi(pageBuffer_[i]);
        flash_.deselect();
        programSpiDoneAt_ = spiDoneAt(stats_.spiBytes - before);
    }
}

// ---- the CRC engine ----

void ScalerIsp::startCrc()
{
    if (!controllerIdle()) {
        ++stats_.refusedStarts;
        return;
    }
    ++stats_.crcRuns;
    const std::uint32_t first = addressRegisters();
    const std::uint32_t last = (std::uint32_t{regs_[kCrcEnd]} << 16) |
                               (std::uint32_t{regs_[kCrcEnd + 1]} << 8) | regs_[kCrcEnd + 2];
    const std::uint64_t before = stats_.spiBytes;
    std::uint8_t crc = 0;
    // An end below the start covers nothing.
    const std::uint32_t length = last >= first ? last - first + 1 : 0;
    if (length != 0) {
        flash_.select();
        spi(regs_[kReadOpcode]);
        spiAddress(first);
        for (std::uint32_t i = 0; i < length; ++i)
            crc = crc8Update(crc, spi(0x00));
        flash_.deselect();
    }
    // Fault: the first check of a finished bank comes out wrong.  A bank is
    // finished once the program opcode has been rewritten (the controller
    // reset after programming) or the check reaches past one page, so the
    // first-page check made while programming stays correct.
    if (crcMismatchOnce_ && !crcFaultSpent_ && programmedSinceFault_ &&
        (programOpcodeRewritten_ || length > 256)) {
        crc = static_cast<std::uint8_t>(crc ^ 0xFFu);
        crcFaultSpent_ = true;
        programmedSinceFault_ = false;
    }
    crcValue_ = crc;
    crcActive_ = true;
    crcDone_ = false;
    crcDoneAt_ = spiDoneAt(stats_.spiBytes - before);
}

// ---- the read stream ----

// Each read of 0x70 fetches the byte at the stream address and moves on.
std::uint8_t ScalerIsp::streamRead()
{
    if (!ispEnabled() || !streamArmed_ || programActive_ || crcActive_)
        return 0xFF;
    flash_.select();
    spi(regs_[kReadOpcode]);
    spiAddress(streamAddress_);
    lastStreamByte_ = spi(0x00);
    flash_.deselect();
    streamAddress_ = (streamAddress_ + 1) & kAddressMask;
    return lastStreamByte_;
}

}  // namespace mvx::sim
