#include "crc.hpp"

#include <array>

#include "mvxisp.h"

namespace mvx::engine {

namespace {

constexpr std::array<std::uint8_t, 256> makeCrc8Table()
{
    std::array<std::uint8_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x80u) != 0 ? ((crc << 1) ^ 0x07u) & 0xFFu : (crc << 1) & 0xFFu;
        table[i] = static_cast<std::uint8_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> makeCrc16Table()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned crc = i << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000u) != 0 ? ((crc << 1) ^ 0x1021u) & 0xFFFFu : (crc << 1) & 0xFFFFu;
        table[i] = static_cast<std::uint16_t>(crc);
    }
    return table;
}

constexpr std::array<std::uint8_t, 256> kCrc8Table = makeCrc8Table();
constexpr std::array<std::uint16_t, 256> kCrc16Table = makeCrc16Table();

}  // namespace

std::uint8_t crc8Smbus(std::span<const std::uint8_t> bytes, std::uint8_t crc)
{
    for (const std::uint8_t byte : bytes)
        crc = kCrc8Table[crc ^ byte];
    return crc;
}

std::uint8_t crc8SmbusRepeated(std::uint8_t value, std::size_t count, std::uint8_t crc)
{
    for (std::size_t i = 0; i < count; ++i)
        crc = kCrc8Table[crc ^ value];
    return crc;
}

std::uint16_t crc16Xmodem(std::span<const std::uint8_t> bytes, std::uint16_t crc)
{
    for (const std::uint8_t byte : bytes)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCrc16Table[((crc >> 8) ^ byte) & 0xFFu]);
    return crc;
}

int byteChecksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (const std::uint8_t byte : bytes)
        sum = (sum + byte) & 0xFFFFu;
    return static_cast<int>(sum);
}

int wordChecksum(std::span<const std::uint8_t> bytes)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned value = (i & 1u) != 0 ? unsigned{bytes[i]} << 8 : unsigned{bytes[i]};
        sum = (sum + value) & 0xFFFFu;
    }
    return static_cast<int>(sum);
}

bool usesCrc16(int operation)
{
    return operation == MVX_OP_MCU_5312 || operation == MVX_OP_5312_1TO4;
}

bool usesWordChecksum(int operation)
{
    return usesCrc16(operation);
}

int bankChecksum(int operation, std::span<const std::uint8_t> bytes)
{
    return usesWordChecksum(operation) ? wordChecksum(bytes) : byteChecksum(bytes);
}

}  // namespace mvx::engine
