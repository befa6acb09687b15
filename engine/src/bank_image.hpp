// The image of the bank being programmed, kept pre-formatted as the transfer
// blocks the transports send.
//
// The image is 256 transfer blocks of 258 bytes, one per 256-byte page:
// byte 0 the primary slave, byte 1 the target register (0x70, the page data
// port, for the serial flash; the primary slave again for the MCUs), bytes
// 2..257 the page's data.  Image byte i lies in block i / 256 at offset
// 2 + i % 256, so a block can go out as one complete I2C write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace mvx::engine {

class BankImage {
public:
    static constexpr std::size_t kPageCount = 256;
    static constexpr std::size_t kPageSize = 256;
    static constexpr std::size_t kHeaderSize = 2;
    static constexpr std::size_t kBlockSize = kHeaderSize + kPageSize;  // 258
    static constexpr std::size_t kCapacity = kPageCount * kPageSize;    // 65,536
    static constexpr std::uint8_t kSerialFlashDataRegister = 0x70;

    // Every byte, block headers included, starts as 0xFF.
    BankImage();

    // Sets every block header to (slave, registerByte) and every data byte to 0xFF.
    void reset(std::uint8_t slave, std::uint8_t registerByte);

    // reset(), then copies `bytes` to image bytes 0..size-1.  Bytes past the
    // image's 65,536 are not copied.
    void store(std::span<const std::uint8_t> bytes, std::uint8_t slave, std::uint8_t registerByte);

    // The whole 258-byte transfer block of a page.
    std::span<const std::uint8_t, kBlockSize> block(std::uint8_t page) const;
    // The 256 data bytes of a page.
    std::span<const std::uint8_t, kPageSize> page(std::uint8_t page) const;
    // Image byte `offset` (block offset / 256, position 2 + offset % 256).
    std::uint8_t byte(std::uint16_t offset) const;

    // CRC-8/SMBUS and CRC-16/XMODEM of image bytes 0..length-1 (length is
    // taken as 0..65,536).
    std::uint8_t crc8(int length) const;
    std::uint16_t crc16(int length) const;
    // The CRC rule of an operation: CRC-16 for the 5312 operations, CRC-8 otherwise.
    int crcFor(int operation, int length) const;

private:
    std::vector<std::uint8_t> blocks_;
};

}  // namespace mvx::engine
