#include "operation_mcu.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bus_adapter.hpp"
#include "crc.hpp"
#include "mcu_ops.hpp"
#include "mvx/sim/board.hpp"
#include "mvx/sim/mcu.hpp"
#include "temp_folder.hpp"

namespace mvx::engine {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::size_t kBank = 0x10000;
constexpr std::size_t kLastBank = 0x8000;

Bytes pattern(std::size_t size, std::uint32_t seed)
{
    Bytes bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

std::string hexFile(const Bytes& data)
{
    std::string text;
    char field[32];
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, data.size() - at);
        unsigned sum = static_cast<unsigned>(count) + ((at >> 8) & 0xFFu) + (at & 0xFFu);
        std::snprintf(field, sizeof field, ":%02X%04X00", static_cast<unsigned>(count), static_cast<unsigned>(at));
        text += field;
        for (std::size_t i = 0; i < count; ++i) {
            std::snprintf(field, sizeof field, "%02X", data[at + i]);
            text += field;
            sum += data[at + i];
        }
        std::snprintf(field, sizeof field, "%02X\n", (0x100u - (sum & 0xFFu)) & 0xFFu);
        text += field;
    }
    return text + ":00000001FF\n";
}

// `expected` followed by 0xFF up to `size` bytes.
Bytes padded(const Bytes& expected, std::size_t size)
{
    Bytes bytes(size, 0xFF);
    std::copy_n(expected.begin(), std::min(size, expected.size()), bytes.begin());
    return bytes;
}

