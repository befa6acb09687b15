// The two option records the settings dialogs edit and the Customer ISP page
// owns, the flash-protect pin lists, and the WM_SETTINGS_NOTIFY message that
// carries changes from a dialog to the page.
//
// AdvancedSettings is one flat block: it is copied, compared and sent whole,
// so its layout is fixed by the field order below and it holds no padding
// (the 16-bit mask is followed by an explicit spare half-word).  Text fields
// are 260-byte NUL-terminated buffers; setText() fills the unused tail with
// zeros so that two records with the same texts compare equal.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>

#include "mvxisp.h"

namespace mvx::tool {

inline constexpr std::size_t kTextCapacity = 260;   // bytes, terminator included
using TextField = char[kTextCapacity];

inline constexpr std::string_view kDefaultUserTitle = "Norvane ISP Tool V2.2";

struct AdvancedSettings {
    std::int32_t saved_hex;                      // 1
    std::int32_t dis_open;                       // 2
    std::int32_t dis_check;                      // 3
    std::uint16_t missing_files_mask;            // 4: bits 0-3 bank files, 4-7 LD files
    std::uint16_t spare;                         //    always 0
    std::int32_t startpage;                      // 5
    std::int32_t show_mcu;                       // 6
    std::int32_t showinfo;                       // 7
    TextField user_title;                        // 8
    std::int32_t Auto_detect;                    // 9
    std::int32_t saved_ld;                       // 10
    std::int32_t Enable_sectorerase_extendbank;  // 11
    std::int32_t Sectorerase_bankindex;          // 12
    std::int32_t checkVGAconn_delay;             // 13
    std::int32_t beforeshowCKSM_delay;           // 14
    std::int32_t enable_isprepeattest;           // 15
    std::int32_t isprepeat_counter;              // 16
    std::int32_t enable_autorunisp;              // 17
    std::int32_t enable_sete2e3output;           // 18
    std::int32_t ffe2_value;                     // 19
    std::int32_t ffe3_value;                     // 20
    std::int32_t enable_autoload_fw_files;       // 21
    TextField autoload_directory_pathname;       // 22
    std::int32_t enable_read_ic_code;            // 23
    std::int32_t enable_show_isp_enableoption;   // 24
    std::int32_t enable_check_ic_code_before_isp;  // 25
    std::int32_t ic_code_check_value;            // 26
    std::int32_t enable_masserasebeforeauto4flash;   // 27
    std::int32_t enable_bankerasebeforeauto4flash;   // 28
    std::int32_t bankindex_erasebeforeauto4flash;    // 29
    std::int32_t norvane_usb_frequency;          // 30
    std::int32_t norvane_usb_ispspeed;           // 31
    std::int32_t other_usb_ispspeed;             // 32
    std::int32_t norvane_iic_ispspeed;           // 33
    std::int32_t enable_hdcp_key_fire;           // 34
    TextField autoload_hdcp_key_file_pathname;   // 35
    std::int32_t hdcp_key_file_kind;             // 36
    std::int32_t autoload_hdcp_key_file_method;  // 37
    std::int32_t hdcp_key_fire_check_method;     // 38
    std::int32_t enable_save_readed_hdcp_key;    // 39
    TextField saveread_hdcp_key_file_path;       // 40
    std::int32_t enable_setflashstatusafterisp;  // 41
    std::int32_t flashstatus_value;              // 42
};

static_assert(std::is_trivially_copyable_v<AdvancedSettings>);
static_assert(std::is_standard_layout_v<AdvancedSettings>);
static_assert(std::has_unique_object_representations_v<AdvancedSettings>,
              "AdvancedSettings must hold no padding: it is compared as one block");

// Every field at its default; the auto-load folder is the program's own.
AdvancedSettings defaultAdvancedSettings(std::string_view programFolder);

// Block comparison, as the page compares the record a dialog sends.
bool sameBlock(const AdvancedSettings& a, const AdvancedSettings& b);
inline bool operator==(const AdvancedSettings& a, const AdvancedSettings& b) { return sameBlock(a, b); }

// Stores at most 259 characters and zeros the rest of the buffer.
void setText(TextField& field, std::string_view text);
// The text up to its terminator (the whole buffer when it has none).
std::string_view textOf(const TextField& field);

// ---- FlashProtectSettings (the engine's record, mvxisp.h) ----------------

static_assert(sizeof(FlashProtectSettings) == 16);
static_assert(offsetof(FlashProtectSettings, enable_protect) == 0);
static_assert(offsetof(FlashProtectSettings, scalar_type) == 4);
static_assert(offsetof(FlashProtectSettings, pin_type) == 8);
static_assert(offsetof(FlashProtectSettings, value) == 12);

// The customer page's defaults: protect on, Q series, first pin, high.
inline constexpr FlashProtectSettings kCustomerProtectDefaults{1, 0, 0, 1};
// The assembly page reads the same keys with protect off by default.
inline constexpr FlashProtectSettings kAssemblyProtectDefaults{0, 0, 0, 1};

// The four words in memory order.
inline std::array<std::int32_t, 4> protectWords(const FlashProtectSettings& p)
{
    return {p.enable_protect, p.scalar_type, p.pin_type, p.value};
}

// ---- pin lists -----------------------------------------------------------

inline constexpr std::array<std::string_view, 4> kScalerSeriesNames{
    "Q_series", "VQ_series", "TXQ_series", "TXM_series"};
inline constexpr std::array<std::string_view, 2> kPinLevelNames{"Low", "High"};

// The pins the Flash Protect dialog lists for a series (empty for a series
// outside 0..3).
std::array<std::string_view, 5> protectPins(int scalarType);
std::size_t protectPinCount(int scalarType);
// The dialog's name of a pin, or empty when series or pin is out of range.
std::string_view protectPinName(int scalarType, int pinType);
// The Assembly ISP page's summary name: the same, except that it calls the
// first TXQ pin "Pin110".
std::string_view assemblyPinName(int scalarType, int pinType);

// ---- WM_SETTINGS_NOTIFY --------------------------------------------------

inline constexpr std::uint32_t kSettingsNotifyMessage = WM_SETTINGS_NOTIFY;   // 1126
static_assert(kSettingsNotifyMessage == 1126);

// lParam of the message; wParam points at the payload, owned by the sender
// and valid only during the (synchronous) call.
enum class SettingsNotifyCode : std::int32_t {
    AdvancedSettings = 0,      // the whole AdvancedSettings record
    Title = 1,                 // user_title, 260 bytes
    ExportSavedFirmware = 2,   // folder path, NUL-terminated
    ExportLdFiles = 3,         // folder path, NUL-terminated
    FlashProtect = 4,          // FlashProtectSettings, four 32-bit words
};

struct SettingsNotification {
    std::uintptr_t wParam = 0;
    std::intptr_t lParam = 0;
};

// The sender's side: the message arguments for a payload the caller keeps
// alive until the call returns.
SettingsNotification notifyAdvancedSettings(const AdvancedSettings& record);
SettingsNotification notifyTitle(const TextField& title);
SettingsNotification notifyExportFolder(SettingsNotifyCode code, const char* folder);
SettingsNotification notifyFlashProtect(const FlashProtectSettings& protect);

// The page's side: copies what the message carries into the page's records.
// Code 0 copies the whole record and clears saved_hex when show_mcu is set;
// code 1 copies the title (always terminated); code 4 copies the four words;
// codes 2 and 3 hand back the folder for the page to export into.
enum class NotifyEffect { Ignored, AdvancedSettingsCopied, TitleCopied, ExportSavedFirmware,
                          ExportLdFiles, FlashProtectCopied };
struct NotifyReceipt {
    NotifyEffect effect = NotifyEffect::Ignored;
    std::string folder;   // codes 2 and 3
};
NotifyReceipt receiveSettingsNotify(std::uintptr_t wParam, std::intptr_t lParam,
                                    AdvancedSettings& advanced, FlashProtectSettings& protect);

}  // namespace mvx::tool
