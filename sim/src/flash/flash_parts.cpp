// The serial flash parts the virtual board can carry: every part of the chip
// list, with the identification answers, sizes, instruction-set differences
// and typical busy times of its datasheet.
//
// Identification by brand:
//   PMC      JEDEC 7F 9D <device>, 0x90 9D <device>
//   Winbond  JEDEC EF 30 <11..14>, signature 10..13
//   MXIC     JEDEC C2 20 <11..14>, signature 10..13; the MX25L2026 shares
//            the MX25L2005's JEDEC ID and tells itself apart by signature 03
//   EON      JEDEC 1C 31 <11, 12>
//   SST      the LF parts know no JEDEC read (the bus floats high); 0x90 and
//            0xAB alike answer BF and the device ID, alternating
//   AMIC     JEDEC 37 30 <11, 12>
#include "mvx/sim/spi_flash.hpp"

#include <algorithm>
#include <cctype>

namespace mvx::sim {
namespace {

constexpr std::uint32_t kKb = 1024;

constexpr FlashPart pmc(const char* name, int index, std::uint32_t size, std::uint8_t device,
                        std::uint32_t blockD8Bytes, std::uint8_t protectMask, std::uint32_t chipErase)
{
    return FlashPart{
        .name = name, .brand = 0, .typeIndex = index, .sizeBytes = size,
        .jedecId = {0x7F, 0x9D, device}, .signature = device,
        .manufacturerId = 0x9D, .deviceId = device, .protectMask = protectMask,
        .sstByteProgram = false,
        .pageProgramMicros = 1'500, .byteProgramMicros = 1'500, .sectorEraseMicros = 60'000,
        .block32EraseMicros = 300'000, .block64EraseMicros = 500'000, .chipEraseMicros = chipErase,
        .statusWriteMicros = 10'000,
        .blockD8Bytes = blockD8Bytes, .block32Erase52 = false, .sectorEraseD7 = true,
        .chipEraseC7 = true, .aaiOpcode = 0, .statusWriteNeedsEwsr = false,
        .wrenArmsStatusWrite = false, .powerUpStatus = 0,
    };
}

// Winbond, MXIC, EON and AMIC parts share one instruction set.
constexpr FlashPart common(const char* name, std::uint8_t brand, int index, std::uint32_t size,
                           std::array<std::uint8_t, 3> jedec, std::uint8_t signature,
                           std::uint8_t protectMask, std::uint32_t blockD8Bytes,
                           std::uint32_t pageProgram, std::uint32_t sectorErase,
                           std::uint32_t blockErase, std::uint32_t chipErase, std::uint32_t statusWrite)
{
    return FlashPart{
        .name = name, .brand = brand, .typeIndex = index, .sizeBytes = size,
        .jedecId = jedec, .signature = signature,
        .manufacturerId = jedec[0], .deviceId = signature, .protectMask = protectMask,
        .sstByteProgram = false,
        .pageProgramMicros = pageProgram, .byteProgramMicros = pageProgram,
        .sectorEraseMicros = sectorErase, .block32EraseMicros = blockErase / 2,
        .block64EraseMicros = blockErase, .chipEraseMicros = chipErase,
        .statusWriteMicros = statusWrite,
        .blockD8Bytes = blockD8Bytes, .block32Erase52 = false, .sectorEraseD7 = false,
        .chipEraseC7 = true, .aaiOpcode = 0, .statusWriteNeedsEwsr = false,
        .wrenArmsStatusWrite = false, .powerUpStatus = 0,
    };
}

constexpr FlashPart winbond(const char* name, int index, std::uint32_t size, std::uint32_t chipErase)
{
    const auto id = static_cast<std::uint8_t>(0x11 + index);
    return common(name, 1, index, size, {0xEF, 0x30, id}, static_cast<std::uint8_t>(id - 1), 0x1C,
                  64 * kKb, 1'500, 150'000, 1'000'000, chipErase, 10'000);
}

constexpr FlashPart mxic(const char* name, int index, std::uint32_t size, std::uint8_t jedecDevice,
                         std::uint8_t signature, std::uint8_t protectMask, std::uint32_t chipErase)
{
    return common(name, 2, index, size, {0xC2, 0x20, jedecDevice}, signature, protectMask, 64 * kKb,
                  1'400, 90'000, 1'000'000, chipErase, 5'000);
}

// The SST parts: byte program, auto-address-increment program, and WRSR armed
// by EWSR.  They power up with their protect bits set.
constexpr FlashPart sst(const char* name, int index, std::uint32_t size, std::uint8_t device, bool bSeries)
{
    return FlashPart{
        .name = name, .brand = 4, .typeIndex = index, .sizeBytes = size,
        .jedecId = bSeries ? std::array<std::uint8_t, 3>{0xBF, 0x25, device}
                           : std::array<std::uint8_t, 3>{0xFF, 0xFF, 0xFF},
        .signature = 0xBF, .manufacturerId = 0xBF, .deviceId = device, .protectMask = 0x0C,
        .sstByteProgram = true,
        .pageProgramMicros = bSeries ? 7u : 14u, .byteProgramMicros = bSeries ? 7u : 14u,
        .sectorEraseMicros = 18'000, .block32EraseMicros = 18'000, .block64EraseMicros = 18'000,
        .chipEraseMicros = bSeries ? 35'000u : 70'000u, .statusWriteMicros = 0,
        .blockD8Bytes = bSeries ? 64 * kKb : 0, .block32Erase52 = true, .sectorEraseD7 = false,
        .chipEraseC7 = bSeries, .aaiOpcode = static_cast<std::uint8_t>(bSeries ? 0xAD : 0xAF),
        .statusWriteNeedsEwsr = true, .wrenArmsStatusWrite = bSeries, .powerUpStatus = 0x0C,
    };
}

constexpr std::array kParts{
    pmc("Pm25LV512A", 0, 64 * kKb, 0x7B, 32 * kKb, 0x0C, 1'000'000),
    pmc("Pm25LV010A", 1, 128 * kKb, 0x7C, 32 * kKb, 0x0C, 1'000'000),
    pmc("Pm25LV020", 2, 256 * kKb, 0x7D, 64 * kKb, 0x1C, 2'000'000),
    pmc("Pm25LV040", 3, 512 * kKb, 0x7E, 64 * kKb, 0x1C, 3'000'000),
    pmc("Pm25LD010", 4, 128 * kKb, 0x21, 32 * kKb, 0x1C, 1'000'000),
    pmc("Pm25LD020", 5, 256 * kKb, 0x22, 64 * kKb, 0x1C, 2'000'000),
    pmc("Pm25LD040", 6, 512 * kKb, 0x23, 64 * kKb, 0x1C, 3'000'000),

    winbond("W25X10A", 0, 128 * kKb, 1'500'000),
    winbond("W25X20A", 1, 256 * kKb, 2'000'000),
    winbond("W25X40A", 2, 512 * kKb, 4'000'000),
    winbond("W25X80A", 3, 1024 * kKb, 6'000'000),

    mxic("MX25L1005", 0, 128 * kKb, 0x11, 0x10, 0x0C, 1'500'000),
    mxic("MX25L2005", 1, 256 * kKb, 0x12, 0x11, 0x0C, 2'000'000),
    mxic("MX25L2026", 2, 256 * kKb, 0x12, 0x03, 0x0C, 2'000'000),
    mxic("MX25L4005", 3, 512 * kKb, 0x13, 0x12, 0x1C, 3'500'000),
    mxic("MX25L8005", 4, 1024 * kKb, 0x14, 0x13, 0x1C, 6'000'000),

    // The EN25F10's 0xD8 erases 32 KB blocks.
    common("EN25F20", 3, 0, 256 * kKb, {0x1C, 0x31, 0x12}, 0x11, 0x1C, 64 * kKb, 1'500, 90'000,
           800'000, 2'000'000, 10'000),
    common("EN25F10", 3, 1, 128 * kKb, {0x1C, 0x31, 0x11}, 0x10, 0x1C, 32 * kKb, 1'500, 90'000,
           400'000, 1'500'000, 10'000),

    sst("SST25LF020A", 0, 256 * kKb, 0x43, false),
    sst("SST25LF040A", 1, 512 * kKb, 0x44, false),
    sst("SST25LF010A", 2, 128 * kKb, 0x49, false),
    sst("SST25LF080B", 3, 1024 * kKb, 0x8E, false),
    sst("SST25VF020B", 4, 256 * kKb, 0x8C, true),

    common("A25L020", 5, 0, 256 * kKb, {0x37, 0x30, 0x12}, 0x11, 0x1C, 64 * kKb, 1'500, 100'000,
           700'000, 2'000'000, 10'000),
    common("A25L010", 5, 1, 128 * kKb, {0x37, 0x30, 0x11}, 0x10, 0x1C, 64 * kKb, 1'500, 100'000,
           700'000, 1'500'000, 10'000),

    // A part whose manufacturer no identification table lists.
    common("unknown", 255, -1, 512 * kKb, {0x3C, 0x20, 0x13}, 0x12, 0x1C, 64 * kKb, 1'500, 100'000,
           800'000, 4'000'000, 10'000),
};

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::span<const FlashPart> flashParts()
{
    return kParts;
}

const FlashPart* findFlashPart(std::string_view name)
{
    for (const FlashPart& part : kParts)
        if (sameName(part.name, name))
            return &part;
    return nullptr;
}

}  // namespace mvx::sim
