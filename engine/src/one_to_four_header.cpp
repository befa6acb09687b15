#include "one_to_four_header.hpp"

#include <algorithm>

#include "flash_erase.hpp"

namespace mvx::engine {
namespace {

constexpr std::size_t kLengths = 0x3FAC;
constexpr std::size_t kChecksums = 0x3FB4;
constexpr std::size_t kCrcs = 0x3FBC;
constexpr std::size_t kTableSlots = 4;

// Operations 3 and 4.
constexpr std::size_t kEraseKb = 0x3FC4;
constexpr std::size_t kMcuFlags = 0x3FC5;

// Operation 5.
constexpr std::size_t kM1Pad = 0x3FC4;
constexpr std::size_t kM1Flags = 0x3FC5;
constexpr std::size_t kM2Flags = 0x3FC0;
constexpr std::size_t kProtect = 0x3FC6;
constexpr std::size_t kPinRow = 0x3FC7;
constexpr std::size_t kFlashKind = 0x3FCA;
constexpr std::size_t kRunFlags = 0x3FCB;
constexpr std::size_t kExpectedIcCode = 0x3FCE;
constexpr std::size_t kE2Value = 0x3FCF;
constexpr std::size_t kE3Value = 0x3FD0;

// Both kinds.
constexpr std::size_t kConnectionDelay = 0x3FCC;
constexpr std::size_t kChecksumDelay = 0x3FCD;

constexpr std::uint8_t kFlashBank2Flag = 0x40;
constexpr std::uint8_t kFlashBank3Flag = 0x80;

void put16(std::span<std::uint8_t> image, std::size_t offset, int value)
{
    image[offset] = static_cast<std::uint8_t>((value >> 8) & 0xFF);
    image[offset + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

std::uint8_t low(int value) { return static_cast<std::uint8_t>(value & 0xFF); }

void putDelays(std::span<std::uint8_t> image, int connectionDelay, int checksumDelay)
{
    image[kConnectionDelay] = headerDelayUnits(connectionDelay, 1);
    image[kChecksumDelay] = headerDelayUnits(checksumDelay, 0);
}

// Whole kilobytes, rounded up, as one byte.
std::uint8_t kilobytes(int bytes)
{
    if (bytes <= 0)
        return 0;
    return static_cast<std::uint8_t>(std::min((bytes + 1023) / 1024, 255));
}

}  // namespace

std::uint8_t headerDelayUnits(int milliseconds, int minimum)
{
    return static_cast<std::uint8_t>(std::clamp(milliseconds / 10, minimum, 255));
}

void writeMcuHeader(std::span<std::uint8_t> image, const McuHeaderFields& fields)
{
    if (image.size() < kOneToFourHeaderEnd)
        return;
    const bool is5312 = fields.operation == MVX_OP_5312_1TO4;
    const std::size_t bankCount = is5312 ? 3 : 2;

    std::uint8_t flags = is5312 ? 0x74 : 0x30;
    if (fields.partialErase)
        flags |= 0x02;
    for (std::size_t n = 0; n < kTableSlots; ++n) {
        const std::size_t at = 2 * n;
        const bool inOperation = n < bankCount;
        const TargetBankSummary* bank = inOperation ? &fields.banks[n] : nullptr;
        if (bank == nullptr || !bank->used) {
            if (inOperation && is5312)
                flags = static_cast<std::uint8_t>(flags & ~(0x10u << n));
            put16(image, kLengths + at, 0);
            put16(image, kChecksums + at, inOperation && is5312 ? 0xFFFF : 0);
            put16(image, kCrcs + at, 0xFFFF);
            continue;
        }
        if (is5312) {
            put16(image, kLengths + at, bank->length);
            put16(image, kCrcs + at, bank->crc);
        } else {
            put16(image, kLengths + at, bank->length - 1);
            image[kCrcs + at] = 0xFF;
            image[kCrcs + at + 1] = low(bank->crc);
        }
        put16(image, kChecksums + at, bank->checksum);
    }
    image[kEraseKb] = fields.partialErase ? kilobytes(fields.eraseLength) : 0;
    image[kMcuFlags] = flags;
    putDelays(image, fields.checkConnectionDelay, fields.showChecksumDelay);
}

void writeFlashHeader(std::span<std::uint8_t> image, WriterChip writer, const FlashHeaderFields& fields)
{
    if (image.size() < kOneToFourHeaderEnd)
        return;
    std::uint8_t flags = writer == WriterChip::M1 ? 0xFA : 0xF0;
    for (std::size_t n = 0; n < kTableSlots; ++n) {
        const TargetBankSummary& bank = fields.banks[n];
        const std::size_t at = 2 * n;
        const bool lastBank = n == kTableSlots - 1;
        put16(image, kLengths + at, bank.used ? bank.length - (lastBank ? 1 : 0) : 0);
        put16(image, kChecksums + at, bank.used ? bank.checksum : 0);
        const std::uint8_t crc = bank.used ? low(bank.crc) : 0xFF;
        if (writer == WriterChip::M1) {
            image[kCrcs + at] = 0xFF;
            image[kCrcs + at + 1] = crc;
        } else {
            image[kCrcs + n] = crc;
        }
    }
    if (!fields.banks[2].used)
        flags = static_cast<std::uint8_t>(flags & ~kFlashBank2Flag);
    if (!fields.banks[3].used)
        flags = static_cast<std::uint8_t>(flags & ~kFlashBank3Flag);
    if (writer == WriterChip::M1) {
        image[kM1Pad] = 0x00;
        image[kM1Flags] = flags;
    } else {
        image[kM2Flags] = flags;
    }

    const FlashProtectSettings& protect = fields.protect;
    image[kProtect] = static_cast<std::uint8_t>(((protect.enable_protect & 1) << 7) |
                                                ((protect.scalar_type & 7) << 4) |
                                                ((protect.pin_type & 7) << 1) | (protect.value & 1));
    const auto row = writeProtectPinRow(protect.scalar_type, protect.pin_type);
    for (std::size_t i = 0; i < 3; ++i)
        image[kPinRow + i] = row ? (*row)[i] : 0xFF;

    const int type = fields.flashType & 0x0F;
    const int kind = fields.flashBrand == MVX_BRAND_SST ? 0xC0 + type : ((fields.flashBrand & 7) << 4) | type;
    image[kFlashKind] = static_cast<std::uint8_t>(kind);

    std::uint8_t run = 0;
    const bool namedBank = fields.sectorEraseBank >= 0 && fields.sectorEraseBank <= 3;
    if (fields.sectorEraseFlag == 1 && namedBank)
        run |= 0x01;
    if (fields.idReadMode == 1)
        run |= 0x02;
    if (fields.checkIcCode == 1)
        run |= 0x04;
    if (fields.setE2E3 == 1)
        run |= 0x08;
    if (namedBank)
        run |= static_cast<std::uint8_t>(fields.sectorEraseBank << 6);
    image[kRunFlags] = run;

    putDelays(image, fields.checkConnectionDelay, fields.showChecksumDelay);
    image[kExpectedIcCode] = low(fields.expectedIcCode);
    image[kE2Value] = low(fields.e2Value);
    image[kE3Value] = low(fields.e3Value);
}

}  // namespace mvx::engine
