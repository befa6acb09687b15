// Operation 2 against the virtual board: whole runs from firmware files to
// what the flash holds afterwards, the messages on the way, and the failures.
#include "operation_serial_flash.hpp"

#include <gtest/gtest.h>

#include <functional>

#include "crc.hpp"
#include "flash_erase.hpp"
#include "serial_flash_fixture.hpp"

namespace mvx::test {
namespace {

using engine::FailureStage;
using engine::runSerialFlash;
using Erase = RecordingAdapter::Erase;

class SerialFlashTest : public SerialFlashFixture {
protected:
    void fillFlash(std::uint8_t value) { std::fill(flash().begin(), flash().end(), value); }
    std::size_t pagePrograms() { return board->scaler()->stats().pagePrograms; }

    // The board's clock, with each sleep written down with the reads made before it.
    struct SleepTrace final : platform::Clock {
        SleepTrace(platform::Clock& clock, const RecordingAdapter& adapter) : inner(clock), bus(adapter) {}
        std::uint64_t nowMicros() override { return inner.nowMicros(); }
        void sleepMicros(std::uint64_t micros) override
        {
            sleeps.push_back({micros, bus.reads});
            inner.sleepMicros(micros);
        }
        platform::Clock& inner;
        const RecordingAdapter& bus;
        std::vector<std::pair<std::uint64_t, int>> sleeps;
    };
    SleepTrace& traceSleeps()
    {
        trace = std::make_unique<SleepTrace>(board->clock(), *adapter);
        ctx->clock = trace.get();
        ctx->link.emplace(*adapter, *trace, std::uint8_t{0x94}, std::uint8_t{0x96});
        return *trace;
    }
    // The reads and sleeps between the last write of `value` to `reg` and the next write.
    std::pair<int, std::vector<std::pair<std::uint64_t, int>>> afterLastWrite(std::uint8_t reg, std::uint8_t value)
    {
        const auto& w = adapter->writes;
        const auto last = std::find_if(w.rbegin(), w.rend(), [&](const RecordingAdapter::Write& x) {
            return x.reg == reg && x.data == std::vector<std::uint8_t>{value};
        });
        EXPECT_NE(last, w.rend());
        const auto at = static_cast<std::size_t>(w.rend() - last - 1);
        const int from = adapter->readsBeforeWrite[at];
        const int to = at + 1 < w.size() ? adapter->readsBeforeWrite[at + 1] : adapter->reads;
        std::vector<std::pair<std::uint64_t, int>> sleeps;
        for (const auto& sleep : trace->sleeps)
            if (sleep.second >= from && sleep.second <= to)
                sleeps.emplace_back(sleep.first, sleep.second - from);
        return {to - from, sleeps};
    }
    std::unique_ptr<SleepTrace> trace;
};

// ---- whole runs ----

TEST_F(SerialFlashTest, WholeFlashFromHexAndBinaryFilesMatchesByteForByte)
{
    start("W25X40A");
    fillFlash(0x00);  // old firmware everywhere, so every bank needs its erase
    std::vector<std::uint8_t> expected;
    for (int bank = 0; bank < 8; ++bank) {
        const auto image = firmwarePattern(0x10000, static_cast<unsigned>(bank + 1));
        useFile(bank, image, bank % 2 == 0);
        expected.insert(expected.end(), image.begin(), image.end());
    }

    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(ctx->failureStage, FailureStage::None);
    EXPECT_TRUE(flash() == expected);
    EXPECT_EQ(adapter->blocks, 8 * 256);
    EXPECT_EQ(log.withCode(MVX_MSG_RUN_PASSED).size(), 1u);
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
}

TEST_F(SerialFlashTest, OneRunReportsItsStepsInOrder)
{
    start("W25X40A");
    ctx->idReadMode = 1;
    const auto bank0 = firmwarePattern(300, 5);
    const auto bank1 = firmwarePattern(1000, 6);
    useFile(0, bank0);
    useFile(1, bank1, true);

    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    const auto blank = [](int n) { return static_cast<std::intptr_t>(engine::crc8SmbusRepeated(0xFF, n)); };
    const std::intptr_t crc0 = referenceCrc8(bank0);
    const std::intptr_t crc1 = referenceCrc8(bank1);
    // Banks from the highest down; 95 - 21 split over two banks gives windows
    // 21..58 and 58..95.
    const std::vector<Message> expected{
        {14, 1, 2},    {13, 0, 5},    {13, 0, 20},
        {4, 1, blank(1000)}, {1, 1, 1}, {2, 1, 0}, {13, 0, 21}, {2, 1, 100},
        {3, 1, crc1},  {4, 1, crc1},  {5, 1, 1},   {12, 0, 0},
        {4, 0, blank(300)}, {1, 0, 1}, {2, 0, 0}, {13, 0, 58}, {2, 0, 100},
        {3, 0, crc0},  {4, 0, crc0},  {5, 0, 1},   {12, 0, 0},
        {9, 0, 0},     {13, 0, 100},
    };
    EXPECT_EQ(log.messages, expected);
    EXPECT_EQ(flashBytes(0, 0x10000), bankHolding(bank0));
    EXPECT_EQ(flashBytes(0x10000, 0x10000), bankHolding(bank1));
}

TEST_F(SerialFlashTest, EveryPartErasesAndProgramsABankHoldingOldData)
{
    // One page more than a 32 KB erase block, so a half-erased bank shows.
    const auto image = firmwarePattern(0x8100, 11);
    for (const sim::FlashPart& part : sim::flashParts()) {
        for (const int idMode : {0, 1}) {
            SCOPED_TRACE(std::string(part.name) + " ID read mode " + std::to_string(idMode));
            start(part.name);
            ctx->idReadMode = idMode;
            fillFlash(0x00);
            useFile(0, image);
            EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
            EXPECT_EQ(flashBytes(0, 0x10000), bankHolding(image));
        }
    }
}

TEST_F(SerialFlashTest, LibraryModeSendsPagesAsWritesToTheDataPort)
{
    start();
    ctx->libraryMode = 1;
    const auto image = firmwarePattern(2000, 2);
    useFile(3, image);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->blocks, 0);
    EXPECT_EQ(adapter->pageWrites(), 8);
    EXPECT_EQ(adapter->serialFlashSettings, 1);
    EXPECT_EQ(flashBytes(0x30000, 2000), image);
}

TEST_F(SerialFlashTest, BridgeBlocksCarryThePageOffset)
{
    start();
    useFile(0, firmwarePattern(700, 4));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->blockOffsets, (std::vector<std::uint16_t>{0x0000, 0x0100, 0x0200}));
}

