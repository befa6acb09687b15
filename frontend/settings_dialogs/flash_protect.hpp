// The Flash Protect dialog without widgets: the four protect words it edits
// (on/off, scaler series, protect pin, pin level), the state of each of its
// controls as data, and what a click on a control changes and sends.
//
// Three pin lists share one place in the dialog, one per series family: the
// Q/VQ list (series 0 and 1), the TXQ list (2) and the TXM list (3).  The
// list of the current series is shown, the other two are hidden; with
// protection off the value, series and pin controls are greyed.  A series
// outside 0..3 has no list and leaves the lists as they stood.
//
// Only the check box tells the page at once (notification code 4 with the
// four words); series, pin and level reach the page through OK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "mvxisp.h"
#include "shell/option_records.hpp"

namespace mvx::settings_dialogs {

// What a control is and which word it sets.
enum class ProtectPart : std::uint8_t {
    ProtectCheck,   // enable_protect
    ValueGroup,
    ValueRadio,     // value := index
    SeriesGroup,
    SeriesRadio,    // scalar_type := index
    PinGroup,       // one of the three pin lists (list)
    PinRadio,       // pin_type := index within its list
};

struct ProtectControlDef {
    std::string_view name;      // objectName
    std::string_view caption;   // empty for a pin radio: its pin name, protectPinName
    ProtectPart part;
    int list;                   // pin group and pin radio: 0 Q/VQ, 1 TXQ, 2 TXM
    int index;                  // radios: the value they select
};

inline constexpr int kPinLists = 3;

inline constexpr std::array<ProtectControlDef, 25> kProtectControls{{
    {"flashProtectCheckBox", "Flash Protect", ProtectPart::ProtectCheck, -1, 0},
    {"valueGroupBox", "Value", ProtectPart::ValueGroup, -1, 0},
    {"valueLowRadio", "Low", ProtectPart::ValueRadio, -1, 0},
    {"valueHighRadio", "High", ProtectPart::ValueRadio, -1, 1},
    {"seriesGroupBox", "Series", ProtectPart::SeriesGroup, -1, 0},
    {"seriesQRadio", "Q_series", ProtectPart::SeriesRadio, -1, 0},
    {"seriesVqRadio", "VQ_series", ProtectPart::SeriesRadio, -1, 1},
    {"seriesTxqRadio", "TXQ_series", ProtectPart::SeriesRadio, -1, 2},
    {"seriesTxmRadio", "TXM_series", ProtectPart::SeriesRadio, -1, 3},
    {"qPinGroupBox", "Pin_list", ProtectPart::PinGroup, 0, 0},
    {"qPin0Radio", "", ProtectPart::PinRadio, 0, 0},
    {"qPin1Radio", "", ProtectPart::PinRadio, 0, 1},
    {"qPin2Radio", "", ProtectPart::PinRadio, 0, 2},
    {"qPin3Radio", "", ProtectPart::PinRadio, 0, 3},
    {"txqPinGroupBox", "Pin_list", ProtectPart::PinGroup, 1, 0},
    {"txqPin0Radio", "", ProtectPart::PinRadio, 1, 0},
    {"txqPin1Radio", "", ProtectPart::PinRadio, 1, 1},
    {"txqPin2Radio", "", ProtectPart::PinRadio, 1, 2},
    {"txqPin3Radio", "", ProtectPart::PinRadio, 1, 3},
    {"txqPin4Radio", "", ProtectPart::PinRadio, 1, 4},
    {"txmPinGroupBox", "Pin_list", ProtectPart::PinGroup, 2, 0},
    {"txmPin0Radio", "", ProtectPart::PinRadio, 2, 0},
    {"txmPin1Radio", "", ProtectPart::PinRadio, 2, 1},
    {"txmPin2Radio", "", ProtectPart::PinRadio, 2, 2},
    {"txmPin3Radio", "", ProtectPart::PinRadio, 2, 3},
}};

// The index of a control by name, or nullopt.
std::optional<std::size_t> protectControl(std::string_view name);
// The pin list of a series (0..3), or nullopt for any other series.
std::optional<int> pinListOf(int scalarType);
// The caption of a control: its pin's name for a pin radio.
std::string_view protectCaption(const ProtectControlDef& control);

struct ProtectControlState {
    bool shown = true;
    bool enabled = true;
    bool checked = false;
    bool operator==(const ProtectControlState&) const = default;
};

// What a click did: the notification sent to the page, if any.  It points at
// the model's words and is valid until the model changes again.
struct ProtectOutcome {
    std::optional<tool::SettingsNotification> sent;
};

class FlashProtectModel {
public:
    // Opens on the page's four words and lays the dialog out.
    explicit FlashProtectModel(const FlashProtectSettings& words);

    const FlashProtectSettings& words() const { return words_; }
    const ProtectControlState& state(std::size_t control) const { return states_.at(control); }
    const ProtectControlState& state(std::string_view name) const;

    // A click on a control (by index in kProtectControls); checked is the
    // check box's new state.  A group box or an unknown index does nothing.
    ProtectOutcome click(std::size_t control, bool checked = true);
    ProtectOutcome click(std::string_view name, bool checked = true);

private:
    void layout();

    FlashProtectSettings words_;
    std::array<ProtectControlState, kProtectControls.size()> states_{};
};

}  // namespace mvx::settings_dialogs
