// CRCs and checksums of bank images.
//
// The engine checks every programmed bank against a CRC that the device's
// own CRC unit computes, and the MCUs also report checksums:
// - CRC-8/SMBUS (polynomial 0x07, initial value 0, most significant bit
//   first, no reflection, no final XOR) for the 5310 MCU, the serial flash
//   and the 1To4 images;
// - CRC-16/XMODEM (polynomial 0x1021, otherwise the same) for the 5312 MCU;
// - checksums kept modulo 65,536: a plain byte sum, or for the 5312 the sum
//   of 16-bit little-endian words.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace mvx::engine {

// CRC-8/SMBUS over `bytes`.  `crc` carries on from an earlier piece, so the
// CRC of a range split into pieces equals the CRC over the whole range.
std::uint8_t crc8Smbus(std::span<const std::uint8_t> bytes, std::uint8_t crc = 0);

// CRC-8/SMBUS over `count` copies of `value`, e.g. the CRC a blank (0xFF)
// range of the flash reads back.
std::uint8_t crc8SmbusRepeated(std::uint8_t value, std::size_t count, std::uint8_t crc = 0);

// CRC-16/XMODEM over `bytes`, continuing from `crc` like crc8Smbus.
std::uint16_t crc16Xmodem(std::span<const std::uint8_t> bytes, std::uint16_t crc = 0);

// Sum of all bytes, modulo 65,536.
int byteChecksum(std::span<const std::uint8_t> bytes);

// Sum of 16-bit little-endian words, modulo 65,536: bytes at even positions
// count as they are, bytes at odd positions times 256.  An odd-sized range
// ends with a half word.
int wordChecksum(std::span<const std::uint8_t> bytes);

// The rules by operation code: the 5312 operations (1 and 4) use CRC-16 and
// word checksums, every other operation CRC-8 and byte sums.
bool usesCrc16(int operation);
bool usesWordChecksum(int operation);

// The bank checksum of `bytes` under the rule of `operation`.
int bankChecksum(int operation, std::span<const std::uint8_t> bytes);

}  // namespace mvx::engine
