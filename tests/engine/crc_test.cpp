#include "crc.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "mvxisp.h"

namespace mvx::engine {
namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text)
{
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

// ---- CRC-8/SMBUS ----

TEST(Crc8Smbus, MatchesTheStandardCheckValue)
{
    EXPECT_EQ(crc8Smbus(bytesOf("123456789")), 0xF4);
    EXPECT_EQ(crc8Smbus({}), 0x00);
}

TEST(Crc8Smbus, BlankBankAndBlankSectorGiveTheDeviceValues)
{
    const std::vector<std::uint8_t> bank(65536, 0xFF);
    EXPECT_EQ(crc8Smbus(bank), 0xDE);
    EXPECT_EQ(crc8SmbusRepeated(0xFF, 65536), 0xDE);
    EXPECT_EQ(crc8SmbusRepeated(0xFF, 4096), 0x09);
    EXPECT_EQ(crc8SmbusRepeated(0xFF, 0), 0x00);
}

TEST(Crc8Smbus, PiecesContinueToTheCrcOfTheWhole)
{
    const auto whole = bytesOf("123456789");
    EXPECT_EQ(crc8Smbus(whole.subspan(4), crc8Smbus(whole.first(4))), 0xF4);
    EXPECT_EQ(crc8SmbusRepeated(0xFF, 96, crc8SmbusRepeated(0xFF, 160)), crc8SmbusRepeated(0xFF, 256));
}

// ---- CRC-16/XMODEM ----

TEST(Crc16Xmodem, MatchesTheStandardCheckValue)
{
    EXPECT_EQ(crc16Xmodem(bytesOf("123456789")), 0x31C3);
    EXPECT_EQ(crc16Xmodem({}), 0x0000);
    const std::uint8_t one = 0x01;
    EXPECT_EQ(crc16Xmodem(std::span(&one, 1)), 0x1021);
}

TEST(Crc16Xmodem, PiecesContinueToTheCrcOfTheWhole)
{
    const auto whole = bytesOf("123456789");
    EXPECT_EQ(crc16Xmodem(whole.subspan(5), crc16Xmodem(whole.first(5))), 0x31C3);
}

// ---- checksums ----

TEST(Checksums, ByteSumWrapsAt65536)
{
    EXPECT_EQ(byteChecksum(std::vector<std::uint8_t>{0x01, 0x02, 0xFF}), 0x0102);
    EXPECT_EQ(byteChecksum(std::vector<std::uint8_t>(300, 0xFF)), (300 * 0xFF) % 65536);
    EXPECT_EQ(byteChecksum(std::vector<std::uint8_t>(65536, 0xFF)), 0);
}

TEST(Checksums, WordSumTakesOddPositionsAsHighBytes)
{
    EXPECT_EQ(wordChecksum(std::vector<std::uint8_t>{0x01, 0x02, 0x03}), 0x0204);
    EXPECT_EQ(wordChecksum(std::vector<std::uint8_t>{0x34, 0x12, 0x01, 0x00}), 0x1235);
    // 32,768 words of 0xFFFF.
    EXPECT_EQ(wordChecksum(std::vector<std::uint8_t>(65536, 0xFF)), 0x8000);
}

TEST(Checksums, OnlyThe5312OperationsUseCrc16AndWordSums)
{
    const std::vector<std::uint8_t> bytes{0x10, 0x20};
    for (int operation = 0; operation <= 5; ++operation) {
        const bool is5312 = operation == MVX_OP_MCU_5312 || operation == MVX_OP_5312_1TO4;
        EXPECT_EQ(usesCrc16(operation), is5312) << operation;
        EXPECT_EQ(bankChecksum(operation, bytes), is5312 ? 0x2010 : 0x30) << operation;
    }
}

}  // namespace
}  // namespace mvx::engine
