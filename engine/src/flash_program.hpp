// Programming a bank of the serial flash from the bank image, and verifying
// it by CRC.
//
// Brands other than SST are programmed by 256-byte pages through the
// controller's page buffer; the first page is read back by CRC at once, so a
// write-protected flash is found after one page (26) rather than after the
// whole bank.  SST parts are programmed in auto-increment mode (types 0, 1
// and 4) or one byte per command (types 2 and 3).
//
// Page data goes out as the transport can send it: in library mode as a
// 256-byte write to register 0x70 of the primary slave, otherwise as the
// bank image's whole 258-byte transfer block (WriteBlock, with the secondary
// slave, sub-address 0x92 and the page's byte offset for the USB bridge).
#pragma once

#include <cstdint>

namespace mvx::engine {

struct IspContext;
class BankImage;

// Pages of a program length L (1..65,536): ((L - 1) >> 8) + 1.
[[nodiscard]] int flashPageCount(int programLength);

// Programs image bytes 0..programLength-1 (whole pages) into `bank`, with
// message 2 (sub bank) and message 13 (mapped into the current bank window
// of ctx.plan) as it goes.  0, 18 (a wait ran out), 26 (the first page did
// not take: write-protected) or the transport's code for a failed page
// write.
[[nodiscard]] int programFlashBank(IspContext& ctx, const BankImage& image, std::uint8_t bank, int programLength);

// A run of pages programmed from the image into the same pages of a bank.
struct PageRun {
    std::uint8_t firstPage = 0;   // image page and flash page of the first one
    int pages = 0;
    bool report = true;           // message 2 (sub bank) and message 13 as it goes
    bool checkFirstPage = true;   // the write-protect check after the first page (26)
};

// Programs image pages firstPage .. firstPage + pages - 1 into the same pages
// of `bank` as programFlashBank does, with or without its messages and its
// first-page check.  0, 18, 26 or the transport's code.
[[nodiscard]] int programFlashPages(IspContext& ctx, const BankImage& image, std::uint8_t bank, const PageRun& run);

// Sends message 3 with the image's CRC-8 over programLength bytes, message 4
// with the device's CRC of the same range and message 5 with the outcome.
// True when they match.
[[nodiscard]] bool verifyFlashBank(IspContext& ctx, const BankImage& image, std::uint8_t bank, int programLength);

}  // namespace mvx::engine
