#include "flash_program.hpp"

#include <algorithm>

#include "bank_image.hpp"
#include "crc.hpp"
#include "flash_commands.hpp"
#include "flash_erase.hpp"
#include "isp_context.hpp"
#include "mvxisp.h"

namespace mvx::engine {

namespace {

// Re-reads of 0x6F (without sleeping) until the page buffer takes data.
constexpr int kPageReadyRereads = 102;
constexpr int kSstPageReadyRereads = 502;
// Re-read limits of the wait for a page program's end (as WaitClear counts
// them, without its sleeps: the page loop is paced by the transport alone).
constexpr int kPageProgramWait = 150;
constexpr int kSstProgramWait = 200;

// Where the USB bridge is told a page block belongs.
constexpr std::uint8_t kBridgeBlockRegister = 0x92;

// Reads 0x6F until bit 4 (page buffer ready) is set; the limit-th re-read
// fails the wait without being examined.
int waitPageBufferReady(Link& link, int rereadLimit)
{
    std::uint8_t control = 0;
    // As in waitClear, the first read's own result is not checked; a link
    // that has gone fails the re-reads.
    static_cast<void>(link.readRegister(scaler::kIspControl, control));
    for (int reread = 1; (control & scaler::kPageBufferReady) == 0; ++reread) {
        if (link.readRegister(scaler::kIspControl, control) != MVX_OK || reread == rereadLimit)
            return MVX_ERR_TIMEOUT;
    }
    return MVX_OK;
}

int waitProgramDone(Link& link, int waitLimit)
{
    return link.pollClear(scaler::kIspControl, scaler::kProgramBusy, waitLimit) ? MVX_OK : MVX_ERR_TIMEOUT;
}

int sendPage(IspContext& ctx, const BankImage& image, std::uint8_t page)
{
    Link& link = *ctx.link;
    adapters::AdapterOps& ops = link.ops();
    if (ctx.libraryMode != 0) {
        const auto data = image.page(page);
        const int count = static_cast<int>(data.size());
        return ops.write(link.primary(), scaler::kDataPort, data.data(), count, {count, 0, 0});
    }
    // A transport without a page path cannot program the flash at all.
    if (!ops.hasPagePath())
        return MVX_ERR_ISP_MODE;
    const auto block = image.block(page);
    return ops.writeBlock(block.data(), static_cast<int>(block.size()), link.secondary(), kBridgeBlockRegister,
                          static_cast<std::uint16_t>(page << 8));
}

void reportPage(IspContext& ctx, const PageRun& run, std::uint8_t bank, int page, int pages)
{
    if (!run.report)
        return;
    const int percent = page * 100 / pages;
    ctx.progress.send(MVX_MSG_PROGRAM_PERCENT, bank, percent);
    ctx.progress.overall(ctx.plan.bankPercent(percent));
}

// Brands 0..3 and 5: page programs of 256 bytes.
int programPages(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run)
{
    const int pages = run.pages;
    Link& link = *ctx.link;
    controllerSetUp(link);
    link.set(scaler::kIspControl, scaler::kIspEnable);
    if (const int rc = unprotectFlash(ctx); rc != MVX_OK)
        return rc;
    const int firstPageCrc = crc8Smbus(image.page(run.firstPage));

    link.set(scaler::kProgramOpcode, opcode::kPageProgram);
    link.set(scaler::kProgramLength, 0xFF);
    link.setBurst3(scaler::kAddress, bank, run.firstPage, 0);
    const bool unprotectEachPage = ctx.flashBrand == MVX_BRAND_MXIC && ctx.flashType == 2;
    for (int i = 0; i < pages; ++i) {
        const auto page = static_cast<std::uint8_t>(run.firstPage + i);
        if (unprotectEachPage)
            if (const int rc = unprotectFlash(ctx); rc != MVX_OK)
                return rc;
        link.setBurst3(scaler::kAddress, bank, page, 0);
        if (const int rc = waitPageBufferReady(link, kPageReadyRereads); rc != MVX_OK)
            return rc;
        if (const int rc = sendPage(ctx, image, page); rc != MVX_OK)
            return rc;
        link.set(scaler::kIspControl, scaler::kStartProgram);
        if (const int rc = waitProgramDone(link, kPageProgramWait); rc != MVX_OK)
            return rc;
        // A flash that ignored its unprotect shows here, after one page.
        if (i == 0 && run.checkFirstPage &&
            deviceRangeCrc(link, bank, static_cast<std::uint16_t>(page << 8),
                           static_cast<std::uint16_t>((page << 8) | 0xFF), kPageCrcRereads) != firstPageCrc)
            return MVX_ERR_WRITE_PROTECTED;
        if (i % 10 == 0)
            reportPage(ctx, run, bank, i, pages);
    }
    if (run.report)
        ctx.progress.send(MVX_MSG_PROGRAM_PERCENT, bank, 100);
    const int rc = protectFlash(ctx);
    controllerReset(link);
    return rc;
}

// SST types 0, 1 and 4: auto-increment mode, one page buffer at a time.
int programSstAutoIncrement(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run)
{
    Link& link = *ctx.link;
    const int pages = run.pages;
    link.set(scaler::kIspControl, scaler::kAutoIncrementMode);
    link.set(scaler::kProgramOpcode, opcode::kSstAutoIncrement);
    link.set(scaler::kProgramLength, 0xFF);
    link.setBurst3(scaler::kAddress, bank, run.firstPage, 0);
    int result = MVX_OK;
    for (int i = 0; i < pages && result == MVX_OK; ++i) {
        const auto page = static_cast<std::uint8_t>(run.firstPage + i);
        result = waitPageBufferReady(link, kSstPageReadyRereads);
        if (result == MVX_OK)
            result = sendPage(ctx, image, page);
        if (result == MVX_OK) {
            link.set(scaler::kIspControl, scaler::kStartAutoIncrementProgram);
            result = waitProgramDone(link, kSstProgramWait);
        }
        if (result == MVX_OK)
            reportPage(ctx, run, bank, i, pages);
    }
    // The write disable ends the flash's auto-increment sequence, also after
    // a failure.
    const int disableRc = writeDisable(link, kShortWait);
    link.set(scaler::kIspControl, scaler::kIspEnable);
    link.set(scaler::kProgramOpcode, opcode::kSstAutoIncrementIdle);
    return result != MVX_OK ? result : disableRc;
}

// SST types 2 and 3: one byte per program command.
int programSstBytes(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run)
{
    Link& link = *ctx.link;
    const int pages = run.pages;
    link.set(scaler::kIspControl, scaler::kIspEnable);
    link.set(scaler::kProgramLength, 0x00);
    link.set(scaler::kProgramOpcode, opcode::kPageProgram);
    link.setBurst3(scaler::kAddress, bank, run.firstPage, 0);
    for (int i = 0; i < pages; ++i) {
        for (const std::uint8_t value : image.page(static_cast<std::uint8_t>(run.firstPage + i))) {
            link.set(scaler::kDataPort, value);
            link.set(scaler::kIspControl, scaler::kStartProgram);
            if (const int rc = waitProgramDone(link, kSstProgramWait); rc != MVX_OK)
                return rc;
        }
        reportPage(ctx, run, bank, i, pages);
    }
    return MVX_OK;
}

int programSst(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run)
{
    Link& link = *ctx.link;
    // The bank erase before ends with a controller reset; the write enable
    // the controller sends before each program comes from this set-up.
    controllerSetUp(link);
    if (const int rc = writeEnable(link, kEraseWait); rc != MVX_OK)
        return rc;
    if (const int rc = writeStatusSst(link, 0x00, kEraseWait); rc != MVX_OK)
        return rc;
    int rc = MVX_OK;
    switch (ctx.flashType) {
    case 0:
    case 1:
    case 4:
        rc = programSstAutoIncrement(ctx, image, bank, run);
        break;
    case 2:
    case 3:
        rc = programSstBytes(ctx, image, bank, run);
        break;
    default:
        break;
    }
    if (rc == MVX_OK && run.report)
        ctx.progress.send(MVX_MSG_PROGRAM_PERCENT, bank, 100);
    return rc;
}

}  // namespace

int flashPageCount(int programLength)
{
    if (programLength <= 0)
        return 0;
    return ((std::min(programLength, kFlashBankBytes) - 1) >> 8) + 1;
}

int programFlashBank(IspContext& ctx, const BankImage& image, std::uint8_t bank, int programLength)
{
    return programFlashPages(ctx, image, bank, PageRun{0, flashPageCount(programLength), true, true});
}

int programFlashPages(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run)
{
    // Pages past the bank's last one are not programmed.
    PageRun pages = run;
    pages.pages = std::clamp(run.pages, 0, static_cast<int>(BankImage::kPageCount) - run.firstPage);
    if (pages.pages == 0)
        return MVX_OK;
    if (ctx.flashBrand == MVX_BRAND_SST)
        return programSst(ctx, image, bank, pages);
    return programPages(ctx, image, bank, pages);
}

bool verifyFlashBank(IspContext& ctx, const BankImage& image, std::uint8_t bank, int programLength)
{
    const int length = std::clamp(programLength, 1, kFlashBankBytes);
    const int imageCrc = image.crc8(length);
    ctx.progress.send(MVX_MSG_CRC_IMAGE, bank, imageCrc);
    const int device = deviceCrc(*ctx.link, bank, static_cast<std::uint16_t>(length - 1));
    ctx.progress.send(MVX_MSG_CRC_DEVICE, bank, device);
    const bool match = device == imageCrc;
    ctx.progress.send(MVX_MSG_CRC_MATCH, bank, match ? 1 : 0);
    return match;
}

}  // namespace mvx::engine
