#include "flash_erase.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "crc.hpp"
#include "flash_commands.hpp"
#include "isp_context.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::engine {

namespace {

// ---- protection ----

// The status values of the unprotect and protect sequences.
constexpr std::uint8_t kUnprotectedStatus = 0x02;
constexpr std::uint8_t kProtectedStatus = 0xFC;
constexpr std::uint8_t kMagicProtectedStatus = 0xFF;

bool isMagicMxic(const IspContext& ctx)
{
    return ctx.flashBrand == MVX_BRAND_MXIC && ctx.flashType == 2;
}

bool isAmicType0(const IspContext& ctx)
{
    return ctx.flashBrand == MVX_BRAND_AMIC && ctx.flashType == 0;
}

// Write enable, status 0x02, the four magic opcodes (no waits).
int mxicMagicSequence(Link& link)
{
    if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
        return rc;
    if (const int rc = writeStatus(link, kUnprotectedStatus, kShortWait); rc != MVX_OK)
        return rc;
    for (const std::uint8_t code : {opcode::kMagicC3, opcode::kMagicA5, opcode::kMagicC3, opcode::kMagicA5})
        startFlashCommand(link, code);
    return MVX_OK;
}

// Write enable and the two three-byte commands of the AMIC sequence.
int amicSequence(Link& link)
{
    if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
        return rc;
    if (const int rc = flashCommandWithBytes(link, form::kThreeDataBytes, 0x90, {0x00, 0x28, 0x00}, kShortWait);
        rc != MVX_OK)
        return rc;
    return flashCommandWithBytes(link, form::kThreeDataBytes, 0x3B, {0x00, 0x28, 0x40}, kShortWait);
}

// ---- the write-protect pin ----

// (pin-mux index register, mux value, output register)
struct PinRow {
    std::uint8_t index;
    std::uint8_t mux;
    std::uint8_t output;
};

constexpr std::array<PinRow, 4> kSeries0Pins{
    PinRow{0xA0, 0x10, 0xD4}, PinRow{0xA0, 0x02, 0xD3}, PinRow{0x9E, 0x01, 0xD6}, PinRow{0x9F, 0x01, 0xD7}};
constexpr std::array<PinRow, 4> kSeries1Pins{
    PinRow{0xAD, 0x08, 0xD4}, PinRow{0xAD, 0x01, 0xD3}, PinRow{0xAE, 0x08, 0xD6}, PinRow{0xAE, 0x01, 0xD7}};
constexpr std::array<PinRow, 5> kSeries2Pins{PinRow{0xAB, 0x01, 0xD7}, PinRow{0xAE, 0x20, 0xE3},
                                             PinRow{0xAE, 0x02, 0xE3}, PinRow{0xB0, 0x40, 0xE3},
                                             PinRow{0xB2, 0x08, 0xE3}};
constexpr std::array<PinRow, 4> kSeries3Pins{
    PinRow{0xA2, 0x80, 0xE3}, PinRow{0xA2, 0x10, 0xC6}, PinRow{0xA2, 0x02, 0xC1}, PinRow{0xA1, 0x10, 0xE2}};

std::span<const PinRow> pinTable(int series)
{
    switch (series) {
    case 0: return kSeries0Pins;
    case 1: return kSeries1Pins;
    case 2: return kSeries2Pins;
    case 3: return kSeries3Pins;
    default: return {};
    }
}

void writeIndirect(Link& link, std::uint8_t index, std::uint8_t value)
{
    link.set(scaler::kIndirectIndex, index);
    link.set(scaler::kIndirectValue, value);
}

std::uint8_t readIndirect(Link& link, std::uint8_t index)
{
    link.set(scaler::kIndirectIndex, index);
    // A failed read keeps the other mux bits at 0; the pin set-up goes on
    // and its writes, which fail on such a link too, are latched.
    std::uint8_t value = 0;
    if (link.readRegister(scaler::kIndirectValue, value) != MVX_OK)
        return 0;
    return value;
}

// The pin-mux unlock shared by series 0 to 2.
void unlockPinMux(Link& link, bool withMode)
{
    link.set(scaler::kPinControl, 0x00);
    writeIndirect(link, 0x8B, 0xC3);
    writeIndirect(link, 0x8C, 0x02);
    if (withMode)
        writeIndirect(link, 0x9F, 0x10);
}

// ---- erasing ----

// Blank CRC of the first `length` bytes of a bank.
int blankCrc(int length)
{
    return crc8SmbusRepeated(0xFF, static_cast<std::size_t>(length));
}

std::uint16_t lastOffset(int length)
{
    return static_cast<std::uint16_t>(length - 1);
}

// Set-up, ISP hold and unprotect: the start of every erase.
int prepareErase(IspContext& ctx)
{
    Link& link = *ctx.link;
    controllerSetUp(link);
    link.set(scaler::kIspControl, scaler::kIspEnable);
    return unprotectFlash(ctx);
}

// Protect and controller reset: the end of every erase.
int finishErase(IspContext& ctx)
{
    const int rc = protectFlash(ctx);
    controllerReset(*ctx.link);
    return rc;
}

int eraseAt(Link& link, std::uint8_t eraseOpcode, std::uint8_t bank, std::uint8_t page)
{
    return flashCommandWithBytes(link, form::kAddressed, eraseOpcode, {bank, page, 0x00}, kEraseWait);
}

// The 4 KB sectors that will hold `programLength` bytes.
int eraseSectors(IspContext& ctx, std::uint8_t bank, int programLength)
{
    Link& link = *ctx.link;
    const int sectors = (programLength + kFlashSectorBytes - 1) / kFlashSectorBytes;
    for (int k = 0; k < sectors; ++k) {
        if (isMagicMxic(ctx))
            if (const int rc = unprotectFlash(ctx); rc != MVX_OK)
                return rc;
        if (const int rc = eraseAt(link, opcode::kSectorErase, bank, static_cast<std::uint8_t>(k << 4));
            rc != MVX_OK)
            return rc;
    }
    return MVX_OK;
}

// Whether the bank is erased as two 32 KB halves rather than one 64 KB block.
bool erasesInHalves(const IspContext& ctx)
{
    switch (ctx.flashBrand) {
    case MVX_BRAND_PMC: return ctx.flashType == 0 || ctx.flashType == 1 || ctx.flashType == 4;
    case MVX_BRAND_EON: return ctx.flashType == 1;
    case MVX_BRAND_SST: return true;
    default: return false;
    }
}

// A whole bank by blocks, unless it already reads blank.
int eraseBlocks(IspContext& ctx, std::uint8_t bank)
{
    Link& link = *ctx.link;
    if (deviceCrc(link, bank, 0xFFFF) == kBlankBankCrc)
        return MVX_OK;
    const std::uint8_t eraseOpcode = ctx.flashBrand == MVX_BRAND_SST ? opcode::kSstBlockErase : opcode::kBlockErase;
    if (const int rc = eraseAt(link, eraseOpcode, bank, 0x00); rc != MVX_OK)
        return rc;
    if (erasesInHalves(ctx))
        return eraseAt(link, eraseOpcode, bank, 0x80);
    return MVX_OK;
}

// Bank erase up to the device CRC after it (message 4); 0, 16 or 18.
int eraseBank(IspContext& ctx, std::uint8_t bank, int programLength)
{
    Link& link = *ctx.link;
    if (const int rc = prepareErase(ctx); rc != MVX_OK)
        return rc;
    if (ctx.flashBrand == MVX_BRAND_SST) {
        if (const int rc = writeEnable(link, kEraseWait); rc != MVX_OK)
            return rc;
        if (const int rc = writeStatusSst(link, 0x00, kEraseWait); rc != MVX_OK)
            return rc;
    }
    const bool sectorBank = ctx.sectorEraseFlag == 1 && bank == ctx.sectorEraseBank;
    const int rc = sectorBank ? eraseSectors(ctx, bank, programLength) : eraseBlocks(ctx, bank);
    if (rc != MVX_OK)
        return rc;
    if (const int protectRc = finishErase(ctx); protectRc != MVX_OK)
        return protectRc;

    const int crc = deviceCrc(link, bank, lastOffset(programLength));
    if (crc < 0)
        return MVX_ERR_NOT_BLANK;
    ctx.progress.send(MVX_MSG_CRC_DEVICE, bank, crc);
    return MVX_OK;
}

int eraseChip(IspContext& ctx)
{
    Link& link = *ctx.link;
    if (const int rc = prepareErase(ctx); rc != MVX_OK)
        return rc;
    std::uint8_t eraseOpcode = opcode::kChipErase;
    int waitLimit = kChipEraseWait;
    if (ctx.flashBrand == MVX_BRAND_SST) {
        if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
            return rc;
        if (const int rc = writeStatusSst(link, kUnprotectedStatus, kShortWait); rc != MVX_OK)
            return rc;
        eraseOpcode = opcode::kSstChipErase;
        waitLimit = kEraseWait;
    } else if (ctx.flashBrand < MVX_BRAND_PMC || ctx.flashBrand > MVX_BRAND_AMIC) {
        return finishErase(ctx);
    }
    if (const int rc = chipEraseCommand(link, eraseOpcode, waitLimit); rc != MVX_OK)
        return rc;
    return finishErase(ctx);
}

}  // namespace

