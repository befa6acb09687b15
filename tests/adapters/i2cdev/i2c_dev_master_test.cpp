// The register accesses as i2c-dev calls, byte for byte, over a recording
// layer: the messages, the plain path, the size rules, retries, pacing and
// the explanations of failures.
#include "mvx/i2cdev/i2c_dev_master.hpp"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "mvx/sim/virtual_clock.hpp"
#include "recording_layer.hpp"

using mvx::i2cdev::I2cDevMaster;
using mvx::i2cdev::kMaxMessageBytes;
using mvx::test::LayerCall;
using mvx::test::readMessage;
using mvx::test::RecordedMessage;
using mvx::test::RecordingLayer;
using mvx::test::writeMessage;
using Kind = LayerCall::Kind;
using Bytes = std::vector<std::uint8_t>;

namespace {

class MasterTest : public ::testing::Test {
protected:
    RecordingLayer layer;
    mvx::sim::VirtualClock clock;
    I2cDevMaster master{layer, clock, "/dev/i2c-3"};

    std::vector<RecordedMessage> transferMessages(std::size_t index) const
    {
        return layer.callsOf(Kind::Transfer).at(index).messages;
    }
    // Engages the plain path with one refused write, then forgets the calls.
    void goPlain()
    {
        layer.transferAnswers = {-EOPNOTSUPP};
        const std::uint8_t byte = 0;
        ASSERT_TRUE(master.writeRegister(0x94, 0x00, &byte, 1));
        ASSERT_TRUE(master.plainTransfers());
        layer.calls.clear();
    }
};

}  // namespace

// ---- messages on the combined path ----

TEST_F(MasterTest, RegisterWriteIsOneMessageOfRegisterThenData)
{
    const Bytes data{0x01, 0x02, 0x03};
    ASSERT_TRUE(master.writeRegister(0x96, 0x64, data.data(), 3));
    ASSERT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
    EXPECT_EQ(transferMessages(0), (std::vector<RecordedMessage>{writeMessage(0x4B, {0x64, 0x01, 0x02, 0x03})}));
}

TEST_F(MasterTest, RegisterReadIsRegisterThenRepeatedStartReadInOneTransfer)
{
    std::uint8_t buffer[2] = {};
    ASSERT_TRUE(master.readRegister(0x95, 0x6F, buffer, 2));   // bit 0 of the address is dropped
    ASSERT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
    EXPECT_EQ(transferMessages(0), (std::vector<RecordedMessage>{writeMessage(0x4A, {0x6F}), readMessage(0x4A, 2)}));
    EXPECT_EQ(buffer[0], 0xA0);
    EXPECT_EQ(buffer[1], 0xA1);
}

TEST_F(MasterTest, ReadOfNothingSendsTheRegisterOnly)
{
    ASSERT_TRUE(master.readRegister(0x94, 0x10, nullptr, 0));
    EXPECT_EQ(transferMessages(0), (std::vector<RecordedMessage>{writeMessage(0x4A, {0x10})}));
}

TEST_F(MasterTest, PageBurstOf256BytesStaysOneTransaction)
{
    Bytes page(256);
    std::iota(page.begin(), page.end(), std::uint8_t{0});
    ASSERT_TRUE(master.writeRegister(0x94, 0x70, page.data(), 256));
    ASSERT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
    const auto messages = transferMessages(0);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].len, 257);
    EXPECT_EQ(messages[0].bytes[0], 0x70);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), messages[0].bytes.begin() + 1));
}

// ---- size limits ----

TEST_F(MasterTest, LongReadIsSplitIntoKernelSizedReadMessages)
{
    Bytes buffer(20000);
    ASSERT_TRUE(master.readRegister(0x94, 0x70, buffer.data(), 20000));
    ASSERT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
    EXPECT_EQ(transferMessages(0), (std::vector<RecordedMessage>{writeMessage(0x4A, {0x70}), readMessage(0x4A, 8192),
                                                                 readMessage(0x4A, 8192), readMessage(0x4A, 3616)}));
    // One continuous stream of bytes across the messages.
    for (std::size_t i = 1; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(buffer[i - 1] + 1)) << i;
}