// ---- erasing before programming ----

TEST_F(SerialFlashTest, BlankBankIsProgrammedWithoutAnErase)
{
    start();
    std::fill_n(flash().begin() + 0x20000, 0x10000, std::uint8_t{0x00});
    useFile(1, firmwarePattern(4096, 1));
    useFile(2, firmwarePattern(4096, 2));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0xD8, 2, 0x00}}));
}

TEST_F(SerialFlashTest, SectorEraseBankErasesOnlyTheSectorsItsImageNeeds)
{
    start();
    fillFlash(0x00);
    ctx->sectorEraseFlag = 1;
    ctx->sectorEraseBank = 2;
    const auto image = firmwarePattern(5000, 9);
    useFile(2, image);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0x20, 2, 0x00}, {0x20, 2, 0x10}}));
    EXPECT_EQ(flashBytes(0x20000, 5000), image);
    EXPECT_TRUE(flashRangeIs(0x20000 + 5000, 8192 - 5000, 0xFF));
    EXPECT_TRUE(flashRangeIs(0x20000 + 8192, 0x10000 - 8192, 0x00));
}

TEST_F(SerialFlashTest, SectorEraseBankBelowOneSectorStillErasesItsSector)
{
    start();
    fillFlash(0x00);
    ctx->sectorEraseFlag = 1;
    ctx->sectorEraseBank = 0;
    const auto image = firmwarePattern(1000, 9);
    useFile(0, image);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0x20, 0, 0x00}}));
    EXPECT_EQ(flashBytes(0, 1000), image);
}

TEST_F(SerialFlashTest, ChipErasePlanClearsBanksOutsideTheTable)
{
    start();
    fillFlash(0x00);
    ctx->options.fields.enable_masserasebeforeauto4flash = 1;
    useFile(1, firmwarePattern(512, 1));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_TRUE(flashRangeIs(0, 0x10000, 0xFF));
    EXPECT_TRUE(flashRangeIs(0x20000, 0x60000, 0xFF));
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0xC7, 0xFF, 0}}));
    const auto erased = log.withCode(MVX_MSG_ERASE_RESULT);
    ASSERT_EQ(erased.size(), 2u);
    EXPECT_EQ(erased[0], (Message{1, 0, MVX_ERASE_MASS_OK}));
}