Bytes slice(const Bytes& memory, std::size_t offset, std::size_t size)
{
    return Bytes(memory.begin() + static_cast<std::ptrdiff_t>(offset),
                 memory.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

struct Message {
    int code;
    int sub;
    std::intptr_t value;
    bool operator==(const Message&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Message& m)
{
    return out << "(" << m.code << ", " << m.sub << ", " << m.value << ")";
}

// Passes everything to the plain test transport; subclasses change one step.
class ForwardingAdapter : public adapters::AdapterOps {
public:
    explicit ForwardingAdapter(sim::I2cBus& bus) : bus_(bus), inner_(bus) {}
    int write(std::uint8_t a, std::uint8_t s, const std::uint8_t* d, int n, adapters::PassThrough p) override
    {
        return inner_.write(a, s, d, n, p);
    }
    int read(std::uint8_t a, std::uint8_t s, std::uint8_t* b, int n, adapters::PassThrough p) override
    {
        return inner_.read(a, s, b, n, p);
    }
    int writeBlock(const std::uint8_t* b, int n, std::uint8_t a, std::uint8_t s, std::uint16_t o) override
    {
        return inner_.writeBlock(b, n, a, s, o);
    }
    int probeTarget() override { return MVX_OK; }

protected:
    sim::I2cBus& bus_;
    test::BusAdapter inner_;
};

// Like the USB bridge: a block goes out after its place, the offset written
// to the given sub-address of the given slave.
class BridgeLikeAdapter final : public ForwardingAdapter {
public:
    using ForwardingAdapter::ForwardingAdapter;
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t sub,
                   std::uint16_t offset) override
    {
        calls.push_back({length, secondary, sub, offset});
        const std::uint8_t place[] = {static_cast<std::uint8_t>(offset >> 8), static_cast<std::uint8_t>(offset)};
        bus_.writeRegister(secondary, sub, place);
        bus_.writeFrame(std::span(block, static_cast<std::size_t>(length)));
        return MVX_OK;
    }

    struct Call {
        int length;
        std::uint8_t secondary;
        std::uint8_t sub;
        std::uint16_t offset;
    };
    std::vector<Call> calls;
};

// Reads of the CRC unit's control register always show it busy.
class BusyUnitAdapter final : public ForwardingAdapter {
public:
    using ForwardingAdapter::ForwardingAdapter;
    int read(std::uint8_t a, std::uint8_t s, std::uint8_t* b, int n, adapters::PassThrough p) override
    {
        const int rc = ForwardingAdapter::read(a, s, b, n, p);
        if (s == 0xA2 && b != nullptr)
            b[0] = 0x80;
        return rc;
    }
};

struct RunArgs {
    int eraseOnly = 0;
    int verifyByChecksum = 0;
    int eraseMode = 0;
    int eraseLength = 32;
    int adapterKind = MVX_ADAPTER_NORVANE_IIC;   // raw frames, like the test transport
    int libraryMode = 0;
};

class McuOperation : public ::testing::Test {
protected:
    void makeBoard(sim::BoardTarget target, const std::function<void(sim::BoardConfig&)>& tweak = {})
    {
        sim::BoardConfig config;
        config.target = target;
        if (tweak)
            tweak(config);
        std::string error;
        board_ = sim::Board::create(config, &error);
        ASSERT_TRUE(board_) << error;
        adapter_ = std::make_unique<test::BusAdapter>(board_->bus());
    }

    Bytes& mcuFlash() { return board_->mcu()->flash(); }

    void useFile(int bank, int format, const std::string& name, const std::string& content)
    {
        const std::string path = folder_.file(name);
        test::writeWholeFile(path, content);
        FileTableEntry& entry = table_[static_cast<std::size_t>(bank)];
        entry.inUse = 1;
        entry.format = format;
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
    }
    void useBinary(int bank, const Bytes& data)
    {
        useFile(bank, MVX_FORMAT_BINARY, "bank" + std::to_string(bank) + ".bin", std::string(data.begin(), data.end()));
    }
    void useHex(int bank, const Bytes& data)
    {
        useFile(bank, MVX_FORMAT_HEX, "bank" + std::to_string(bank) + ".hex", hexFile(data));
    }

    int run(int operation, const RunArgs& args = {}, std::uint8_t primary = 0x94)
    {
        ctx_ = std::make_unique<IspContext>();
        IspContext& ctx = *ctx_;
        ctx.operation = operation;
        ctx.adapterKind = args.adapterKind;
        ctx.libraryMode = args.libraryMode;
        ctx.eraseOnly = args.eraseOnly;
        ctx.verifyByChecksum = args.verifyByChecksum;
        ctx.eraseMode = args.eraseMode;
        ctx.eraseLength = args.eraseLength;
        ctx.fileTable = table_.data();
        ctx.progress.setWindow(&window_);
        ctx.plan = ProgressPlan::forRun(args.eraseOnly, args.eraseMode);
        ctx.clock = &board_->clock();
        ctx.primarySlave = primary;
        ctx.secondarySlave = static_cast<std::uint8_t>(primary + 2);
        ctx.link.emplace(*adapter_, board_->clock(), ctx.primarySlave, ctx.secondarySlave);
        return runMcu(ctx);
    }

    // The messages other than the progress percentages (codes 0, 2 and 13).
    std::vector<Message> results() const
    {
        std::vector<Message> kept;
        for (const Message& m : messages_)
            if (m.code != MVX_MSG_PAGE_ERASE_PERCENT && m.code != MVX_MSG_PROGRAM_PERCENT &&
                m.code != MVX_MSG_OVERALL_PERCENT)
                kept.push_back(m);
        return kept;
    }
    std::vector<Message> withCode(int code) const
    {
        std::vector<Message> kept;
        for (const Message& m : messages_)
            if (m.code == code)
                kept.push_back(m);
        return kept;
    }
    std::vector<std::intptr_t> overall() const
    {
        std::vector<std::intptr_t> values;
        for (const Message& m : withCode(MVX_MSG_OVERALL_PERCENT))
            values.push_back(m.value);
        return values;
    }

    static std::intptr_t record(void* self, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
    {
        auto* test = static_cast<McuOperation*>(self);
        EXPECT_EQ(message, static_cast<std::uint32_t>(WM_ISP_PROGRESS));
        test->messages_.push_back({MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), lParam});
        return 0;
    }

    test::TempFolder folder_;
    std::unique_ptr<sim::Board> board_;
    std::unique_ptr<adapters::AdapterOps> adapter_;
    std::unique_ptr<IspContext> ctx_;
    std::vector<FileTableEntry> table_ = std::vector<FileTableEntry>(MVX_FILE_TABLE_SIZE);
    std::vector<Message> messages_;
    MvxWindow window_{this, &McuOperation::record, nullptr};
};

// ---- programming from firmware files ----

TEST_F(McuOperation, Programs5310BanksFromBinaryFiles)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes bank0 = pattern(kBank, 1);
    const Bytes bank1 = pattern(20000, 2);
    useBinary(0, bank0);
    useBinary(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5310), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), bank0);
    EXPECT_EQ(slice(mcuFlash(), kBank, kLastBank), padded(bank1, kLastBank));
    EXPECT_FALSE(board_->mcu()->inIspMode());
}

