// The option values of the customer page, bound to its radio groups, check
// boxes and the true-size combo, and the per-MCU memory behind them.
//
// Radio groups are numbered from 0 in the order their radios sit on the page.
// A value outside its group's range is kept as it is (it reads back from the
// settings file unchanged and is written back unchanged) and simply checks no
// radio of the group; the MCU modes' default brand 6 is such a value.
//
// The per-MCU memory is the six columns of twelve values the settings store
// keeps under the MCU type's key prefix (tool::ModeOptions); the page
// remembers the current type's values there when the operator leaves it and
// restores them when he comes back.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "shell/settings_store.hpp"

namespace mvx::customer_page {

// mcuType: the three targets driven alone, then the same driving four boards.
enum McuType : int {
    kR5310 = 0,
    kR5312 = 1,
    kSerialFlash = 2,
    kR5310x4 = 3,
    kR5312x4 = 4,
    kSerialFlashx4 = 5,
};
inline constexpr int kMcuTypeCount = tool::kModeCount;
inline constexpr int kRowCount = 9;
inline constexpr int kTrueSizeCount = 32;   // combo texts "1".."32" (KB)
inline constexpr std::uint16_t kAllRows = 0x1FF;

// Numbered values of the groups the page reasons about.
inline constexpr int kIspAuto = 0, kIspEraseOnly = 1;
inline constexpr int kAddressCustom = 0, kAddressDefault = 1;
inline constexpr int kMassErase = 0, kPageErase = 1;
inline constexpr int kCheckCrc = 0, kCheckSum = 1;
inline constexpr int kHexFiles = 0, kBinFile = 1;
inline constexpr int kOneBoard = 0, kFourBoards = 1;
inline constexpr int kInterfaceNorvaneIic = 2;   // AdapterKind 2
inline constexpr int kIspEnabled = 0, kIspDisabled = 1;

struct PageOptions {
    int ispType = kIspAuto;
    int addressMode = kAddressDefault;
    int mcuType = kR5310;
    int eraseType = kMassErase;
    int trueSizeIndex = 0;        // size in KB is index + 1
    int extTrueSize = 0;
    int checkType = kCheckCrc;
    int interfaceKind = 0;        // AdapterKind 0..3
    int fileType = kHexFiles;
    std::string addressText;      // at most two hexadecimal digits
    int oneToFour = kOneBoard;
    int sstType = 0;              // always hidden; passed through to the engine
    int flashBrand = 0;           // the engine's brand numbers 0..5
    int ispEnable = kIspEnabled;
    std::uint16_t tickedRows = 0; // the row check boxes, bit i = row i

    bool operator==(const PageOptions&) const = default;

    bool rowTicked(int row) const { return row >= 0 && row < kRowCount && ((tickedRows >> row) & 1u) != 0; }
};

// The integer options, each with the member it lives in and its values.
enum class OptionField {
    IspType, AddressMode, McuType, EraseType, TrueSizeIndex, ExtTrueSize, CheckType,
    InterfaceKind, FileType, OneToFour, SstType, FlashBrand, IspEnable,
};

struct OptionRange {
    OptionField field;
    std::string_view name;
    int PageOptions::*member;
    int min;
    int max;
};

inline constexpr std::array<OptionRange, 13> kOptionRanges{{
    {OptionField::IspType, "ispType", &PageOptions::ispType, 0, 1},
    {OptionField::AddressMode, "addressMode", &PageOptions::addressMode, 0, 1},
    {OptionField::McuType, "mcuType", &PageOptions::mcuType, 0, kMcuTypeCount - 1},
    {OptionField::EraseType, "eraseType", &PageOptions::eraseType, 0, 1},
    {OptionField::TrueSizeIndex, "trueSizeIndex", &PageOptions::trueSizeIndex, 0, kTrueSizeCount - 1},
    {OptionField::ExtTrueSize, "extTrueSize", &PageOptions::extTrueSize, 0, 1},
    {OptionField::CheckType, "checkType", &PageOptions::checkType, 0, 1},
    {OptionField::InterfaceKind, "interfaceKind", &PageOptions::interfaceKind, 0, 3},
    {OptionField::FileType, "fileType", &PageOptions::fileType, 0, 1},
    {OptionField::OneToFour, "oneToFour", &PageOptions::oneToFour, 0, 1},
    {OptionField::SstType, "sstType", &PageOptions::sstType, 0, 1},
    {OptionField::FlashBrand, "flashBrand", &PageOptions::flashBrand, 0, 5},
    {OptionField::IspEnable, "ispEnable", &PageOptions::ispEnable, 0, 1},
}};

const OptionRange& optionRange(OptionField field);
inline int value(const PageOptions& options, OptionField field) { return options.*optionRange(field).member; }
inline bool inRange(OptionField field, int v) { return v >= optionRange(field).min && v <= optionRange(field).max; }

// The three targets: 0 R5310, 1 R5312, 2 serial flash, whether one or four boards.
inline int mcuFamily(int mcuType) { return ((mcuType % 3) + 3) % 3; }
// The engine's operation mode: the family, plus 3 when four boards are driven
// (by the 1TO4 switch or by a four-board MCU type).
int engineMode(const PageOptions& options);

// The custom slave address typed into the address edit: one or two
// hexadecimal digits; nullopt for anything else.
std::optional<int> parseAddressText(std::string_view text);

// ---- per-MCU memory --------------------------------------------------------

// The twelve remembered values of the current options.
tool::ModeOptions rememberedValues(const PageOptions& options);
// Puts a type's twelve remembered values back (the row mask as the 16 bits it is).
void restoreValues(PageOptions& options, const tool::ModeOptions& remembered);

// The page's options as the settings file holds them: the stored "mcu"
// (0..5) and that type's remembered values.
PageOptions optionsFromSettings(const tool::CustomerSettings& settings);
// The options back into the settings: "mcu" and the current type's column.
void optionsToSettings(const PageOptions& options, tool::CustomerSettings& settings);

}  // namespace mvx::customer_page
