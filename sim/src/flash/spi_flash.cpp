// An SPI NOR flash part seen from its pins.
//
// Reads and identification answers stream out while the master clocks; WREN,
// WRDI, WRSR, program and erase are decoded when the chip is deselected and
// only when the command arrived complete (a write command cut short or run
// over its length is not executed).  While a write is in progress the part
// takes nothing but status reads.
//
// Protection: any block-protect bit set in the status register protects the
// whole array against program and erase.  The engine only ever writes all
// protect bits set or all clear, and treating a partial setting as "all
// protected" errs on the side of refusing writes.  The write-protect pin of
// the board (write_protect=1) holds the protect bits set and makes every status
// write ignored.
#include "mvx/sim/spi_flash.hpp"

#include <algorithm>
#include <limits>

namespace mvx::sim {
namespace {

constexpr std::uint8_t kBusyBit = 0x01;
constexpr std::uint8_t kWelBit = 0x02;
constexpr std::uint8_t kAaiBit = 0x40;    // SST: auto-address-increment mode
constexpr std::uint8_t kLockBit = 0x80;   // status register write disable / lock-down

constexpr std::uint8_t kWriteStatus = 0x01;
constexpr std::uint8_t kProgram = 0x02;
constexpr std::uint8_t kRead = 0x03;
constexpr std::uint8_t kWriteDisable = 0x04;
constexpr std::uint8_t kReadStatus = 0x05;
constexpr std::uint8_t kWriteEnable = 0x06;
constexpr std::uint8_t kFastRead = 0x0B;
constexpr std::uint8_t kEnableWriteStatus = 0x50;
constexpr std::uint8_t kManufacturerId = 0x90;
constexpr std::uint8_t kJedecId = 0x9F;
constexpr std::uint8_t kSignature = 0xAB;
constexpr std::uint8_t kChipEraseA = 0x60;
constexpr std::uint8_t kChipEraseB = 0xC7;

// Bytes of a command kept for decoding: opcode, address, and at most the data
// of an auto-increment word program.
constexpr std::size_t kHeaderBytes = 8;

// What an opcode erases on this part, 0 when it is no erase the part knows.
std::uint32_t eraseBytes(const FlashPart& part, std::uint8_t opcode)
{
    switch (opcode) {
    case 0x20: return 0x1000;
    case 0xD7: return part.sectorEraseD7 ? 0x1000 : 0;
    case 0x52: return part.block32Erase52 ? 0x8000 : 0;
    case 0xD8: return part.blockD8Bytes;
    case kChipEraseA: return part.sizeBytes;
    case kChipEraseB: return part.chipEraseC7 ? part.sizeBytes : 0;
    default: return 0;
    }
}

std::uint8_t writableStatusBits(const FlashPart& part)
{
    return static_cast<std::uint8_t>(part.protectMask | kLockBit);
}

// SST parts answer the signature read like the manufacturer/device ID read.
bool signatureIsIdRead(const FlashPart& part)
{
    return part.brand == 4;
}

}  // namespace

SpiFlash::SpiFlash(const FlashPart& part, VirtualClock& clock, const BoardConfig& config)
    : part_(part), clock_(clock), config_(config), array_(part.sizeBytes, 0xFF)
{
    command_.reserve(kHeaderBytes);
    statusRegister_ = static_cast<std::uint8_t>(part_.powerUpStatus & writableStatusBits(part_));
    if (config_.writeProtect)
        statusRegister_ |= writableStatusBits(part_);
}

// ---- the SPI bus ----

void SpiFlash::select()
{
    if (selected_)
        return;  // chip select already low: no new command starts
    selected_ = true;
    received_ = 0;
    ignored_ = false;
    command_.clear();
    pageLatchUsed_.fill(false);
}

std::uint8_t SpiFlash::transfer(std::uint8_t mosi)
{
    if (!selected_)
        return 0xFF;  // output floats, the pull-up reads high
    const std::uint64_t index = received_++;
    if (command_.size() < kHeaderBytes)
        command_.push_back(mosi);
    if (index == 0) {
        opcode_ = mosi;
        ++stats_.commands;
        const bool aaiRefuses = aaiActive_ && opcode_ != part_.aaiOpcode && opcode_ != kWriteDisable;
        ignored_ = opcode_ != kReadStatus && (busy() || aaiRefuses);
        return 0xFF;
    }
    if (ignored_)
        return 0xFF;
    return respond(static_cast<std::size_t>(index), mosi);
}

void SpiFlash::deselect()
{
    if (!selected_)
        return;
    selected_ = false;
    if (received_ == 0)
        return;
    if (!ignored_)
        execute();
    else if (opcode_ == kWriteStatus || opcode_ == kProgram ||
             (part_.aaiOpcode != 0 && opcode_ == part_.aaiOpcode) || eraseBytes(part_, opcode_) != 0)
        ++stats_.ignoredWrites;
    if (opcode_ != kReadStatus)
        previousOpcode_ = opcode_;
}

// ---- state ----

bool SpiFlash::busy() const
{
    return clock_.nowMicros() < busyUntil_;
}

std::uint8_t SpiFlash::status() const
{
    std::uint8_t value = statusRegister_;
    if (busy())
        value |= static_cast<std::uint8_t>(kBusyBit | welWhileBusy_);
    if (aaiActive_)
        value |= kAaiBit;
    return value;
}

bool SpiFlash::writeEnabled() const
{
    return (status() & kWelBit) != 0;
}

// ---- commands ----

std::uint32_t SpiFlash::address() const
{
    const std::uint32_t raw = (static_cast<std::uint32_t>(command_[1]) << 16) |
                              (static_cast<std::uint32_t>(command_[2]) << 8) | command_[3];
    return raw % part_.sizeBytes;  // address bits above the array are ignored
}

std::uint8_t SpiFlash::respond(std::size_t index, std::uint8_t mosi)
{
    switch (opcode_) {
    case kReadStatus:
        return status();
    case kRead:
    case kFastRead: {
        const std::size_t first = opcode_ == kRead ? 4 : 5;  // fast read has a dummy byte
        if (index < first)
            return 0xFF;
        return array_[(address() + (index - first)) % part_.sizeBytes];
    }
    case kJedecId:
        return index <= 3 ? part_.jedecId[index - 1] : 0xFF;
    case kSignature:
        if (index < 4)
            return 0xFF;
        if (!signatureIsIdRead(part_))
            return part_.signature;
        [[fallthrough]];
    case kManufacturerId:
        if (index < 4)
            return 0xFF;
        // Address bit 0 picks which ID comes first; the two then alternate.
        return ((command_[3] + index - 4) & 1u) != 0 ? part_.deviceId : part_.manufacturerId;
    case kProgram:
        // The page latch keeps the last 256 bytes sent, wrapping within the page.
        if (index >= 4 && !part_.sstByteProgram) {
            const std::size_t slot = (command_[3] + index - 4) & 0xFFu;
            pageLatch_[slot] = mosi;
            pageLatchUsed_[slot] = true;
        }
        return 0xFF;
    default:
        return 0xFF;
    }
}

bool SpiFlash::writeAllowed()
{
    if ((statusRegister_ & kWelBit) == 0) {
        ++stats_.ignoredWrites;
        return false;
    }
    if ((statusRegister_ & part_.protectMask) != 0) {
        ++stats_.ignoredWrites;
        statusRegister_ &= static_cast<std::uint8_t>(~kWelBit);
        return false;
    }
    return true;
}

void SpiFlash::startBusy(std::uint64_t busyMicros, bool programOrErase)
{
    if (programOrErase && config_.faults.stuckBusy)
        busyUntil_ = std::numeric_limits<std::uint64_t>::max();
    else
        busyUntil_ = clock_.nowMicros() + busyMicros;
}

void SpiFlash::finishWrite(std::uint64_t busyMicros, bool programOrErase)
{
    welWhileBusy_ = statusRegister_ & kWelBit;  // WEL drops when the write completes
    statusRegister_ &= static_cast<std::uint8_t>(~kWelBit);
    startBusy(busyMicros, programOrErase);
}

void SpiFlash::program(std::uint32_t address, std::uint8_t value)
{
    // Programming only clears bits.
    auto stored = static_cast<std::uint8_t>(array_[address] & value);
    if (config_.faults.badByte && *config_.faults.badByte == address)
        stored ^= 0x01;
    array_[address] = stored;
    ++stats_.programmedBytes;
}

void SpiFlash::erase(std::uint32_t address, std::uint32_t bytes, std::uint64_t busyMicros)
{
    bytes = std::min(bytes, part_.sizeBytes);
    const std::uint32_t base = address - address % bytes;
    std::fill_n(array_.begin() + base, bytes, std::uint8_t{0xFF});
    ++stats_.erases;
    finishWrite(busyMicros, true);
}

void SpiFlash::executeAai()
{
    const std::size_t unit = part_.aaiOpcode == 0xAD ? 2 : 1;  // word-wise or byte-wise
    const std::size_t header = aaiActive_ ? 1 : 4;
    if (received_ != header + unit) {
        ++stats_.ignoredWrites;
        return;
    }
    if (!aaiActive_) {
        if (!writeAllowed())
            return;
        aaiAddress_ = address();
        if (unit == 2)
            aaiAddress_ &= ~1u;
        aaiActive_ = true;
    }
    for (std::size_t i = 0; i < unit; ++i)
        program(aaiAddress_ + static_cast<std::uint32_t>(i), command_[header + i]);
    aaiAddress_ += static_cast<std::uint32_t>(unit);
    welWhileBusy_ = 0;
    if (aaiAddress_ >= part_.sizeBytes) {  // the sequence ends itself at the top of the array
        aaiActive_ = false;
        welWhileBusy_ = kWelBit;
        statusRegister_ &= static_cast<std::uint8_t>(~kWelBit);
    }
    startBusy(part_.byteProgramMicros, true);
}

void SpiFlash::execute()
{
    const std::uint64_t length = received_;
    switch (opcode_) {
    case kWriteEnable:
        if (length == 1)
            statusRegister_ |= kWelBit;
        return;
    case kWriteDisable:
        if (length == 1) {
            statusRegister_ &= static_cast<std::uint8_t>(~kWelBit);
            aaiActive_ = false;
        }
        return;
    case kWriteStatus: {
        if (length != 2) {
            ++stats_.ignoredWrites;
            return;
        }
        // SST parts take a status write only right after EWSR (or WREN on
        // the parts that allow it); the others need WEL.
        const bool armed = part_.statusWriteNeedsEwsr
                               ? previousOpcode_ == kEnableWriteStatus ||
                                     (part_.wrenArmsStatusWrite && previousOpcode_ == kWriteEnable)
                               : (statusRegister_ & kWelBit) != 0;
        if (!armed) {
            ++stats_.ignoredWrites;
            return;
        }
        if (config_.writeProtect) {
            ++stats_.ignoredWrites;
            statusRegister_ &= static_cast<std::uint8_t>(~kWelBit);
            return;
        }
        const std::uint8_t writable = writableStatusBits(part_);
        statusRegister_ = static_cast<std::uint8_t>((statusRegister_ & ~writable) | (command_[1] & writable));
        finishWrite(part_.statusWriteMicros, false);
        return;
    }
    case kProgram:
        if (length < 5) {
            ++stats_.ignoredWrites;
            return;
        }
        if (!writeAllowed())
            return;
        if (part_.sstByteProgram) {
            program(address(), command_[4]);
            finishWrite(part_.byteProgramMicros, true);
        } else {
            const std::uint32_t page = address() & ~0xFFu;
            for (std::uint32_t i = 0; i < 256; ++i)
                if (pageLatchUsed_[i])
                    program(page + i, pageLatch_[i]);
            finishWrite(part_.pageProgramMicros, true);
        }
        return;
    default:
        break;
    }
    if (part_.aaiOpcode != 0 && opcode_ == part_.aaiOpcode) {
        executeAai();
        return;
    }
    const std::uint32_t bytes = eraseBytes(part_, opcode_);
    if (bytes == 0)
        return;  // reads finished while clocking; anything else the part does not know
    const bool chip = opcode_ == kChipEraseA || opcode_ == kChipEraseB;
    if (length != (chip ? 1u : 4u)) {
        ++stats_.ignoredWrites;
        return;
    }
    if (!writeAllowed())
        return;
    std::uint64_t micros = part_.chipEraseMicros;
    if (!chip)
        micros = bytes == 0x1000 ? part_.sectorEraseMicros
                 : bytes == 0x8000 ? part_.block32EraseMicros
                                   : part_.block64EraseMicros;
    erase(chip ? 0 : address(), bytes, micros);
}

}  // namespace mvx::sim
