// The USB bridge transport: the packets it sends, what the board's bridge
// then does on the I2C bus, the read retries, opening and the descriptor walk.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "adapter_test_support.hpp"
#include "bridge/board_usb_io.hpp"
#include "bridge/bridge_ids.hpp"
#include "bridge/usb_bridge_device.hpp"
#include "bridge/usb_bridge_transport.hpp"
#include "bridge/usb_descriptors.hpp"
#include "mvx/adapters/transports.hpp"
#include "mvx/platform/registry.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvx/sim/usb_bridge.hpp"
#include "mvx/sim/virtual_clock.hpp"
#include "mvxisp.h"
#include "temp_folder.hpp"

using mvx::adapters::BoardUsbIo;
using mvx::adapters::BridgeIds;
using mvx::adapters::EndpointKind;
using mvx::adapters::UsbBridgeDevice;
using mvx::adapters::UsbBridgeTransport;
using mvx::adapters::UsbConfiguration;
using mvx::adapters::UsbIo;
using mvx::adapters::UsbStatus;
using mvx::adapters::UsbTransfer;
using mvx::sim::VirtualUsbBridge;

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes pattern(std::size_t length, std::uint8_t seed)
{
    Bytes bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(seed + i * 7);
    return bytes;
}

// A device at 0x94 and 0x96 with 256 registers behind a pointer that a
// write's first byte sets.  Every transaction is logged as its bytes, the
// address byte first.
class LoggingDevice final : public mvx::sim::I2cDevice {
public:
    std::array<std::uint8_t, 256> regs{};
    std::vector<Bytes> transactions;

    bool onStart(std::uint8_t address, bool read) override
    {
        transactions.push_back({static_cast<std::uint8_t>(address | (read ? 1 : 0))});
        expectPointer_ = !read;
        return true;
    }
    bool onWrite(std::uint8_t byte) override
    {
        transactions.back().push_back(byte);
        if (expectPointer_)
            pointer_ = byte;
        else
            regs[pointer_++] = byte;
        expectPointer_ = false;
        return true;
    }
    std::uint8_t onRead() override
    {
        const std::uint8_t byte = regs[pointer_++];
        transactions.back().push_back(byte);
        return byte;
    }
    void onStop() override {}

private:
    std::uint8_t pointer_ = 0;
    bool expectPointer_ = false;
};

// Passes every call on to the board's bridge and keeps each packet sent,
// with the number of opens.
class RecordingIo final : public UsbIo {
public:
    explicit RecordingIo(std::unique_ptr<UsbIo> inner, std::vector<Bytes>& sent, int& opens)
        : inner_(std::move(inner)), sent_(sent), opens_(opens)
    {
    }
    int countDevices() override { return inner_->countDevices(); }
    bool open(int index) override
    {
        ++opens_;
        return inner_->open(index);
    }
    bool isOpen() const override { return inner_->isOpen(); }
    void close() override { inner_->close(); }
    int getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                      std::span<std::uint8_t> buffer) override
    {
        return inner_->getDescriptor(type, index, language, buffer);
    }
    bool claimInterface(std::uint8_t number, std::uint8_t alternate) override
    {
        return inner_->claimInterface(number, alternate);
    }
    UsbTransfer bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned timeoutMillis) override
    {
        if ((endpoint & 0x80) == 0)
            sent_.emplace_back(data.begin(), data.end());
        return inner_->bulkTransfer(endpoint, data, timeoutMillis);
    }

private:
    std::unique_ptr<UsbIo> inner_;
    std::vector<Bytes>& sent_;
    int& opens_;
};

// The board's bridge on a bus with the logging device, behind the transport.
struct Bench {
    Bench()
    {
        bus.attach(0x94, device);
        bus.attach(0x96, device);
    }
    mvx::sim::VirtualClock clock;
    mvx::sim::I2cBus bus{clock};
    LoggingDevice device;
    VirtualUsbBridge bridge{bus, clock};
    std::vector<Bytes> sent;
    int opens = 0;
    UsbBridgeTransport transport{
        std::make_unique<RecordingIo>(std::make_unique<BoardUsbIo>(bridge, 0x1209, 0x0001), sent, opens)};

    int writeBytes(std::uint8_t reg, const Bytes& data)
    {
        return transport.write(0x94, reg, data.data(), static_cast<int>(data.size()),
                               {static_cast<int>(data.size()), 0, 0});
    }
    int readBytes(std::uint8_t reg, std::uint8_t* buffer, int count)
    {
        return transport.read(0x94, reg, buffer, count, {count, 0, 0});
    }
};

