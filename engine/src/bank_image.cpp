#include "bank_image.hpp"

#include <algorithm>

#include "crc.hpp"

namespace mvx::engine {

namespace {

std::size_t clampLength(int length)
{
    if (length <= 0)
        return 0;
    return std::min(static_cast<std::size_t>(length), BankImage::kCapacity);
}

}  // namespace

BankImage::BankImage() : blocks_(kPageCount * kBlockSize, 0xFF) {}

void BankImage::reset(std::uint8_t slave, std::uint8_t registerByte)
{
    for (std::size_t page = 0; page < kPageCount; ++page) {
        std::uint8_t* block = blocks_.data() + page * kBlockSize;
        block[0] = slave;
        block[1] = registerByte;
        std::fill(block + kHeaderSize, block + kBlockSize, std::uint8_t{0xFF});
    }
}

void BankImage::store(std::span<const std::uint8_t> bytes, std::uint8_t slave, std::uint8_t registerByte)
{
    reset(slave, registerByte);
    const std::size_t count = std::min(bytes.size(), kCapacity);
    for (std::size_t offset = 0; offset < count; offset += kPageSize) {
        const std::size_t chunk = std::min(kPageSize, count - offset);
        std::copy_n(bytes.data() + offset, chunk, blocks_.data() + (offset / kPageSize) * kBlockSize + kHeaderSize);
    }
}

std::span<const std::uint8_t, BankImage::kBlockSize> BankImage::block(std::uint8_t page) const
{
    return std::span<const std::uint8_t, kBlockSize>(blocks_.data() + std::size_t{page} * kBlockSize, kBlockSize);
}

std::span<const std::uint8_t, BankImage::kPageSize> BankImage::page(std::uint8_t page) const
{
    return block(page).subspan<kHeaderSize, kPageSize>();
}

std::uint8_t BankImage::byte(std::uint16_t offset) const
{
    return blocks_[(offset / kPageSize) * kBlockSize + kHeaderSize + offset % kPageSize];
}

std::uint8_t BankImage::crc8(int length) const
{
    const std::size_t count = clampLength(length);
    std::uint8_t crc = 0;
    for (std::size_t offset = 0; offset < count; offset += kPageSize) {
        const auto data = page(static_cast<std::uint8_t>(offset / kPageSize));
        crc = crc8Smbus(std::span<const std::uint8_t>(data).first(std::min(kPageSize, count - offset)), crc);
    }
    return crc;
}

std::uint16_t BankImage::crc16(int length) const
{
    const std::size_t count = clampLength(length);
    std::uint16_t crc = 0;
    for (std::size_t offset = 0; offset < count; offset += kPageSize) {
        const auto data = page(static_cast<std::uint8_t>(offset / kPageSize));
        crc = crc16Xmodem(std::span<const std::uint8_t>(data).first(std::min(kPageSize, count - offset)), crc);
    }
    return crc;
}

int BankImage::crcFor(int operation, int length) const
{
    return usesCrc16(operation) ? int{crc16(length)} : int{crc8(length)};
}

}  // namespace mvx::engine
