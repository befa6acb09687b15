// A bus with MCUs on it, and the register sequences the engine sends them.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "mvx/sim/i2c.hpp"
#include "mvx/sim/mcu.hpp"

namespace mvx::sim::test {

using Bytes = std::vector<std::uint8_t>;

inline BoardConfig boardConfig(const std::string& iniText)
{
    std::string error;
    BoardConfig config = BoardConfig::parse(platform::IniDocument::parse(iniText), &error);
    EXPECT_EQ(error, "");
    return config;
}

inline Bytes randomBytes(std::size_t count, unsigned seed)
{
    std::mt19937 generator(seed);
    Bytes bytes(count);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(generator());
    return bytes;
}

// Published reference functions, bit by bit.
inline std::uint8_t crc8Smbus(const std::uint8_t* data, std::size_t size)
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    return crc;
}

inline std::uint16_t crc16Xmodem(const std::uint8_t* data, std::size_t size)
{
    std::uint16_t crc = 0;
    for (std::size_t i = 0; i < size; ++i) {
        crc = static_cast<std::uint16_t>(crc ^ (data[i] << 8));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return crc;
}

inline std::uint16_t byteSum(const std::uint8_t* data, std::size_t size)
{
    return static_cast<std::uint16_t>(std::accumulate(data, data + size, 0u));
}

inline std::uint16_t wordSum(const std::uint8_t* data, std::size_t size)
{
    unsigned sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum += (i & 1) ? data[i] * 256u : data[i];
    return static_cast<std::uint16_t>(sum);
}

// Talks to one MCU at a primary / secondary slave pair as the engine does.
class McuLink {
public:
    McuLink(I2cBus& bus, std::uint8_t primary) : bus_(bus), primary_(primary), secondary_(primary + 2) {}

    bool write(std::uint8_t reg, std::uint8_t value) { return bus_.writeRegister(primary_, reg, Bytes{value}); }
    void burst(std::uint8_t reg, const Bytes& bytes) { bus_.writeRegister(secondary_, reg, bytes); }
    std::uint8_t read(std::uint8_t reg)
    {
        std::uint8_t value[1] = {0};
        bus_.readRegister(primary_, reg, value);
        return value[0];
    }

    std::uint8_t enterIsp()
    {
        write(0x90, 0x40);
        write(0x36, 0x00);
        return read(0x90);
    }
    void prepare(std::uint8_t mode)
    {
        write(0x38, mode);
        write(0x10, 0xC1);
        write(0x12, 0x10);
        burst(0xB0, Bytes(kMcuUnlockCode.begin(), kMcuUnlockCode.end()));
    }
    // Reads, then sleeps 10 ms and reads again while the bits stay set.
    bool waitClear(std::uint8_t reg, std::uint8_t mask, int limit)
    {
        for (int reads = 0; reads < limit + 2; ++reads) {
            if ((read(reg) & mask) == 0)
                return true;
            bus_.clock().sleepMicros(10'000);
        }
        return false;
    }
    // Library path: page address through the secondary slave, data to 0x94.
    void programPage(std::uint8_t page, const Bytes& data)
    {
        burst(0x92, {page, 0});
        bus_.writeRegister(primary_, 0x94, data);
    }
    // Parallel-port path: a 4-byte frame, then the 258-byte transfer block.
    void programPageByFrames(std::uint8_t page, const Bytes& data)
    {
        bus_.writeFrame(Bytes{secondary_, 0x92, page, 0});
        Bytes block{primary_, primary_};
        block.insert(block.end(), data.begin(), data.end());
        bus_.writeFrame(block);
    }
    void programBank(std::uint8_t select, const Bytes& image)
    {
        write(0x90, select);
        for (std::size_t page = 0; page * 256 < image.size(); ++page) {
            programPage(static_cast<std::uint8_t>(page),
                        Bytes(image.begin() + page * 256, image.begin() + page * 256 + 256));
            for (int reads = 0; reads < 200 && (read(0x90) & 0x10); ++reads) {}
        }
    }
    // The CRC / checksum unit over offsets 0..length-1 of the selected bank.
    std::uint16_t unit(std::uint8_t select, std::uint8_t start, std::uint32_t length)
    {
        write(0x90, select);
        burst(0x92, {0, 0});
        burst(0xA0, {static_cast<std::uint8_t>((length - 1) >> 8), static_cast<std::uint8_t>(length - 1)});
        EXPECT_TRUE(waitClear(0x90, 0x08, 400));
        write(0xA2, start);
        for (int reads = 0; reads < 401 && (read(0xA2) & 0x80); ++reads) {}
        return static_cast<std::uint16_t>(read(0xA4) << 8 | read(0xA3));
    }

private:
    I2cBus& bus_;
    std::uint8_t primary_;
    std::uint8_t secondary_;
};

}  // namespace mvx::sim::test