TEST_F(MasterTest, ReadBeyondFortyTwoMessagesContinuesInASecondTransfer)
{
    Bytes buffer(42 * kMaxMessageBytes);
    ASSERT_TRUE(master.readRegister(0x94, 0x70, buffer.data(), static_cast<int>(buffer.size())));
    const auto transfers = layer.callsOf(Kind::Transfer);
    ASSERT_EQ(transfers.size(), 2u);
    ASSERT_EQ(transfers[0].messages.size(), 42u);
    EXPECT_EQ(transfers[0].messages[0], writeMessage(0x4A, {0x70}));
    EXPECT_EQ(transfers[0].messages[41], readMessage(0x4A, 8192));
    // The continuation reads on without sending the register again.
    EXPECT_EQ(transfers[1].messages, (std::vector<RecordedMessage>{readMessage(0x4A, 8192)}));
}

TEST_F(MasterTest, WriteLongerThanOneKernelMessageIsRefusedBeforeTheBus)
{
    Bytes data(kMaxMessageBytes);
    EXPECT_FALSE(master.writeRegister(0x94, 0x70, data.data(), static_cast<int>(data.size())));
    EXPECT_TRUE(layer.traffic().empty());
    EXPECT_NE(master.lastError().find("8191"), std::string::npos) << master.lastError();
    // One byte less fits one message exactly.
    EXPECT_TRUE(master.writeRegister(0x94, 0x70, data.data(), static_cast<int>(data.size() - 1)));
    EXPECT_EQ(transferMessages(0)[0].len, kMaxMessageBytes);
}

TEST_F(MasterTest, BadArgumentsAreRefusedBeforeTheBus)
{
    std::uint8_t byte = 0;
    EXPECT_FALSE(master.writeRegister(0x100, 0x10, &byte, 1));
    EXPECT_FALSE(master.writeRegister(-1, 0x10, &byte, 1));
    EXPECT_FALSE(master.writeRegister(0x94, 0x100, &byte, 1));
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, -1));
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, nullptr, 1));
    EXPECT_FALSE(master.readRegister(0x94, 0x10, nullptr, 1));
    EXPECT_FALSE(master.readRegister(0x94, -1, &byte, 1));
    EXPECT_FALSE(master.probe(0x100));
    EXPECT_TRUE(layer.calls.empty());
    EXPECT_NE(master.lastError().find("bad address"), std::string::npos);
}

// ---- the plain path ----

TEST_F(MasterTest, DriverRefusingCombinedTransfersGetsPlainWriteAndRead)
{
    layer.transferAnswers = {-EOPNOTSUPP};
    const std::uint8_t value = 0x55;
    ASSERT_TRUE(master.writeRegister(0x94, 0x10, &value, 1));
    EXPECT_TRUE(master.plainTransfers());
    std::uint8_t got = 0;
    ASSERT_TRUE(master.readRegister(0x94, 0x11, &got, 1));
    const auto calls = layer.traffic();
    ASSERT_EQ(calls.size(), 5u);
    EXPECT_EQ(calls[0].kind, Kind::Transfer);   // refused
    EXPECT_EQ(calls[1].kind, Kind::SetSlave);
    EXPECT_EQ(calls[1].address, 0x4A);
    EXPECT_EQ(calls[2].kind, Kind::Write);
    EXPECT_EQ(calls[2].bytes, (Bytes{0x10, 0x55}));
    EXPECT_EQ(calls[3].kind, Kind::Write);      // the register, then the data
    EXPECT_EQ(calls[3].bytes, (Bytes{0x11}));
    EXPECT_EQ(calls[4].kind, Kind::Read);
    EXPECT_EQ(calls[4].count, 1u);
    EXPECT_EQ(got, 0xA0);
}

TEST_F(MasterTest, PlainPathSelectsEachNewAddressOnce)
{
    goPlain();
    const std::uint8_t byte = 1;
    ASSERT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    ASSERT_TRUE(master.writeRegister(0x96, 0x64, &byte, 1));
    ASSERT_TRUE(master.writeRegister(0x96, 0x65, &byte, 1));
    const auto selects = layer.callsOf(Kind::SetSlave);
    ASSERT_EQ(selects.size(), 1u);   // 0x4A was selected while going plain
    EXPECT_EQ(selects[0].address, 0x4B);
}

TEST_F(MasterTest, PlainReadsShrinkWhereTheDriverRefusesLongOnes)
{
    goPlain();
    layer.readAnswers = {-EOPNOTSUPP};
    Bytes buffer(300);
    ASSERT_TRUE(master.readRegister(0x94, 0x70, buffer.data(), 300));
    const auto reads = layer.callsOf(Kind::Read);
    ASSERT_EQ(reads.size(), 3u);
    EXPECT_EQ(reads[0].count, 300u);   // refused
    EXPECT_EQ(reads[1].count, 150u);
    EXPECT_EQ(reads[2].count, 150u);
    EXPECT_EQ(master.plainReadChunk(), 150u);
    EXPECT_EQ(layer.callsOf(Kind::Write).size(), 1u);   // the register went out once
    for (std::size_t i = 1; i < buffer.size(); ++i)
        ASSERT_EQ(buffer[i], static_cast<std::uint8_t>(buffer[i - 1] + 1)) << i;
}

