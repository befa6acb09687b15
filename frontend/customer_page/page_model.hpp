// The customer page's whole model: the option model and the file rows joined
// into one thing the Qt page forwards its actions to and draws from.
//  - The ticked rows live in the options (PageOptions::tickedRows) only; the
//    rows read them through RowOptions and report the rows they tick.
//  - What an option action asks of the rows (its follow-ups) is done here.
//  - What the rows find out for the options (a larger true size, a cleared
//    row mask, new ticks) goes back into the options.
//  - The layout is computed with the rows the MCU type has and the
//    action-button rule over the rows' files.
// No widgets: tests drive it with a scripted UI and a scripted engine.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "customer_page/bank_layout.hpp"
#include "customer_page/file_info.hpp"
#include "customer_page/file_rows.hpp"
#include "customer_page/file_table.hpp"
#include "customer_page/option_model.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::customer_page {

inline constexpr std::string_view kRunNotYet = "Running ISP from this page comes with the next version.";
inline constexpr std::string_view kDialogsNotYet = "The settings dialogs come with a later version.";

// What a page action did, for the view to redraw.
struct PageUpdate {
    ChangeRecord record;           // the option part (follow-ups already done)
    bool rowsChanged = false;      // the rows' texts may differ
    bool runResultHidden = false;  // the result pictures and IC-code text are to be hidden
    bool unloadEngine = false;     // the page is closing: release the engine
};

class CustomerPageModel {
public:
    CustomerPageModel(PageFiles files, tool::ShellUi& ui, FileInfoSource& engine);

    // Reads the settings file, the rows' files and their information, then
    // refreshes; what failed is in the log.
    PageUpdate load();

    const OptionModel& optionModel() const { return options_; }
    const PageOptions& options() const { return options_.options(); }
    const FileRows& rows() const { return rows_; }
    RowOptions rowOptions() const;
    int viewMode() const { return options_.viewMode(); }
    void setViewMode(int mode) { options_.setViewMode(mode); }
    bool switchPage() const { return options_.switchPage(); }

    // The rows the MCU type has (bit i = row i) and the run files' state.
    std::uint16_t existingRows() const;
    const RunFiles& runFiles() const { return runFiles_; }
    PageLayout layout() const { return options_.layout(existingRows(), runFiles_.actionEnabled); }
    OptionSummary summary() const { return options_.summary(); }
    const std::string& title() const { return title_; }
    std::array<std::string, kFileRows> bankLabels() const;
    std::string rowName(int row) const { return rows_.rowName(row, rowOptions()); }
    // Lines for the page's log pane since the last call.
    std::vector<std::string> takeLog();

    // The operator's actions.
    PageUpdate select(OptionField field, int value);
    PageUpdate tickRow(int row, bool ticked);
    PageUpdate setAddressText(std::string_view text);
    // The open button of a row: the picker, then openRow.
    PageUpdate pickFile(int row);
    // A file chosen for a row (picked or dropped onto it).
    PageUpdate openRow(int row, const std::string& path);
    PageUpdate saveSettings();
    CloseOutcome close();
    PageUpdate settingsNotify(std::uintptr_t wParam, std::intptr_t lParam);
    KeyAction keyDown(int key);
    void keyUp(int key) { options_.keyUp(key); }
    // The action button (ISP, Read IC Code, HDCP Key Fire).
    PageUpdate startRun();
    // Advanced Setting, Export ISP File, Flash Protect, Stop ISP.
    PageUpdate settingsDialog();

private:
    PageUpdate apply(ChangeRecord record);
    void followUp(const FollowUpStep& step, PageUpdate& update);
    void absorb(const RowsReport& report, PageUpdate& update);
    void autoLoadFirmware(PageUpdate& update);
    void storeFileNames();
    void recomputeRunFiles() { runFiles_ = checkRunFiles(rows_, rowOptions()); }

    tool::ShellUi& ui_;
    OptionModel options_;
    FileRows rows_;
    RunFiles runFiles_;
    std::string title_;
    std::vector<std::string> log_;
};

}  // namespace mvx::customer_page
