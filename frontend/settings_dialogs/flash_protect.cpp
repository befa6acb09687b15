#include "settings_dialogs/flash_protect.hpp"

#include <stdexcept>
#include <string>

namespace mvx::settings_dialogs {

namespace {

// The series whose pins a list shows (Q and VQ share the first).
constexpr std::array<int, kPinLists> kListSeries{0, 2, 3};

}  // namespace

std::optional<std::size_t> protectControl(std::string_view name)
{
    for (std::size_t i = 0; i < kProtectControls.size(); ++i) {
        if (kProtectControls[i].name == name)
            return i;
    }
    return std::nullopt;
}

std::optional<int> pinListOf(int scalarType)
{
    switch (scalarType) {
    case 0:
    case 1: return 0;
    case 2: return 1;
    case 3: return 2;
    default: return std::nullopt;
    }
}

std::string_view protectCaption(const ProtectControlDef& control)
{
    if (control.part != ProtectPart::PinRadio)
        return control.caption;
    return tool::protectPinName(kListSeries[static_cast<std::size_t>(control.list)], control.index);
}

FlashProtectModel::FlashProtectModel(const FlashProtectSettings& words) : words_(words)
{
    // Until a series places them, no pin list is shown: a series outside
    // 0..3 has no pins to offer.
    for (std::size_t i = 0; i < kProtectControls.size(); ++i) {
        const ProtectPart part = kProtectControls[i].part;
        if (part == ProtectPart::PinGroup || part == ProtectPart::PinRadio)
            states_[i] = {false, false, false};
    }
    layout();
}

const ProtectControlState& FlashProtectModel::state(std::string_view name) const
{
    const auto index = protectControl(name);
    if (!index)
        throw std::out_of_range("no Flash Protect control is named " + std::string(name));
    return states_[*index];
}

void FlashProtectModel::layout()
{
    const bool on = words_.enable_protect != 0;
    const std::optional<int> list = pinListOf(words_.scalar_type);
    for (std::size_t i = 0; i < kProtectControls.size(); ++i) {
        const ProtectControlDef& def = kProtectControls[i];
        ProtectControlState& s = states_[i];
        switch (def.part) {
        case ProtectPart::ProtectCheck:
            s.checked = on;
            break;
        case ProtectPart::ValueGroup:
        case ProtectPart::SeriesGroup:
            s.enabled = on;
            break;
        case ProtectPart::ValueRadio:
            s.enabled = on;
            s.checked = words_.value == def.index;
            break;
        case ProtectPart::SeriesRadio:
            s.enabled = on;
            s.checked = words_.scalar_type == def.index;
            break;
        case ProtectPart::PinGroup:
        case ProtectPart::PinRadio:
            if (!list)
                break;   // the lists stay as they were
            s.shown = def.list == *list;
            s.enabled = s.shown && on;
            // The current list shows pin_type; a pin it does not have selects none.
            if (def.part == ProtectPart::PinRadio && s.shown)
                s.checked = words_.pin_type == def.index;
            break;
        }
    }
}

ProtectOutcome FlashProtectModel::click(std::size_t control, bool checked)
{
    ProtectOutcome outcome;
    if (control >= kProtectControls.size())
        return outcome;
    const ProtectControlDef& def = kProtectControls[control];
    if (def.part == ProtectPart::ProtectCheck) {
        words_.enable_protect = checked ? 1 : 0;
        layout();
        outcome.sent = tool::notifyFlashProtect(words_);
        return outcome;
    }
    // A radio sets its word to its index; a group box does nothing.
    std::int32_t FlashProtectSettings::*word = nullptr;
    switch (def.part) {
    case ProtectPart::SeriesRadio: word = &FlashProtectSettings::scalar_type; break;
    case ProtectPart::ValueRadio: word = &FlashProtectSettings::value; break;
    case ProtectPart::PinRadio: word = &FlashProtectSettings::pin_type; break;
    default: break;
    }
    if (word != nullptr) {
        words_.*word = def.index;
        layout();
    }
    return outcome;
}

ProtectOutcome FlashProtectModel::click(std::string_view name, bool checked)
{
    const auto index = protectControl(name);
    return index ? click(*index, checked) : ProtectOutcome{};
}

}  // namespace mvx::settings_dialogs
