#include "mvx/sim/spi_flash.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace mvx::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

const FlashPart& partNamed(std::string_view name)
{
    const FlashPart* part = findFlashPart(name);
    if (part == nullptr) {
        ADD_FAILURE() << "no part " << name;
        return flashParts().front();
    }
    return *part;
}

// One flash on its own SPI bus, driven the way the scaler's controller drives it.
struct Bench {
    explicit Bench(std::string_view name = "W25X40A", BoardConfig board = {})
        : config(std::move(board)), flash(partNamed(name), clock, config)
    {
    }

    Bytes run(const Bytes& out)
    {
        Bytes in;
        flash.select();
        for (std::uint8_t byte : out)
            in.push_back(flash.transfer(byte));
        flash.deselect();
        return in;
    }
    Bytes withAddress(std::uint8_t opcode, std::uint32_t address, Bytes tail = {})
    {
        Bytes out{opcode, std::uint8_t(address >> 16), std::uint8_t(address >> 8), std::uint8_t(address)};
        out.insert(out.end(), tail.begin(), tail.end());
        return out;
    }
    Bytes read(std::uint32_t address, std::size_t count)
    {
        Bytes in = run(withAddress(0x03, address, Bytes(count, 0)));
        return Bytes(in.begin() + 4, in.end());
    }
    void settle() { clock.advance(10'000'000); }
    void writeStatus(std::uint8_t value)
    {
        run({0x06});
        run({0x01, value});
        settle();
    }
    void program(std::uint32_t address, const Bytes& data)
    {
        run({0x06});
        run(withAddress(0x02, address, data));
        settle();
    }
    void erase(std::uint8_t opcode, std::uint32_t address)
    {
        run({0x06});
        run(withAddress(opcode, address));
        settle();
    }

    VirtualClock clock;
    BoardConfig config;
    SpiFlash flash;
};

// ---- What the engine's identification tables make of a part's answers ----

struct Identity {
    int brand;
    int index;
};

// ID read mode 1: JEDEC ID first, the manufacturer/device ID for the rest.
Identity identifyByJedec(Bench& bench)
{
    const Bytes j = bench.run({0x9F, 0, 0, 0});
    const int m = j[1], t = j[2], c = j[3];
    auto pick = [](int value, std::initializer_list<std::pair<int, int>> table, int other) {
        for (auto [key, index] : table)
            if (key == value)
                return index;
        return other;
    };
    if (m == 0x1C)
        return {3, t == 0x31 ? pick(c, {{0x11, 1}, {0x12, 0}}, -1) : -1};
    if (m == 0x37)
        return {5, t == 0x30 ? pick(c, {{0x11, 1}, {0x12, 0}}, -1) : -1};
    if (m == 0x7F && t == 0x9D)
        return {0, pick(c, {{0x21, 4}, {0x22, 5}, {0x23, 6}, {0x7B, 0}, {0x7C, 1}, {0x7D, 2}, {0x7E, 3}}, -1)};
    if (m == 0xBF)
        return {4, t == 0x25 && c == 0x8C ? 4 : -1};
    if (m == 0xC2 && t == 0x20 && c == 0x12)
        return {2, bench.run({0xAB, 0, 0, 0, 0})[4] == 0x03 ? 2 : 1};
    if (m == 0xC2)
        return {2, t == 0x20 ? pick(c, {{0x11, 0}, {0x13, 3}, {0x14, 4}}, -1) : -1};
    if (m == 0xEF)
        return {1, t == 0x30 ? pick(c, {{0x11, 0}, {0x12, 1}, {0x13, 2}, {0x14, 3}}, -1) : -1};
    const Bytes id = bench.run({0x90, 0, 0, 0, 0, 0});
    if (id[4] == 0xBF)
        return {4, pick(id[5], {{0x43, 0}, {0x44, 1}, {0x49, 2}, {0x8C, 4}, {0x8E, 3}}, -1)};
    return {255, 0};
}

// ID read mode 0: the brand is given and only the type is probed.  For SST the
// scaler keeps the second byte of the signature answer in register 0x68.
int typeForBrand(Bench& bench, int brand)
{
    if (brand == 0) {
        const Bytes j = bench.run({0x9F, 0, 0, 0});
        if (j[1] != 0x7F || j[2] != 0x9D)
            return 2;
        return j[3] == 0x21 ? 4 : j[3] == 0x22 ? 5 : j[3] == 0x7C ? 1 : 2;
    }
    if (brand == 2)
        return bench.run({0xAB, 0, 0, 0, 0})[4] == 0x11 ? 1 : 2;
    if (brand == 3)
        return bench.run({0x9F, 0, 0, 0}) == Bytes{0xFF, 0x1C, 0x31, 0x11} ? 1 : 0;
    if (brand == 4) {
        const std::uint8_t second = bench.run({0xAB, 0, 0, 0, 0, 0})[5];
        return second == 0x44 ? 3 : second == 0x8C ? 2 : 1;
    }
    return 2;
}