TEST_F(McuOperation, Programs5312BanksFromHexFiles)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    const Bytes bank0 = pattern(kBank, 3);
    const Bytes bank1 = pattern(kBank - 1000, 4);
    const Bytes bank2 = pattern(30000, 5);
    useHex(0, bank0);
    useHex(1, bank1);
    useHex(2, bank2);

    ASSERT_EQ(run(MVX_OP_MCU_5312), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), bank0);
    EXPECT_EQ(slice(mcuFlash(), kBank, kBank), padded(bank1, kBank));
    EXPECT_EQ(slice(mcuFlash(), 2 * kBank, kLastBank), padded(bank2, kLastBank));
}

TEST_F(McuOperation, Programs5312FromOneWholeDeviceBinary)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    const Bytes device = pattern(2 * kBank + kLastBank, 6);
    for (int bank = 0; bank < 3; ++bank)
        useFile(bank, MVX_FORMAT_WHOLE_DEVICE, "device.bin", std::string(device.begin(), device.end()));

    ASSERT_EQ(run(MVX_OP_MCU_5312), MVX_OK);
    EXPECT_EQ(mcuFlash(), device);
}

TEST_F(McuOperation, Programs5310FromOneWholeDeviceBinaryVerifiedByChecksum)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes device = pattern(kBank + kLastBank, 7);
    for (int bank = 0; bank < 2; ++bank)
        useFile(bank, MVX_FORMAT_WHOLE_DEVICE, "device.bin", std::string(device.begin(), device.end()));

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.verifyByChecksum = 1}), MVX_OK);
    EXPECT_EQ(mcuFlash(), device);
}

TEST_F(McuOperation, ProgramsOnlyTheBanksInUse)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    const Bytes bank1 = pattern(kBank, 8);
    useBinary(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5312), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), kBank, kBank), bank1);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), Bytes(kBank, 0xFF));
    EXPECT_EQ(board_->mcu()->stats().programmedBytes, kBank);
    // The one bank owns the whole program window 21..95 %.
    const auto percent = overall();
    EXPECT_EQ(percent[2], 21);
    EXPECT_EQ(percent[percent.size() - 2], 21 + 74 * 99 / 100);
    EXPECT_EQ(withCode(MVX_MSG_CRC_MATCH), (std::vector<Message>{{5, 1, 1}}));
}

// ---- page paths ----

TEST_F(McuOperation, LibraryModeSendsPagesToTheDataPortWithProgressEveryTenthPage)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    const Bytes bank0 = pattern(kBank, 9);
    useBinary(0, bank0);

    ASSERT_EQ(run(MVX_OP_MCU_5312, {.adapterKind = MVX_ADAPTER_NORVANE_IIC, .libraryMode = 1}), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), bank0);
    EXPECT_EQ(static_cast<test::BusAdapter&>(*adapter_).blocks, 0);
    const auto program = withCode(MVX_MSG_PROGRAM_PERCENT);
    ASSERT_EQ(program.size(), 27u);   // pages 0, 10, ..., 250, then 100
    EXPECT_EQ(program[1], (Message{2, 0, 10 * 100 / 256}));
    EXPECT_EQ(program.back(), (Message{2, 0, 100}));
}

TEST_F(McuOperation, BridgeSendsEachBlockWithItsPageOffset)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    auto bridge = std::make_unique<BridgeLikeAdapter>(board_->bus());
    BridgeLikeAdapter& calls = *bridge;
    adapter_ = std::move(bridge);
    const Bytes bank1 = pattern(600, 10);
    useBinary(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.eraseMode = 1, .eraseLength = -1, .adapterKind = MVX_ADAPTER_NORVANE_USB}),
              MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), kBank, kLastBank), padded(bank1, kLastBank));
    ASSERT_EQ(calls.calls.size(), 3u);   // 600 bytes: three pages
    for (std::size_t i = 0; i < calls.calls.size(); ++i) {
        EXPECT_EQ(calls.calls[i].length, 258);
        EXPECT_EQ(calls.calls[i].secondary, 0x96);
        EXPECT_EQ(calls.calls[i].sub, 0x92);
        EXPECT_EQ(calls.calls[i].offset, i * 256);
    }
}

