// The information block of the 1To4 writer board.  Each writer MCU reads it
// from its writer bank 0, bytes 0x3FAC..0x3FD0, to learn which target banks it
// carries, how long they are, what they sum to, and how to run the targets.
//
// 16-bit values are stored big-endian.  Lengths, checksums and CRCs sit in
// three tables of four 2-byte slots (0x3FAC, 0x3FB4, 0x3FBC), one slot per
// target bank.
//
// The MCU operations (3 and 4) build the block into the writer image before it
// is programmed; the serial-flash operation (5) builds it after the writers'
// checksums have passed and programs it as page 0x3F of writer bank 0 on its
// own, once for M1 and once for M2.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "mvxisp.h"

namespace mvx::engine {

inline constexpr std::size_t kWriterBankBytes = 0x10000;
inline constexpr std::size_t kOneToFourHeaderOffset = 0x3FAC;
inline constexpr std::size_t kOneToFourHeaderEnd = 0x3FD1;   // one past the last byte
inline constexpr std::uint8_t kOneToFourHeaderPage = 0x3F;

// What the block says of one target bank.
struct TargetBankSummary {
    bool used = false;
    int length = 0;     // bytes the writer programs into the target
    int checksum = 0;   // the bank checksum of the loader (16 bits)
    int crc = 0;        // CRC-8 (operations 3 and 5) or CRC-16 (operation 4) of `length` bytes
};

// Operations 3 (5310 targets, banks 0 and 1) and 4 (5312 targets, banks 0..2).
struct McuHeaderFields {
    int operation = MVX_OP_5310_1TO4;
    std::array<TargetBankSummary, 3> banks{};
    bool partialErase = false;
    int eraseLength = 0;             // bytes of the last bank a partial erase clears
    int checkConnectionDelay = 0;    // option 0, milliseconds
    int showChecksumDelay = 0;       // option 4, milliseconds
};

// Writes the block of operation 3 or 4 into a writer bank 0 image:
//   0x3FAC + 2n  length of target bank n (operation 3: length - 1)
//   0x3FB4 + 2n  its checksum
//   0x3FBC + 2n  operation 3: 0xFF and the CRC-8; operation 4: the CRC-16
//                (slots past the operation's banks: length 0, checksum 0,
//                CRC 0xFFFF; a bank not in use: the same, but operation 4
//                writes its checksum as 0xFFFF)
//   0x3FC4       partial-erase length in whole KB (0 without a partial erase)
//   0x3FC5       operation 3: 0x32 / 0x30 with / without partial erase;
//                operation 4: 0x76 / 0x74, bit 4 + n cleared for an unused bank n
//   0x3FCC       option 0 / 10, at least 1;  0x3FCD  option 4 / 10
// Other bytes are left as they are.  Does nothing to an image shorter than
// the block's end.
void writeMcuHeader(std::span<std::uint8_t> writerBank0, const McuHeaderFields& fields);

enum class WriterChip { M1, M2 };

// Operation 5 (serial-flash targets, banks 0..3).
struct FlashHeaderFields {
    std::array<TargetBankSummary, 4> banks{};
    FlashProtectSettings protect{};
    int flashBrand = 0;          // argument 8
    int flashType = 2;           // type within the brand
    int sectorEraseFlag = 0;     // argument 15
    int sectorEraseBank = 0;     // argument 16
    int idReadMode = 0;          // argument 12
    int checkIcCode = 0;         // option 36
    int expectedIcCode = 0;      // option 40
    int setE2E3 = 0;             // option 16
    int e2Value = 0;             // option 20
    int e3Value = 0;             // option 24
    int checkConnectionDelay = 0;  // option 0, milliseconds
    int showChecksumDelay = 0;     // option 4, milliseconds
};

// Writes the block of operation 5 for one writer into a writer bank 0 image:
//   0x3FAC + 2n  length of target bank n (0 when unused; bank 3: length - 1)
//   0x3FB4 + 2n  its checksum (0 when unused)
//   M1: 0x3FBC..0x3FC3  0xFF and the CRC-8 of each bank (0xFF 0xFF when unused),
//       0x3FC4 0x00, 0x3FC5 flags 0xFA
//   M2: 0x3FBC..0x3FBF  the CRC-8 of each bank (0xFF when unused), 0x3FC0 flags 0xF0
//       (flags: bit 6 cleared when bank 2 is unused, bit 7 when bank 3 is)
//   0x3FC6  enable_protect << 7 | (scalar_type & 7) << 4 | (pin_type & 7) << 1 | value & 1
//   0x3FC7..0x3FC9  the write-protect pin row (index register, mux value,
//           output register); 0xFF 0xFF 0xFF when the settings name no row
//   0x3FCA  brand << 4 | type & 0x0F; SST as 0xC0 + type
//   0x3FCB  bit 0 sector erase, bit 1 ID read mode 1, bit 2 option 36, bit 3
//           option 16, bits 6..7 the sector-erase bank (only a bank 0..3 is
//           named; a flag for another bank is not set)
//   0x3FCC  option 0 / 10, at least 1;  0x3FCD  option 4 / 10
//   0x3FCE  option 40;  0x3FCF, 0x3FD0  options 20 and 24 (low bytes)
// Other bytes are left as they are.  Does nothing to an image shorter than
// the block's end.
void writeFlashHeader(std::span<std::uint8_t> writerBank0, WriterChip writer, const FlashHeaderFields& fields);

// A delay option in milliseconds as the block's byte of 10 ms units, at least
// `minimum` and at most 255.
std::uint8_t headerDelayUnits(int milliseconds, int minimum);

}  // namespace mvx::engine