TEST_F(SerialFlashTest, BankMaskPlanErasesTheNamedBanks)
{
    start();
    fillFlash(0x00);
    ctx->options.fields.enable_bankerasebeforeauto4flash = 1;
    ctx->options.fields.bankindex_erasebeforeauto4flash = 0x05;
    useFile(3, firmwarePattern(512, 1));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0xD8, 0, 0}, {0xD8, 2, 0}, {0xD8, 3, 0}}));
    EXPECT_TRUE(flashRangeIs(0, 0x10000, 0xFF));
    EXPECT_TRUE(flashRangeIs(0x10000, 0x10000, 0x00));
    EXPECT_TRUE(flashRangeIs(0x20000, 0x10000, 0xFF));
}

// ---- erase only ----

TEST_F(SerialFlashTest, EraseOnlyWholeChip)
{
    start();
    fillFlash(0x33);
    ctx->eraseOnly = 1;
    ctx->plan = engine::ProgressPlan::forRun(1, 0);
    useFile(0, firmwarePattern(100, 1));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_TRUE(flashRangeIs(0, flash().size(), 0xFF));
    EXPECT_EQ(pagePrograms(), 0u);
    EXPECT_EQ(log.withCode(MVX_MSG_ERASE_RESULT), (std::vector<Message>{{1, 0, MVX_ERASE_MASS_OK}}));
    EXPECT_EQ(log.messages.back(), (Message{13, 0, 95}));
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
}

TEST_F(SerialFlashTest, EraseOnlyByBankErasesTheUsedBanksFromTheHighest)
{
    start();
    fillFlash(0x33);
    ctx->eraseOnly = 1;
    ctx->eraseMode = 1;
    ctx->plan = engine::ProgressPlan::forRun(1, 1);
    useFile(1, firmwarePattern(100, 1));
    useFile(3, firmwarePattern(100, 3), false, 2);
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    for (std::size_t bank = 0; bank < 8; ++bank)
        EXPECT_TRUE(flashRangeIs(bank << 16, 0x10000, bank == 1 || bank == 3 ? 0xFF : 0x33)) << bank;
    const std::vector<Message> expected{{1, 3, 1}, {12, 0, 0}, {1, 1, 1}, {12, 0, 0}};
    EXPECT_EQ(log.withCode(MVX_MSG_ERASE_RESULT).size(), 2u);
    std::vector<Message> eraseMessages;
    for (const Message& m : log.messages)
        if (m.code == MVX_MSG_ERASE_RESULT || m.code == MVX_MSG_BANK_SEPARATOR)
            eraseMessages.push_back(m);
    EXPECT_EQ(eraseMessages, expected);
    EXPECT_EQ(pagePrograms(), 0u);
}

// ---- SST parts ----

TEST_F(SerialFlashTest, SstPartsAreProgrammedInBothIdModes)
{
    const auto image = firmwarePattern(1500, 21);
    for (const char* part : {"SST25LF020A", "SST25LF040A", "SST25LF010A", "SST25LF080B", "SST25VF020B"}) {
        for (const int idMode : {0, 1}) {
            SCOPED_TRACE(std::string(part) + " ID read mode " + std::to_string(idMode));
            start(part);
            ctx->idReadMode = idMode;
            std::fill_n(flash().begin() + 0x10000, 0x10000, std::uint8_t{0x00});
            useFile(1, image);
            EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
            EXPECT_EQ(flashBytes(0x10000, 0x10000), bankHolding(image));
            EXPECT_EQ(adapter->erases(), (std::vector<Erase>{{0x52, 1, 0x00}, {0x52, 1, 0x80}}));
        }
    }
}

// ---- failures ----