Bytes readRequest(std::uint8_t address, std::uint8_t reg, std::uint8_t sequence)
{
    Bytes p(17, 0);
    p[0] = address;
    p[1] = reg;
    p[2] = reg;
    p[3] = 0xFF;
    p[4] = 16;
    p[5] = 0x04;
    p[16] = sequence;
    return p;
}

// ---- a bridge board made of descriptors and scripted transfers ----

Bytes deviceDescriptor(std::uint8_t configurations = 1)
{
    return {18, 1, 0x00, 0x02, 0xFF, 0, 0, 64, 0x09, 0x12, 0x01, 0x00, 0x00, 0x01, 1, 2, 0, configurations};
}

Bytes interfaceDescriptor(std::uint8_t number, std::uint8_t alternate, std::uint8_t endpoints)
{
    return {9, 4, number, alternate, endpoints, 0xFF, 0, 0, 0};
}

Bytes endpointDescriptor(std::uint8_t address, std::uint8_t attributes, std::uint16_t maxPacket = 64)
{
    return {7, 5, address, attributes, static_cast<std::uint8_t>(maxPacket), static_cast<std::uint8_t>(maxPacket >> 8), 0};
}

// A configuration descriptor around the given interface and endpoint descriptors.
Bytes configuration(std::initializer_list<Bytes> parts)
{
    Bytes bytes{9, 2, 0, 0, 1, 1, 0, 0x80, 50};
    for (const Bytes& part : parts)
        bytes.insert(bytes.end(), part.begin(), part.end());
    bytes[2] = static_cast<std::uint8_t>(bytes.size());
    bytes[3] = static_cast<std::uint8_t>(bytes.size() >> 8);
    return bytes;
}

Bytes stringOf(const std::string& text)
{
    Bytes bytes{static_cast<std::uint8_t>(2 + 2 * text.size()), 3};
    for (char c : text) {
        bytes.push_back(static_cast<std::uint8_t>(c));
        bytes.push_back(0);
    }
    return bytes;
}

struct FakeBoard {
    int devices = 1;
    int failingOpens = 0;
    int openCalls = 0;
    bool open = false;
    bool claimAnswer = true;
    std::vector<std::pair<int, int>> claims;
    Bytes device = deviceDescriptor();
    Bytes config = configuration({interfaceDescriptor(0, 0, 2), endpointDescriptor(0x02, 2), endpointDescriptor(0x81, 2)});
    Bytes languages{4, 3, 0x09, 0x04};
    std::map<std::pair<int, int>, Bytes> strings;   // (index, language) -> descriptor
    std::vector<int> stringLanguages;               // language of each string request but the list
    std::vector<std::pair<int, Bytes>> sent;        // endpoint, packet
    std::deque<UsbStatus> outFaults;                // statuses of the next bulk-outs
    // Answers a bulk-in from the last packet sent; echoes the read's sequence by default.
    std::function<UsbTransfer(std::span<std::uint8_t>, const Bytes&)> answer =
        [](std::span<std::uint8_t> buffer, const Bytes& request) {
            std::fill(buffer.begin(), buffer.end(), 0);
            buffer[16] = request.size() > 16 ? request[16] : 0;
            return UsbTransfer{UsbStatus::Ok, 17};
        };
};

class FakeIo final : public UsbIo {
public:
    explicit FakeIo(FakeBoard& board) : b_(board) {}
    int countDevices() override { return b_.devices; }
    bool open(int index) override
    {
        ++b_.openCalls;
        b_.open = index == 0 && b_.failingOpens-- <= 0;
        return b_.open;
    }
    bool isOpen() const override { return b_.open; }
    void close() override { b_.open = false; }
    int getDescriptor(std::uint8_t type, std::uint8_t index, std::uint16_t language,
                      std::span<std::uint8_t> buffer) override
    {
        Bytes bytes;
        if (type == 1)
            bytes = b_.device;
        else if (type == 2 && index == 0)
            bytes = b_.config;
        else if (type == 3 && index == 0)
            bytes = b_.languages;
        else if (type == 3) {
            b_.stringLanguages.push_back(language);
            const auto found = b_.strings.find({index, language});
            if (found != b_.strings.end())
                bytes = found->second;
        }
        if (bytes.empty())
            return -1;
        const std::size_t length = std::min(bytes.size(), buffer.size());
        std::copy_n(bytes.begin(), length, buffer.begin());
        return static_cast<int>(length);
    }
    bool claimInterface(std::uint8_t number, std::uint8_t alternate) override
    {
        b_.claims.emplace_back(number, alternate);
        return b_.claimAnswer;
    }
    UsbTransfer bulkTransfer(std::uint8_t endpoint, std::span<std::uint8_t> data, unsigned) override
    {
        if ((endpoint & 0x80) != 0)
            return b_.answer(data, b_.sent.empty() ? Bytes{} : b_.sent.back().second);
        b_.sent.emplace_back(endpoint, Bytes(data.begin(), data.end()));
        if (!b_.outFaults.empty()) {
            const UsbStatus status = b_.outFaults.front();
            b_.outFaults.pop_front();
            return {status, 0};
        }
        return {UsbStatus::Ok, data.size()};
    }

private:
    FakeBoard& b_;
};

}  // namespace

