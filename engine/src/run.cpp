#include "run.hpp"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bank_image.hpp"
#include "crc.hpp"
#include "file_reader.hpp"
#include "isp_context.hpp"
#include "mvx/adapters/transports.hpp"
#include "mvx/platform/bus_lock.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/sim/board.hpp"
#include "operation_mcu.hpp"
#include "operation_one_to_four.hpp"
#include "operation_serial_flash.hpp"

namespace mvx::engine {
namespace {

constexpr std::uint8_t kDefaultPrimary = 0x94;
constexpr std::uint8_t kDefaultSecondary = 0x96;

bool isFlag(int value) { return value == 0 || value == 1; }

// The run's slave addresses from argument 4: 1 keeps the defaults, any other
// v >= 0 gives v and v + 2, a negative value keeps the defaults.  Operation 0
// always uses the defaults.
void chooseSlaves(IspContext& ctx, int selector)
{
    ctx.primarySlave = kDefaultPrimary;
    ctx.secondarySlave = kDefaultSecondary;
    if (ctx.operation == MVX_OP_MCU_5310 || selector < 0 || selector == 1)
        return;
    ctx.primarySlave = static_cast<std::uint8_t>(selector);
    ctx.secondarySlave = static_cast<std::uint8_t>(selector + 2);
}

// The checks an operation makes of its arguments before it touches anything.
int checkOperationArguments(const IspArguments& a)
{
    switch (a.operation) {
    case MVX_OP_MCU_5310:
        if (!isFlag(a.eraseOnly))
            return MVX_ERR_ERASE_ONLY_FLAG;
        if (!isFlag(a.verifyByChecksum))
            return MVX_ERR_VERIFY_MODE;
        if (!isFlag(a.eraseMode))
            return MVX_ERR_ERASE_MODE;
        break;
    case MVX_OP_MCU_5312:
        if (!isFlag(a.eraseOnly))
            return MVX_ERR_ERASE_ONLY_FLAG;
        if (a.slaveSelector < 0 || a.slaveSelector == 2)
            return MVX_ERR_SLAVE_SELECTOR;
        if (!isFlag(a.eraseMode))
            return MVX_ERR_ERASE_MODE;
        break;
    case MVX_OP_SERIAL_FLASH:
        if (!isFlag(a.eraseOnly))
            return MVX_ERR_ERASE_ONLY_FLAG;
        if (a.flashBrand < MVX_BRAND_PMC || a.flashBrand > MVX_BRAND_AMIC)
            return MVX_ERR_FLASH_BRAND;
        break;
    default:
        break;
    }
    if (a.operation <= MVX_OP_SERIAL_FLASH && a.fileTable == nullptr)
        return MVX_ERR_NO_FILE_TABLE;
    return MVX_OK;
}

int runOperation(IspContext& ctx, const IspArguments& a)
{
    if (const int checked = checkOperationArguments(a); checked != MVX_OK)
        return checked;
    switch (a.operation) {
    case MVX_OP_MCU_5310:
    case MVX_OP_MCU_5312:
        return runMcu(ctx);
    case MVX_OP_SERIAL_FLASH: {
        int result = runSerialFlash(ctx);
        // A bank that failed its CRC check has been erased again by then; the
        // whole operation runs once more, and the second result stands.  A
        // bus error is not retried.
        if (result == MVX_ERR_CRC_MISMATCH && ctx.failureStage == FailureStage::Verify &&
            ctx.options.fields.enable_isprepeattest != 1)
            result = runSerialFlash(ctx);
        return result;
    }
    default:
        return runOneToFour(ctx);
    }
}

}  // namespace

std::string failureText(int result, long busHolder)
{
    switch (result) {
    case MVX_ERR_ISP_MODE: return "ISP process has failed!\r\r\n Into ISP mode Fail!!";
    case MVX_ERR_WRITE_PROTECTED: return "ISP process has failed!\r\r\n Flash Write Protection!!";
    case MVX_ERR_IC_CODE_MISMATCH: return "ISP process has failed!\r\r\n IC Code mismatch!!";
    case MVX_ERR_BUS_BUSY:
        return "ISP process has failed!\r\r\n The bus is busy: " +
               (busHolder > 0 ? "process " + std::to_string(busHolder) : std::string("another process")) +
               " is running ISP on it!!";
    default: return "ISP process has failed!";
    }
}

namespace {

// Locks what the transport drives (with a virtual board its folder is
// locked when the board is opened).  MVX_OK, or 29 with *busHolder set (-1
// when the holder is not known), or 13 when an identity's lock file cannot be
// made.  A device node that cannot even be opened to lock it cannot be driven
// either: the run goes on and the transport reports it as it always does.
int lockBus(adapters::AdapterOps& transport, platform::BusLock& lock, long* busHolder)
{
    const std::string bus = transport.busName();
    if (bus.empty())
        return MVX_OK;
    const bool node = bus.front() == '/';
    lock = node ? platform::BusLock::onPath(bus) : platform::BusLock::onIdentity(bus);
    if (lock.held())
        return MVX_OK;
    platform::debugOutput("bus lock: " + lock.error());
    if (lock.outcome() != platform::BusLock::Outcome::Busy)
        return node ? MVX_OK : MVX_ERR_ISP_MODE;
    *busHolder = lock.holderPid() > 0 ? lock.holderPid() : -1;
    return MVX_ERR_BUS_BUSY;
}

}  // namespace

int runIsp(const IspArguments& a)
{
    if (a.adapterKind < MVX_ADAPTER_NORVANE_USB || a.adapterKind > MVX_ADAPTER_CVT_IIC)
        return MVX_ERR_ADAPTER_KIND;
    // One run per bus: held until the context (transport, board) is gone.
    platform::BusLock busLock;
    long busHolder = 0;
    auto ctx = std::make_unique<IspContext>();
    if (a.operation < MVX_OP_MCU_5310 || a.operation > MVX_OP_SERIAL_FLASH_1TO4)
        return MVX_ERR_OPERATION;

    ctx->operation = a.operation;
    ctx->adapterKind = a.adapterKind;
    ctx->progress.setWindow(a.ownerWindow);
    ctx->libraryMode = a.libraryMode & 0xFF;
    ctx->reserved = a.reserved;
    ctx->options = OptionsCopy::from(a.options);
    ctx->eraseOnly = a.eraseOnly;
    ctx->verifyByChecksum = a.verifyByChecksum;
    ctx->eraseMode = a.eraseMode;
    ctx->eraseLength = a.eraseLength;
    ctx->flashBrand = a.flashBrand;
    ctx->idReadMode = a.idReadMode;
    ctx->sectorEraseFlag = a.sectorEraseFlag;
    ctx->sectorEraseBank = a.sectorEraseBank;
    ctx->fileTable = a.fileTable;
    if (a.protectSettings != nullptr)
        ctx->protect = *a.protectSettings;
    const IspOptions& o = ctx->options.fields;
    ctx->erasePlan = {o.enable_masserasebeforeauto4flash, o.enable_bankerasebeforeauto4flash,
                      o.bankindex_erasebeforeauto4flash};

    // With MVX_VIRTUAL_BOARD set every transport talks to the simulated board,
    // and the board's folder is the bus to lock.
    std::string boardError;
    ctx->board = sim::Board::openFromEnvironment(&boardError, &busHolder);
    ctx->clock = ctx->board ? static_cast<platform::Clock*>(&ctx->board->clock()) : &platform::systemClock();

    int result = MVX_OK;
    if (!boardError.empty()) {
        platform::debugOutput(boardError);
        result = busHolder != 0 ? MVX_ERR_BUS_BUSY : MVX_ERR_ISP_MODE;
    } else {
        const adapters::TransportSettings settings{a.adapterKind, ctx->libraryMode, o.norvane_usb_frequency,
                                                   o.norvane_usb_ispspeed, o.other_usb_ispspeed,
                                                   o.norvane_iic_ispspeed};
        ctx->transport = adapters::makeTransport(settings, ctx->board.get(), *ctx->clock);
        // Without a virtual board the transport names what it drives, and
        // the run waits for it before anything touches the bus.
        if (!ctx->board)
            result = lockBus(*ctx->transport, busLock, &busHolder);
    }
    if (result == MVX_OK) {
        const int opened = ctx->transport->open();
        ctx->transportOpen = opened == MVX_OK;
        if (a.adapterKind == MVX_ADAPTER_NORVANE_USB && ctx->libraryMode == 0 && opened != MVX_OK &&
            opened != MVX_ERR_ISP_MODE) {
            // The bridge could not be opened: reported, no message box.
            ctx->progress.send(MVX_MSG_RUN_FAILED, 0, opened);
            if (ctx->board && !ctx->board->finishCall(&boardError))
                platform::debugOutput(boardError);
            return opened;
        }
        ctx->plan = ProgressPlan::forRun(a.eraseOnly, a.eraseMode);
        chooseSlaves(*ctx, a.slaveSelector);
        ctx->link.emplace(*ctx->transport, *ctx->clock, ctx->primarySlave, ctx->secondarySlave);
        result = runOperation(*ctx, a);
    }

    if (result != MVX_OK) {
        ctx->progress.send(MVX_MSG_RUN_FAILED, 0, result);
        if (o.enable_hdcp_key_fire != 1 && o.enable_isprepeattest != 1)
            ctx->progress.messageBox(failureText(result, busHolder).c_str(), "Error");
    }
    if (ctx->board && !ctx->board->finishCall(&boardError))
        platform::debugOutput(boardError);
    return result;
}

int getFileInfo(const FileInfoArguments& a)
{
    if (a.path == nullptr)
        return MVX_ERR_FILE;
    // The path is copied into a 260-byte entry: a longer one cannot be loaded.
    if (std::strlen(a.path) >= MVX_PATH_CAPACITY)
        return MVX_ERR_FILE;
    if (a.format < MVX_FORMAT_HEX || a.format > MVX_FORMAT_WHOLE_DEVICE)
        return MVX_ERR_FILE_FORMAT;
    if (a.bank < 0 || a.bank > 256)
        return MVX_ERR_BANK;
    if (a.operation < MVX_OP_MCU_5310 || a.operation > MVX_OP_SERIAL_FLASH_1TO4)
        return MVX_ERR_OPERATION;

    FileTableEntry entry{};
    entry.inUse = 1;
    entry.format = a.format;
    std::memcpy(entry.path, a.path, std::strlen(a.path) + 1);
    const auto bankCode = static_cast<std::uint8_t>(a.bank);
    const LoadRules rules{a.operation, a.eraseMode, a.eraseLength, a.sectorEraseFlag, a.sectorEraseBank};
    const LoadedBank loaded = loadBank(&entry, bankCode, rules);

    if (a.dataLength != nullptr)
        *a.dataLength = loaded.dataLength;
    if (a.programLength != nullptr)
        *a.programLength = loaded.programLength;
    if (a.checksum != nullptr)
        *a.checksum = loaded.checksum;
    if (a.crc != nullptr) {
        // The CRC of the bank image over L bytes; codes that are not kept in
        // the bank image leave it blank, so they report the CRC of L bytes of 0xFF.
        auto image = std::make_unique<BankImage>();
        storeInBankImage(*image, loaded, bankCode, a.operation, kDefaultPrimary);
        *a.crc = image->crcFor(a.operation, loaded.programLength);
    }
    return loaded.result;
}

}  // namespace mvx::engine