TEST_F(SerialFlashTest, WriteProtectedFlashStopsAfterTheFirstPage)
{
    sim::BoardConfig config;
    config.writeProtect = true;
    start(config);
    useFile(0, firmwarePattern(0x10000, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_WRITE_PROTECTED);
    EXPECT_EQ(ctx->failureStage, FailureStage::Program);
    EXPECT_EQ(pagePrograms(), 1u);
    EXPECT_EQ(adapter->blocks, 1);
    EXPECT_TRUE(flashRangeIs(0, flash().size(), 0xFF));
    EXPECT_EQ(board->scaler()->registerValue(0xEE), 0x06);
}

TEST_F(SerialFlashTest, StuckBusyEndsTheRunWithTimeout)
{
    sim::BoardConfig config;
    config.faults.stuckBusy = true;
    start(config);
    useFile(0, firmwarePattern(1024, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_TIMEOUT);
    EXPECT_EQ(ctx->failureStage, FailureStage::Program);
}

TEST_F(SerialFlashTest, StuckPageProgramFailsAfterItsRereadsWithoutSleeping)
{
    sim::BoardConfig config;
    config.faults.stuckBusy = true;
    start(config);
    traceSleeps();
    useFile(0, firmwarePattern(1024, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_TIMEOUT);
    EXPECT_EQ(pagePrograms(), 1u);
    // The first read of 0x6F and re-reads up to the 152nd (limit 150 + 2), back to back.
    const auto [reads, sleeps] = afterLastWrite(0x6F, 0xA0);
    EXPECT_EQ(reads, 1 + 152);
    EXPECT_TRUE(sleeps.empty());
}

TEST_F(SerialFlashTest, StuckBusyDuringTheChipEraseIsAnEraseFailure)
{
    sim::BoardConfig config;
    config.faults.stuckBusy = true;
    start(config);
    traceSleeps();
    ctx->options.fields.enable_masserasebeforeauto4flash = 1;
    useFile(0, firmwarePattern(1024, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_TIMEOUT);
    EXPECT_EQ(ctx->failureStage, FailureStage::Erase);
    EXPECT_EQ(log.withCode(MVX_MSG_ERASE_RESULT), (std::vector<Message>{{1, 0, MVX_ERASE_MASS_FAILED}}));
    // Erase waits keep their cadence: the 50 ms pause, then 10 ms before each
    // of the 902 re-reads (limit 900 + 2).
    const auto [reads, sleeps] = afterLastWrite(0x60, 0xA1);
    std::vector<std::pair<std::uint64_t, int>> expected{{50'000, 0}};
    for (int reread = 1; reread <= 902; ++reread)
        expected.emplace_back(10'000, reread);
    EXPECT_EQ(reads, 1 + 902);
    EXPECT_EQ(sleeps, expected);
    EXPECT_GE(board->clock().sleptMicros(), 50'000u + 902u * 10'000u);
}

TEST_F(SerialFlashTest, CrcMismatchOnceErasesTheChipAndTheRetryPasses)
{
    sim::BoardConfig config;
    config.faults.crcMismatchOnce = true;
    start(config);
    std::fill_n(flash().begin() + 0x50000, 0x10000, std::uint8_t{0x5A});  // a bank outside the table
    const auto image = firmwarePattern(0x10000, 8);
    useFile(1, image);

    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_CRC_MISMATCH);
    EXPECT_EQ(ctx->failureStage, FailureStage::Verify);
    EXPECT_EQ(log.withCode(MVX_MSG_CRC_MATCH), (std::vector<Message>{{5, 1, 0}}));
    EXPECT_TRUE(flashRangeIs(0, flash().size(), 0xFF));

    // The caller's single retry, on the same context.
    log.messages.clear();
    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(ctx->failureStage, FailureStage::None);
    EXPECT_EQ(flashBytes(0x10000, 0x10000), image);
}

TEST_F(SerialFlashTest, BadByteFailsVerificationAndLeavesTheChipErased)
{
    sim::BoardConfig config;
    config.faults.badByte = 0x10123;
    start(config);
    useFile(1, firmwarePattern(0x10000, 8));
    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_CRC_MISMATCH);
        EXPECT_EQ(ctx->failureStage, FailureStage::Verify);
        EXPECT_TRUE(flashRangeIs(0, flash().size(), 0xFF));
    }
}

TEST_F(SerialFlashTest, DeadLinkIsStageOneWithoutMessages)
{
    sim::BoardConfig config;
    config.linkDead = true;
    start(config);
    useFile(0, firmwarePattern(100, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_ISP_MODE);
    EXPECT_EQ(ctx->failureStage, FailureStage::NotEntered);
    EXPECT_TRUE(log.messages.empty());
}

TEST_F(SerialFlashTest, EntryAboveBank8IsRefusedBeforeTheDeviceIsTouched)
{
    start();
    useFile(0, firmwarePattern(100, 1));
    useFile(9, firmwarePattern(100, 2), false, 2);
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_BANK);
    EXPECT_EQ(adapter->accesses(), 0u);
    EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_FILE_LOAD_FAILED, 9, 0}}));
}

TEST_F(SerialFlashTest, FileWithoutDataIsRefusedBeforeTheDeviceIsTouched)
{
    start();
    useFile(4, {}, true);  // a HEX file with only its end record
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_FILE);
    EXPECT_EQ(adapter->accesses(), 0u);
    EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_FILE_LOAD_FAILED, 4, 0}}));
}