TEST_F(MasterTest, PlainWriteTheDriverRefusesFailsInsteadOfSplitting)
{
    layer.transferAnswers = {-EOPNOTSUPP};
    layer.writeAnswers = {-EOPNOTSUPP};
    Bytes page(256, 0x5A);
    EXPECT_FALSE(master.writeRegister(0x94, 0x70, page.data(), 256));
    const auto writes = layer.callsOf(Kind::Write);
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].count, 257u);
    EXPECT_NE(master.lastError().find("refuses"), std::string::npos) << master.lastError();
}

TEST_F(MasterTest, ReopenedBusTriesCombinedTransfersAgain)
{
    goPlain();
    master.close();
    const std::uint8_t byte = 1;
    ASSERT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_FALSE(master.plainTransfers());
    EXPECT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
}

TEST_F(MasterTest, AddressClaimedByAKernelDriverIsReportedAndNotRetried)
{
    master.setRetries(4);
    layer.transferAnswers = {-EOPNOTSUPP};
    layer.slaveAnswers = {-EBUSY};
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::SetSlave).size(), 1u);
    EXPECT_TRUE(layer.callsOf(Kind::Write).empty());
    EXPECT_NE(master.lastError().find("claimed by a kernel driver"), std::string::npos) << master.lastError();
}

// ---- probe ----

TEST_F(MasterTest, ProbeIsAZeroLengthWrite)
{
    EXPECT_TRUE(master.probe(0x94));
    EXPECT_EQ(transferMessages(0), (std::vector<RecordedMessage>{writeMessage(0x4A, {})}));
    layer.transferAnswers = {-ENXIO};
    EXPECT_FALSE(master.probe(0x94));
    EXPECT_NE(master.lastError().find("no acknowledge"), std::string::npos) << master.lastError();
}

TEST_F(MasterTest, ProbeReadsOneByteWhereZeroLengthIsRefused)
{
    layer.transferAnswers = {-EOPNOTSUPP, 0};
    EXPECT_TRUE(master.probe(0x94));
    EXPECT_EQ(transferMessages(1), (std::vector<RecordedMessage>{readMessage(0x4A, 1)}));
    EXPECT_FALSE(master.plainTransfers());
}

TEST_F(MasterTest, ProbeOnAPlainOnlyDriverReadsOneBytePlainly)
{
    layer.transferAnswers = {-EOPNOTSUPP, -EOPNOTSUPP};
    EXPECT_TRUE(master.probe(0x98));
    EXPECT_TRUE(master.plainTransfers());
    ASSERT_EQ(layer.callsOf(Kind::SetSlave).size(), 1u);
    EXPECT_EQ(layer.callsOf(Kind::SetSlave)[0].address, 0x4C);
    ASSERT_EQ(layer.callsOf(Kind::Read).size(), 1u);
    EXPECT_EQ(layer.callsOf(Kind::Read)[0].count, 1u);
}

// ---- retries ----

TEST_F(MasterTest, PassingFailuresAreRetriedUpToThePollingCount)
{
    master.setRetries(4);
    layer.transferAnswers = {-ENXIO, -EAGAIN, -EIO, -ETIMEDOUT};
    const std::uint8_t byte = 1;
    EXPECT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::Transfer).size(), 5u);
    EXPECT_EQ(clock.sleeps(), 4u);
    EXPECT_EQ(clock.sleptMicros(), 4 * mvx::i2cdev::kRetryPauseMicros);
    EXPECT_TRUE(master.lastError().empty());
}

TEST_F(MasterTest, RetriesRunOutWithTheFailureExplained)
{
    master.setRetries(2);
    layer.transferAnswers = {-EREMOTEIO, -EREMOTEIO, -EREMOTEIO, 0};
    std::uint8_t byte = 0;
    EXPECT_FALSE(master.readRegister(0x94, 0x6F, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::Transfer).size(), 3u);
    const std::string& text = master.lastError();
    EXPECT_NE(text.find("no acknowledge"), std::string::npos) << text;
    EXPECT_NE(text.find("0x94"), std::string::npos) << text;
    EXPECT_NE(text.find("/dev/i2c-3"), std::string::npos) << text;
}