TEST_F(McuOperation, RawFramesSendPageAddressThenBlockForEveryPage)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes bank1 = pattern(300, 11);
    useBinary(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.eraseMode = 1, .eraseLength = -1}), MVX_OK);
    // 300 bytes are two pages, each an address frame and a block.
    EXPECT_EQ(static_cast<test::BusAdapter&>(*adapter_).blocks, 4);
    EXPECT_EQ(slice(mcuFlash(), kBank, kLastBank), padded(bank1, kLastBank));
    EXPECT_EQ(withCode(MVX_MSG_CRC_IMAGE), (std::vector<Message>{{3, 1, crc8Smbus(bank1)}}));
}

TEST_F(McuOperation, BlocksTargetTheDataPortAtOtherSlaveAddresses)
{
    makeBoard(sim::BoardTarget::Mcu5312, [](sim::BoardConfig& c) { c.scalerAddress = 0x98; });
    const Bytes bank0 = pattern(kBank, 12);
    useBinary(0, bank0);

    ASSERT_EQ(run(MVX_OP_MCU_5312, {}, 0x98), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), bank0);
}

TEST_F(McuOperation, FtdiAdapterErasesLeavesAndEntersAgainBeforeTheRun)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes bank0 = pattern(kBank, 13);
    useBinary(0, bank0);

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.adapterKind = MVX_ADAPTER_FTDI_USB, .libraryMode = 1}), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), bank0);
    // Two resets to leave ISP mode early, two at the end.
    EXPECT_EQ(board_->mcu()->stats().resets, 4u);
    // The early erase reaches a still locked flash; the chip refuses it.
    EXPECT_EQ(board_->mcu()->stats().massErases, 1u);
}

// ---- verification ----

TEST_F(McuOperation, Op0ChecksumModeComparesBootChecksumsBank1ThenBank0)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes bank0 = pattern(kBank, 14);
    const Bytes bank1 = pattern(kLastBank, 15);
    useBinary(0, bank0);
    useHex(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.verifyByChecksum = 1}), MVX_OK);
    const int sum0 = byteChecksum(bank0);
    const int sum1 = byteChecksum(bank1);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 2},
                                               {12, 0, 0},
                                               {6, 1, sum1},
                                               {7, 1, sum1},
                                               {8, 1, 1},
                                               {6, 0, sum0},
                                               {7, 0, sum0},
                                               {8, 0, 1},
                                               {9, 0, 0}}));
}

TEST_F(McuOperation, Op0ChecksumMismatchReturns21)
{
    makeBoard(sim::BoardTarget::Mcu5310, [](sim::BoardConfig& c) { c.ini.set("board", "mcu_reset", "clear"); });
    const Bytes bank0 = pattern(kBank, 16);
    useBinary(0, bank0);

    EXPECT_EQ(run(MVX_OP_MCU_5310, {.verifyByChecksum = 1}), MVX_ERR_CHECKSUM_MISMATCH);
    EXPECT_EQ(withCode(MVX_MSG_CHECKSUM_MATCH), (std::vector<Message>{{8, 0, 0}}));
    EXPECT_EQ(withCode(MVX_MSG_CHECKSUM_DEVICE), (std::vector<Message>{{7, 0, 0}}));
    EXPECT_TRUE(withCode(MVX_MSG_RUN_PASSED).empty());
}

TEST_F(McuOperation, CrcMismatchOnceReturns20AndLeavesIspMode)
{
    makeBoard(sim::BoardTarget::Mcu5310, [](sim::BoardConfig& c) { c.faults.crcMismatchOnce = true; });
    useBinary(0, pattern(kBank, 17));
    useBinary(1, pattern(kLastBank, 18));

    EXPECT_EQ(run(MVX_OP_MCU_5310), MVX_ERR_CRC_MISMATCH);
    // Bank 1 goes first and fails; bank 0 is never programmed.
    EXPECT_EQ(withCode(MVX_MSG_CRC_MATCH), (std::vector<Message>{{5, 1, 0}}));
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), Bytes(kBank, 0xFF));
    EXPECT_FALSE(board_->mcu()->inIspMode());
}

