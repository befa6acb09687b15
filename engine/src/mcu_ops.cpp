#include "mcu_ops.hpp"

#include <algorithm>
#include <span>

#include "crc.hpp"
#include "mvxisp.h"

namespace mvx::engine {
namespace {

constexpr std::uint8_t kRegSetupMode = 0x38;
constexpr std::uint8_t kRegSetupTiming = 0x10;
constexpr std::uint8_t kRegSetupPulse = 0x12;
constexpr std::uint8_t kRegBankSelect = 0x90;
constexpr std::uint8_t kRegPageErase = 0x91;
constexpr std::uint8_t kRegPage = 0x92;
constexpr std::uint8_t kRegByte = 0x93;
constexpr std::uint8_t kRegData = 0x94;
constexpr std::uint8_t kRegUnitEnd = 0xA0;
constexpr std::uint8_t kRegUnitEndLow = 0xA1;
constexpr std::uint8_t kRegUnitControl = 0xA2;
constexpr std::uint8_t kRegUnitLow = 0xA3;
constexpr std::uint8_t kRegUnitHigh = 0xA4;
constexpr std::uint8_t kRegUnlock = 0xB0;

constexpr std::uint8_t kMassEraseBusy = 0x80;
constexpr std::uint8_t kProgramBusy = 0x10;
constexpr std::uint8_t kUnitBusyInSelect = 0x08;
constexpr std::uint8_t kPageEraseBusy = 0x80;
constexpr std::uint8_t kUnitBusy = 0x80;
constexpr std::uint8_t kUnitDone = 0x40;

constexpr int kSetupAttempts = 10;
constexpr int kEraseWaitLimit = 400;
constexpr int kUnitWaitLimit = 400;
constexpr int kUnitRereadLimit = 401;
constexpr int kProgramBusyRereads = 200;   // over the whole bank
constexpr int kEraseUnitBytes = 1024;
constexpr int kBankPages = kMcuBankBytes / kEraseUnitBytes;   // 64 erase pages of 1 KB

}  // namespace

McuPagePath mcuPagePathFor(int adapterKind, int libraryMode, bool transportHasPagePath)
{
    if (!transportHasPagePath)
        return McuPagePath::None;
    if ((libraryMode & 0xFF) != 0)
        return McuPagePath::Library;
    switch (adapterKind) {
    case MVX_ADAPTER_NORVANE_USB: return McuPagePath::Bridge;
    case MVX_ADAPTER_NORVANE_IIC:
    case MVX_ADAPTER_CVT_IIC: return McuPagePath::RawFrame;
    default: return McuPagePath::None;
    }
}

int mcuPageCount(int length)
{
    if (length <= 0)
        return 0;
    return ((std::min(length, kMcuBankBytes) - 1) >> 8) + 1;
}

int mcuImageChecksum(const BankImage& image, int length, McuChip chip)
{
    const int total = std::clamp(length, 0, kMcuBankBytes);
    int sum = 0;
    for (int done = 0; done < total; done += static_cast<int>(BankImage::kPageSize)) {
        const auto page = image.page(static_cast<std::uint8_t>(done >> 8));
        const auto count = static_cast<std::size_t>(std::min(total - done, static_cast<int>(BankImage::kPageSize)));
        const std::span<const std::uint8_t> bytes(page.data(), count);
        // Pages start at even offsets, so word sums of pages add up.
        sum += chip == McuChip::M5312 ? wordChecksum(bytes) : byteChecksum(bytes);
    }
    return sum & 0xFFFF;
}

// ---- preparation and erase ----

bool McuFlash::writeUntilReadBack(std::uint8_t reg, std::uint8_t value)
{
    for (int attempt = 0; attempt < kSetupAttempts; ++attempt) {
        std::uint8_t readBack = 0;
        if (link_.tryWriteRegister(reg, value) == MVX_OK && link_.readRegister(reg, readBack) == MVX_OK &&
            readBack == value)
            return true;
    }
    return false;
}

void McuFlash::prepare()
{
    // The chip tells nothing about the unlock, and a set-up register that
    // never reads back is not fatal either: a flash left locked shows up in
    // the erase and in the verification instead.
    static_cast<void>(writeUntilReadBack(kRegSetupMode, chip_ == McuChip::M5310 ? 0x80 : 0x84));
    static_cast<void>(writeUntilReadBack(kRegSetupTiming, 0xC1));
    static_cast<void>(writeUntilReadBack(kRegSetupPulse, 0x10));
    link_.setBurst(kRegUnlock, kMcuFlashUnlockCode.data(), static_cast<int>(kMcuFlashUnlockCode.size()));
}

int McuFlash::massErase()
{
    link_.set(kRegBankSelect, 0xC0);
    return link_.waitClear(kRegBankSelect, kMassEraseBusy, kEraseWaitLimit) ? MVX_OK : MVX_ERR_TIMEOUT;
}

int McuFlash::erasePage(std::uint8_t page)
{
    link_.set(kRegPageErase, static_cast<std::uint8_t>(page | 0x80));
    return link_.waitClear(kRegPageErase, kPageEraseBusy, kEraseWaitLimit) ? MVX_OK : MVX_ERR_TIMEOUT;
}

void McuFlash::reportErase(int sub, int done, int total) const
{
    const int percent = total > 0 ? done * 100 / total : 100;
    progress_.send(MVX_MSG_PAGE_ERASE_PERCENT, sub, percent);
    progress_.overall(plan_.erasePercent(percent));
}

int McuFlash::pageErase(int eraseLength)
{
    // Whole kilobytes of the last bank; it has no more than 32 of them.
    const int length = std::clamp(eraseLength, 0, kMcuLastBankBytes);
    const int lastBankPages = (length + kEraseUnitBytes - 1) / kEraseUnitBytes;

    if (chip_ == McuChip::M5310) {
        // Pages count on over the whole flash: bank 1 begins at page 64.
        const int total = kBankPages + lastBankPages;
        link_.set(kRegBankSelect, 0x40);
        for (int page = 0; page < total; ++page) {
            if (const int rc = erasePage(static_cast<std::uint8_t>(page)); rc != MVX_OK)
                return rc;
            reportErase(1, page, total);
        }
        progress_.send(MVX_MSG_PAGE_ERASE_PERCENT, 0, 100);
        return MVX_OK;
    }

    // 5312: one 128 KB window holds banks 0 and 1; 0x42 moves it to bank 2.
    const int total = 2 * kBankPages + lastBankPages;
    struct Run {
        std::uint8_t select;
        int first;
        int count;
        int numberBase;   // the run's first page counted over all three runs
    };
    const Run runs[] = {
        {0x40, 0, kBankPages, 0},
        {0x40, kBankPages, kBankPages, kBankPages},
        {0x42, 0, lastBankPages, 2 * kBankPages},
    };
    for (int sub = 0; sub < 3; ++sub) {
        const Run& run = runs[sub];
        link_.set(kRegBankSelect, run.select);
        for (int i = 0; i < run.count; ++i) {
            if (const int rc = erasePage(static_cast<std::uint8_t>(run.first + i)); rc != MVX_OK)
                return rc;
            reportErase(sub, run.numberBase + i, total);
        }
    }
    progress_.send(MVX_MSG_PAGE_ERASE_PERCENT, 2, 100);
    return MVX_OK;
}

int McuFlash::erase(int eraseMode, int eraseLength)
{
    return eraseMode == 0 ? massErase() : pageErase(eraseLength);
}

// ---- programming ----

std::uint8_t McuFlash::bankSelect(std::uint8_t bank) const
{
    if (chip_ == McuChip::M5310)
        return bank == 0 ? 0x40 : 0x60;
    switch (bank) {
    case 0: return 0x40;
    case 1: return 0x44;
    default: return 0x60;
    }
}

int McuFlash::programBank(const BankImage& image, std::uint8_t bank, int length, McuPagePath path)
{
    if (path == McuPagePath::None)
        return MVX_ERR_LIBRARY_WRITE;
    auto& ops = link_.ops();
    const std::uint8_t primary = link_.primary();
    const std::uint8_t secondary = link_.secondary();
    const int pages = mcuPageCount(length);

    link_.set(kRegBankSelect, bankSelect(bank));
    if (path == McuPagePath::Bridge)
        link_.setOn(secondary, kRegByte, 0x00);
    if (path == McuPagePath::Library && chip_ == McuChip::M5312) {
        const std::uint8_t start[] = {0x00, 0x00};
        link_.setBurst(kRegPage, start, 2);
    }

    int busyRereads = 0;
    for (int i = 0; i < pages; ++i) {
        const auto page = static_cast<std::uint8_t>(i);
        const auto block = image.block(page);
        int rc = MVX_OK;
        switch (path) {
        case McuPagePath::Library: {
            const std::uint8_t address[] = {page, 0x00};
            rc = link_.burst(kRegPage, address, 2);
            if (rc == MVX_OK) {
                const auto data = image.page(page);
                const int count = static_cast<int>(data.size());
                rc = ops.write(primary, kRegData, data.data(), count, {count, 0, 0});
            }
            break;
        }
        case McuPagePath::Bridge:
            rc = ops.writeBlock(block.data(), static_cast<int>(block.size()), secondary, kRegPage,
                                static_cast<std::uint16_t>(i << 8));
            break;
        case McuPagePath::RawFrame: {
            const std::uint8_t frame[] = {secondary, kRegPage, page, 0x00};
            rc = ops.writeBlock(frame, 4, secondary, kRegPage, 0);
            if (rc == MVX_OK)
                rc = ops.writeBlock(block.data(), static_cast<int>(block.size()), secondary, kRegPage,
                                    static_cast<std::uint16_t>(i << 8));
            break;
        }
        case McuPagePath::None: break;
        }
        if (rc != MVX_OK)
            return rc;

        // The chip programs the bytes as they arrive; bit 4 stays up until the
        // last one is in.
        std::uint8_t status = 0;
        if (link_.readRegister(kRegBankSelect, status) != MVX_OK)
            return MVX_ERR_TIMEOUT;
        while ((status & kProgramBusy) != 0) {
            if (++busyRereads > kProgramBusyRereads)
                return MVX_ERR_TIMEOUT;
            if (link_.readRegister(kRegBankSelect, status) != MVX_OK)
                return MVX_ERR_TIMEOUT;
        }

        // Library transports are fast: every tenth page is enough.
        if (path != McuPagePath::Library || i % 10 == 0) {
            const int percent = i * 100 / pages;
            progress_.send(MVX_MSG_PROGRAM_PERCENT, bank, percent);
            progress_.overall(plan_.bankPercent(percent));
        }
    }
    progress_.send(MVX_MSG_PROGRAM_PERCENT, bank, 100);
    return MVX_OK;
}

// ---- CRC and checksum units ----

McuUnitReading McuFlash::runUnit(std::uint8_t bank, int length, std::uint8_t startCode)
{
    // The chip's own answer on a time-out: 0 from the 5310, 18 from the 5312.
    const McuUnitReading timedOut{chip_ == McuChip::M5310 ? 0 : MVX_ERR_TIMEOUT, false};
    if (length <= 0)
        return {0, true};   // an empty range: nothing to compare
    const int end = std::min(length, kMcuBankBytes) - 1;

    link_.set(kRegBankSelect, bankSelect(bank));
    const std::uint8_t start[] = {0x00, 0x00};
    link_.setBurst(kRegPage, start, 2);
    const std::uint8_t last[] = {static_cast<std::uint8_t>(end >> 8), static_cast<std::uint8_t>(end & 0xFF)};
    link_.setBurst(kRegUnitEnd, last, 2);
    if (!link_.waitClear(kRegBankSelect, kUnitBusyInSelect, kUnitWaitLimit))
        return timedOut;

    link_.set(kRegUnitControl, startCode);
    std::uint8_t control = 0;
    if (link_.readRegister(kRegUnitControl, control) != MVX_OK)
        return timedOut;
    for (int rereads = 0; (control & kUnitBusy) != 0 && (control & kUnitDone) == 0;) {
        if (++rereads > kUnitRereadLimit || link_.readRegister(kRegUnitControl, control) != MVX_OK)
            return timedOut;
    }

    std::uint8_t low = 0;
    if (link_.readRegister(kRegUnitLow, low) != MVX_OK)
        return timedOut;
    if (chip_ == McuChip::M5310)
        return {low, true};
    std::uint8_t high = 0;
    if (link_.readRegister(kRegUnitHigh, high) != MVX_OK)
        return timedOut;
    return {high * 256 + low, true};
}

McuUnitReading McuFlash::deviceCrc(std::uint8_t bank, int length)
{
    if (chip_ == McuChip::M5310)
        return runUnit(bank, length, 0x80);
    return runUnit(bank, length, bank == 1 ? 0xB0 : 0xA0);
}

McuUnitReading McuFlash::deviceChecksum(std::uint8_t bank, int length)
{
    return runUnit(bank, length, bank == 1 ? 0x90 : 0x80);
}

McuBootChecksums McuFlash::bootChecksums()
{
    auto& clock = link_.clock();
    clock.sleepMillis(100);
    link_.leaveMcuIsp();
    clock.sleepMillis(2000);   // the boot code sums both banks meanwhile

    McuBootChecksums sums;
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    link_.set(kRegBankSelect, 0x40);
    bool ok = link_.readRegister(kRegUnitEnd, high) == MVX_OK;
    ok = link_.readRegister(kRegUnitEndLow, low) == MVX_OK && ok;
    sums.bank0 = high * 256 + low;
    link_.set(kRegBankSelect, 0x40);
    ok = link_.readRegister(kRegPage, high) == MVX_OK && ok;
    ok = link_.readRegister(kRegByte, low) == MVX_OK && ok;
    sums.bank1 = high * 256 + low;
    sums.read = ok;
    return sums;
}

}  // namespace mvx::engine
