#include "shell/option_records.hpp"

#include <algorithm>
#include <cstring>

namespace mvx::tool {
namespace {

constexpr std::array<std::string_view, 5> kQPins{"Pin103", "Pin104", "Pin105", "Pin108", {}};
constexpr std::array<std::string_view, 5> kTxqPins{"Pin108", "Pin111", "Pin112", "Pin113", "Pin114"};
constexpr std::array<std::string_view, 5> kTxmPins{"Pin26", "Pin27", "Pin28", "Pin29", {}};

// Paths sent with codes 2 and 3 are read up to this many bytes.
constexpr std::size_t kMaxFolderBytes = 4096;

}  // namespace

AdvancedSettings defaultAdvancedSettings(std::string_view programFolder)
{
    AdvancedSettings record{};
    record.showinfo = 1;
    setText(record.user_title, kDefaultUserTitle);
    record.Sectorerase_bankindex = 2;
    record.checkVGAconn_delay = 500;
    record.isprepeat_counter = 1;
    record.ffe2_value = 253;
    record.ffe3_value = 191;
    setText(record.autoload_directory_pathname, programFolder);
    record.ic_code_check_value = 2;
    record.other_usb_ispspeed = 14;
    record.flashstatus_value = 127;
    return record;
}

bool sameBlock(const AdvancedSettings& a, const AdvancedSettings& b)
{
    return std::memcmp(&a, &b, sizeof a) == 0;
}

void setText(TextField& field, std::string_view text)
{
    const std::size_t length = std::min(text.size(), kTextCapacity - 1);
    std::memset(field, 0, kTextCapacity);
    std::memcpy(field, text.data(), length);
}

std::string_view textOf(const TextField& field)
{
    const auto* end = static_cast<const char*>(std::memchr(field, '\0', kTextCapacity));
    return std::string_view(field, end != nullptr ? static_cast<std::size_t>(end - field)
                                                  : kTextCapacity);
}

std::array<std::string_view, 5> protectPins(int scalarType)
{
    switch (scalarType) {
    case 0:
    case 1:
        return kQPins;
    case 2:
        return kTxqPins;
    case 3:
        return kTxmPins;
    default:
        return {};
    }
}

std::size_t protectPinCount(int scalarType)
{
    const auto pins = protectPins(scalarType);
    return static_cast<std::size_t>(
        std::count_if(pins.begin(), pins.end(), [](std::string_view pin) { return !pin.empty(); }));
}

std::string_view protectPinName(int scalarType, int pinType)
{
    if (pinType < 0 || static_cast<std::size_t>(pinType) >= protectPinCount(scalarType))
        return {};
    return protectPins(scalarType)[static_cast<std::size_t>(pinType)];
}

std::string_view assemblyPinName(int scalarType, int pinType)
{
    if (scalarType == 2 && pinType == 0)
        return "Pin110";
    return protectPinName(scalarType, pinType);
}

SettingsNotification notifyAdvancedSettings(const AdvancedSettings& record)
{
    return {reinterpret_cast<std::uintptr_t>(&record),
            static_cast<std::intptr_t>(SettingsNotifyCode::AdvancedSettings)};
}

SettingsNotification notifyTitle(const TextField& title)
{
    return {reinterpret_cast<std::uintptr_t>(&title[0]),
            static_cast<std::intptr_t>(SettingsNotifyCode::Title)};
}

SettingsNotification notifyExportFolder(SettingsNotifyCode code, const char* folder)
{
    return {reinterpret_cast<std::uintptr_t>(folder), static_cast<std::intptr_t>(code)};
}

SettingsNotification notifyFlashProtect(const FlashProtectSettings& protect)
{
    return {reinterpret_cast<std::uintptr_t>(&protect),
            static_cast<std::intptr_t>(SettingsNotifyCode::FlashProtect)};
}

NotifyReceipt receiveSettingsNotify(std::uintptr_t wParam, std::intptr_t lParam,
                                    AdvancedSettings& advanced, FlashProtectSettings& protect)
{
    NotifyReceipt receipt;
    if (wParam == 0)
        return receipt;   // nothing to copy from
    const void* payload = reinterpret_cast<const void*>(wParam);
    switch (lParam) {
    case static_cast<std::intptr_t>(SettingsNotifyCode::AdvancedSettings):
        std::memcpy(&advanced, payload, sizeof advanced);
        if (advanced.show_mcu != 0)
            advanced.saved_hex = 0;
        receipt.effect = NotifyEffect::AdvancedSettingsCopied;
        break;
    case static_cast<std::intptr_t>(SettingsNotifyCode::Title):
        std::memcpy(advanced.user_title, payload, kTextCapacity);
        advanced.user_title[kTextCapacity - 1] = '\0';
        receipt.effect = NotifyEffect::TitleCopied;
        break;
    case static_cast<std::intptr_t>(SettingsNotifyCode::ExportSavedFirmware):
    case static_cast<std::intptr_t>(SettingsNotifyCode::ExportLdFiles): {
        const auto* text = static_cast<const char*>(payload);
        receipt.folder.assign(text, ::strnlen(text, kMaxFolderBytes));
        receipt.effect = lParam == static_cast<std::intptr_t>(SettingsNotifyCode::ExportLdFiles)
                             ? NotifyEffect::ExportLdFiles
                             : NotifyEffect::ExportSavedFirmware;
        break;
    }
    case static_cast<std::intptr_t>(SettingsNotifyCode::FlashProtect):
        std::memcpy(&protect, payload, sizeof protect);
        receipt.effect = NotifyEffect::FlashProtectCopied;
        break;
    default:
        break;
    }
    return receipt;
}

}  // namespace mvx::tool
