#include "operation_one_to_four.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "crc.hpp"
#include "file_reader.hpp"
#include "link.hpp"
#include "mcu_ops.hpp"
#include "mvx/platform/debug_output.hpp"
#include "one_to_four_header.hpp"

namespace mvx::engine {
namespace {

// ---- the writer board ----

constexpr std::uint8_t kM1Primary = 0x94;
constexpr std::uint8_t kM1Secondary = 0x96;
constexpr std::uint8_t kM2Primary = 0x90;
constexpr std::uint8_t kM2Secondary = 0x92;

constexpr std::uint8_t kRegSelect = 0x90;   // bank select and status
constexpr std::uint8_t kRegPage = 0x92;     // page address (page, byte) through the secondary slave
constexpr std::uint8_t kRegData = 0x94;     // page data port
constexpr std::uint8_t kRegCpu = 0x36;

constexpr std::uint8_t kSelectIsp = 0x40;
constexpr std::array<std::uint8_t, 3> kSelectWriterBank{0x40, 0x44, 0x60};
constexpr std::uint8_t kStartMassErase = 0xC0;
constexpr std::uint8_t kIspBit = 0x40;
constexpr std::uint8_t kMassEraseBusy = 0x80;
constexpr std::uint8_t kProgramBusy = 0x10;

constexpr int kMassEraseRereads = 5001;
constexpr int kM2EntryReads = 99;
constexpr int kPageRereads = 501;
constexpr int kHeaderPageRereads = 201;
constexpr int kHeaderPageSettleMillis = 2;

constexpr std::size_t kPageBytes = 256;
constexpr std::size_t kThirdBankBytes = 0x8000;   // writer bank 2 carries 32 KB

// Where a writer keeps a target bank.
enum class Area {
    First,    // 0x4000..0xBFFF of writer banks 0 and 1: 64 KB
    Second,   // 0xC000..0xFFFF of writer banks 0 and 1: 32 KB
    Third,    // writer bank 2: 32 KB
};

struct AreaShape {
    std::size_t offset;   // in writer banks 0 and 1
    std::size_t half;     // bytes in writer bank 0 before the rest goes to writer bank 1
    std::size_t capacity;
};

constexpr AreaShape shapeOf(Area area)
{
    switch (area) {
    case Area::First: return {0x4000, 0x8000, 0x10000};
    case Area::Second: return {0xC000, 0x4000, 0x8000};
    case Area::Third: return {0, kThirdBankBytes, kThirdBankBytes};
    }
    return {0, 0, 0};
}

// ---- the operations' layouts ----

// One file of a job, in the order the files are loaded.
struct LoadStep {
    bool firmware;         // an LD slot, else a target bank
    std::uint8_t entry;    // the table entry: the LD slot code, or the target bank n
    WriterChip writer;     // firmware: the writer that runs it
    int writerBank;        // firmware: its writer bank (0 or 1)
    Area area;             // target: where the writers keep it
    bool toM1;             // target: carried by M1
    bool toM2;             // target: carried by M2
    bool required;         // target: must be in use
};

constexpr LoadStep ld(std::uint8_t slot, WriterChip writer, int writerBank)
{
    return {true, slot, writer, writerBank, Area::First, false, false, true};
}

constexpr LoadStep target(std::uint8_t bank, Area area, bool toM1, bool toM2, bool required = false)
{
    return {false, bank, WriterChip::M1, 0, area, toM1, toM2, required};
}

constexpr std::array<LoadStep, 6> k5310Steps{
    ld(16, WriterChip::M1, 0), target(0, Area::First, true, false, true), ld(17, WriterChip::M1, 1),
    target(1, Area::Second, true, false),  ld(18, WriterChip::M2, 0), ld(19, WriterChip::M2, 1)};

constexpr std::array<LoadStep, 7> k5312Steps{
    ld(9, WriterChip::M1, 0),  target(0, Area::First, true, false, true), ld(10, WriterChip::M1, 1),
    target(2, Area::Second, true, false), ld(11, WriterChip::M2, 0), target(1, Area::First, false, true),
    ld(12, WriterChip::M2, 1)};

constexpr std::array<LoadStep, 8> kFlashSteps{
    ld(22, WriterChip::M1, 0), target(0, Area::First, true, false, true), ld(23, WriterChip::M1, 1),
    target(2, Area::Second, true, true), target(3, Area::Third, true, true), ld(25, WriterChip::M2, 0),
    target(1, Area::First, false, true), ld(26, WriterChip::M2, 1)};

struct OperationShape {
    std::span<const LoadStep> steps;
    std::array<std::uint8_t, 2> m1Codes;   // progress codes of writer banks 0 and 1
    std::array<std::uint8_t, 2> m2Codes;
    std::uint8_t m1ThirdCode;              // operation 5's writer bank 2
    std::uint8_t m2ThirdCode;
    int settleMillis;                      // after the line probe
};

const OperationShape* shapeFor(int operation)
{
    static constexpr OperationShape k5310{k5310Steps, {16, 17}, {18, 19}, 0, 0, 200};
    static constexpr OperationShape k5312{k5312Steps, {9, 10}, {11, 12}, 0, 0, 500};
    static constexpr OperationShape kFlash{kFlashSteps, {22, 23}, {25, 26}, 24, 27, 50};
    switch (operation) {
    case MVX_OP_5310_1TO4: return &k5310;
    case MVX_OP_5312_1TO4: return &k5312;
    case MVX_OP_SERIAL_FLASH_1TO4: return &kFlash;
    default: return nullptr;
    }
}

// ---- the job: every file loaded and placed ----

using Image = std::vector<std::uint8_t>;

struct WriterImages {
    std::array<Image, 2> banks{Image(kWriterBankBytes, 0xFF), Image(kWriterBankBytes, 0xFF)};
};

struct Job {
    WriterImages m1;
    WriterImages m2;
    Image third = Image(kThirdBankBytes, 0xFF);   // writer bank 2 of both writers
    std::array<TargetBankSummary, 4> banks{};
    std::array<bool, 4> onM1{};
    std::array<bool, 4> onM2{};
    std::array<int, 4> eraseLengths{};            // the partial erase after each bank's length rule
};

LoadRules loadRulesFor(const IspContext& ctx)
{
    LoadRules rules;
    rules.operation = ctx.operation;
    rules.eraseMode = ctx.eraseMode;
    rules.eraseLength = ctx.eraseLength;
    rules.sectorEraseFlag = ctx.sectorEraseFlag;
    rules.sectorEraseBank = ctx.sectorEraseBank;
    return rules;
}

int loadFailed(const IspContext& ctx, std::uint8_t code, int result)
{
    ctx.progress.send(MVX_MSG_FILE_LOAD_FAILED, code, 0);
    return result;
}

// Loads one used table entry; an entry not in use gives 10.
int loadEntry(IspContext& ctx, std::uint8_t entry, const LoadRules& rules, LoadedBank& bank)
{
    const FileTableEntry& row = ctx.fileTable[entry];
    if (row.inUse == 0)
        return loadFailed(ctx, entry, MVX_ERR_NO_FILE_TABLE);
    bank = loadBank(&row, entry, rules);
    ctx.fileDataLength = bank.dataLength;
    ctx.programLength = bank.programLength;
    ctx.bankChecksum = bank.checksum;
    if (bank.result != MVX_OK)
        return loadFailed(ctx, entry, bank.result);
    return MVX_OK;
}

void placeFirmware(Image& writerBank, const LoadedBank& bank)
{
    const auto count = std::min<std::size_t>(static_cast<std::size_t>(std::max(bank.programLength, 0)),
                                              std::min(writerBank.size(), bank.buffer.size()));
    std::copy_n(bank.buffer.begin(), count, writerBank.begin());
}

// A target bank's bytes into writer banks 0 and 1: the first part of the
// area in writer bank 0, the rest at the same offset of writer bank 1.
void placeTarget(WriterImages& writer, Area area, std::span<const std::uint8_t> bytes)
{
    const AreaShape shape = shapeOf(area);
    const std::size_t first = std::min(bytes.size(), shape.half);
    std::copy_n(bytes.begin(), first, writer.banks[0].begin() + static_cast<std::ptrdiff_t>(shape.offset));
    std::copy(bytes.begin() + static_cast<std::ptrdiff_t>(first), bytes.end(),
              writer.banks[1].begin() + static_cast<std::ptrdiff_t>(shape.offset));
}

int loadTarget(IspContext& ctx, const LoadStep& step, const LoadRules& rules, Job& job)
{
    const std::uint8_t n = step.entry;
    if (!step.required && ctx.fileTable[n].inUse == 0)
        return MVX_OK;
    LoadedBank bank;
    if (const int rc = loadEntry(ctx, n, rules, bank); rc != MVX_OK)
        return rc;

    // A writer holds only so much of a bank; data past that would be lost.
    const std::size_t capacity = shapeOf(step.area).capacity;
    const auto length = static_cast<std::size_t>(std::clamp(bank.programLength, 0, static_cast<int>(kLoadBufferSize)));
    const auto carried = std::min(length, capacity);
    if (!std::all_of(bank.buffer.begin() + static_cast<std::ptrdiff_t>(carried),
                     bank.buffer.begin() + static_cast<std::ptrdiff_t>(length),
                     [](std::uint8_t b) { return b == 0xFF; })) {
        platform::debugOutput("1To4: target bank data past what a writer holds");
        return loadFailed(ctx, n, MVX_ERR_ERASE_LENGTH);
    }

    const std::span<const std::uint8_t> bytes = std::span<const std::uint8_t>(bank.buffer).first(carried);
    TargetBankSummary& summary = job.banks[n];
    summary.used = true;
    summary.length = static_cast<int>(carried);
    summary.checksum = bank.checksum;
    summary.crc = usesCrc16(ctx.operation) ? crc16Xmodem(bytes) : crc8Smbus(bytes);
    job.eraseLengths[n] = bank.eraseLength;

    job.onM1[n] = step.toM1;
    job.onM2[n] = step.toM2;
    if (step.area == Area::Third) {
        // One image serves the writer bank 2 of both writers.
        std::copy(bytes.begin(), bytes.end(), job.third.begin());
        return MVX_OK;
    }
    if (step.toM1)
        placeTarget(job.m1, step.area, bytes);
    if (step.toM2)
        placeTarget(job.m2, step.area, bytes);
    return MVX_OK;
}

McuHeaderFields mcuHeaderFields(const IspContext& ctx, const Job& job)
{
    McuHeaderFields fields;
    fields.operation = ctx.operation;
    std::copy_n(job.banks.begin(), fields.banks.size(), fields.banks.begin());
    fields.partialErase = ctx.eraseMode != 0;
    // The last bank's rule settles the length a partial erase clears.
    const int lastBank = ctx.operation == MVX_OP_5312_1TO4 ? 2 : 1;
    const auto last = static_cast<std::size_t>(lastBank);
    fields.eraseLength = job.banks[last].used ? job.eraseLengths[last] : ctx.eraseLength;
    fields.checkConnectionDelay = ctx.options.fields.checkVGAconn_delay;
    fields.showChecksumDelay = ctx.options.fields.beforeshowCKSM_delay;
    return fields;
}

FlashHeaderFields flashHeaderFields(const IspContext& ctx, const Job& job)
{
    const IspOptions& o = ctx.options.fields;
    FlashHeaderFields fields;
    fields.banks = job.banks;
    fields.protect = ctx.protect;
    fields.flashBrand = ctx.flashBrand;
    fields.flashType = ctx.flashType;
    fields.sectorEraseFlag = ctx.sectorEraseFlag;
    fields.sectorEraseBank = ctx.sectorEraseBank;
    fields.idReadMode = ctx.idReadMode;
    fields.checkIcCode = o.enable_check_ic_code_before_isp;
    fields.expectedIcCode = o.ic_code_check_value;
    fields.setE2E3 = o.enable_sete2e3output;
    fields.e2Value = o.ffe2_value;
    fields.e3Value = o.ffe3_value;
    fields.checkConnectionDelay = o.checkVGAconn_delay;
    fields.showChecksumDelay = o.beforeshowCKSM_delay;
    return fields;
}

// Loads every file of the job in the operation's order and builds the
// writer images.  The first failure sends code 10 and ends the load.
int loadJob(IspContext& ctx, const OperationShape& shape, Job& job)
{
    const LoadRules rules = loadRulesFor(ctx);
    for (const LoadStep& step : shape.steps) {
        if (!step.firmware) {
            if (const int rc = loadTarget(ctx, step, rules, job); rc != MVX_OK)
                return rc;
            continue;
        }
        LoadedBank bank;
        if (const int rc = loadEntry(ctx, step.entry, rules, bank); rc != MVX_OK)
            return rc;
        WriterImages& writer = step.writer == WriterChip::M1 ? job.m1 : job.m2;
        placeFirmware(writer.banks[static_cast<std::size_t>(step.writerBank)], bank);
    }

    if (ctx.operation == MVX_OP_SERIAL_FLASH_1TO4) {
        // The block is programmed on its own after the checksums have passed;
        // until then its bytes stay erased, whatever the firmware file holds there.
        for (Image* bank0 : {&job.m1.banks[0], &job.m2.banks[0]})
            std::fill(bank0->begin() + static_cast<std::ptrdiff_t>(kOneToFourHeaderOffset),
                      bank0->begin() + static_cast<std::ptrdiff_t>(kOneToFourHeaderEnd), std::uint8_t{0xFF});
        return MVX_OK;
    }
    const McuHeaderFields fields = mcuHeaderFields(ctx, job);
    writeMcuHeader(job.m1.banks[0], fields);
    writeMcuHeader(job.m2.banks[0], fields);
    return MVX_OK;
}

// ---- talking to the writers ----

// Reads 0x90 while any of `mask` is set; false after `rereads` re-reads or a
// failed read.
bool waitWhileSet(Link& link, std::uint8_t mask, int rereads)
{
    std::uint8_t status = 0;
    if (link.readRegister(kRegSelect, status) != MVX_OK)
        return false;
    for (int n = 0; (status & mask) != 0;) {
        if (++n > rereads || link.readRegister(kRegSelect, status) != MVX_OK)
            return false;
    }
    return true;
}

bool massErase(Link& link)
{
    if (link.writeRegister(kRegSelect, kStartMassErase) != MVX_OK)
        return false;
    return waitWhileSet(link, kMassEraseBusy, kMassEraseRereads);
}

bool enterM2(Link& link)
{
    if (link.writeRegister(kRegSelect, kSelectIsp) != MVX_OK || link.writeRegister(kRegCpu, 0x00) != MVX_OK)
        return false;
    for (int read = 0; read < kM2EntryReads; ++read) {
        std::uint8_t status = 0;
        if (link.readRegister(kRegSelect, status) == MVX_OK && (status & kIspBit) != 0)
            return true;
    }
    return false;
}

// One page: its address through the secondary slave, its 256 bytes to the
// data port, then the wait for the writer to have programmed them.
int sendPage(Link& link, std::uint8_t page, std::span<const std::uint8_t> bytes, int rereads)
{
    const std::uint8_t address[] = {page, 0x00};
    if (const int rc = link.burst(kRegPage, address, 2); rc != MVX_OK)
        return rc;
    const int count = static_cast<int>(bytes.size());
    if (const int rc = link.ops().write(link.primary(), kRegData, bytes.data(), count, {count, 0, 0}); rc != MVX_OK)
        return rc;
    return waitWhileSet(link, kProgramBusy, rereads) ? MVX_OK : MVX_ERR_TIMEOUT;
}

// Programs a whole writer image into writer bank `writerBank`, with progress
// code 2 (sub = `code`) and code 13 in the current window.
int programWriterBank(const IspContext& ctx, Link& link, int writerBank, const Image& image, std::uint8_t code)
{
    // Pages sent after a lost bank select would land in the other bank.
    if (const int rc = link.writeRegister(kRegSelect, kSelectWriterBank[static_cast<std::size_t>(writerBank)]);
        rc != MVX_OK)
        return rc;
    const std::size_t pages = image.size() / kPageBytes;
    for (std::size_t i = 0; i < pages; ++i) {
        const int percent = static_cast<int>(i * 100 / pages);
        ctx.progress.send(MVX_MSG_PROGRAM_PERCENT, code, percent);
        ctx.progress.overall(ctx.plan.bankPercent(percent));
        const auto bytes = std::span<const std::uint8_t>(image).subspan(i * kPageBytes, kPageBytes);
        if (const int rc = sendPage(link, static_cast<std::uint8_t>(i), bytes, kPageRereads); rc != MVX_OK)
            return rc;
    }
    ctx.progress.send(MVX_MSG_PROGRAM_PERCENT, code, 100);
    return MVX_OK;
}

// The block of operation 5, as page 0x3F of writer bank 0.
int writeHeaderPage(IspContext& ctx, Link& link, const Image& writerBank0)
{
    if (const int rc = link.writeRegister(kRegSelect, kSelectWriterBank[0]); rc != MVX_OK)
        return rc;
    const auto page = std::span<const std::uint8_t>(writerBank0).subspan(kOneToFourHeaderPage * kPageBytes, kPageBytes);
    const int rc = sendPage(link, kOneToFourHeaderPage, page, kHeaderPageRereads);
    ctx.clock->sleepMillis(kHeaderPageSettleMillis);
    return rc;
}

struct Readback {
    int expected = 0;
    McuUnitReading device;
    bool matches() const { return device.finished && device.value == expected; }
};

class WriterRun {
public:
    WriterRun(IspContext& ctx, const OperationShape& shape, Job& job)
        : ctx_(ctx),
          shape_(shape),
          job_(job),
          m1_(ctx.link->ops(), *ctx.clock, kM1Primary, kM1Secondary),
          m2_(ctx.link->ops(), *ctx.clock, kM2Primary, kM2Secondary)
    {
    }