TEST(FlashParts, OffersEveryNameOfTheChipReportUnderItsBrandAndIndex)
{
    const std::vector<std::vector<std::string>> report{
        {"Pm25LV512A", "Pm25LV010A", "Pm25LV020", "Pm25LV040", "Pm25LD010", "Pm25LD020", "Pm25LD040"},
        {"W25X10A", "W25X20A", "W25X40A", "W25X80A"},
        {"MX25L1005", "MX25L2005", "MX25L2026", "MX25L4005", "MX25L8005"},
        {"EN25F20", "EN25F10"},
        {"SST25LF020A", "SST25LF040A", "SST25LF010A", "SST25LF080B", "SST25VF020B"},
        {"A25L020", "A25L010"}};
    std::size_t names = 0;
    for (std::size_t brand = 0; brand < report.size(); ++brand)
        for (std::size_t index = 0; index < report[brand].size(); ++index, ++names) {
            const FlashPart& part = partNamed(report[brand][index]);
            EXPECT_EQ(part.brand, brand) << part.name;
            EXPECT_EQ(part.typeIndex, static_cast<int>(index)) << part.name;
        }
    EXPECT_EQ(flashParts().size(), names + 1);  // and "unknown"
    EXPECT_EQ(partNamed("unknown").brand, 255);
    EXPECT_EQ(partNamed("unknown").sizeBytes, 512u * 1024);
}

TEST(FlashParts, FindsNamesIgnoringCaseAndRefusesOthers)
{
    EXPECT_STREQ(partNamed("w25x40a").name, "W25X40A");
    EXPECT_STREQ(partNamed("UNKNOWN").name, "unknown");
    EXPECT_EQ(findFlashPart("W25X40"), nullptr);
    EXPECT_EQ(findFlashPart(""), nullptr);
}

// ---- Identification ----

TEST(SpiFlashIdentification, JedecReadModeRecognisesEveryPartAsItsBrandAndIndex)
{
    for (const FlashPart& part : flashParts()) {
        Bench bench(part.name);
        const Identity id = identifyByJedec(bench);
        EXPECT_EQ(id.brand, part.brand) << part.name;
        if (part.brand != 255) {
            EXPECT_EQ(id.index, part.typeIndex) << part.name;
        }
    }
}

TEST(SpiFlashIdentification, BrandReadModeProbesTheTypeTheEngineExpects)
{
    const std::vector<std::pair<std::string, int>> expected{
        {"Pm25LV512A", 2}, {"Pm25LV010A", 1}, {"Pm25LD010", 4}, {"Pm25LD020", 5}, {"Pm25LD040", 2},
        {"MX25L2005", 1}, {"MX25L2026", 2}, {"MX25L8005", 2}, {"EN25F20", 0}, {"EN25F10", 1},
        {"SST25LF020A", 1}, {"SST25LF040A", 3}, {"SST25LF080B", 1}, {"SST25VF020B", 2}, {"W25X10A", 2}};
    for (const auto& [name, type] : expected) {
        Bench bench(name);
        EXPECT_EQ(typeForBrand(bench, bench.flash.part().brand), type) << name;
    }
}

TEST(SpiFlashIdentification, IdReadAlternatesAndStartsWithTheDeviceAtAnOddAddress)
{
    Bench bench("MX25L4005");
    EXPECT_EQ(bench.run({0x90, 0, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xC2, 0x12, 0xC2}));
    EXPECT_EQ(bench.run({0x90, 0, 0, 1, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0xC2}));
    EXPECT_EQ(bench.run({0xAB, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x12, 0x12}));
}