TEST_F(McuOperation, Op1CrcMismatchReturns20BeforeTheChecksum)
{
    makeBoard(sim::BoardTarget::Mcu5312, [](sim::BoardConfig& c) { c.faults.crcMismatchOnce = true; });
    useBinary(2, pattern(kLastBank, 19));

    EXPECT_EQ(run(MVX_OP_MCU_5312), MVX_ERR_CRC_MISMATCH);
    EXPECT_EQ(withCode(MVX_MSG_CRC_MATCH), (std::vector<Message>{{5, 2, 0}}));
    EXPECT_TRUE(withCode(MVX_MSG_CHECKSUM_IMAGE).empty());
}

TEST_F(McuOperation, CrcUnitThatNeverFinishesFailsEvenWhenItsFallbackEqualsTheImageCrc)
{
    // A zero bank has CRC-8 0, the value the 5310 reports on a time-out.
    makeBoard(sim::BoardTarget::Mcu5310);
    adapter_ = std::make_unique<BusyUnitAdapter>(board_->bus());
    useBinary(0, Bytes(kBank, 0x00));

    EXPECT_EQ(run(MVX_OP_MCU_5310), MVX_ERR_CRC_MISMATCH);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 2}, {3, 0, 0}, {4, 0, 0}, {5, 0, 0}}));
}

TEST_F(McuOperation, Op1SendsEveryMessageOfARunInOrder)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    const Bytes bank0 = pattern(kBank, 20);
    const Bytes bank1 = pattern(kBank, 21);
    const Bytes bank2 = pattern(kLastBank, 22);
    useBinary(0, bank0);
    useBinary(1, bank1);
    useBinary(2, bank2);

    ASSERT_EQ(run(MVX_OP_MCU_5312), MVX_OK);
    std::vector<Message> expected{{1, 0, 2}};
    for (int b = 2; b >= 0; --b) {
        const Bytes& data = b == 0 ? bank0 : b == 1 ? bank1 : bank2;
        const int crc = crc16Xmodem(data);
        const int sum = wordChecksum(data);
        expected.insert(expected.end(),
                        {{3, b, crc}, {4, b, crc}, {5, b, 1}, {6, b, sum}, {7, b, sum}, {8, b, 1}, {12, 0, 0}});
    }
    expected.push_back({9, 0, 0});
    EXPECT_EQ(results(), expected);

    // Program percentages: bank 2 (128 pages) page by page, then 100.
    const auto program = withCode(MVX_MSG_PROGRAM_PERCENT);
    ASSERT_EQ(program.size(), 129u + 2 * 257u);
    EXPECT_EQ(program[1], (Message{2, 2, 100 / 128}));
    EXPECT_EQ(program[128], (Message{2, 2, 100}));

    // Overall: 5 % after entering, erase end 20 %, rising through the bank
    // windows 21..45, 45..69, 69..93, then 100 %.
    const auto percent = overall();
    ASSERT_GE(percent.size(), 4u);
    EXPECT_EQ(percent[0], 5);
    EXPECT_EQ(percent[1], 20);
    EXPECT_EQ(percent[2], 21);
    EXPECT_TRUE(std::is_sorted(percent.begin(), percent.end()));
    EXPECT_EQ(percent[percent.size() - 2], 92);   // last page of bank 0: 69 + 24 * 255 / 256
    EXPECT_EQ(percent.back(), 100);
}

TEST_F(McuOperation, Op0CrcRunSendsItsMessagesInOrder)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    const Bytes bank0 = pattern(kBank, 23);
    const Bytes bank1 = pattern(kLastBank, 24);
    useBinary(0, bank0);
    useBinary(1, bank1);

    ASSERT_EQ(run(MVX_OP_MCU_5310), MVX_OK);
    const int crc0 = crc8Smbus(bank0);
    const int crc1 = crc8Smbus(bank1);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 2},
                                               {3, 1, crc1},
                                               {4, 1, crc1},
                                               {5, 1, 1},
                                               {3, 0, crc0},
                                               {4, 0, crc0},
                                               {5, 0, 1},
                                               {12, 0, 0},
                                               {9, 0, 0}}));
}