// ---- protection ----

int unprotectFlash(IspContext& ctx)
{
    Link& link = *ctx.link;
    if (isMagicMxic(ctx)) {
        if (const int rc = mxicMagicSequence(link); rc != MVX_OK)
            return rc;
        if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
            return rc;
        if (const int rc = writeStatus(link, kUnprotectedStatus, kShortWait); rc != MVX_OK)
            return rc;
        readFlashStatus(link);
        return MVX_OK;
    }
    if (isAmicType0(ctx)) {
        if (const int rc = amicSequence(link); rc != MVX_OK)
            return rc;
        return writeStatus(link, kUnprotectedStatus, kShortWait);
    }
    if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
        return rc;
    return writeStatus(link, kUnprotectedStatus, kShortWait);
}

int protectFlash(IspContext& ctx)
{
    Link& link = *ctx.link;
    if (isMagicMxic(ctx)) {
        if (const int rc = mxicMagicSequence(link); rc != MVX_OK)
            return rc;
        if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
            return rc;
        return writeStatus(link, kMagicProtectedStatus, kShortWait);
    }
    if (isAmicType0(ctx)) {
        if (const int rc = amicSequence(link); rc != MVX_OK)
            return rc;
        return writeStatus(link, kMagicProtectedStatus, kShortWait);
    }
    if (const int rc = writeEnable(link, kShortWait); rc != MVX_OK)
        return rc;
    return writeStatus(link, kProtectedStatus, kShortWait);
}