// ---- opening ----

TEST(UsbBridgeOpen, OpenSendsTheStartCommandWithArgumentZero)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    ASSERT_EQ(bench.sent.size(), 1u);
    EXPECT_EQ(bench.sent[0], (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x15, 0x00}));
    EXPECT_EQ(bench.bridge.startCommands(), 1u);
    EXPECT_EQ(bench.bridge.lastStartArgument(), 0);
    EXPECT_TRUE(bench.device.transactions.empty());
}

TEST(UsbBridgeOpen, LaterPacketsFindTheBridgeOpenAndDoNotReopenIt)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    EXPECT_EQ(bench.transport.device().ensureOpen(), MVX_ERR_ISP_MODE);
    EXPECT_EQ(bench.writeBytes(0x10, {0x55}), MVX_OK);
    std::uint8_t value = 0;
    EXPECT_EQ(bench.readBytes(0x10, &value, 1), MVX_OK);
    EXPECT_EQ(value, 0x55);
    EXPECT_EQ(bench.opens, 1);
}

TEST(UsbBridgeOpen, TheBoardsBridgeDescribesItselfWithItsTwoBulkEndpoints)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    const UsbBridgeDevice& device = bench.transport.device();
    ASSERT_TRUE(device.deviceDescriptor().has_value());
    EXPECT_EQ(device.deviceDescriptor()->vendor, 0x1209);
    EXPECT_EQ(device.deviceDescriptor()->product, 0x0001);
    EXPECT_EQ(device.language(), 0x0409);
    EXPECT_EQ(device.manufacturer(), "Norvane");
    EXPECT_EQ(device.bulkOutEndpoint(), VirtualUsbBridge::kBulkOutEndpoint);
    EXPECT_EQ(device.bulkInEndpoint(), VirtualUsbBridge::kBulkInEndpoint);
}

