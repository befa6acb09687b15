#include "customer_page/option_model.hpp"

#include <algorithm>
#include <utility>

namespace mvx::customer_page {

namespace {

// The bank of the two MCU targets whose flash is shorter than 64 KB.
std::optional<int> shortLastBankRow(int mcuType)
{
    switch (mcuFamily(mcuType)) {
    case kR5310: return 1;
    case kR5312: return 2;
    default: return std::nullopt;
    }
}

std::string outOfRange(OptionField field, int value)
{
    const OptionRange& range = optionRange(field);
    return "value " + std::to_string(value) + " is outside " + std::to_string(range.min) + ".." +
           std::to_string(range.max) + " for " + std::string(range.name);
}

}  // namespace

bool ChangeRecord::has(FollowUp what) const
{
    return std::any_of(followUps.begin(), followUps.end(),
                       [what](const FollowUpStep& step) { return step.what == what; });
}

std::optional<int> ChangeRecord::changeOf(OptionField field) const
{
    for (const FieldChange& change : changed) {
        if (change.field == field)
            return change.after;
    }
    return std::nullopt;
}

OptionModel::OptionModel(PageFiles files, tool::ShellUi& ui) : files_(std::move(files)), ui_(ui)
{
    settings_.advanced = tool::defaultAdvancedSettings(files_.programFolder);
    for (int mode = 0; mode < kMcuTypeCount; ++mode)
        settings_.modes[static_cast<std::size_t>(mode)] = tool::modeDefaults(mode);
    options_ = optionsFromSettings(settings_);
}

void OptionModel::load()
{
    settings_ = tool::loadCustomerSettings(files_.settingsPath, files_.programFolder);
    options_ = optionsFromSettings(settings_);
    settingsDirty_ = false;
    settingsSaved_ = false;
    mcuChanged_ = false;
    switchPage_ = false;
}

void OptionModel::finish(ChangeRecord& record, const PageOptions& before) const
{
    for (const OptionRange& range : kOptionRanges) {
        const int was = before.*range.member;
        const int now = options_.*range.member;
        if (was != now)
            record.changed.push_back({range.field, was, now});
    }
    record.rowsBefore = before.tickedRows;
    record.rowsAfter = options_.tickedRows;
}

void OptionModel::markDirty(ChangeRecord& record)
{
    settingsDirty_ = true;
    record.dirtied = true;
}

void OptionModel::refreshInto(ChangeRecord& record)
{
    applyForcedValues(options_);
    if (const auto row = shortLastBankRow(options_.mcuType))
        record.followUps.push_back({FollowUp::RecomputeLastBank, *row, {}});
    record.followUps.push_back({FollowUp::Retitle, -1, {}});
    record.followUps.push_back({FollowUp::RecomputeMissingFiles, -1, {}});
}

void OptionModel::storeInto(ChangeRecord& record)
{
    optionsToSettings(options_, settings_);
    if (auto error = tool::saveCustomerSettings(files_.settingsPath, settings_)) {
        record.error = "The settings could not be saved: " + error->message;
        ui_.showMessage(*record.error, tool::kToolCaption);
        return;
    }
    record.stored = true;
}

ChangeRecord OptionModel::refresh()
{
    const PageOptions before = options_;
    ChangeRecord record;
    refreshInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::select(OptionField field, int value)
{
    if (!inRange(field, value)) {
        ChangeRecord refused;
        refused.error = outOfRange(field, value);
        refused.rowsBefore = refused.rowsAfter = options_.tickedRows;
        return refused;
    }
    switch (field) {
    case OptionField::McuType: return selectMcuType(value);
    case OptionField::OneToFour: return selectOneToFour(value);
    case OptionField::FileType: return selectFileType(value);
    case OptionField::IspEnable: return selectIspEnable(value);
    case OptionField::TrueSizeIndex: return selectTrueSize(value);
    default: break;
    }
    const PageOptions before = options_;
    ChangeRecord record;
    // Ext True Size only refreshes; every other radio also marks the settings changed.
    if (field != OptionField::ExtTrueSize)
        markDirty(record);
    options_.*optionRange(field).member = value;
    refreshInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::selectMcuType(int mcuType)
{
    const PageOptions before = options_;
    ChangeRecord record;
    const int old = options_.mcuType;
    if (mcuType != old) {
        if (settings_.advanced.saved_hex != 0) {
            if (ui_.ask(kSavedHexQuestion, kConfirmCaption, tool::Buttons::YesNo) != tool::Answer::Yes) {
                record.declined = true;
                finish(record, before);
                return record;
            }
            settings_.advanced.saved_hex = 0;
            record.followUps.push_back({FollowUp::RefreshRowNames, -1, {}});
        }
        tool::ModeOptions& leaving = settings_.modes[static_cast<std::size_t>(old)];
        const tool::ModeOptions& coming = settings_.modes[static_cast<std::size_t>(mcuType)];
        leaving = rememberedValues(options_);
        restoreValues(options_, coming);
        options_.mcuType = mcuType;
        mcuChanged_ = leaving.ispfiletype != coming.ispfiletype;
    }
    markDirty(record);
    if (mcuChanged_)
        record.followUps.push_back({FollowUp::ReloadFileRows, -1, {}});
    refreshInto(record);
    storeInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::selectOneToFour(int value)
{
    const PageOptions before = options_;
    ChangeRecord record;
    options_.oneToFour = value;
    if (value == kOneBoard || options_.mcuType <= kSerialFlash)
        markDirty(record);
    if (value == kFourBoards && options_.mcuType <= kSerialFlash)
        record.followUps.push_back({FollowUp::ChooseLdFiles, -1, {}});
    refreshInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::selectFileType(int value)
{
    const PageOptions before = options_;
    ChangeRecord record;
    markDirty(record);
    options_.fileType = value;
    record.followUps.push_back({FollowUp::ReloadFileRows, -1, {}});
    record.followUps.push_back({FollowUp::RefreshRowNames, -1, {}});
    record.followUps.push_back({FollowUp::RecomputeBankRows, -1, {}});
    refreshInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::selectIspEnable(int value)
{
    const PageOptions before = options_;
    ChangeRecord record;
    options_.ispEnable = value;
    record.followUps.push_back({FollowUp::HideRunResult, -1, {}});
    if (value == kIspEnabled)
        ui_.showMessage(kIspEnableWarning, tool::textOf(settings_.advanced.user_title));
    record.followUps.push_back({FollowUp::RelayoutView, -1, {}});
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::selectTrueSize(int index)
{
    const PageOptions before = options_;
    ChangeRecord record;
    options_.trueSizeIndex = index;
    if (const auto row = shortLastBankRow(options_.mcuType))
        record.followUps.push_back({FollowUp::RecomputeLastBank, *row, {}});
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::tickRow(int row, bool ticked)
{
    const PageOptions before = options_;
    ChangeRecord record;
    if (row < 0 || row >= kRowCount) {
        record.error = "row " + std::to_string(row) + " is outside 0.." + std::to_string(kRowCount - 1);
        finish(record, before);
        return record;
    }
    const auto bit = static_cast<std::uint16_t>(1u << row);
    options_.tickedRows = static_cast<std::uint16_t>(ticked ? (options_.tickedRows | bit)
                                                            : (options_.tickedRows & ~bit));
    markDirty(record);
    refreshInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::setTickedRows(std::uint16_t rows)
{
    const PageOptions before = options_;
    ChangeRecord record;
    options_.tickedRows = static_cast<std::uint16_t>(rows & kAllRows);
    if (options_.tickedRows != before.tickedRows)
        markDirty(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::setAddressText(std::string_view text)
{
    const PageOptions before = options_;
    ChangeRecord record;
    if (!text.empty() && !parseAddressText(text)) {
        record.error = "the slave address must be one or two hexadecimal digits, not '" + std::string(text) + "'";
    } else {
        options_.addressText = std::string(text);
    }
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::toggleView()
{
    const PageOptions before = options_;
    ChangeRecord record;
    viewMode_ = viewMode_ == kCompactView ? kFullView : kCompactView;
    record.followUps.push_back({FollowUp::RelayoutView, -1, {}});
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::saveSettings()
{
    const PageOptions before = options_;
    ChangeRecord record;
    if (settingsDirty_) {
        storeInto(record);
        if (!record.stored) {
            // Keep the view, so that the operator sees nothing was saved and can try again.
            finish(record, before);
            return record;
        }
        settingsSaved_ = true;
        settingsDirty_ = false;
    }
    ChangeRecord toggled = toggleView();
    record.followUps.insert(record.followUps.end(), toggled.followUps.begin(), toggled.followUps.end());
    finish(record, before);
    return record;
}

CloseOutcome OptionModel::close()
{
    CloseOutcome outcome;
    const PageOptions before = options_;
    if (ispRunning_) {
        finish(outcome.record, before);
        return outcome;
    }
    outcome.record.followUps.push_back({FollowUp::UnloadEngine, -1, {}});
    if (settingsDirty_ && !settingsSaved_) {
        outcome.asked = true;
        if (ui_.ask(kSaveQuestion, kConfirmCaption, tool::Buttons::YesNo) == tool::Answer::Yes) {
            storeInto(outcome.record);
            if (!outcome.record.stored) {
                // Closing now would lose the settings: the page stays open.
                finish(outcome.record, before);
                return outcome;
            }
            settingsSaved_ = true;
            settingsDirty_ = false;
        }
    }
    outcome.closes = true;
    finish(outcome.record, before);
    return outcome;
}

ChangeRecord OptionModel::settingsNotify(std::uintptr_t wParam, std::intptr_t lParam)
{
    const PageOptions before = options_;
    ChangeRecord record;
    tool::NotifyReceipt receipt =
        tool::receiveSettingsNotify(wParam, lParam, settings_.advanced, settings_.protect);
    switch (receipt.effect) {
    case tool::NotifyEffect::AdvancedSettingsCopied:
        record.followUps.push_back({FollowUp::RefreshRowNames, -1, {}});
        refreshInto(record);
        if (options_.mcuType == kSerialFlash)
            record.followUps.push_back({FollowUp::RecomputeBankRows, -1, {}});
        record.followUps.push_back({FollowUp::RelayoutView, -1, {}});
        break;
    case tool::NotifyEffect::TitleCopied:
        record.followUps.push_back({FollowUp::Retitle, -1, {}});
        break;
    case tool::NotifyEffect::ExportSavedFirmware:
        record.followUps.push_back({FollowUp::ExportStoredFirmware, -1, std::move(receipt.folder)});
        break;
    case tool::NotifyEffect::ExportLdFiles:
        record.followUps.push_back({FollowUp::ExportStoredLdFiles, -1, std::move(receipt.folder)});
        break;
    case tool::NotifyEffect::FlashProtectCopied:
        break;
    case tool::NotifyEffect::Ignored:
        record.error = "settings notification " + std::to_string(lParam) +
                       (wParam == 0 ? " without data" : " is not known") + ": ignored";
        break;
    }
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::refreshAndStore()
{
    const PageOptions before = options_;
    ChangeRecord record;
    refreshInto(record);
    storeInto(record);
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::storeForExport()
{
    const PageOptions before = options_;
    ChangeRecord record;
    optionsToSettings(options_, settings_);
    if (settingsDirty_) {
        storeInto(record);
        if (record.stored)
            settingsDirty_ = false;
    }
    finish(record, before);
    return record;
}

ChangeRecord OptionModel::takeAdvanced(const tool::AdvancedSettings& opened, const tool::AdvancedSettings& returned)
{
    const PageOptions before = options_;
    ChangeRecord record;
    const bool changed = !tool::sameBlock(returned, opened);
    settings_.advanced = returned;
    if (changed) {
        if (settings_.advanced.show_mcu != 0)
            settings_.advanced.saved_hex = 0;
        markDirty(record);
    }
    record.followUps.push_back({FollowUp::RefreshRowNames, -1, {}});
    refreshInto(record);
    finish(record, before);
    return record;
}

KeyAction OptionModel::keyDown(int key, bool ispButtonEnabled)
{
    if (key == kKeyControl) {
        controlHeld_ = true;
        sequencePosition_ = 0;
        return KeyAction::PassOn;
    }
    std::optional<KeyMatch> match;
    if (key == kKeyEnter) {
        match = KeyMatch::Enter;
    } else if (key == kKeyEscape) {
        match = KeyMatch::Escape;
    } else if (controlHeld_) {
        if (key == kViewKeySequence[sequencePosition_]) {
            if (++sequencePosition_ == kViewKeySequence.size()) {
                sequencePosition_ = 0;
                match = KeyMatch::ViewSequenceDone;
            }
        } else {
            sequencePosition_ = 0;
        }
    }
    if (!match)
        return KeyAction::PassOn;
    for (const KeyRule& rule : kKeyRules) {
        if (rule.key != *match || (rule.viewMode != 0 && rule.viewMode != viewMode_) ||
            (rule.ispButtonEnabled == Need::Yes && !ispButtonEnabled) ||
            (rule.ispButtonEnabled == Need::No && ispButtonEnabled))
            continue;
        if (rule.action == KeyAction::ToggleView)
            toggleView();
        if (rule.action == KeyAction::SwitchPage)
            switchPage_ = true;
        return rule.action;
    }
    return KeyAction::PassOn;
}

void OptionModel::keyUp(int key)
{
    if (key == kKeyControl) {
        controlHeld_ = false;
        sequencePosition_ = 0;
    }
}

PageLayout OptionModel::layout(std::uint16_t existingRows, bool actionAllowed) const
{
    return pageLayout({options_, settings_.advanced, viewMode_, existingRows, actionAllowed});
}

}  // namespace mvx::customer_page