void setUpWriteProtectPin(IspContext& ctx)
{
    const FlashProtectSettings& settings = ctx.protect;
    if (settings.enable_protect != 1)
        return;
    const std::span<const PinRow> table = pinTable(settings.scalar_type);
    if (settings.pin_type < 0 || static_cast<std::size_t>(settings.pin_type) >= table.size()) {
        platform::debugOutput("flash protect: scaler series or pin outside the tables, pin not driven");
        return;
    }
    Link& link = *ctx.link;
    const int pin = settings.pin_type;
    const PinRow& row = table[static_cast<std::size_t>(pin)];
    const auto level = static_cast<unsigned>(settings.value);
    const auto byteOf = [](unsigned value) { return static_cast<std::uint8_t>(value & 0xFFu); };

    switch (settings.scalar_type) {
    case 0:
        unlockPinMux(link, false);
        link.set(row.index, row.mux);
        link.set(row.output, byteOf(level));
        break;
    case 1:
        unlockPinMux(link, true);
        writeIndirect(link, row.index, row.mux);
        link.set(row.output, byteOf(level));
        break;
    case 2: {
        unlockPinMux(link, true);
        const std::uint8_t current = readIndirect(link, row.index);
        if (pin == 0) {
            writeIndirect(link, 0xAB, static_cast<std::uint8_t>(0x01 | (current & 0xF8)));
            link.set(0xD7, byteOf(level));
        } else {
            writeIndirect(link, row.index, row.mux);
            link.set(row.output, byteOf(level << (pin + 4)));
        }
        break;
    }
    default: {
        writeIndirect(link, 0x9F, 0x10);
        const std::uint8_t current = readIndirect(link, row.index);
        if (pin == 3)
            writeIndirect(link, 0xA1, static_cast<std::uint8_t>(0x10 | (current & 0xE7)));
        else
            writeIndirect(link, row.index, row.mux);
        link.set(row.output, byteOf(pin == 0 ? level << 7 : level));
        break;
    }
    }
}