    int run()
    {
        if (!m1_.enterMcuIsp(true))
            return eraseFailed(MVX_ERR_ISP_MODE);
        ctx_.progress.overall(5);
        if (!massErase(m1_))
            return eraseFailed(MVX_ERR_TIMEOUT);
        if (!enterM2(m2_))
            return eraseFailed(MVX_ERR_ISP_MODE);
        if (!massErase(m2_))
            return eraseFailed(MVX_ERR_TIMEOUT);
        ctx_.progress.overall(ctx_.plan.eraseEnd);

        const bool third = ctx_.operation == MVX_OP_SERIAL_FLASH_1TO4 && job_.banks[3].used;
        passes_ = third ? 6 : 4;
        if (const int rc = writerPass(m1_, job_.m1, job_.onM1, shape_.m1Codes); rc != MVX_OK)
            return wipe(rc);
        if (const int rc = writerPass(m2_, job_.m2, job_.onM2, shape_.m2Codes); rc != MVX_OK)
            return wipe(rc);
        if (third) {
            ctx_.progress.send(MVX_MSG_CRC_IMAGE, 3, job_.banks[3].crc);
            if (const int rc = thirdPass(m1_, shape_.m1ThirdCode); rc != MVX_OK)
                return wipe(rc);
            if (const int rc = thirdPass(m2_, shape_.m2ThirdCode); rc != MVX_OK)
                return wipe(rc);
        }

        const bool allMatch =
            std::all_of(readbacks_.begin(), readbacks_.end(), [](const Readback& r) { return r.matches(); });
        const std::uint8_t firstSlot = shape_.m1Codes[0];
        if (!allMatch) {
            wipeWriters();
            leave();
            ctx_.progress.send(MVX_MSG_CHECKSUM_MATCH, firstSlot, 0);
            return MVX_ERR_CHECKSUM_MISMATCH;
        }

        if (ctx_.operation == MVX_OP_SERIAL_FLASH_1TO4) {
            const FlashHeaderFields fields = flashHeaderFields(ctx_, job_);
            writeFlashHeader(job_.m1.banks[0], WriterChip::M1, fields);
            writeFlashHeader(job_.m2.banks[0], WriterChip::M2, fields);
            if (const int rc = writeHeaderPage(ctx_, m1_, job_.m1.banks[0]); rc != MVX_OK)
                return wipe(rc);
            if (const int rc = writeHeaderPage(ctx_, m2_, job_.m2.banks[0]); rc != MVX_OK)
                return wipe(rc);
        }
        leave();
        ctx_.progress.send(MVX_MSG_CHECKSUM_MATCH, firstSlot, 1);
        ctx_.progress.send(MVX_MSG_BANK_SEPARATOR, 0, 0);
        ctx_.progress.send(MVX_MSG_RUN_PASSED, 0, 0);
        if (ctx_.operation != MVX_OP_SERIAL_FLASH_1TO4)
            ctx_.progress.overall(100);
        return MVX_OK;
    }

private:
    // Writer banks 0 and 1 of one writer, then its device checksums of both.
    int writerPass(Link& link, const WriterImages& images, const std::array<bool, 4>& carried,
                   const std::array<std::uint8_t, 2>& codes)
    {
        for (std::size_t n = 0; n < job_.banks.size(); ++n) {
            // Writer bank 2 is a pass of its own.
            if (carried[n] && !(ctx_.operation == MVX_OP_SERIAL_FLASH_1TO4 && n == 3))
                ctx_.progress.send(MVX_MSG_CRC_IMAGE, static_cast<int>(n), job_.banks[n].crc);
        }
        for (int bank = 0; bank < 2; ++bank) {
            ctx_.plan.selectBankWindow(window_++, passes_);
            const Image& image = images.banks[static_cast<std::size_t>(bank)];
            if (const int rc = programWriterBank(ctx_, link, bank, image, codes[static_cast<std::size_t>(bank)]);
                rc != MVX_OK)
                return rc;
        }
        for (int bank = 0; bank < 2; ++bank)
            readBack(link, bank, images.banks[static_cast<std::size_t>(bank)]);
        return MVX_OK;
    }