TEST_F(SerialFlashTest, MissingFileIsRefusedBeforeTheDeviceIsTouched)
{
    start();
    table[2].inUse = 1;
    std::snprintf(table[2].path, sizeof table[2].path, "%s", folder.file("absent.bin").c_str());
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_FILE);
    EXPECT_EQ(adapter->accesses(), 0u);
}

TEST_F(SerialFlashTest, EepromImageOnANonPmcFlashIsRefusedBeforeAnyErase)
{
    start("W25X40A");
    fillFlash(0x00);
    std::vector<std::uint8_t> image(0x40, 0x11);
    image[1] = 0x00;
    image[2] = 0x20;
    std::copy_n(std::array<std::uint8_t, 4>{0xAA, 0x55, 0x55, 0xAA}.begin(), 4, image.begin() + 0x20);
    useFile(0, image);
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_EEPROM_NEEDS_PMC);
    EXPECT_EQ(log.withCode(MVX_MSG_NOT_PMC_FOR_EEPROM).size(), 1u);
    EXPECT_TRUE(adapter->erases().empty());
    EXPECT_TRUE(flashRangeIs(0, flash().size(), 0x00));
}

TEST_F(SerialFlashTest, BadArgumentsAreRefusedWithoutBusTraffic)
{
    start();
    ctx->flashBrand = 6;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_FLASH_BRAND);
    ctx->flashBrand = 1;
    ctx->eraseOnly = 2;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_ERASE_ONLY_FLAG);
    ctx->eraseOnly = 0;
    ctx->fileTable = nullptr;
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_NO_FILE_TABLE);
    EXPECT_EQ(adapter->accesses(), 0u);
}

// ---- IC code ----

