#include "flash_identify.hpp"

#include <array>

#include "flash_commands.hpp"
#include "isp_context.hpp"
#include "mvxisp.h"

namespace mvx::engine {

namespace {

constexpr std::uint8_t kPmcManufacturer = 0x7F;
constexpr std::uint8_t kPmcContinuation = 0x9D;
constexpr std::uint8_t kEonManufacturer = 0x1C;
constexpr std::uint8_t kAmicManufacturer = 0x37;
constexpr std::uint8_t kSstManufacturer = 0xBF;
constexpr std::uint8_t kMxicManufacturer = 0xC2;
constexpr std::uint8_t kWinbondManufacturer = 0xEF;

// One row of an ID table: the ID byte(s) that select it, the type set and
// the index reported.
struct IdRow {
    std::uint8_t id;
    int type;
    int index;
};

constexpr std::array kPmcParts{
    IdRow{0x21, 4, 4}, IdRow{0x22, 5, 5}, IdRow{0x23, 6, 6}, IdRow{0x7B, 0, 0},
    IdRow{0x7C, 1, 1}, IdRow{0x7D, 2, 2}, IdRow{0x7E, 3, 3},
};
constexpr std::array kWinbondParts{
    IdRow{0x11, 0, 0}, IdRow{0x12, 1, 1}, IdRow{0x13, 2, 2}, IdRow{0x14, 3, 3},
};
// SST parts by the device byte of the manufacturer/device ID read.
constexpr std::array kSstParts{
    IdRow{0x43, 1, 0}, IdRow{0x44, 3, 1}, IdRow{0x49, 0, 2}, IdRow{0x8C, 2, 4}, IdRow{0x8E, 4, 3},
};

template <std::size_t N>
const IdRow* findRow(const std::array<IdRow, N>& rows, std::uint8_t id)
{
    for (const IdRow& row : rows)
        if (row.id == id)
            return &row;
    return nullptr;
}

FlashIdentity known(int brand, int type, int index)
{
    return FlashIdentity{brand, type, brand, index};
}

// Looks a part up by one ID byte; a miss leaves `fallbackType` and index -1.
template <std::size_t N>
FlashIdentity byTable(int brand, const std::array<IdRow, N>& rows, std::uint8_t id, int fallbackType)
{
    if (const IdRow* row = findRow(rows, id))
        return known(brand, row->type, row->index);
    return known(brand, fallbackType, -1);
}

// ID read mode 1.
FlashIdentity identifyById(Link& link)
{
    const auto [m, t, c] = readJedecId(link);
    switch (m) {
    case kEonManufacturer:
        if (t == 0x31 && c == 0x11)
            return known(MVX_BRAND_EON, 1, 1);
        if (t == 0x31 && c == 0x12)
            return known(MVX_BRAND_EON, 0, 0);
        return known(MVX_BRAND_EON, 0, -1);
    case kAmicManufacturer:
        if (t == 0x30 && c == 0x11)
            return known(MVX_BRAND_AMIC, 1, 1);
        if (t == 0x30 && c == 0x12)
            return known(MVX_BRAND_AMIC, 0, 0);
        return known(MVX_BRAND_AMIC, 0, -1);
    case kSstManufacturer:
        if (t == 0x25 && c == 0x8C)
            return known(MVX_BRAND_SST, 2, 4);
        return known(MVX_BRAND_SST, 1, -1);
    case kMxicManufacturer:
        if (t != 0x20)
            return known(MVX_BRAND_MXIC, 1, -1);
        switch (c) {
        case 0x11: return known(MVX_BRAND_MXIC, 0, 0);
        case 0x12:
            // Two parts share this ID; the signature tells them apart.
            if (readSignature(link)[0] == 0x03)
                return known(MVX_BRAND_MXIC, 2, 2);
            return known(MVX_BRAND_MXIC, 1, 1);
        case 0x13: return known(MVX_BRAND_MXIC, 3, 3);
        case 0x14: return known(MVX_BRAND_MXIC, 4, 4);
        default: return known(MVX_BRAND_MXIC, 1, -1);
        }
    case kWinbondManufacturer:
        if (t != 0x30)
            return known(MVX_BRAND_WINBOND, 1, -1);
        return byTable(MVX_BRAND_WINBOND, kWinbondParts, c, 1);
    case kPmcManufacturer:
        if (t == kPmcContinuation)
            return byTable(MVX_BRAND_PMC, kPmcParts, c, 2);
        break;
    default:
        break;
    }
    // Parts without a JEDEC read (the older SST parts): manufacturer and
    // device ID instead.
    const auto [manufacturer, device] = readManufacturerId(link);
    if (manufacturer == kSstManufacturer)
        return byTable(MVX_BRAND_SST, kSstParts, device, 1);
    FlashIdentity unknown = known(MVX_BRAND_PMC, 2, 0);
    unknown.reportedBrand = MVX_BRAND_UNKNOWN;
    return unknown;
}

// ID read mode 0: the brand is given, only its type is probed.
int probeType(Link& link, int brand)
{
    switch (brand) {
    case MVX_BRAND_PMC: {
        const auto [m, t, c] = readJedecId(link);
        if (m != kPmcManufacturer || t != kPmcContinuation)
            return 2;
        switch (c) {
        case 0x21: return 4;
        case 0x22: return 5;
        case 0x7B: return 0;   // 32 KB blocks, erased like type 1
        case 0x7C: return 1;
        default: return 2;
        }
    }
    case MVX_BRAND_MXIC:
        return readSignature(link)[0] == 0x11 ? 1 : 2;
    case MVX_BRAND_EON: {
        const auto [m, t, c] = readJedecId(link);
        return m == kEonManufacturer && t == 0x31 && c == 0x11 ? 1 : 0;
    }
    case MVX_BRAND_SST: {
        // The answer's second byte (0x68) is the device ID.
        const std::uint8_t device = readSignature(link)[1];
        if (device == 0x44)
            return 3;
        if (device == 0x8C)
            return 2;
        return 1;
    }
    default:
        return 2;
    }
}

constexpr std::uint32_t kKb = 1024;

// Part sizes in the order message 14 numbers each brand's parts.
constexpr std::array<std::uint32_t, 7> kPmcSizes{64 * kKb, 128 * kKb, 256 * kKb, 512 * kKb,
                                                 128 * kKb, 256 * kKb, 512 * kKb};
constexpr std::array<std::uint32_t, 4> kWinbondSizes{128 * kKb, 256 * kKb, 512 * kKb, 1024 * kKb};
constexpr std::array<std::uint32_t, 5> kMxicSizes{128 * kKb, 256 * kKb, 256 * kKb, 512 * kKb, 1024 * kKb};
constexpr std::array<std::uint32_t, 2> kEonSizes{256 * kKb, 128 * kKb};
constexpr std::array<std::uint32_t, 5> kSstSizes{256 * kKb, 512 * kKb, 128 * kKb, 1024 * kKb, 256 * kKb};
constexpr std::array<std::uint32_t, 2> kAmicSizes{256 * kKb, 128 * kKb};

template <std::size_t N>
std::uint32_t sizeAt(const std::array<std::uint32_t, N>& sizes, int index)
{
    return index >= 0 && static_cast<std::size_t>(index) < N ? sizes[static_cast<std::size_t>(index)] : 0;
}

}  // namespace

std::uint32_t flashPartSize(int reportedBrand, int reportedIndex)
{
    switch (reportedBrand) {
    case MVX_BRAND_PMC: return sizeAt(kPmcSizes, reportedIndex);
    case MVX_BRAND_WINBOND: return sizeAt(kWinbondSizes, reportedIndex);
    case MVX_BRAND_MXIC: return sizeAt(kMxicSizes, reportedIndex);
    case MVX_BRAND_EON: return sizeAt(kEonSizes, reportedIndex);
    case MVX_BRAND_SST: return sizeAt(kSstSizes, reportedIndex);
    case MVX_BRAND_AMIC: return sizeAt(kAmicSizes, reportedIndex);
    default: return 0;
    }
}

FlashIdentity identifyFlash(IspContext& ctx)
{
    Link& link = *ctx.link;
    FlashIdentity identity;
    if (ctx.idReadMode == 1) {
        identity = identifyById(link);
        identity.sizeBytes = flashPartSize(identity.reportedBrand, identity.reportedIndex);
        ctx.flashBrand = identity.brand;
        ctx.progress.send(MVX_MSG_FLASH_IDENTIFIED, identity.reportedBrand, identity.reportedIndex);
    } else {
        identity.brand = ctx.flashBrand;
        identity.type = probeType(link, ctx.flashBrand);
        identity.reportedBrand = ctx.flashBrand;
        identity.reportedIndex = -1;
    }
    ctx.flashType = identity.type;
    ctx.detectedBrand = identity.brand;
    ctx.flashSizeBytes = identity.sizeBytes;
    return identity;
}

}  // namespace mvx::engine
