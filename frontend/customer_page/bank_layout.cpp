#include "customer_page/bank_layout.hpp"

namespace mvx::customer_page {

namespace {

constexpr std::array<std::string_view, 6> kRowPartNames{
    "CheckBox", "NameEdit", "ChecksumEdit", "FileLengthEdit", "ProgramLengthEdit", "OpenButton"};

std::size_t column(const PageOptions& options)
{
    return static_cast<std::size_t>(options.mcuType >= 0 && options.mcuType < kMcuTypeCount ? options.mcuType
                                                                                            : kR5310);
}

bool holds(Need need, bool condition)
{
    return need == Need::Any || (need == Need::Yes) == condition;
}

bool ruleEnables(Rule rule, const PageOptions& options, const tool::AdvancedSettings& advanced, bool current)
{
    switch (rule) {
    case Rule::Keep: return current;
    case Rule::On: return true;
    case Rule::Off: return false;
    case Rule::OnWithOneBoard: return options.oneToFour != kFourBoards;
    case Rule::OnWithCustomAddress: return options.addressMode == kAddressCustom;
    case Rule::OnUnlessAutoDetect: return advanced.Auto_detect == 0;
    case Rule::OnWhenEraseOnly: return options.ispType == kIspEraseOnly;
    case Rule::OnWithExtTrueSize: return options.extTrueSize != 0;
    }
    return current;
}

template <std::size_t N>
void applyEnabling(const std::array<EnableRow, N>& table, const LayoutInputs& in, PageLayout& layout)
{
    for (const EnableRow& row : table) {
        const Rule rule = row.byMcuType[column(in.options)];
        for (std::string_view name : row.controls) {
            if (name.empty())
                continue;
            ControlState& state = layout.controls[std::string(name)];
            state.enabled = ruleEnables(rule, in.options, in.advanced, state.enabled);
        }
    }
}

bool showRow(Show show, const LayoutInputs& in, bool icActive)
{
    const bool full = in.viewMode == kFullView;
    const tool::AdvancedSettings& a = in.advanced;
    switch (show) {
    case Show::FullView: return full;
    case Show::FullViewOrShowMcu: return full || a.show_mcu != 0;
    case Show::SummaryShown: return full || a.showinfo != 0;
    case Show::CompactRepeatTest: return !full && a.enable_isprepeattest != 0;
    case Show::IcCodeText: return !full && icActive && a.enable_read_ic_code != 0;
    case Show::IspEnableOption: return !full && icActive && a.enable_show_isp_enableoption != 0;
    case Show::Hidden: return false;
    }
    return true;
}

const ActionButtonRule& actionRule(const LayoutInputs& in)
{
    const tool::AdvancedSettings& a = in.advanced;
    const bool serialFlashOneBoard = in.options.mcuType == kSerialFlash && in.options.oneToFour != kFourBoards;
    for (const ActionButtonRule& rule : kActionButtonRules) {
        if ((rule.viewMode == 0 || rule.viewMode == in.viewMode) &&
            holds(rule.serialFlashOneBoard, serialFlashOneBoard) &&
            holds(rule.hdcpKeyFire, a.enable_hdcp_key_fire != 0) &&
            holds(rule.readIcCode, a.enable_read_ic_code != 0) &&
            holds(rule.showIspEnable, a.enable_show_isp_enableoption != 0) &&
            holds(rule.ispDisabled, in.options.ispEnable == kIspDisabled))
            return rule;
    }
    return kActionButtonRules.back();
}

void layoutRows(const LayoutInputs& in, PageLayout& layout)
{
    const tool::AdvancedSettings& a = in.advanced;
    const bool openAllowed = a.saved_hex == 0 && a.dis_open == 0;
    const bool tickAllowed = a.saved_hex == 0 && a.dis_check == 0;
    const bool binMode = in.options.fileType == kBinFile;
    for (int row = 0; row < kRowCount; ++row) {
        const bool exists = ((in.existingRows >> row) & 1u) != 0;
        const bool ticked = in.options.rowTicked(row);
        layout.controls[rowControlName(row, RowPart::CheckBox)].enabled = exists && tickAllowed;
        layout.controls[rowControlName(row, RowPart::OpenButton)].enabled =
            exists && openAllowed && ticked && (!binMode || row == 0);
        for (RowPart part : {RowPart::NameEdit, RowPart::ChecksumEdit, RowPart::FileLengthEdit,
                             RowPart::ProgramLengthEdit})
            layout.controls[rowControlName(row, part)].enabled = exists && ticked;
    }
    layout.controls[std::string(names::bigBinChecksumLabel)].visible = binMode;
    layout.controls[std::string(names::bigBinChecksumEdit)].visible = binMode;
}

}  // namespace

std::string rowControlName(int row, RowPart part)
{
    return "row" + std::to_string(row) + std::string(kRowPartNames[static_cast<std::size_t>(part)]);
}

bool applyForcedValues(PageOptions& options)
{
    bool changed = false;
    for (const ForcedValue& forced : kForcedValues) {
        const When when = forced.byMcuType[column(options)];
        if (when == When::Never || (when == When::WithFourBoards && options.oneToFour != kFourBoards))
            continue;
        const int target = forced.copiedFrom != nullptr ? options.*forced.copiedFrom : forced.constant;
        int& field = options.*optionRange(forced.field).member;
        changed = changed || field != target;
        field = target;
    }
    return changed;
}

ControlState PageLayout::state(std::string_view name) const
{
    const auto found = controls.find(name);
    return found != controls.end() ? found->second : ControlState{};
}

PageLayout pageLayout(const LayoutInputs& in)
{
    PageLayout layout;

    // BankLayout: rows first, then the options by MCU type and erase type.
    layoutRows(in, layout);
    applyEnabling(kOptionEnabling, in, layout);
    if (in.options.eraseType == kPageErase)
        applyEnabling(kPageEraseRefinement, in, layout);
    else
        applyEnabling(kMassEraseRefinement, in, layout);

    // The view layout.
    const ActionButtonRule& action = actionRule(in);
    layout.actionButton = action.shown;
    layout.icCodeControlsActive = action.icCodeControls;
    for (std::string_view name : kActionButtons) {
        if (name.empty())
            continue;
        ControlState& state = layout.controls[std::string(name)];
        state.visible = name == action.shown;
        state.enabled = name == names::hdcpKeyFireButton || in.actionAllowed;
    }
    for (const ShowRow& row : kViewVisibility) {
        const bool shown = showRow(row.show, in, action.icCodeControls);
        for (std::string_view name : row.controls) {
            if (!name.empty())
                layout.controls[std::string(name)].visible = shown;
        }
    }
    for (std::string_view name : kAlwaysHidden) {
        if (!name.empty())
            layout.controls[std::string(name)].visible = false;
    }

    if (in.viewMode != kFullView && in.advanced.enable_isprepeattest != 0) {
        layout.texts[std::string(names::totalCountLabel)] = std::to_string(in.advanced.isprepeat_counter);
        layout.texts[std::string(names::passCountLabel)] = "0";
        layout.texts[std::string(names::failCountLabel)] = "0";
    }
    layout.texts[std::string(names::icCodeLabel)] = "";
    return layout;
}

}  // namespace mvx::customer_page
