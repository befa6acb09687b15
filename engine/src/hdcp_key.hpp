// The HDCP key of operation 2's HDCP-key mode (option 76): a block of up to
// 4 KB kept in the last 4 KB sector of the serial flash's fourth bank (bank 3,
// offsets 0xF000..0xFFFF, flash offset 0x3F000).
//
// A run loads the key file before it touches the board, then, after the
// flash set-up of operation 2, erases the key sector (its blank CRC-8 is
// 0x09), programs the 16 pages of the block and verifies them (option 88):
//   0  the CRC-8 of the whole 4 KB block against the controller's CRC of the
//      sector;
//   1  the sector read back through the controller's read stream, its first
//      key-length bytes compared with the key.  With option 92 the bytes read
//      back (key length of them) are saved as "Read_HDCP_KEY_File.bin" in the
//      folder of option 96, also when the comparison failed.
//
// Results: 0; 14 the key file is missing, unreadable, empty (binary kind) or
// larger than 4 KB, or the read-back file cannot be written (14 is the
// engine's file-problem code; the key itself is then in the flash and
// verified, but the run fails so that the missing file is not overlooked);
// 18 a wait ran out; 20 the verification failed; 26 the key sector did not
// read blank after its erase (a write-protected flash); 13 the controller
// left ISP mode before the read-back; or a transport's code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace mvx::engine {

struct IspContext;
struct OptionsCopy;

inline constexpr std::size_t kHdcpKeyCapacity = 4096;
inline constexpr std::uint8_t kHdcpBank = 3;
inline constexpr std::uint16_t kHdcpOffset = 0xF000;
inline constexpr std::uint8_t kHdcpFirstPage = 0xF0;
inline constexpr int kHdcpPages = 16;
// The CRC-8 of a blank (0xFF) 4 KB sector.
inline constexpr int kHdcpBlankCrc = 0x09;
inline constexpr const char* kHdcpReadBackFileName = "Read_HDCP_KEY_File.bin";

// The HDCP key kinds of option 100.
inline constexpr int kHdcpKeyBinary = 0;
inline constexpr int kHdcpKeyText = 1;

struct HdcpKey {
    std::vector<std::uint8_t> block = std::vector<std::uint8_t>(kHdcpKeyCapacity, 0xFF);  // 0xFF past the key
    std::size_t length = 0;   // key bytes from the file
};

// Loads the key file of option 84.  A binary key (option 100 = 0) fills the
// block from its start; a text key (option 100 = 1) is only opened: nothing
// of it is read, the key length is 0 and a blank block is written.  0 or 14.
[[nodiscard]] int loadHdcpKey(const OptionsCopy& options, HdcpKey& key);

// Erases the key sector, programs `key` into it and verifies it as option 88
// says, saving the read-back file when asked.  Runs inside serial-flash ISP
// mode after the flash set-up; leaving ISP mode is the caller's.
[[nodiscard]] int writeHdcpKey(IspContext& ctx, const HdcpKey& key);

// Reads out.size() flash bytes from bank:start through the controller's read
// stream (register 0x70), then hands the controller back (flash status 0x1E,
// controller reset, 0xEE = 0x06).  0, 13 (ISP mode is off), 18 (the mode
// registers or the read command did not settle) or the transport's code of a
// failed read; `out` is complete only on 0.
[[nodiscard]] int readFlashBack(IspContext& ctx, std::uint8_t bank, std::uint16_t start, std::span<std::uint8_t> out);

// Saves read-back key bytes as kHdcpReadBackFileName in `folder`, replacing
// the file as a whole (never a partial file).  0, or 14 when the folder is
// not named or the file cannot be written.
[[nodiscard]] int saveReadBackKey(const std::string& folder, std::span<const std::uint8_t> bytes);

}  // namespace mvx::engine