TEST(SpiFlashIdentification, OlderSstPartsLeaveTheJedecReadFloating)
{
    Bench bench("SST25LF020A");
    EXPECT_EQ(bench.run({0x9F, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(bench.run({0xAB, 0, 0, 0, 0, 0}), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xBF, 0x43}));
}

// ---- Reading ----

TEST(SpiFlashRead, StreamsFromTheAddressAndWrapsAtTheEndOfTheArray)
{
    Bench bench("W25X10A");
    auto& array = bench.flash.array();
    array[0x1FFFE] = 0x11;
    array[0x1FFFF] = 0x22;
    array[0] = 0x33;
    EXPECT_EQ(bench.read(0x1FFFE, 4), (Bytes{0x11, 0x22, 0x33, 0xFF}));
    EXPECT_EQ(bench.read(0x3FFFE, 2), (Bytes{0x11, 0x22}));  // address bits above 128 KB ignored
    const Bytes fast = bench.run({0x0B, 0x01, 0xFF, 0xFF, 0x00, 0, 0});
    EXPECT_EQ(fast[5], 0x22);
    EXPECT_EQ(fast[6], 0x33);
}

// ---- Write-enable latch ----

TEST(SpiFlashWriteEnable, ProgramWithoutLatchIsIgnored)
{
    Bench bench;
    bench.run(bench.withAddress(0x02, 0x100, {0x00}));
    EXPECT_EQ(bench.flash.array()[0x100], 0xFF);
    EXPECT_FALSE(bench.flash.busy());
    EXPECT_EQ(bench.flash.stats().ignoredWrites, 1u);
}

TEST(SpiFlashWriteEnable, LatchSetByWrenClearedByWrdiAndByEveryCompletedWrite)
{
    Bench bench;
    bench.run({0x06});
    EXPECT_EQ(bench.run({0x05, 0})[1], 0x02);
    bench.run({0x04});
    EXPECT_FALSE(bench.flash.writeEnabled());
    bench.program(0, {0x12});
    EXPECT_FALSE(bench.flash.writeEnabled());
    bench.erase(0x20, 0);
    EXPECT_FALSE(bench.flash.writeEnabled());
    bench.writeStatus(0x00);
    EXPECT_FALSE(bench.flash.writeEnabled());
}

TEST(SpiFlashWriteEnable, CommandCutShortIsNotExecutedAndKeepsTheLatch)
{
    Bench bench;
    bench.flash.array()[0] = 0x00;
    bench.run({0x06});
    bench.run({0x20, 0x00, 0x00});
    EXPECT_EQ(bench.flash.array()[0], 0x00);
    EXPECT_TRUE(bench.flash.writeEnabled());
    bench.run({0xC7, 0x00});
    EXPECT_EQ(bench.flash.array()[0], 0x00);
}

// ---- Page program ----

TEST(SpiFlashProgram, ClearsBitsOnlyAndWrapsWithinThePage)
{
    Bench bench;
    bench.program(0x10, {0xF0});
    bench.program(0x10, {0x3C});
    EXPECT_EQ(bench.read(0x10, 1)[0], 0x30);
    bench.program(0x2FE, {0x01, 0x02, 0x03, 0x04});
    EXPECT_EQ(bench.read(0x2FE, 2), (Bytes{0x01, 0x02}));
    EXPECT_EQ(bench.read(0x200, 2), (Bytes{0x03, 0x04}));
    EXPECT_EQ(bench.read(0x300, 1)[0], 0xFF);
}

TEST(SpiFlashProgram, KeepsTheLastPageOfDataWhenMoreIsSent)
{
    Bench bench;
    Bytes data(258, 0xAA);
    data[256] = 0x01;
    data[257] = 0x02;
    bench.program(0x400, data);
    EXPECT_EQ(bench.read(0x400, 3), (Bytes{0x01, 0x02, 0xAA}));
    EXPECT_EQ(bench.flash.stats().programmedBytes, 256u);
}

TEST(SpiFlashProgram, StaysBusyForThePageTimeAndIgnoresCommandsMeanwhile)
{
    Bench bench;
    const auto micros = bench.flash.part().pageProgramMicros;
    bench.run({0x06});
    bench.run(bench.withAddress(0x02, 0, {0x00}));
    bench.clock.advance(micros - 1);
    EXPECT_EQ(bench.run({0x05, 0, 0}), (Bytes{0xFF, 0x03, 0x03}));  // busy, latch shown until done
    EXPECT_EQ(bench.read(0, 1)[0], 0xFF);                         // a read while busy gets nothing
    bench.run({0x06});
    bench.clock.advance(1);
    EXPECT_EQ(bench.flash.status(), 0x00);
    EXPECT_EQ(bench.read(0, 1)[0], 0x00);
}

// ---- Erase ----

TEST(SpiFlashErase, SectorBlockAndChipEraseTheirAlignedRegionsForTheirTimes)
{
    Bench bench;
    std::fill(bench.flash.array().begin(), bench.flash.array().end(), 0x00);
    const FlashPart& part = bench.flash.part();
    struct Case {
        std::uint8_t opcode;
        std::uint32_t address, first, bytes, micros;
    };
    for (const Case& c : {Case{0x20, 0x3F123, 0x3F000, 0x1000, part.sectorEraseMicros},
                          Case{0xD8, 0x20010, 0x20000, 0x10000, part.block64EraseMicros},
                          Case{0xC7, 0, 0, part.sizeBytes, part.chipEraseMicros}}) {
        bench.run({0x06});
        bench.run(c.opcode == 0xC7 ? Bytes{0xC7} : bench.withAddress(c.opcode, c.address));
        bench.clock.advance(c.micros - 1);
        EXPECT_TRUE(bench.flash.busy()) << int(c.opcode);
        bench.clock.advance(1);
        EXPECT_FALSE(bench.flash.busy());
        const auto& a = bench.flash.array();
        EXPECT_EQ(std::count(a.begin() + c.first, a.begin() + c.first + c.bytes, 0xFF), std::ptrdiff_t(c.bytes));
        if (c.first > 0) {
            EXPECT_EQ(a[c.first - 1], 0x00);
        }
        if (c.first + c.bytes < part.sizeBytes) {
            EXPECT_EQ(a[c.first + c.bytes], 0x00);
        }
    }
    EXPECT_EQ(bench.flash.stats().erases, 3u);
}

TEST(SpiFlashErase, BlockSizesFollowThePart)
{
    auto erasedBytes = [](const char* name, std::uint8_t opcode) {
        Bench bench(name);
        std::fill(bench.flash.array().begin(), bench.flash.array().end(), 0x00);
        bench.run({0x50});  // SST parts power up protected
        bench.run({0x01, 0x00});
        bench.erase(opcode, 0x8000);
        const auto& a = bench.flash.array();
        return std::count(a.begin(), a.end(), 0xFF);
    };
    EXPECT_EQ(erasedBytes("Pm25LV010A", 0xD8), 0x8000);
    EXPECT_EQ(erasedBytes("Pm25LV020", 0xD8), 0x10000);
    EXPECT_EQ(erasedBytes("Pm25LV040", 0xD7), 0x1000);
    EXPECT_EQ(erasedBytes("SST25VF020B", 0x52), 0x8000);
    EXPECT_EQ(erasedBytes("SST25LF020A", 0xD8), 0);
    EXPECT_EQ(erasedBytes("W25X40A", 0x52), 0);
}

// ---- Status register and protection ----

TEST(SpiFlashProtect, ProtectBitsBlockProgramAndEraseUntilCleared)
{
    Bench bench;
    bench.writeStatus(0xFC);
    EXPECT_EQ(bench.flash.status(), 0x9C);  // only the protect bits and the write-disable bit stick
    bench.program(0, {0x00});
    bench.erase(0xC7, 0);
    bench.flash.array()[0x1000] = 0x00;
    bench.erase(0x20, 0x1000);
    EXPECT_EQ(bench.read(0, 1)[0], 0xFF);
    EXPECT_EQ(bench.flash.array()[0x1000], 0x00);
    EXPECT_EQ(bench.flash.stats().ignoredWrites, 3u);
    EXPECT_FALSE(bench.flash.writeEnabled());  // a refused write drops the latch too
    bench.writeStatus(0x02);
    EXPECT_EQ(bench.flash.status(), 0x00);
    bench.program(0, {0x00});
    EXPECT_EQ(bench.read(0, 1)[0], 0x00);
}

TEST(SpiFlashProtect, StatusWriteNeedsTheLatch)
{
    Bench bench;
    bench.run({0x01, 0x1C});
    EXPECT_EQ(bench.flash.status(), 0x00);
}

TEST(SpiFlashProtect, WriteProtectPinHoldsTheProtectBitsAndIgnoresStatusWrites)
{
    BoardConfig board;
    board.writeProtect = true;
    Bench bench("W25X40A", board);
    EXPECT_EQ(bench.flash.status(), 0x9C);
    bench.writeStatus(0x00);
    EXPECT_EQ(bench.flash.status(), 0x9C);
    bench.program(0, {0x00});
    EXPECT_EQ(bench.read(0, 1)[0], 0xFF);
}

TEST(SpiFlashProtect, EngineUnprotectSequencesWorkOnMagicOpcodeAndAmicParts)
{
    Bench mxic("MX25L2026");
    mxic.writeStatus(0xFC);
    mxic.writeStatus(0x02);
    for (std::uint8_t magic : {0xC3, 0xA5, 0xC3, 0xA5})
        mxic.run({magic});
    mxic.writeStatus(0x02);
    EXPECT_EQ(mxic.flash.status(), 0x00);

    Bench amic("A25L020");  // protect: WREN, two three-byte commands, then the status write
    amic.run({0x06});
    amic.run({0x90, 0x00, 0x28, 0x00});
    amic.run({0x3B, 0x00, 0x28, 0x40});
    amic.run({0x01, 0xFF});
    amic.settle();
    EXPECT_EQ(amic.flash.status(), 0x9C);
}

// ---- SST parts ----

TEST(SpiFlashSst, PowersUpProtectedAndTakesStatusWritesOnlyRightAfterEwsr)
{
    Bench lf("SST25LF040A");
    EXPECT_EQ(lf.flash.status(), 0x0C);
    lf.writeStatus(0x00);  // WREN does not arm the status write on this part
    EXPECT_EQ(lf.flash.status() & 0x0C, 0x0C);
    lf.run({0x50});
    lf.run({0x06});
    lf.run({0x01, 0x00});
    EXPECT_EQ(lf.flash.status() & 0x0C, 0x0C);
    lf.run({0x50});
    lf.run({0x05, 0});
    lf.run({0x01, 0x00});
    EXPECT_EQ(lf.flash.status(), 0x00);

    Bench vf("SST25VF020B");
    vf.writeStatus(0x00);
    EXPECT_EQ(vf.flash.status(), 0x00);
}

TEST(SpiFlashSst, ByteProgramWritesOneByteForTheByteTime)
{
    Bench bench("SST25VF020B");
    bench.writeStatus(0x00);
    bench.run({0x06});
    bench.run(bench.withAddress(0x02, 0x100, {0x12, 0x34}));
    EXPECT_TRUE(bench.flash.busy());
    bench.clock.advance(bench.flash.part().byteProgramMicros);
    EXPECT_FALSE(bench.flash.busy());
    EXPECT_EQ(bench.read(0x100, 2), (Bytes{0x12, 0xFF}));
}

TEST(SpiFlashSst, AutoIncrementProgramsConsecutiveBytesUntilWrdi)
{
    Bench bench("SST25LF020A");
    bench.run({0x50});
    bench.run({0x01, 0x00});
    bench.run({0x06});
    bench.run(bench.withAddress(0xAF, 0x200, {0x11}));
    bench.clock.advance(20);
    bench.run({0xAF, 0x22});
    bench.run({0xAF, 0x33});  // still busy with 0x22: lost
    bench.clock.advance(20);
    EXPECT_EQ(bench.flash.status(), 0x42);  // in AAI mode, latch held
    bench.run(bench.withAddress(0x03, 0x200, {0}));  // other commands wait for WRDI
    bench.run({0xAF, 0x44});
    bench.clock.advance(20);
    bench.run({0x04});
    EXPECT_EQ(bench.flash.status(), 0x00);
    EXPECT_EQ(bench.read(0x200, 4), (Bytes{0x11, 0x22, 0x44, 0xFF}));

    Bench word("SST25VF020B");
    word.writeStatus(0x00);
    word.run({0x06});
    word.run(word.withAddress(0xAD, 0x301, {0x01, 0x02}));  // word aligned
    word.clock.advance(20);
    word.run({0xAD, 0x03, 0x04});
    word.clock.advance(20);
    word.run({0x04});
    EXPECT_EQ(word.read(0x300, 5), (Bytes{0x01, 0x02, 0x03, 0x04, 0xFF}));
}

// ---- Board faults ----

TEST(SpiFlashFaults, StuckBusyNeverFinishesProgramOrErase)
{
    BoardConfig board;
    board.faults.stuckBusy = true;
    Bench bench("W25X40A", board);
    bench.writeStatus(0x00);
    EXPECT_FALSE(bench.flash.busy());  // status writes still finish
    bench.program(0, {0x00});
    bench.clock.advance(3'600'000'000ull);
    EXPECT_EQ(bench.run({0x05, 0})[1] & 0x01, 0x01);
}

TEST(SpiFlashFaults, BadByteIsStoredWronglyWheneverProgrammed)
{
    BoardConfig board;
    board.faults.badByte = 0x3F001;
    Bench bench("W25X40A", board);
    bench.program(0x3F000, {0x5A, 0x5A, 0x5A});
    EXPECT_EQ(bench.read(0x3F000, 3), (Bytes{0x5A, 0x5B, 0x5A}));
    bench.erase(0x20, 0x3F000);
    EXPECT_EQ(bench.read(0x3F001, 1)[0], 0xFF);
    bench.program(0x3F001, {0xFF});
    EXPECT_EQ(bench.read(0x3F001, 1)[0], 0xFE);
}

}  // namespace
}  // namespace mvx::sim