// ---- erasing ----

int eraseChipAndCheck(IspContext& ctx, EraseReport report)
{
    int rc = eraseChip(ctx);
    if (rc == MVX_OK && deviceCrc(*ctx.link, 0, lastOffset(kFlashBankBytes)) != blankCrc(kFlashBankBytes))
        rc = MVX_ERR_NOT_BLANK;
    if (report == EraseReport::Messages)
        ctx.progress.send(MVX_MSG_ERASE_RESULT, 0, rc == MVX_OK ? MVX_ERASE_MASS_OK : MVX_ERASE_MASS_FAILED);
    return rc;
}

int eraseBankAndCheck(IspContext& ctx, std::uint8_t bank, int programLength)
{
    const int length = std::clamp(programLength, 1, kFlashBankBytes);
    int rc = eraseBank(ctx, bank, length);
    if (rc == MVX_OK && deviceCrc(*ctx.link, bank, lastOffset(length)) != blankCrc(length))
        rc = MVX_ERR_NOT_BLANK;
    ctx.progress.send(MVX_MSG_ERASE_RESULT, bank, rc == MVX_OK ? MVX_ERASE_BANK_OK : MVX_ERASE_BANK_FAILED);
    return rc;
}

int runErasePlan(IspContext& ctx)
{
    const ErasePlan& plan = ctx.erasePlan;
    if (plan.chipErase == 1 && plan.bankMaskFlag == 0) {
        if (const int rc = eraseChipAndCheck(ctx); rc != MVX_OK)
            return rc;
        ctx.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
    } else if (plan.chipErase == 0 && plan.bankMaskFlag == 1) {
        for (int bank = 0; bank < kErasePlanBanks; ++bank) {
            if ((plan.bankMask & (1 << bank)) == 0)
                continue;
            if (const int rc = eraseBankAndCheck(ctx, static_cast<std::uint8_t>(bank), kFlashBankBytes);
                rc != MVX_OK)
                return rc;
            ctx.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
        }
    }
    return MVX_OK;
}

int runEraseOnly(IspContext& ctx)
{
    if (ctx.eraseMode == 0)
        return eraseChipAndCheck(ctx);
    if (ctx.fileTable == nullptr)
        return MVX_ERR_NO_FILE_TABLE;
    for (int bank = MVX_FILE_TABLE_SIZE - 1; bank >= 0; --bank) {
        if (ctx.fileTable[bank].inUse == 0)
            continue;
        if (const int rc = eraseBankAndCheck(ctx, static_cast<std::uint8_t>(bank), kFlashBankBytes); rc != MVX_OK)
            return rc;
        ctx.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
    }
    return MVX_OK;
}

std::optional<std::array<std::uint8_t, 3>> writeProtectPinRow(int scalarType, int pinType)
{
    const std::span<const PinRow> table = pinTable(scalarType);
    if (pinType < 0 || static_cast<std::size_t>(pinType) >= table.size())
        return std::nullopt;
    const PinRow& row = table[static_cast<std::size_t>(pinType)];
    return std::array<std::uint8_t, 3>{row.index, row.mux, row.output};
}

}  // namespace mvx::engine
