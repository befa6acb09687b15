// The largest file of each kind the engine and its front ends read.  A file
// beyond its limit is refused before it is read: it cannot be a valid file
// of its kind, and a bound keeps a wrong path (a disk image, /proc, a huge
// log) from being read into memory.
#pragma once

#include <cstdint>

namespace mvx {

// Intel-HEX text of one 64 KB bank.  A full bank written as records of one
// data byte takes 15 characters a byte with CR LF (983,053 bytes with its
// end record); four times a mebibyte leaves room for text between records.
inline constexpr std::uint64_t kMaxHexFileBytes = std::uint64_t{4} << 20;
// A raw binary bank: the 64 KB load buffer.
inline constexpr std::uint64_t kMaxBinaryFileBytes = 65536;
// A whole-device image: the largest serial flash the engine knows (1 MB;
// the MCU images are 96 KB and 160 KB).
inline constexpr std::uint64_t kMaxImageFileBytes = std::uint64_t{1} << 20;
// An HDCP key: the 4 KB key block.
inline constexpr std::uint64_t kMaxHdcpKeyFileBytes = 4096;
// An exported ISP file: two 4-byte magics, the settings chunk (a 2-byte
// length, so at most 65,535 bytes) and at most four HEX images with their
// 4-byte lengths (a binary job's one image is smaller).
inline constexpr std::uint64_t kMaxIspFileBytes = 8 + 2 + 65535 + 4 * (4 + kMaxHexFileBytes);

}  // namespace mvx
