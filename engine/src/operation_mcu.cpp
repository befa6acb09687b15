#include "operation_mcu.hpp"

#include <algorithm>
#include <array>
#include <span>

#include "bank_image.hpp"
#include "file_reader.hpp"
#include "mcu_ops.hpp"

namespace mvx::engine {
namespace {

// The data port register; every transfer block of an MCU image targets it.
constexpr std::uint8_t kMcuDataRegister = 0x94;

struct McuRunShape {
    McuChip chip;
    int lastBank;   // 1 for the 5310, 2 for the 5312
};

LoadRules loadRulesFor(const IspContext& ctx)
{
    LoadRules rules;
    rules.operation = ctx.operation;
    rules.eraseMode = ctx.eraseMode;
    rules.eraseLength = ctx.eraseLength;
    return rules;
}

void noteLoad(IspContext& ctx, const LoadedBank& bank)
{
    ctx.fileDataLength = bank.dataLength;
    ctx.programLength = bank.programLength;
    ctx.bankChecksum = bank.checksum;
}

// The bank's bytes as the page path sends them: blocks addressed to the data
// port whatever the slave addresses are, 0xFF past the program length.
void storeImage(BankImage& image, const LoadedBank& bank, std::uint8_t primarySlave)
{
    const auto count = static_cast<std::size_t>(std::clamp(bank.programLength, 0, kMcuBankBytes));
    image.store(std::span<const std::uint8_t>(bank.buffer).first(std::min(count, bank.buffer.size())), primarySlave,
                kMcuDataRegister);
}

int eraseOutcome(int eraseMode, bool ok)
{
    if (eraseMode == 0)
        return ok ? MVX_ERASE_MASS_OK : MVX_ERASE_MASS_FAILED;
    return ok ? MVX_ERASE_PAGE_OK : MVX_ERASE_PAGE_FAILED;
}

// Codes 3, 4, 5 for one bank; true on a match.
bool verifyCrc(const IspContext& ctx, McuFlash& flash, const BankImage& image, std::uint8_t bank, int length)
{
    const int expected = flash.chip() == McuChip::M5312 ? image.crc16(length) : image.crc8(length);
    ctx.progress.send(MVX_MSG_CRC_IMAGE, bank, expected);
    const McuUnitReading device = flash.deviceCrc(bank, length);
    ctx.progress.send(MVX_MSG_CRC_DEVICE, bank, device.value);
    const bool match = device.finished && device.value == expected;
    ctx.progress.send(MVX_MSG_CRC_MATCH, bank, match ? 1 : 0);
    return match;
}

// Codes 6, 7, 8 for one bank; true on a match.
bool reportChecksums(const IspContext& ctx, std::uint8_t bank, int expected, int device, bool deviceRead)
{
    ctx.progress.send(MVX_MSG_CHECKSUM_IMAGE, bank, expected);
    ctx.progress.send(MVX_MSG_CHECKSUM_DEVICE, bank, device);
    const bool match = deviceRead && device == expected;
    ctx.progress.send(MVX_MSG_CHECKSUM_MATCH, bank, match ? 1 : 0);
    return match;
}

// Leaves ISP mode and returns the result, noting the step that failed.
int leaveWith(IspContext& ctx, FailureStage stage, int result)
{
    ctx.failureStage = stage;
    ctx.link->leaveMcuIsp();
    return result;
}

}  // namespace

int runMcu(IspContext& ctx)
{
    if (ctx.operation != MVX_OP_MCU_5310 && ctx.operation != MVX_OP_MCU_5312)
        return MVX_ERR_OPERATION;
    if (ctx.fileTable == nullptr)
        return MVX_ERR_NO_FILE_TABLE;
    if (!ctx.link || ctx.clock == nullptr)
        return MVX_ERR_ISP_MODE;
    ctx.failureStage = FailureStage::None;

    const McuRunShape shape = ctx.operation == MVX_OP_MCU_5310 ? McuRunShape{McuChip::M5310, 1}
                                                               : McuRunShape{McuChip::M5312, 2};
    const bool is5312 = shape.chip == McuChip::M5312;
    const FileTableEntry* table = ctx.fileTable;
    Link& link = *ctx.link;
    const LoadRules rules = loadRulesFor(ctx);

    // Every file is checked before the chip is touched.  The last bank's load
    // also settles how much of it a page erase has to clear.
    int eraseLength = ctx.eraseLength;
    for (int b = 0; b <= shape.lastBank; ++b) {
        if (table[b].inUse != 1)
            continue;
        const auto code = static_cast<std::uint8_t>(b);
        const LoadedBank bank = loadBank(&table[b], code, rules);
        noteLoad(ctx, bank);
        if (bank.result != MVX_OK) {
            ctx.progress.send(MVX_MSG_FILE_LOAD_FAILED, code, 0);
            return bank.result;
        }
        if (b == shape.lastBank)
            eraseLength = bank.eraseLength;
    }

    if (link.enterMcuIspTwice(is5312) != MVX_OK) {
        ctx.failureStage = FailureStage::NotEntered;
        return MVX_ERR_ISP_MODE;
    }

    McuFlash flash(link, shape.chip, ctx.progress, ctx.plan);
    if (ctx.adapterKind == MVX_ADAPTER_FTDI_USB) {
        // The FTDI adapter needs the chip erased and ISP mode entered afresh.
        // This erase only readies the chip: the real erase below, a step of
        // its own, reports the outcome.
        static_cast<void>(flash.erase(ctx.eraseMode, eraseLength));
        link.leaveMcuIsp();
        if (link.enterMcuIspTwice(is5312) != MVX_OK) {
            ctx.failureStage = FailureStage::NotEntered;
            return MVX_ERR_ISP_MODE;
        }
    }
    ctx.progress.overall(5);

    // Each step below reports the first write the transport failed, if any,
    // rather than what the chip made of the writes it did get.
    link.beginStep();
    flash.prepare();
    const int eraseResult = link.stepResult(flash.erase(ctx.eraseMode, eraseLength));
    ctx.progress.send(MVX_MSG_ERASE_RESULT, 0, eraseOutcome(ctx.eraseMode, eraseResult == MVX_OK));
    if (eraseResult != MVX_OK)
        return leaveWith(ctx, FailureStage::Erase, eraseResult);
    ctx.progress.overall(ctx.plan.eraseEnd);
    if (ctx.eraseOnly != 0)
        return leaveWith(ctx, FailureStage::None, MVX_OK);

    // Programming: the banks in use from the last one down, each in its own
    // share of the progress bar.
    int used = 0;
    for (int b = 0; b <= shape.lastBank; ++b)
        used += table[b].inUse != 0 ? 1 : 0;
    const McuPagePath path = mcuPagePathFor(ctx.adapterKind, ctx.libraryMode, link.ops().hasPagePath());
    const bool byChecksum = !is5312 && ctx.verifyByChecksum == 1;
    std::array<int, 2> imageSums{};
    std::array<bool, 2> programmed{};
    BankImage image;

    int window = 0;
    for (int b = shape.lastBank; b >= 0; --b) {
        if (table[b].inUse == 0)
            continue;
        const auto code = static_cast<std::uint8_t>(b);
        ctx.plan.selectBankWindow(window++, used);

        const LoadedBank bank = loadBank(&table[b], code, rules);
        noteLoad(ctx, bank);
        if (bank.result != MVX_OK) {
            ctx.progress.send(MVX_MSG_FILE_LOAD_FAILED, code, 0);
            return leaveWith(ctx, FailureStage::None, bank.result);
        }
        storeImage(image, bank, link.primary());
        const int length = std::clamp(bank.programLength, 0, kMcuBankBytes);
        link.beginStep();
        if (const int rc = link.stepResult(flash.programBank(image, code, length, path)); rc != MVX_OK)
            return leaveWith(ctx, FailureStage::Program, rc);

        if (byChecksum) {
            // The 5310's boot code sums the whole bank as the chip holds it.
            imageSums[static_cast<std::size_t>(b)] =
                mcuImageChecksum(image, b == 0 ? kMcuBankBytes : kMcuLastBankBytes, shape.chip);
            programmed[static_cast<std::size_t>(b)] = true;
            continue;
        }
        link.beginStep();
        if (!verifyCrc(ctx, flash, image, code, length))
            return leaveWith(ctx, FailureStage::Verify, link.stepResult(MVX_ERR_CRC_MISMATCH));
        if (is5312) {
            const McuUnitReading device = flash.deviceChecksum(code, length);
            if (!reportChecksums(ctx, code, mcuImageChecksum(image, length, shape.chip), device.value,
                                 device.finished))
                return leaveWith(ctx, FailureStage::Verify, link.stepResult(MVX_ERR_CHECKSUM_MISMATCH));
            ctx.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
        }
    }

    if (!is5312) {
        ctx.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
        if (byChecksum && (programmed[0] || programmed[1])) {
            link.beginStep();
            const McuBootChecksums device = flash.bootChecksums();
            for (int b = 1; b >= 0; --b) {
                const auto index = static_cast<std::size_t>(b);
                if (!programmed[index])
                    continue;
                const int value = b == 0 ? device.bank0 : device.bank1;
                if (!reportChecksums(ctx, static_cast<std::uint8_t>(b), imageSums[index], value, device.read))
                    return leaveWith(ctx, FailureStage::Verify, link.stepResult(MVX_ERR_CHECKSUM_MISMATCH));
            }
        }
    }

    ctx.clock->sleepMillis(100);
    link.leaveMcuIsp();
    ctx.progress.send(MVX_MSG_RUN_PASSED, 0, 0);
    ctx.progress.overall(100);
    return MVX_OK;
}

}  // namespace mvx::engine