TEST_F(MasterTest, LastingFailuresAreNotRetried)
{
    master.setRetries(4);
    layer.transferAnswers = {-ENOMEM};
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::Transfer).size(), 1u);
}

// ---- pacing ----

TEST_F(MasterTest, IdleGapSeparatesTransactions)
{
    master.setIdleGap(500);
    const std::uint8_t byte = 1;
    ASSERT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(clock.sleeps(), 0u);   // nothing went before the first
    ASSERT_TRUE(master.writeRegister(0x94, 0x11, &byte, 1));
    EXPECT_EQ(clock.sleptMicros(), 500u);
    // Time that passed anyway counts towards the gap.
    clock.advance(300);
    ASSERT_TRUE(master.writeRegister(0x94, 0x12, &byte, 1));
    EXPECT_EQ(clock.sleptMicros(), 700u);
    clock.advance(900);
    ASSERT_TRUE(master.writeRegister(0x94, 0x13, &byte, 1));
    EXPECT_EQ(clock.sleptMicros(), 700u);
}

TEST_F(MasterTest, PlainReadIsTwoPacedTransactions)
{
    goPlain();
    master.setIdleGap(1000);
    clock.advance(5000);
    std::uint8_t byte = 0;
    ASSERT_TRUE(master.readRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(clock.sleptMicros(), 1000u);   // between the register write and the read
}

// ---- opening the bus ----

TEST_F(MasterTest, BusNodeIsOpenedOnceForManyAccesses)
{
    const std::uint8_t byte = 1;
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    const auto opens = layer.callsOf(Kind::Open);
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].path, "/dev/i2c-3");
}

TEST_F(MasterTest, MissingBusNamesTheModuleAndTheSetting)
{
    layer.openAnswers = {-ENOENT};
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_TRUE(layer.callsOf(Kind::Transfer).empty());
    const std::string& text = master.lastError();
    EXPECT_NE(text.find("/dev/i2c-3 does not exist"), std::string::npos) << text;
    EXPECT_NE(text.find("modprobe i2c-dev"), std::string::npos) << text;
    EXPECT_NE(text.find("MVX_I2C_BUS"), std::string::npos) << text;
}

TEST_F(MasterTest, UnopenableBusSaysWhyAndWhatToDo)
{
    layer.openAnswers = {-EACCES, -EBUSY};
    EXPECT_FALSE(master.open());
    EXPECT_NE(master.lastError().find("no permission to open /dev/i2c-3"), std::string::npos) << master.lastError();
    EXPECT_NE(master.lastError().find("usermod -aG i2c"), std::string::npos);
    EXPECT_FALSE(master.open());
    EXPECT_NE(master.lastError().find("/dev/i2c-3 is busy"), std::string::npos) << master.lastError();
}

TEST_F(MasterTest, FailedOpenIsTriedAgainByTheNextAccess)
{
    layer.openAnswers = {-ENOENT};
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::Open).size(), 2u);
    EXPECT_TRUE(master.isOpen());
}

TEST_F(MasterTest, VanishedBusIsClosedAndReopenedByTheNextAccess)
{
    master.setRetries(4);
    layer.transferAnswers = {-ENODEV};
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_NE(master.lastError().find("went away"), std::string::npos) << master.lastError();
    EXPECT_EQ(layer.callsOf(Kind::Close).size(), 1u);
    EXPECT_FALSE(master.isOpen());
    EXPECT_TRUE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_EQ(layer.callsOf(Kind::Open).size(), 2u);
}

// ---- the kernel layer ----

TEST(LinuxLayer, NodeThatIsNotAnI2cBusRefusesTheBusCalls)
{
    auto layer = mvx::i2cdev::makeLinuxLayer();
    EXPECT_EQ(layer->open("/nonexistent/i2c-0"), -ENOENT);
    const int fd = layer->open("/dev/null");
    ASSERT_GE(fd, 0);
    i2c_msg message{0x4A, 0, 0, nullptr};
    EXPECT_EQ(layer->transfer(fd, &message, 1), -ENOTTY);
    EXPECT_EQ(layer->setSlave(fd, 0x4A), -ENOTTY);
    layer->close(fd);

    mvx::sim::VirtualClock clock;
    I2cDevMaster master(*layer, clock, "/dev/null");
    const std::uint8_t byte = 1;
    EXPECT_FALSE(master.writeRegister(0x94, 0x10, &byte, 1));
    EXPECT_NE(master.lastError().find("does not take the address"), std::string::npos) << master.lastError();
}