TEST(UsbBridgeOpen, WithoutABridgeEveryOperationAnswersTwelveAndNothingMoves)
{
    Bench bench;
    bench.bridge.setAttached(false);
    EXPECT_EQ(bench.transport.open(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(bench.writeBytes(0x10, {0x55}), MVX_ERR_BRIDGE_MISSING);
    std::uint8_t value = 0xEE;
    EXPECT_EQ(bench.readBytes(0x10, &value, 1), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(value, 0xEE);
    const Bytes block = pattern(258, 1);
    EXPECT_EQ(bench.transport.writeBlock(block.data(), 258, 0x96, 0x92, 0), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(bench.transport.probeTarget(), MVX_OK);
    EXPECT_EQ(bench.bridge.packets(), 0u);
    EXPECT_EQ(bench.bus.stats().transactions, 0u);
    EXPECT_EQ(bench.opens, 0);
}

TEST(UsbBridgeOpen, ABridgeThatWillNotOpenIsTriedThreeTimes)
{
    FakeBoard board;
    board.failingOpens = 2;
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    EXPECT_EQ(device.ensureOpen(), MVX_OK);
    EXPECT_EQ(board.openCalls, 3);

    FakeBoard stubborn;
    stubborn.failingOpens = 3;
    UsbBridgeDevice never(std::make_unique<FakeIo>(stubborn));
    EXPECT_EQ(never.ensureOpen(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(stubborn.openCalls, 3);
    EXPECT_FALSE(never.isOpen());
}

TEST(UsbBridgeOpen, NoDeviceAttachedIsNotEvenOpened)
{
    FakeBoard board;
    board.devices = 0;
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    EXPECT_EQ(device.ensureOpen(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_EQ(board.openCalls, 0);
}

TEST(UsbBridgeOpen, AnInterfaceThatCannotBeClaimedIsNoBridge)
{
    FakeBoard board;
    board.claimAnswer = false;
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    EXPECT_EQ(device.ensureOpen(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_FALSE(board.open);
}

TEST(UsbBridgeOpen, CloseLetsGoOfTheDeviceAndTheNextPacketOpensItAgain)
{
    FakeBoard board;
    UsbBridgeTransport transport(std::make_unique<FakeIo>(board));
    ASSERT_EQ(transport.open(), MVX_OK);
    transport.close();
    EXPECT_FALSE(board.open);
    const std::uint8_t byte = 1;
    EXPECT_EQ(transport.write(0x94, 0x10, &byte, 1, {1, 0, 0}), MVX_OK);
    EXPECT_TRUE(board.open);
    EXPECT_EQ(board.openCalls, 2);
}

// ---- register writes ----

TEST(UsbBridgeWrite, OneByteWritePacketCarriesModeAndCount)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    ASSERT_EQ(bench.writeBytes(0x6F, {0x80}), MVX_OK);
    ASSERT_EQ(bench.sent.size(), 2u);
    EXPECT_EQ(bench.sent[1], (Bytes{0x94, 0x6F, 0x00, 0x01, 0x81, 0x11, 0x80}));
    ASSERT_EQ(bench.device.transactions.size(), 1u);
    EXPECT_EQ(bench.device.transactions[0], (Bytes{0x94, 0x6F, 0x80}));
}

TEST(UsbBridgeWrite, ThreeHundredByteWriteCarriesAllItsBytes)
{
    // The count field holds 16 bits: 300 is 0x012C, and every byte goes out
    // (a count cut to 8 bits would send 44 bytes and lose the rest).
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    const Bytes data = pattern(300, 3);
    ASSERT_EQ(bench.writeBytes(0x20, data), MVX_OK);
    ASSERT_EQ(bench.sent.size(), 2u);
    const Bytes& packet = bench.sent[1];
    ASSERT_EQ(packet.size(), 306u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 6), (Bytes{0x94, 0x20, 0x01, 0x2C, 0x81, 0x11}));
    EXPECT_EQ(Bytes(packet.begin() + 6, packet.end()), data);
    ASSERT_EQ(bench.device.transactions.size(), 1u);
    Bytes expected{0x94, 0x20};
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(bench.device.transactions[0], expected);
    EXPECT_EQ(bench.bridge.rejectedPackets(), 0u);
}

TEST(UsbBridgeWrite, WritesTheBridgeCannotCarryAreRefusedWithoutAPacket)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    EXPECT_EQ(bench.transport.write(0x94, 0x10, nullptr, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE);
    const std::uint8_t byte = 0;
    EXPECT_EQ(bench.transport.write(0x94, 0x10, &byte, -1, {-1, 0, 0}), MVX_ERR_LIBRARY_WRITE);
    const Bytes huge(70'000, 0);
    EXPECT_EQ(bench.transport.write(0x94, 0x10, huge.data(), 70'000, {0, 0, 0}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(bench.sent.size(), 1u);   // the start command only
    EXPECT_TRUE(bench.device.transactions.empty());
}

TEST(UsbBridgeWrite, APacketThatDoesNotGoOutIsAFailedWrite)
{
    FakeBoard board;
    UsbBridgeTransport transport(std::make_unique<FakeIo>(board));
    ASSERT_EQ(transport.open(), MVX_OK);
    const std::uint8_t byte = 0x80;
    board.outFaults = {UsbStatus::Timeout, UsbStatus::NoDevice};
    EXPECT_EQ(transport.write(0x94, 0x6F, &byte, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(transport.write(0x94, 0x6F, &byte, 1, {1, 0, 0}), MVX_ERR_BRIDGE_MISSING);
}

TEST(UsbBridgeWrite, AStartCommandThatDoesNotGoOutFailsTheOpen)
{
    FakeBoard board;
    board.outFaults = {UsbStatus::Failed};
    UsbBridgeTransport transport(std::make_unique<FakeIo>(board));
    EXPECT_EQ(transport.open(), MVX_ERR_LIBRARY_WRITE);
}

// ---- register reads ----

TEST(UsbBridgeRead, ReadRequestIsSeventeenBytesAndTheValueComesBack)
{
    Bench bench;
    bench.device.regs[0x6F] = 0x5A;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    std::uint8_t value = 0;
    ASSERT_EQ(bench.readBytes(0x6F, &value, 1), MVX_OK);
    EXPECT_EQ(value, 0x5A);
    ASSERT_EQ(bench.sent.size(), 2u);
    EXPECT_EQ(bench.sent[1], readRequest(0x94, 0x6F, 1));
    // The register is addressed, then sixteen bytes are read from it.
    ASSERT_EQ(bench.device.transactions.size(), 2u);
    EXPECT_EQ(bench.device.transactions[0], (Bytes{0x94, 0x6F}));
    EXPECT_EQ(bench.device.transactions[1].size(), 17u);
    EXPECT_EQ(bench.device.transactions[1][0], 0x95);
}

TEST(UsbBridgeRead, OnlyTheCallersCountIsDelivered)
{
    Bench bench;
    for (int i = 0; i < 16; ++i)
        bench.device.regs[static_cast<std::size_t>(0x30 + i)] = static_cast<std::uint8_t>(0xA0 + i);
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    std::array<std::uint8_t, 4> buffer{0, 0, 0, 0xEE};
    ASSERT_EQ(bench.readBytes(0x30, buffer.data(), 3), MVX_OK);
    EXPECT_EQ(buffer, (std::array<std::uint8_t, 4>{0xA0, 0xA1, 0xA2, 0xEE}));
}

TEST(UsbBridgeRead, SequenceByteWrapsFrom255To0AndStillMatches)
{
    Bench bench;
    bench.device.regs[0x40] = 0x77;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    for (int i = 1; i <= 256; ++i) {
        std::uint8_t value = 0;
        ASSERT_EQ(bench.readBytes(0x40, &value, 1), MVX_OK) << i;
        ASSERT_EQ(value, 0x77) << i;
    }
    ASSERT_EQ(bench.sent.size(), 257u);
    EXPECT_EQ(bench.sent[1][16], 1);
    EXPECT_EQ(bench.sent[255][16], 255);
    EXPECT_EQ(bench.sent[256][16], 0);
    EXPECT_EQ(bench.transport.device().sequence(), 0);
}

TEST(UsbBridgeRead, StaleEchoIsAskedAgainWithTheSameRequest)
{
    Bench bench;
    bench.device.regs[0x6F] = 0x80;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    bench.bridge.answerStaleReads(2);
    std::uint8_t value = 0;
    ASSERT_EQ(bench.readBytes(0x6F, &value, 1), MVX_OK);
    EXPECT_EQ(value, 0x80);
    ASSERT_EQ(bench.sent.size(), 4u);
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(bench.sent[i], readRequest(0x94, 0x6F, 1)) << i;
    EXPECT_EQ(bench.bridge.answersWaiting(), 0u);
}

TEST(UsbBridgeRead, HundredStaleEchoesAnswerThirteenAndLeaveTheBufferAlone)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    bench.bridge.answerStaleReads(1000);
    std::uint8_t value = 0xEE;
    EXPECT_EQ(bench.readBytes(0x6F, &value, 1), MVX_ERR_ISP_MODE);
    EXPECT_EQ(value, 0xEE);
    EXPECT_EQ(bench.sent.size(), 101u);
}

TEST(UsbBridgeRead, ASilentBridgeEndsTheReadAfterOneTimeOut)
{
    // A bridge that does not answer within the 10 s time-out is not asked
    // 99 more times: the read fails at once.
    FakeBoard board;
    board.answer = [](std::span<std::uint8_t>, const Bytes&) { return UsbTransfer{UsbStatus::Timeout, 0}; };
    UsbBridgeTransport transport(std::make_unique<FakeIo>(board));
    ASSERT_EQ(transport.open(), MVX_OK);
    std::uint8_t value = 0xEE;
    EXPECT_EQ(transport.read(0x94, 0x6F, &value, 1, {1, 0, 0}), MVX_ERR_ISP_MODE);
    EXPECT_EQ(value, 0xEE);
    EXPECT_EQ(board.sent.size(), 2u);   // the start command and one request
}

TEST(UsbBridgeRead, AnAnswerTooShortToCarryTheSequenceNeverMatches)
{
    // Sequence 0 would match the zeroed answer buffer if its length were not looked at.
    FakeBoard board;
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    std::uint8_t value = 0;
    for (int i = 1; i <= 255; ++i)
        ASSERT_EQ(device.readRegister(0x94, 0x6F, true, {&value, 1}), MVX_OK);
    board.answer = [](std::span<std::uint8_t> buffer, const Bytes&) {
        std::fill(buffer.begin(), buffer.end(), 0);
        return UsbTransfer{UsbStatus::Ok, 8};
    };
    EXPECT_EQ(device.readRegister(0x94, 0x6F, true, {&value, 1}), MVX_ERR_ISP_MODE);
    EXPECT_EQ(device.sequence(), 0);
}

TEST(UsbBridgeRead, ReadsTheBridgeCannotCarryAreRefusedWithoutAPacket)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    EXPECT_EQ(bench.readBytes(0x10, nullptr, 1), MVX_ERR_NULL_BUFFER);
    std::array<std::uint8_t, 32> buffer{};
    EXPECT_EQ(bench.readBytes(0x10, buffer.data(), 17), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(bench.readBytes(0x10, buffer.data(), -1), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(bench.sent.size(), 1u);
}

// ---- block writes ----

TEST(UsbBridgeBlock, BlockPacketPlacesThePageThenSendsTheBlockAsOneFrame)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    Bytes block = pattern(258, 9);
    block[0] = 0x94;
    block[1] = 0x70;
    ASSERT_EQ(bench.transport.writeBlock(block.data(), 258, 0x96, 0x92, 0x0300), MVX_OK);
    ASSERT_EQ(bench.sent.size(), 2u);
    const Bytes& packet = bench.sent[1];
    ASSERT_EQ(packet.size(), 264u);
    EXPECT_EQ(Bytes(packet.begin(), packet.begin() + 6), (Bytes{0x96, 0x92, 0x03, 0x00, 0x00, 0x08}));
    EXPECT_EQ(Bytes(packet.begin() + 6, packet.end()), block);
    ASSERT_EQ(bench.device.transactions.size(), 2u);
    EXPECT_EQ(bench.device.transactions[0], (Bytes{0x96, 0x92, 0x03, 0x00}));
    EXPECT_EQ(bench.device.transactions[1], block);
    EXPECT_EQ(bench.bridge.lastBlock().offset, 0x0300);
    EXPECT_EQ(bench.bridge.lastBlock().length, 258u);
}

TEST(UsbBridgeBlock, EmptyOrMissingBlocksAreRefused)
{
    Bench bench;
    ASSERT_EQ(bench.transport.open(), MVX_OK);
    const Bytes block = pattern(258, 9);
    EXPECT_EQ(bench.transport.writeBlock(nullptr, 258, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(bench.transport.writeBlock(block.data(), 0, 0x96, 0x92, 0), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(bench.sent.size(), 1u);
    EXPECT_TRUE(bench.device.transactions.empty());
}

// ---- descriptor walk ----

TEST(UsbBridgeDescriptors, BulkEndpointsComeFromTheInterfaceInAlternateZero)
{
    FakeBoard board;
    board.config = configuration({interfaceDescriptor(0, 1, 2), endpointDescriptor(0x86, 2), endpointDescriptor(0x07, 2),
                                  interfaceDescriptor(0, 0, 4), endpointDescriptor(0x01, 2), endpointDescriptor(0x82, 2),
                                  endpointDescriptor(0x83, 3), endpointDescriptor(0x05, 2)});
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    ASSERT_EQ(device.ensureOpen(), MVX_OK);
    // A later bulk endpoint of a direction replaces an earlier one; the
    // interrupt endpoint is not a candidate.
    EXPECT_EQ(device.bulkOutEndpoint(), 0x05);
    EXPECT_EQ(device.bulkInEndpoint(), 0x82);
    EXPECT_EQ(board.claims, (std::vector<std::pair<int, int>>{{0, 0}}));
    ASSERT_EQ(device.configurations().size(), 1u);
    EXPECT_EQ(device.configurations()[0].alternateSettings(0), 2);
    ASSERT_EQ(device.sendCommand(0), MVX_OK);
    EXPECT_EQ(board.sent.back().first, 0x05);
}

TEST(UsbBridgeDescriptors, ReadAnswersAreAskedForOnePacketOfTheBulkInEndpoint)
{
    // A full packet ends the transfer as a short one does; the answer needs
    // at least 17 bytes and at most 256 are taken.
    for (const auto& [packet, asked] : {std::pair{64, 64}, std::pair{8, 17}, std::pair{512, 256}}) {
        FakeBoard board;
        board.config = configuration({interfaceDescriptor(0, 0, 2), endpointDescriptor(0x02, 2),
                                      endpointDescriptor(0x81, 2, static_cast<std::uint16_t>(packet))});
        std::size_t length = 0;
        board.answer = [&length](std::span<std::uint8_t> buffer, const Bytes& request) {
            length = buffer.size();
            buffer[16] = request[16];
            return UsbTransfer{UsbStatus::Ok, 17};
        };
        UsbBridgeDevice device(std::make_unique<FakeIo>(board));
        std::uint8_t value = 0;
        ASSERT_EQ(device.readRegister(0x94, 0x6F, true, {&value, 1}), MVX_OK) << packet;
        EXPECT_EQ(length, static_cast<std::size_t>(asked)) << packet;
    }
}

TEST(UsbBridgeDescriptors, ABoardWithoutABulkPairIsNoBridge)
{
    FakeBoard board;
    board.config = configuration({interfaceDescriptor(0, 0, 2), endpointDescriptor(0x81, 2), endpointDescriptor(0x02, 3)});
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    EXPECT_EQ(device.ensureOpen(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_FALSE(board.open);
    EXPECT_TRUE(board.claims.empty());
}

TEST(UsbBridgeDescriptors, ABoardWithoutADeviceDescriptorIsNoBridge)
{
    FakeBoard board;
    board.device.resize(10);
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    EXPECT_EQ(device.ensureOpen(), MVX_ERR_BRIDGE_MISSING);
    EXPECT_FALSE(board.open);
}

TEST(UsbBridgeDescriptors, StringsAreReadInUsEnglishWhenOffered)
{
    FakeBoard board;
    board.languages = {6, 3, 0x07, 0x04, 0x09, 0x04};
    board.strings[{1, 0x0409}] = stringOf("Maker");
    board.strings[{2, 0x0409}] = stringOf("Bridge");
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    ASSERT_EQ(device.ensureOpen(), MVX_OK);
    EXPECT_EQ(device.language(), 0x0409);
    EXPECT_EQ(device.manufacturer(), "Maker");
    EXPECT_EQ(device.product(), "Bridge");
    EXPECT_EQ(device.serial(), "");   // index 0: no serial string
}

TEST(UsbBridgeDescriptors, OtherwiseTheFirstLanguageOfferedIsUsed)
{
    FakeBoard board;
    board.languages = {6, 3, 0x07, 0x04, 0x0C, 0x04};
    board.strings[{2, 0x0407}] = stringOf("Br\xFC" "cke");
    UsbBridgeDevice device(std::make_unique<FakeIo>(board));
    ASSERT_EQ(device.ensureOpen(), MVX_OK);
    EXPECT_EQ(device.language(), 0x0407);
    EXPECT_EQ(device.product(), "Br\xC3\xBC" "cke");
    EXPECT_TRUE(std::all_of(board.stringLanguages.begin(), board.stringLanguages.end(),
                            [](int language) { return language == 0x0407; }));
}

TEST(UsbBridgeDescriptors, MaxPacketSizeCountsHighSpeedExtraTransactions)
{
    const Bytes bytes = configuration({interfaceDescriptor(0, 0, 3), endpointDescriptor(0x81, 2, 0x0200),
                                       endpointDescriptor(0x82, 1, 0x1400), endpointDescriptor(0x83, 3, 0x0A00)});
    const auto config = UsbConfiguration::parse(bytes);
    ASSERT_TRUE(config.has_value());
    ASSERT_EQ(config->interfaces.size(), 1u);
    const auto& endpoints = config->interfaces[0].endpoints;
    ASSERT_EQ(endpoints.size(), 3u);
    EXPECT_EQ(endpoints[0].maxPacketSize, 512u);
    EXPECT_EQ(endpoints[1].maxPacketSize, 3072u);   // 1024 bytes, two extra transactions
    EXPECT_EQ(endpoints[2].maxPacketSize, 1024u);   // 512 bytes, one extra
    EXPECT_EQ(endpoints[1].kind(), EndpointKind::Isochronous);
    EXPECT_EQ(endpoints[2].kind(), EndpointKind::Interrupt);
}

TEST(UsbBridgeDescriptors, ABrokenDescriptorEndsTheWalkWithoutReadingPastIt)
{
    Bytes bytes = configuration({interfaceDescriptor(0, 0, 2), endpointDescriptor(0x81, 2), Bytes{0, 5, 0, 0},
                                 endpointDescriptor(0x02, 2)});
    auto config = UsbConfiguration::parse(bytes);
    ASSERT_TRUE(config.has_value());
    ASSERT_EQ(config->interfaces.size(), 1u);
    EXPECT_EQ(config->interfaces[0].endpoints.size(), 1u);

    // An endpoint that claims more bytes than the descriptor holds is dropped.
    bytes = configuration({interfaceDescriptor(0, 0, 1), endpointDescriptor(0x81, 2)});
    bytes[bytes.size() - 7] = 40;
    config = UsbConfiguration::parse(bytes);
    ASSERT_TRUE(config.has_value());
    EXPECT_TRUE(config->interfaces[0].endpoints.empty());

    EXPECT_FALSE(UsbConfiguration::parse(Bytes{9, 4, 0, 0}).has_value());
}

TEST(UsbBridgeDescriptors, InterfacesPastTheEighthAreDroppedWithTheirEndpoints)
{
    Bytes bytes{9, 2, 0, 0, 9, 1, 0, 0x80, 50};
    for (std::uint8_t i = 0; i < 9; ++i) {
        const Bytes interface = interfaceDescriptor(i, 0, 1);
        const Bytes endpoint = endpointDescriptor(static_cast<std::uint8_t>(0x81 + i), 2);
        bytes.insert(bytes.end(), interface.begin(), interface.end());
        bytes.insert(bytes.end(), endpoint.begin(), endpoint.end());
    }
    bytes[2] = static_cast<std::uint8_t>(bytes.size());
    const auto config = UsbConfiguration::parse(bytes);
    ASSERT_TRUE(config.has_value());
    ASSERT_EQ(config->interfaces.size(), UsbConfiguration::kMaxInterfaces);
    EXPECT_EQ(config->interfaces.back().number, 7);
    EXPECT_EQ(config->interfaces.back().endpoints.size(), 1u);
}

// ---- which device is the bridge ----

TEST(UsbBridgeIds, TheStoreNamesTheBridgesVendorAndProduct)
{
    mvx::test::TempFolder folder;
    mvx::platform::RegistryStore store(folder.file("registry.ini"));
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).vendor, BridgeIds{}.vendor);
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).product, BridgeIds{}.product);
    ASSERT_FALSE(store.writeDword("NorVane USB Bridge", "vendor_id", 0x4242).has_value());
    ASSERT_FALSE(store.writeDword("NorVane USB Bridge", "product_id", 0x0007).has_value());
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).vendor, 0x4242);
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).product, 0x0007);
}

TEST(UsbBridgeIds, AValueBeyondSixteenBitsKeepsTheDefault)
{
    mvx::test::TempFolder folder;
    mvx::platform::RegistryStore store(folder.file("registry.ini"));
    ASSERT_FALSE(store.writeDword("NorVane USB Bridge", "vendor_id", 0x10000).has_value());
    ASSERT_FALSE(store.writeDword("NorVane USB Bridge", "product_id", 0x0042).has_value());
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).vendor, BridgeIds{}.vendor);
    EXPECT_EQ(mvx::adapters::readBridgeIds(store).product, 0x0042);
}

// ---- the selection table's cell on a whole board ----

TEST(UsbBridgeCell, KindZeroWithoutLibraryReachesTheScalerThroughTheBoardsBridge)
{
    auto board = mvx::test::makeBoard();
    mvx::adapters::TransportSettings settings;
    settings.adapterKind = MVX_ADAPTER_NORVANE_USB;
    auto ops = mvx::adapters::makeTransport(settings, board.get(), board->clock());
    ASSERT_NE(ops, nullptr);
    ASSERT_EQ(ops->open(), MVX_OK);
    const std::uint8_t enable = 0x80;
    ASSERT_EQ(ops->write(0x94, 0x6F, &enable, 1, {1, 0, 0}), MVX_OK);
    std::uint8_t control = 0;
    ASSERT_EQ(ops->read(0x94, 0x6F, &control, 1, {1, 0, 0}), MVX_OK);
    EXPECT_NE(control & 0x80, 0);   // the scaler holds ISP mode
    EXPECT_TRUE(ops->hasPagePath());
    EXPECT_EQ(board->usbBridge().startCommands(), 1u);
    EXPECT_EQ(board->usbBridge().packets(), 3u);
    ops->close();
}