    int thirdPass(Link& link, std::uint8_t code)
    {
        ctx_.plan.selectBankWindow(window_++, passes_);
        if (const int rc = programWriterBank(ctx_, link, 2, job_.third, code); rc != MVX_OK)
            return rc;
        readBack(link, 2, job_.third);
        return MVX_OK;
    }

    void readBack(Link& link, int bank, const Image& image)
    {
        McuFlash flash(link, McuChip::M5312, ctx_.progress, ctx_.plan);
        Readback r;
        r.expected = wordChecksum(image);
        r.device = flash.deviceChecksum(static_cast<std::uint8_t>(bank), static_cast<int>(image.size()));
        readbacks_.push_back(r);
    }

    // A writer that did not enter ISP mode or finish its erase: reported as a
    // failed mass erase, nothing programmed yet.
    int eraseFailed(int result)
    {
        ctx_.progress.send(MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_MASS_FAILED);
        leave();
        return result;
    }

    void wipeWriters()
    {
        const bool m1 = massErase(m1_);
        const bool m2 = massErase(m2_);
        if (!m1 || !m2)
            platform::debugOutput("1To4: a writer did not finish its erase");
    }

    int wipe(int result)
    {
        wipeWriters();
        leave();
        return result;
    }

    void leave()
    {
        m1_.leaveMcuIsp();
        m2_.leaveMcuIsp();
    }