// ---- erase ----

TEST_F(McuOperation, Op0PageEraseClearsBank0AndTheErasedKilobytesOfBank1)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    std::fill(mcuFlash().begin(), mcuFlash().end(), 0x00);
    const Bytes bank1 = pattern(4500, 25);
    useBinary(1, bank1);

    // 5,000 bytes: five 1 KB pages of bank 1.
    ASSERT_EQ(run(MVX_OP_MCU_5310, {.eraseMode = 1, .eraseLength = 5000}), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, kBank), Bytes(kBank, 0xFF));
    EXPECT_EQ(slice(mcuFlash(), kBank, 5 * 1024), padded(bank1, 5 * 1024));
    EXPECT_EQ(slice(mcuFlash(), kBank + 5 * 1024, kLastBank - 5 * 1024), Bytes(kLastBank - 5 * 1024, 0x00));
    EXPECT_EQ(board_->mcu()->stats().pageErases, 69u);

    const auto erase = withCode(MVX_MSG_PAGE_ERASE_PERCENT);
    ASSERT_EQ(erase.size(), 70u);
    EXPECT_EQ(erase[68], (Message{0, 1, 68 * 100 / 69}));
    EXPECT_EQ(erase.back(), (Message{0, 0, 100}));
    // Page erase OK, then the partial erase's end of 35 %.
    const auto outcome = std::find(messages_.begin(), messages_.end(), Message{1, 0, 5});
    ASSERT_NE(outcome, messages_.end());
    EXPECT_EQ(*(outcome + 1), (Message{13, 0, 35}));
    EXPECT_EQ(overall()[1], 6);   // the first page at erase start
}

TEST_F(McuOperation, Op1PageEraseWithoutLengthErasesAsMuchOfBank2AsTheFileHolds)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    std::fill(mcuFlash().begin(), mcuFlash().end(), 0x00);
    const Bytes bank2 = pattern(3000, 26);
    useHex(2, bank2);

    // The file's 3,000 bytes are programmed and verified, CRC and checksum alike.
    ASSERT_EQ(run(MVX_OP_MCU_5312, {.eraseMode = 1, .eraseLength = -1}), MVX_OK);
    EXPECT_EQ(slice(mcuFlash(), 0, 2 * kBank), Bytes(2 * kBank, 0xFF));
    EXPECT_EQ(slice(mcuFlash(), 2 * kBank, 3 * 1024), padded(bank2, 3 * 1024));
    EXPECT_EQ(slice(mcuFlash(), 2 * kBank + 3 * 1024, kLastBank - 3 * 1024), Bytes(kLastBank - 3 * 1024, 0x00));
    EXPECT_EQ(board_->mcu()->stats().pageErases, 131u);

    const auto erase = withCode(MVX_MSG_PAGE_ERASE_PERCENT);
    ASSERT_EQ(erase.size(), 132u);
    EXPECT_EQ(erase[0], (Message{0, 0, 0}));
    EXPECT_EQ(erase[64], (Message{0, 1, 64 * 100 / 131}));
    EXPECT_EQ(erase[130], (Message{0, 2, 130 * 100 / 131}));
    EXPECT_EQ(erase.back(), (Message{0, 2, 100}));
    EXPECT_EQ(withCode(MVX_MSG_CHECKSUM_MATCH), (std::vector<Message>{{8, 2, 1}}));
}

TEST_F(McuOperation, LastBankLongerThanTheEraseLengthIsRefusedBeforeTouchingTheChip)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    useBinary(0, pattern(kBank, 27));
    useBinary(1, pattern(24000, 28));

    EXPECT_EQ(run(MVX_OP_MCU_5310, {.eraseMode = 1, .eraseLength = 20480}), MVX_ERR_ERASE_LENGTH);
    EXPECT_EQ(messages_, (std::vector<Message>{{10, 1, 0}}));
    EXPECT_EQ(static_cast<test::BusAdapter&>(*adapter_).writes, 0);
}

