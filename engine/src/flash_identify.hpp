// Which serial flash sits behind the scaler.
//
// ID read mode 0 trusts the brand the caller chose and only probes the type
// within it; ID read mode 1 reads the JEDEC ID (and, where that does not
// settle it, the signature or the manufacturer/device ID), replaces the brand
// and reports the part to the caller as message 14 (sub = brand, 255 for an
// unknown chip; lParam = the part's index in its brand's list, -1 when the
// brand is known but the part is not).
//
// The flash type selects the erase, protect and program variants:
//   PMC      0, 1 and 4 (Pm25LV512A, Pm25LV010A, Pm25LD010) erase a bank as two 32 KB blocks
//   MXIC     2 selects the magic unprotect sequence
//   EON      1 EN25F10 (32 KB blocks), 0 others
//   SST      0, 1, 4 auto-increment programming, 2, 3 byte programming
//   AMIC     0 selects the AMIC protect sequence
#pragma once

#include <cstdint>

namespace mvx::engine {

struct IspContext;

// What identification found.
struct FlashIdentity {
    int brand = 0;              // 0..5, the brand the engine works with
    int type = 2;               // type index within the brand
    int reportedBrand = 0;      // sub of message 14 (255 unknown chip)
    int reportedIndex = -1;     // lParam of message 14
    std::uint32_t sizeBytes = 0;  // the part's size; 0 when the part is not known
};

// The size of a part of the chip list, by the brand and index message 14
// reports; 0 for an index -1, an unknown chip or a pair no part has.
std::uint32_t flashPartSize(int reportedBrand, int reportedIndex);

// Identifies the flash in the way ctx.idReadMode selects (1 = by ID, any
// other value = by the brand argument): sets ctx.flashType,
// ctx.detectedBrand and ctx.flashSizeBytes, in ID read mode 1 also
// ctx.flashBrand, and sends message 14 there.  Only ID read mode 1 names a
// part, so only there is the size known; by the brand argument it stays 0.
FlashIdentity identifyFlash(IspContext& ctx);

}  // namespace mvx::engine
