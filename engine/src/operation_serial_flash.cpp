#include "operation_serial_flash.hpp"

#include <algorithm>

#include "bank_image.hpp"
#include "file_reader.hpp"
#include "flash_commands.hpp"
#include "flash_erase.hpp"
#include "flash_program.hpp"
#include "hdcp_key.hpp"
#include "mvx/platform/debug_output.hpp"

namespace mvx::engine {

namespace {

// The pause before the IC code is reported in read-only mode, and before
// leaving ISP mode at the end of a run.
constexpr std::uint32_t kIcCodeReportPause = 500;
constexpr std::uint32_t kFinishPause = 10;

class SerialFlashRun {
public:
    explicit SerialFlashRun(IspContext& ctx) : ctx_(ctx), link_(*ctx.link) {}

    int run();

private:
    int loadAllFiles();
    int loadIntoImage(int bank);
    int prepareDevice();
    int programBanks();
    int programBank(int bank);
    int bankBeyondFlash() const;
    int writeKey();
    bool hdcpMode() const { return options().enable_hdcp_key_fire == 1; }
    // Leaves ISP mode and returns rc, noting how far the run got.
    int fail(FailureStage stage, int rc);
    const IspOptions& options() const { return ctx_.options.fields; }

    IspContext& ctx_;
    Link& link_;
    BankImage image_;
    HdcpKey key_;
    std::uint64_t longestImage_ = 0;   // the longest whole-device file in the table
};

int checkArguments(const IspContext& ctx)
{
    if (ctx.eraseOnly != 0 && ctx.eraseOnly != 1)
        return MVX_ERR_ERASE_ONLY_FLAG;
    if (ctx.flashBrand < MVX_BRAND_PMC || ctx.flashBrand > MVX_BRAND_AMIC)
        return MVX_ERR_FLASH_BRAND;
    if (ctx.fileTable == nullptr)
        return MVX_ERR_NO_FILE_TABLE;
    return MVX_OK;
}

// Loads one table entry into the bank image and notes its numbers in the
// context.
int SerialFlashRun::loadIntoImage(int bank)
{
    LoadRules rules;
    rules.operation = MVX_OP_SERIAL_FLASH;
    rules.eraseMode = ctx_.eraseMode;
    rules.eraseLength = ctx_.eraseLength;
    rules.sectorEraseFlag = ctx_.sectorEraseFlag;
    rules.sectorEraseBank = ctx_.sectorEraseBank;
    const auto code = static_cast<std::uint8_t>(bank);
    const LoadedBank loaded = loadBank(&ctx_.fileTable[bank], code, rules);
    ctx_.fileDataLength = loaded.dataLength;
    ctx_.programLength = loaded.programLength;
    ctx_.bankChecksum = loaded.checksum;
    longestImage_ = std::max(longestImage_, loaded.wholeDeviceLength);
    if (loaded.eepromMarker)
        ctx_.eepromMarker = 1;
    if (loaded.result != MVX_OK)
        return loaded.result;
    // A file without data has nothing to program or verify.
    if (loaded.programLength <= 0)
        return MVX_ERR_FILE;
    if (!storeInBankImage(image_, loaded, code, MVX_OP_SERIAL_FLASH, link_.primary()))
        return MVX_ERR_BANK;
    return MVX_OK;
}

// Every used entry is checked before the device is touched: entries above
// the highest kept bank are refused, entries marked 1 are loaded.
int SerialFlashRun::loadAllFiles()
{
    for (int bank = 0; bank < MVX_FILE_TABLE_SIZE; ++bank) {
        const std::uint8_t inUse = ctx_.fileTable[bank].inUse;
        int rc = MVX_OK;
        if (inUse != 0 && bank > kHighestFlashBank)
            rc = MVX_ERR_BANK;
        else if (inUse == 1)
            rc = loadIntoImage(bank);
        if (rc != MVX_OK) {
            ctx_.progress.send(MVX_MSG_FILE_LOAD_FAILED, bank, 0);
            return rc;
        }
    }
    return MVX_OK;
}

int SerialFlashRun::fail(FailureStage stage, int rc)
{
    if (stage != FailureStage::None)
        ctx_.failureStage = stage;
    // The run has failed already; how the exit went changes nothing of that
    // (leaveSerialFlashIsp writes its own diagnostic).
    static_cast<void>(leaveSerialFlashIsp(ctx_));
    return rc;
}

// The lowest bank this run would erase or write that lies beyond the end of
// the identified flash, or -1.  The flash controller takes the address modulo
// the part's size, so such a bank would land on a lower one (bank 2 of a
// 128 KB part on bank 0, the boot code).  A part of unknown size, and a
// whole-chip erase, cannot be checked and are left alone.
int SerialFlashRun::bankBeyondFlash() const
{
    const std::uint64_t size = ctx_.flashSizeBytes;
    if (size == 0)
        return -1;
    const auto beyond = [size](int bank) { return (static_cast<std::uint64_t>(bank) + 1) * kFlashBankBytes > size; };
    if (hdcpMode())
        return beyond(kHdcpBank) ? int{kHdcpBank} : -1;
    if (ctx_.eraseOnly == 1 && ctx_.eraseMode == 0)
        return -1;

    int lowest = -1;
    const auto note = [&lowest, &beyond](int bank) {
        if (beyond(bank) && (lowest < 0 || bank < lowest))
            lowest = bank;
    };
    for (int bank = 0; bank < MVX_FILE_TABLE_SIZE; ++bank)
        if (ctx_.fileTable[bank].inUse != 0)
            note(bank);
    if (ctx_.eraseOnly == 0) {
        const ErasePlan& plan = ctx_.erasePlan;
        if (plan.chipErase == 0 && plan.bankMaskFlag == 1)
            for (int bank = 0; bank < kErasePlanBanks; ++bank)
                if ((plan.bankMask & (1 << bank)) != 0)
                    note(bank);
        // An image longer than the part holds firmware for a bank it has not.
        if (longestImage_ > size)
            note(static_cast<int>(size / kFlashBankBytes));
    }
    return lowest;
}

// The IC code read, the write-protect pin, protect and the controller
// set-up after identification: one step.  Returns -1 to go on, or the run's
// result.
int SerialFlashRun::prepareDevice()
{
    const IspOptions& o = options();
    link_.beginStep();
    if (o.enable_sete2e3output == 1) {
        link_.set(scaler::kOutputE2, static_cast<std::uint8_t>(o.ffe2_value & 0xFF));
        link_.set(scaler::kOutputE3, static_cast<std::uint8_t>(o.ffe3_value & 0xFF));
    }

    std::uint8_t icCode = 0;
    const bool icCodeRead = readIcCode(link_, icCode);
    ctx_.icCode = icCode;
    const bool reportOnly = o.enable_read_ic_code == 1 && o.ispEnable != 0;
    const bool checkCode = o.enable_check_ic_code_before_isp == 1;
    if ((reportOnly || checkCode) && !icCodeRead)
        return fail(FailureStage::Setup, link_.stepResult(MVX_ERR_TIMEOUT));
    // Both IC-code exits keep the scaler in ISP mode.
    if (reportOnly) {
        link_.clock().sleepMillis(kIcCodeReportPause);
        ctx_.progress.send(MVX_MSG_IC_CODE, 0, icCode);
        return link_.stepResult(MVX_OK);
    }
    if (checkCode && icCode != o.ic_code_check_value)
        return MVX_ERR_IC_CODE_MISMATCH;
    if (const int bank = bankBeyondFlash(); bank >= 0) {
        ctx_.progress.send(MVX_MSG_BEYOND_FLASH, bank, static_cast<std::intptr_t>(ctx_.flashSizeBytes / 1024));
        return fail(FailureStage::None, MVX_ERR_BANK);
    }

    setUpWriteProtectPin(ctx_);
    if (const int rc = link_.stepResult(protectFlash(ctx_)); rc != MVX_OK)
        return fail(FailureStage::Setup, rc);
    postIdentificationSetUp(link_);
    controllerReset(link_);
    if (const int rc = link_.firstWriteError(); rc != MVX_OK)
        return fail(FailureStage::Setup, rc);
    return -1;
}

int SerialFlashRun::programBank(int bank)
{
    const auto code = static_cast<std::uint8_t>(bank);
    ctx_.eepromMarker = 0;
    if (const int rc = loadIntoImage(bank); rc != MVX_OK) {
        ctx_.progress.send(MVX_MSG_FILE_LOAD_FAILED, bank, 0);
        return fail(FailureStage::None, rc);
    }
    if (ctx_.eepromMarker != 0 && ctx_.flashBrand != MVX_BRAND_PMC) {
        ctx_.progress.send(MVX_MSG_NOT_PMC_FOR_EEPROM, 0, 0);
        return fail(FailureStage::None, MVX_ERR_EEPROM_NEEDS_PMC);
    }
    // Erase, program and verify are steps of their own: each reports the
    // first write the transport failed, not what the flash made of the rest.
    const int length = ctx_.programLength;
    link_.beginStep();
    if (const int rc = link_.stepResult(eraseBankAndCheck(ctx_, code, length)); rc != MVX_OK)
        return fail(FailureStage::Erase, rc);
    link_.beginStep();
    if (const int rc = link_.stepResult(programFlashBank(ctx_, image_, code, length)); rc != MVX_OK)
        return fail(FailureStage::Program, rc);
    link_.beginStep();
    if (!verifyFlashBank(ctx_, image_, code, length)) {
        // A CRC that matches needs no excuse; one that does not is a bus
        // error when a write of the CRC read failed.
        const int rc = link_.stepResult(MVX_ERR_CRC_MISMATCH);
        // No half-verified image stays in the flash.
        ctx_.failureStage = FailureStage::Verify;
        if (eraseChipAndCheck(ctx_, EraseReport::Quiet) != MVX_OK)
            platform::debugOutput("serial flash: chip erase after a failed verification failed");
        return fail(FailureStage::Verify, rc);
    }
    ctx_.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
    return MVX_OK;
}

int SerialFlashRun::writeKey()
{
    link_.beginStep();
    const int rc = link_.stepResult(writeHdcpKey(ctx_, key_));
    if (rc != MVX_OK)
        ctx_.failureStage = FailureStage::HdcpKey;
    // The key's own result stands: it is written and checked (or not) by now.
    static_cast<void>(leaveSerialFlashIsp(ctx_));
    return rc;
}

int SerialFlashRun::programBanks()
{
    int used = 0;
    for (int bank = 0; bank < MVX_FILE_TABLE_SIZE; ++bank)
        if (ctx_.fileTable[bank].inUse != 0)
            ++used;
    int k = 0;
    for (int bank = MVX_FILE_TABLE_SIZE - 1; bank >= 0; --bank) {
        if (ctx_.fileTable[bank].inUse == 0)
            continue;
        ctx_.plan.selectBankWindow(k++, used);
        if (const int rc = programBank(bank); rc != MVX_OK)
            return rc;
    }
    return MVX_OK;
}

int SerialFlashRun::run()
{
    const IspOptions& o = options();
    ctx_.erasePlan = ErasePlan{o.enable_masserasebeforeauto4flash, o.enable_bankerasebeforeauto4flash,
                               o.bankindex_erasebeforeauto4flash};
    // HDCP-key mode writes no firmware: its key file is what is checked
    // before the device is touched.
    if (hdcpMode()) {
        if (const int rc = loadHdcpKey(ctx_.options, key_); rc != MVX_OK) {
            ctx_.failureStage = FailureStage::HdcpKey;
            return rc;
        }
    } else if (const int rc = loadAllFiles(); rc != MVX_OK) {
        return rc;
    }

    if (ctx_.libraryMode != 0)
        link_.ops().applySerialFlashSettings();
    if (enterSerialFlashIsp(ctx_) != MVX_OK) {
        ctx_.failureStage = FailureStage::NotEntered;
        return MVX_ERR_ISP_MODE;
    }
    if (ctx_.adapterKind == MVX_ADAPTER_FTDI_USB) {
        if (link_.writeRegister(scaler::kModeEE, scaler::kModeEEAfterIsp) != MVX_OK ||
            enterSerialFlashIsp(ctx_) != MVX_OK) {
            ctx_.failureStage = FailureStage::NotEntered;
            return MVX_ERR_ISP_MODE;
        }
    }
    ctx_.progress.overall(5);

    if (const int rc = prepareDevice(); rc >= 0)
        return rc;
    if (hdcpMode())
        return writeKey();

    if (ctx_.eraseOnly == 1) {
        link_.beginStep();
        if (const int rc = link_.stepResult(runEraseOnly(ctx_)); rc != MVX_OK)
            return fail(FailureStage::Erase, rc);
        ctx_.progress.overall(ctx_.plan.eraseEnd);
        static_cast<void>(leaveSerialFlashIsp(ctx_));   // as after programming, below
        return MVX_OK;
    }

    ctx_.progress.overall(ctx_.plan.eraseEnd);
    link_.beginStep();
    if (const int rc = link_.stepResult(runErasePlan(ctx_)); rc != MVX_OK)
        return fail(FailureStage::Erase, rc);
    if (const int rc = programBanks(); rc != MVX_OK)
        return rc;

    link_.clock().sleepMillis(kFinishPause);
    // Every bank is written and verified by now.  A failed exit leaves at
    // most the protect bits clear, which every later run sets again before
    // it writes; it is reported as a diagnostic, not as a failed run.
    static_cast<void>(leaveSerialFlashIsp(ctx_));
    ctx_.progress.send(MVX_MSG_RUN_PASSED, 0, 0);
    ctx_.progress.overall(100);
    return MVX_OK;
}

}  // namespace

int runSerialFlash(IspContext& ctx)
{
    ctx.failureStage = FailureStage::None;
    if (const int rc = checkArguments(ctx); rc != MVX_OK)
        return rc;
    if (!ctx.link) {
        ctx.failureStage = FailureStage::NotEntered;
        return MVX_ERR_ISP_MODE;
    }
    SerialFlashRun run(ctx);
    return run.run();
}

}  // namespace mvx::engine