TEST_F(McuOperation, EraseOnlyMassErasesAndLeavesIspMode)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    std::fill(mcuFlash().begin(), mcuFlash().end(), 0x00);
    useBinary(0, pattern(kBank, 29));

    ASSERT_EQ(run(MVX_OP_MCU_5312, {.eraseOnly = 1}), MVX_OK);
    EXPECT_EQ(mcuFlash(), Bytes(mcuFlash().size(), 0xFF));
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 2}}));
    EXPECT_EQ(overall(), (std::vector<std::intptr_t>{5, 95}));
    EXPECT_EQ(board_->mcu()->stats().programmedBytes, 0u);
    EXPECT_FALSE(board_->mcu()->inIspMode());
}

TEST_F(McuOperation, EraseOnlyWithBothEntriesUnusedErasesAndReports)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    std::fill(mcuFlash().begin(), mcuFlash().end(), 0x5A);

    ASSERT_EQ(run(MVX_OP_MCU_5310, {.eraseOnly = 1}), MVX_OK);
    EXPECT_EQ(mcuFlash(), Bytes(mcuFlash().size(), 0xFF));
    EXPECT_EQ(messages_, (std::vector<Message>{{13, 0, 5}, {1, 0, 2}, {13, 0, 95}}));
}

TEST_F(McuOperation, EraseOnlyPageEraseWithoutFilesStaysWithinTheLastBank)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    std::fill(mcuFlash().begin(), mcuFlash().end(), 0x00);

    // No file settles the length: a huge one is held to the last bank's 32 KB.
    ASSERT_EQ(run(MVX_OP_MCU_5310, {.eraseOnly = 1, .eraseMode = 1, .eraseLength = 0x7FFFFFFF}), MVX_OK);
    EXPECT_EQ(mcuFlash(), Bytes(mcuFlash().size(), 0xFF));
    EXPECT_EQ(board_->mcu()->stats().pageErases, 96u);
    EXPECT_EQ(board_->mcu()->stats().refused, 0u);
}

// ---- failures ----

TEST_F(McuOperation, StuckMassEraseReturns18AndLeavesIspMode)
{
    makeBoard(sim::BoardTarget::Mcu5310, [](sim::BoardConfig& c) { c.faults.stuckBusy = true; });
    useBinary(0, pattern(kBank, 30));

    EXPECT_EQ(run(MVX_OP_MCU_5310), MVX_ERR_TIMEOUT);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 3}}));
    EXPECT_FALSE(board_->mcu()->inIspMode());
    EXPECT_EQ(board_->mcu()->stats().programmedBytes, 0u);
}

TEST_F(McuOperation, StuckPageEraseReturns18WithPageEraseFailed)
{
    makeBoard(sim::BoardTarget::Mcu5312, [](sim::BoardConfig& c) { c.faults.stuckBusy = true; });

    EXPECT_EQ(run(MVX_OP_MCU_5312, {.eraseMode = 1}), MVX_ERR_TIMEOUT);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 4}}));
    EXPECT_EQ(board_->mcu()->stats().pageErases, 1u);
}

TEST_F(McuOperation, DeadLinkReturns13WithoutMessages)
{
    makeBoard(sim::BoardTarget::Mcu5310, [](sim::BoardConfig& c) { c.linkDead = true; });
    useBinary(0, pattern(kBank, 31));

    EXPECT_EQ(run(MVX_OP_MCU_5310), MVX_ERR_ISP_MODE);
    EXPECT_TRUE(messages_.empty());
    EXPECT_EQ(mcuFlash(), Bytes(mcuFlash().size(), 0xFF));
}

TEST_F(McuOperation, MissingFileSendsCode10AndTouchesNothing)
{
    makeBoard(sim::BoardTarget::Mcu5312);
    useBinary(0, pattern(kBank, 33));
    FileTableEntry& entry = table_[1];
    entry.inUse = 1;
    entry.format = MVX_FORMAT_BINARY;
    std::snprintf(entry.path, sizeof entry.path, "%s", folder_.file("missing.bin").c_str());

    EXPECT_EQ(run(MVX_OP_MCU_5312), MVX_ERR_FILE);
    EXPECT_EQ(messages_, (std::vector<Message>{{10, 1, 0}}));
    EXPECT_EQ(static_cast<test::BusAdapter&>(*adapter_).writes, 0);
}