TEST_F(SerialFlashTest, ReadIcCodeModeReportsTheCodeAndWritesNothing)
{
    sim::BoardConfig config;
    config.icCode = 0x37;
    start(config);
    fillFlash(0x00);
    ctx->options.fields.enable_read_ic_code = 1;
    ctx->options.fields.ispEnable = 1;
    useFile(0, firmwarePattern(100, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(log.messages.back(), (Message{MVX_MSG_IC_CODE, 0, 0x37}));
    EXPECT_TRUE(adapter->erases().empty());
    EXPECT_TRUE(flashRangeIs(0, flash().size(), 0x00));
}

TEST_F(SerialFlashTest, IcCodeMismatchStopsBeforeAnyErase)
{
    start();
    ctx->options.fields.enable_check_ic_code_before_isp = 1;
    ctx->options.fields.ic_code_check_value = 5;
    useFile(0, firmwarePattern(100, 1));
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_IC_CODE_MISMATCH);
    EXPECT_TRUE(adapter->erases().empty());
    EXPECT_EQ(pagePrograms(), 0u);
}

TEST_F(SerialFlashTest, OutputBytesAreWrittenAfterEntering)
{
    start();
    ctx->options.fields.enable_sete2e3output = 1;
    ctx->options.fields.ffe2_value = 0x1A2;
    ctx->options.fields.ffe3_value = 0x5B;
    useFile(0, firmwarePattern(100, 1));
    ASSERT_EQ(runSerialFlash(*ctx), MVX_OK);
    EXPECT_EQ(board->scaler()->registerValue(0xE2), 0xA2);
    EXPECT_EQ(board->scaler()->registerValue(0xE3), 0x5B);
}

// ---- banks beyond the flash ----

// What the run asks of a flash of known (or unknown) size.  A refused run
// names the first bank the part lacks and leaves every byte as it was.
TEST_F(SerialFlashTest, BanksBeyondTheIdentifiedFlashAreRefusedBeforeAnythingIsWritten)
{
    struct Row {
        const char* name;
        const char* part;
        int idMode;
        std::function<void()> job;
        int result;
        int beyondBank;   // -1: no refusal message
    };
    const auto banks = [this](std::vector<int> list) {
        return [this, list] {
            for (int bank : list)
                useFile(bank, firmwarePattern(300, static_cast<unsigned>(bank + 1)));
        };
    };
    // One whole-device image of `kb` KB in entries 0..entries-1.
    const auto image = [this](std::size_t kb, int entries) {
        return [this, kb, entries] {
            const auto bytes = firmwarePattern(kb * 1024, 7);
            const std::string path = folder.file("whole.bin");
            writeWholeFile(path, std::string(bytes.begin(), bytes.end()));
            for (int bank = 0; bank < entries; ++bank) {
                FileTableEntry& entry = table[static_cast<std::size_t>(bank)];
                entry.inUse = 1;
                entry.format = MVX_FORMAT_WHOLE_DEVICE;
                std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
            }
        };
    };
    const auto hdcpKey = [this] {
        ctx->options.fields.enable_hdcp_key_fire = 1;
        ctx->options.hdcpKeyFile = folder.file("key.bin");
        writeWholeFile(ctx->options.hdcpKeyFile, std::string(288, '\x42'));
    };
    const Row rows[] = {
        {"banks 0-2 on 128 KB", "W25X10A", 1, banks({0, 1, 2}), MVX_ERR_BANK, 2},
        {"banks 0-1 on 128 KB", "W25X10A", 1, banks({0, 1}), MVX_OK, -1},
        {"bank 1 on 64 KB", "Pm25LV512A", 1, banks({0, 1}), MVX_ERR_BANK, 1},
        {"bank 8 on 512 KB", "W25X40A", 1, banks({0, 8}), MVX_ERR_BANK, 8},
        {"bank 7 on 512 KB", "MX25L4005", 1, banks({7}), MVX_OK, -1},
        {"unknown size keeps today's wrap", "W25X10A", 0, banks({2}), MVX_OK, -1},
        {"HDCP key on 128 KB", "A25L010", 1, hdcpKey, MVX_ERR_BANK, 3},
        {"HDCP key on 256 KB", "EN25F20", 1, hdcpKey, MVX_OK, -1},
        {"192 KB image in two banks of 128 KB", "SST25LF010A", 1, image(192, 2), MVX_ERR_BANK, 2},
        {"128 KB image on 128 KB", "W25X10A", 1, image(128, 2), MVX_OK, -1},
        {"erase plan mask names bank 2 of 128 KB",
         "W25X10A", 1,
         [this] {
             useFile(0, firmwarePattern(300, 1));
             ctx->options.fields.enable_bankerasebeforeauto4flash = 1;
             ctx->options.fields.bankindex_erasebeforeauto4flash = 0x05;
         },
         MVX_ERR_BANK, 2},
        {"bank erase only of bank 2 on 128 KB",
         "W25X10A", 1,
         [this] {
             useFile(2, firmwarePattern(300, 1));
             ctx->eraseOnly = 1;
             ctx->eraseMode = 1;
         },
         MVX_ERR_BANK, 2},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        table = {};
        log.messages.clear();
        start(row.part);
        ctx->idReadMode = row.idMode;
        row.job();
        for (std::size_t i = 0; i < flash().size(); ++i)
            flash()[i] = static_cast<std::uint8_t>(i * 7 + 3);
        const auto before = flash();
        const std::uint32_t kb = static_cast<std::uint32_t>(before.size() / 1024);

        EXPECT_EQ(runSerialFlash(*ctx), row.result);
        const auto refusals = log.withCode(MVX_MSG_BEYOND_FLASH);
        if (row.beyondBank < 0) {
            EXPECT_TRUE(refusals.empty());
            continue;
        }
        EXPECT_EQ(refusals, (std::vector<Message>{{MVX_MSG_BEYOND_FLASH, row.beyondBank, kb}}));
        EXPECT_TRUE(flash() == before);
        EXPECT_TRUE(adapter->erases().empty());
        EXPECT_EQ(pagePrograms(), 0u);
        EXPECT_EQ(log.withCode(MVX_MSG_RUN_PASSED).size(), 0u);
    }
}

TEST_F(SerialFlashTest, WholeImageNeverFillsTheLdBank)
{
    start("W25X80A");
    const auto bytes = firmwarePattern(9 * 0x10000, 5);
    const std::string path = folder.file("whole.bin");
    writeWholeFile(path, std::string(bytes.begin(), bytes.end()));
    for (int bank = 0; bank <= 8; ++bank) {
        FileTableEntry& entry = table[static_cast<std::size_t>(bank)];
        entry.inUse = 1;
        entry.format = MVX_FORMAT_WHOLE_DEVICE;
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
    }
    EXPECT_EQ(runSerialFlash(*ctx), MVX_ERR_BANK);
    EXPECT_EQ(adapter->accesses(), 0u);
    EXPECT_EQ(log.messages, (std::vector<Message>{{MVX_MSG_FILE_LOAD_FAILED, 8, 0}}));
}

}  // namespace
}  // namespace mvx::test
