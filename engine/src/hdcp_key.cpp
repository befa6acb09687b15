#include "hdcp_key.hpp"

#include <algorithm>
#include <string_view>

#include "bank_image.hpp"
#include "crc.hpp"
#include "flash_commands.hpp"
#include "flash_erase.hpp"
#include "flash_program.hpp"
#include "isp_context.hpp"
#include "mvx/platform/atomic_file.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp.h"
#include "mvxisp_file_limits.hpp"

namespace mvx::engine {

static_assert(kMaxHdcpKeyFileBytes == kHdcpKeyCapacity, "a key file fills at most the key block");

namespace {

// The verify methods of option 88.
constexpr int kVerifyByReadBack = 1;

// ---- the key file ----

// ---- the key sector ----

// Erase of the key sector with its blank check; protect and controller reset
// follow whatever the outcome.
int eraseKeySector(IspContext& ctx)
{
    Link& link = *ctx.link;
    controllerSetUp(link);
    link.set(scaler::kIspControl, scaler::kIspEnable);
    int rc = unprotectFlash(ctx);
    if (rc == MVX_OK && ctx.flashBrand == MVX_BRAND_SST) {
        rc = writeEnable(link, kEraseWait);
        if (rc == MVX_OK)
            rc = writeStatusSst(link, 0x00, kEraseWait);
    }
    if (rc == MVX_OK)
        rc = flashCommandWithBytes(link, form::kAddressed, opcode::kSectorErase, {kHdcpBank, kHdcpFirstPage, 0x00},
                                   kEraseWait);
    if (rc == MVX_OK) {
        const int crc = deviceRangeCrc(link, kHdcpBank, kHdcpOffset, 0xFFFF);
        // A controller that never finishes its CRC says nothing about the
        // flash: that is a time-out, not a protected part.
        if (crc < 0)
            rc = MVX_ERR_TIMEOUT;
        else if (crc != kHdcpBlankCrc)
            rc = MVX_ERR_WRITE_PROTECTED;
    }
    const int protectRc = protectFlash(ctx);
    controllerReset(link);
    return rc != MVX_OK ? rc : protectRc;
}

// The 16 pages of the key block.  Page i of the key goes to flash page
// 0xF0 + i of bank 3, through the same page path as firmware, without
// progress messages and without the first-page check (the erase's blank
// check has already looked at the sector).
int programKeySector(IspContext& ctx, const HdcpKey& key)
{
    std::vector<std::uint8_t> bank(kFlashBankBytes, 0xFF);
    std::copy(key.block.begin(), key.block.end(), bank.begin() + kHdcpOffset);
    BankImage image;
    image.store(bank, ctx.link->primary(), BankImage::kSerialFlashDataRegister);

    const int rc = programFlashPages(ctx, image, kHdcpBank, PageRun{kHdcpFirstPage, kHdcpPages, false, false});
    if (rc != MVX_OK || ctx.flashBrand != MVX_BRAND_SST)
        return rc;
    // The page loop of the other brands ends with these itself.
    const int protectRc = protectFlash(ctx);
    controllerReset(*ctx.link);
    return protectRc;
}

int verifyByCrc(IspContext& ctx, const HdcpKey& key)
{
    const int expected = crc8Smbus(key.block);
    const int device = deviceRangeCrc(*ctx.link, kHdcpBank, kHdcpOffset, 0xFFFF);
    if (device == expected)
        return MVX_OK;
    platform::debugOutput("HDCP key: the sector's CRC differs from the key's");
    return MVX_ERR_CRC_MISMATCH;
}

int verifyByReadBack(IspContext& ctx, const HdcpKey& key)
{
    std::vector<std::uint8_t> readBack(kHdcpKeyCapacity, 0xFF);
    if (const int rc = readFlashBack(ctx, kHdcpBank, kHdcpOffset, readBack); rc != MVX_OK) {
        // Nothing trustworthy was read: there is nothing to compare or save.
        platform::debugOutput("HDCP key: the read-back of the sector failed");
        return rc;
    }
    const auto keyBytes = static_cast<std::ptrdiff_t>(key.length);
    const bool match = std::equal(key.block.begin(), key.block.begin() + keyBytes, readBack.begin());
    if (!match)
        platform::debugOutput("HDCP key: the bytes read back differ from the key");

    int rc = match ? MVX_OK : MVX_ERR_CRC_MISMATCH;
    // Saved also after a failed comparison, so the operator can look at
    // what the flash holds.
    if (ctx.options.fields.enable_save_readed_hdcp_key == 1) {
        const int saved = saveReadBackKey(ctx.options.readBackFolder, std::span(readBack).first(key.length));
        if (rc == MVX_OK)
            rc = saved;
    }
    return rc;
}

// ---- the read stream ----

// Register values of the read-back.
constexpr std::uint8_t kReadForm = 0x46;        // read command, three bytes back
constexpr std::uint8_t kReadOpcode = 0x03;
constexpr std::uint8_t kProtectAfterRead = 0x1E;

// Re-read and sleep limits of the read-back.
constexpr int kModeAttempts = 12;
constexpr int kCommandRereads = 102;
constexpr std::uint32_t kModePause = 1;
constexpr std::uint32_t kCommandPause = 2;
constexpr std::uint32_t kStatusWritePause = 100;

// Bytes per read of the data port.  The USB bridge answers at most 16 bytes
// per read request, so it reads in pieces of that size; every other
// transport reads whole pages.
constexpr int kReadBurst = 256;
constexpr int kBridgeReadBurst = 16;

int readBurstFor(const IspContext& ctx)
{
    const bool bridge = ctx.adapterKind == MVX_ADAPTER_NORVANE_USB && ctx.libraryMode == 0;
    return bridge ? kBridgeReadBurst : kReadBurst;
}

// 0xED / 0xEE to their ISP values until they read back so.
bool settleModeRegisters(Link& link)
{
    for (int attempt = 0; attempt < kModeAttempts; ++attempt) {
        link.set(scaler::kModeED, scaler::kModeEDInIsp);
        link.set(scaler::kModeEE, scaler::kModeEEInIsp);
        link.clock().sleepMillis(kModePause);
        std::uint8_t ed = 0;
        std::uint8_t ee = 0;
        if (link.readRegister(scaler::kModeED, ed) == MVX_OK && link.readRegister(scaler::kModeEE, ee) == MVX_OK &&
            ed == scaler::kModeEDInIsp && ee == scaler::kModeEEInIsp)
            return true;
    }
    return false;
}

// Reads 0x60 while its bit 0 is set, pausing between reads; false when it
// is still set (or unreadable) at the last allowed re-read.
bool waitCommandIdle(Link& link, std::uint32_t pauseMillis)
{
    std::uint8_t control = 0;
    if (link.readRegister(scaler::kCommandControl, control) != MVX_OK)
        return false;
    for (int reread = 1; (control & 0x01) != 0; ++reread) {
        if (reread > kCommandRereads)
            return false;
        if (pauseMillis != 0)
            link.clock().sleepMillis(pauseMillis);
        if (link.readRegister(scaler::kCommandControl, control) != MVX_OK)
            return false;
    }
    return true;
}

// The end of every read-back that started its read command: the flash's
// status back to protected, the controller reset and the mode register
// restored.
void finishReadBack(Link& link)
{
    link.set(scaler::kWriteEnableOpcode, opcode::kWriteEnable);
    link.set(scaler::kStatusEnableOpcode, 0x50);
    link.set(scaler::kCommandControl, form::kStatusWrite);
    link.set(scaler::kCommandOpcode, opcode::kWriteStatus);
    link.set(scaler::kAddress, kProtectAfterRead);
    link.set(scaler::kCommandControl, static_cast<std::uint8_t>(form::kStatusWrite + 1));
    link.clock().sleepMillis(kStatusWritePause);
    if (!waitCommandIdle(link, 0))
        platform::debugOutput("flash read-back: the closing status write did not finish");
    controllerReset(link);
    link.set(scaler::kModeEE, scaler::kModeEEAfterIsp);
}

}  // namespace

int loadHdcpKey(const OptionsCopy& options, HdcpKey& key)
{
    key = HdcpKey{};
    const bool text = options.fields.hdcp_key_file_kind == kHdcpKeyText;
    // A text key is only checked (a regular file that can be opened): none
    // of it is read.
    const platform::FileBytes file = text ? platform::FileBytes{{}, platform::checkRegularFile(options.hdcpKeyFile)}
                                          : platform::readRegularFile(options.hdcpKeyFile, kMaxHdcpKeyFileBytes);
    if (!file.ok()) {
        platform::debugOutput("HDCP key: the key file '" + options.hdcpKeyFile + "' " + file.problem.message());
        return MVX_ERR_FILE;
    }
    if (text)
        return MVX_OK;   // a text key is written as a blank block
    const std::string& bytes = file.bytes;
    // An empty binary key would erase the key block and pass.
    if (bytes.empty()) {
        platform::debugOutput("HDCP key: the key file is empty");
        return MVX_ERR_FILE;
    }
    std::copy(bytes.begin(), bytes.end(), key.block.begin());
    key.length = bytes.size();
    return MVX_OK;
}

int writeHdcpKey(IspContext& ctx, const HdcpKey& key)
{
    if (!ctx.link)
        return MVX_ERR_ISP_MODE;
    if (const int rc = eraseKeySector(ctx); rc != MVX_OK)
        return rc;
    if (const int rc = programKeySector(ctx, key); rc != MVX_OK)
        return rc;
    if (ctx.options.fields.hdcp_key_fire_check_method == kVerifyByReadBack)
        return verifyByReadBack(ctx, key);
    return verifyByCrc(ctx, key);
}

int readFlashBack(IspContext& ctx, std::uint8_t bank, std::uint16_t start, std::span<std::uint8_t> out)
{
    if (!ctx.link)
        return MVX_ERR_ISP_MODE;
    Link& link = *ctx.link;

    std::uint8_t control = 0;
    // A failed read writes back plain ISP enable; the read-back below checks
    // the enable bit with a read that must succeed.
    static_cast<void>(link.readRegister(scaler::kIspControl, control));
    // Written back with ISP enable; never with the program or CRC start bits.
    const auto startBits = static_cast<std::uint8_t>(scaler::kProgramBusy | scaler::kCrcBusy);
    link.set(scaler::kIspControl, static_cast<std::uint8_t>((control & ~startBits) | scaler::kIspEnable));
    link.set(scaler::kCommandControl, 0x00);
    link.set(scaler::kCommandOpcode, 0x00);
    link.set(scaler::kWriteEnableOpcode, opcode::kWriteEnable);
    link.set(scaler::kStatusEnableOpcode, 0x50);
    link.set(scaler::kProgramOpcode, opcode::kPageProgram);
    link.set(scaler::kEntryHold, 0x00);
    if (link.readRegister(scaler::kIspControl, control) != MVX_OK || (control & scaler::kIspEnable) == 0)
        return MVX_ERR_ISP_MODE;
    if (!settleModeRegisters(link))
        return MVX_ERR_TIMEOUT;

    // The stream starts at the address of the read command, and its first
    // byte is dropped: the command names the byte before the first one.
    std::uint8_t before[3];
    if (start == 0) {
        before[0] = static_cast<std::uint8_t>(bank - 1);
        before[1] = 0xFF;
        before[2] = 0xFF;
    } else {
        before[0] = bank;
        before[1] = static_cast<std::uint8_t>((start - 1) >> 8);
        before[2] = static_cast<std::uint8_t>((start - 1) & 0xFF);
    }
    link.set(scaler::kCommandControl, kReadForm);
    link.set(scaler::kCommandOpcode, kReadOpcode);
    link.setBurst(scaler::kAddress, before, 3);
    link.set(scaler::kReadOpcode, kReadOpcode);
    link.set(scaler::kCommandControl, static_cast<std::uint8_t>(kReadForm + 1));

    int rc = waitCommandIdle(link, kCommandPause) ? MVX_OK : MVX_ERR_TIMEOUT;
    adapters::AdapterOps& ops = link.ops();
    if (rc == MVX_OK) {
        std::uint8_t dropped = 0;
        rc = ops.read(link.primary(), scaler::kDataPort, &dropped, 1, {1, 0, 0});
    }
    const int burst = readBurstFor(ctx);
    for (std::size_t done = 0; rc == MVX_OK && done < out.size();) {
        const int count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(burst), out.size() - done));
        rc = ops.read(link.primary(), scaler::kDataPort, out.data() + done, count, {count, 0, 0});
        done += static_cast<std::size_t>(count);
    }
    finishReadBack(link);
    return rc;
}

int saveReadBackKey(const std::string& folder, std::span<const std::uint8_t> bytes)
{
    // Without a folder the file would land wherever the process happens to be.
    if (folder.empty()) {
        platform::debugOutput("HDCP key: no folder named for the read-back file");
        return MVX_ERR_FILE;
    }
    const std::string path = platform::joinPath(folder, kHdcpReadBackFileName);
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (const auto error = platform::replaceFileAtomically(path, text, "read-back HDCP key")) {
        platform::debugOutput(*error);
        return MVX_ERR_FILE;
    }
    return MVX_OK;
}

}  // namespace mvx::engine