TEST_F(McuOperation, FileThatVanishesBeforeProgrammingLeavesIspModeWithCode10)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    useBinary(0, pattern(kBank, 34));
    // In use but not 1: programmed, but not checked before the run.
    FileTableEntry& entry = table_[1];
    entry.inUse = 2;
    entry.format = MVX_FORMAT_BINARY;
    std::snprintf(entry.path, sizeof entry.path, "%s", folder_.file("missing.bin").c_str());

    EXPECT_EQ(run(MVX_OP_MCU_5310), MVX_ERR_FILE);
    EXPECT_EQ(results(), (std::vector<Message>{{1, 0, 2}, {10, 1, 0}}));
    EXPECT_FALSE(board_->mcu()->inIspMode());
}

TEST_F(McuOperation, NoFileTableReturns10)
{
    makeBoard(sim::BoardTarget::Mcu5310);
    ctx_ = std::make_unique<IspContext>();
    ctx_->operation = MVX_OP_MCU_5310;
    ctx_->clock = &board_->clock();
    ctx_->link.emplace(*adapter_, board_->clock());
    EXPECT_EQ(runMcu(*ctx_), MVX_ERR_NO_FILE_TABLE);
}

// ---- the flash steps on their own ----

TEST_F(McuOperation, ProgramBusyBoundIsCountedOverTheBank)
{
    makeBoard(sim::BoardTarget::Mcu5310, [](sim::BoardConfig& c) { c.faults.stuckBusy = true; });
    auto& bus = static_cast<test::BusAdapter&>(*adapter_);
    Link link(bus, board_->clock());
    ProgressSink progress;
    ProgressPlan plan;
    McuFlash flash(link, McuChip::M5310, progress, plan);
    ASSERT_EQ(link.enterMcuIspTwice(false), MVX_OK);
    flash.prepare();
    ASSERT_TRUE(board_->mcu()->flashUnlocked());

    BankImage image;
    image.store(pattern(kBank, 35), 0x94, 0x94);
    const int readsBefore = bus.reads;
    EXPECT_EQ(flash.programBank(image, 0, static_cast<int>(kBank), McuPagePath::RawFrame), MVX_ERR_TIMEOUT);
    // One page went out; one status read and 200 busy re-reads followed.
    EXPECT_EQ(bus.blocks, 2);
    EXPECT_EQ(bus.reads - readsBefore, 201);
}

TEST_F(McuOperation, PreparationUnlocksTheFlashOfBothChips)
{
    for (const auto target : {sim::BoardTarget::Mcu5310, sim::BoardTarget::Mcu5312}) {
        makeBoard(target);
        Link link(*adapter_, board_->clock());
        ProgressSink progress;
        ProgressPlan plan;
        const McuChip chip = target == sim::BoardTarget::Mcu5310 ? McuChip::M5310 : McuChip::M5312;
        McuFlash flash(link, chip, progress, plan);
        ASSERT_EQ(link.enterMcuIspTwice(chip == McuChip::M5312), MVX_OK);
        EXPECT_FALSE(board_->mcu()->flashUnlocked());
        flash.prepare();
        EXPECT_TRUE(board_->mcu()->flashUnlocked());
        EXPECT_TRUE(std::equal(kMcuFlashUnlockCode.begin(), kMcuFlashUnlockCode.end(), sim::kMcuUnlockCode.begin()));
    }
}

TEST(McuPages, PageCountFollowsProgramLength)
{
    EXPECT_EQ(mcuPageCount(0), 0);
    EXPECT_EQ(mcuPageCount(1), 1);
    EXPECT_EQ(mcuPageCount(256), 1);
    EXPECT_EQ(mcuPageCount(300), 2);
    EXPECT_EQ(mcuPageCount(65536), 256);
}

TEST(McuPages, PagePathFollowsTransport)
{
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_NORVANE_USB, 0, true), McuPagePath::Bridge);
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_NORVANE_IIC, 0, true), McuPagePath::RawFrame);
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_CVT_IIC, 0, true), McuPagePath::RawFrame);
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_FTDI_USB, 0, true), McuPagePath::None);
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_FTDI_USB, 0x100, true), McuPagePath::None);   // only the low byte counts
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_FTDI_USB, 1, true), McuPagePath::Library);
    EXPECT_EQ(mcuPagePathFor(MVX_ADAPTER_NORVANE_USB, 1, false), McuPagePath::None);
}

}  // namespace
}  // namespace mvx::engine