    IspContext& ctx_;
    const OperationShape& shape_;
    Job& job_;
    Link m1_;
    Link m2_;
    std::vector<Readback> readbacks_;
    int passes_ = 4;
    int window_ = 0;
};

}  // namespace

int runOneToFour(IspContext& ctx)
{
    const OperationShape* shape = shapeFor(ctx.operation);
    if (shape == nullptr)
        return MVX_ERR_OPERATION;
    if (ctx.fileTable == nullptr)
        return MVX_ERR_NO_FILE_TABLE;
    if (!ctx.link || ctx.clock == nullptr)
        return MVX_ERR_ISP_MODE;
    if (ctx.operation == MVX_OP_SERIAL_FLASH_1TO4 &&
        (ctx.flashBrand < MVX_BRAND_PMC || ctx.flashBrand > MVX_BRAND_AMIC))
        return MVX_ERR_FLASH_BRAND;
    // Erase only does not apply to a writer board.
    ctx.plan = ProgressPlan::forRun(0, ctx.eraseMode);

    // Only the parallel-port kinds reach the writer board; their line probe
    // tells whether it is there.
    int probe = MVX_ERR_ADAPTER_KIND;
    if (ctx.adapterKind == MVX_ADAPTER_NORVANE_IIC || ctx.adapterKind == MVX_ADAPTER_CVT_IIC)
        probe = ctx.link->ops().probeTarget();
    if (probe != MVX_OK) {
        ctx.progress.send(MVX_MSG_ERASE_RESULT, 0, MVX_ERASE_MASS_FAILED);
        return probe;
    }
    ctx.clock->sleepMillis(shape->settleMillis);

    auto job = std::make_unique<Job>();
    if (const int rc = loadJob(ctx, *shape, *job); rc != MVX_OK)
        return rc;
    return WriterRun(ctx, *shape, *job).run();
}

}  // namespace mvx::engine
