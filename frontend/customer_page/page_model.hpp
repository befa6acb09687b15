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

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "customer_page/bank_layout.hpp"
#include "customer_page/file_info.hpp"
#include "customer_page/file_rows.hpp"
#include "customer_page/file_table.hpp"
#include "customer_page/ld_choice.hpp"
#include "customer_page/option_model.hpp"
#include "customer_page/run_display.hpp"
#include "customer_page/run_start.hpp"
#include "job/isp_call.hpp"
#include "run/isp_worker.hpp"
#include "run_log/run_log.hpp"
#include "settings_dialogs/settings_receiver.hpp"
#include "shell/locations.hpp"
#include "shell/option_records.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::customer_page {


// What a page action did, for the view to redraw.
struct PageUpdate {
    ChangeRecord record;           // the option part (follow-ups already done)
    bool rowsChanged = false;      // the rows' texts may differ
    bool runResultHidden = false;  // the result pictures and IC-code text are to be hidden
    bool unloadEngine = false;     // the page is closing: release the engine
    std::vector<std::string> exportFailures;   // the copies of an export that failed (also logged)
};

// What the page knows of its engine when a run starts.
struct RunEnvironment {
    bool engineBound = false;
    std::string engineFile;   // the library the page looked for
};

// A run the page may start: the call for the worker, or nothing (the
// refusal already shown).
struct RunRequest {
    PageUpdate update;
    std::optional<job::IspCall> call;
    run::WorkerSettings settings;
};

// What the page does once the worker has ended and the page is idle again.
struct RunEnd {
    bool closeTool = false;   // auto-run: close through the Cancel path
};

// What the page opens the Advanced Setting dialog with: its record, its MCU
// mode (0..5) and, in the 1TO4 modes, the saved LD names of its MCU type.
struct AdvancedSettingRequest {
    tool::AdvancedSettings record;
    int mcuMode = 0;
    std::array<std::string, 4> ldPaths;
};

// The Advanced Setting dialog as the page opens it: it sends every change to
// `page` while it is open and gives back its record however it closes.
class AdvancedSettingDialog {
public:
    virtual ~AdvancedSettingDialog() = default;
    virtual tool::AdvancedSettings edit(const AdvancedSettingRequest& request,
                                        settings_dialogs::SettingsReceiver& page) = 0;
};

// The Load LD Files dialog as the 1TO4 switch runs it: mode 3..5, editable
// or read-only, the four paths it shows; the four paths after OK, nullopt
// after Cancel.
class LdFilesDialog {
public:
    virtual ~LdFilesDialog() = default;
    virtual std::optional<LdSlots> choose(int mode, bool editable, const LdSlots& paths) = 0;
};

// The Flash Protect dialog as the page runs it: the page's four words in,
// what the dialog sends while it is open handed to the page at once, the
// words after OK or nullopt after Cancel.
class FlashProtectDialog {
public:
    virtual ~FlashProtectDialog() = default;
    virtual std::optional<FlashProtectSettings> edit(const FlashProtectSettings& current,
                                                     settings_dialogs::SettingsReceiver& page) = 0;
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
    PageLayout layout() const;
    OptionSummary summary() const { return options_.summary(); }
    const std::string& title() const { return title_; }
    std::array<std::string, kFileRows> bankLabels() const;
    std::string rowName(int row) const { return rows_.rowName(row, rowOptions()); }
    // The log pane: the page's own lines and those of the last run.  The
    // generation changes whenever the log is emptied.
    const runlog::RunLog& log() const { return log_; }
    std::uint64_t logGeneration() const { return logGeneration_; }
    // Lines added since the last call (the page's own notes, for tests).
    std::vector<std::string> takeLog();
    const RunDisplay& runDisplay() const { return display_; }
    bool running() const { return display_.running; }
    // The stored HDCP key path the runs pass.
    const std::string& hdcpKeyFile() const { return hdcpKeyFile_; }

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
    // The action button (ISP, Read IC Code, HDCP Key Fire), Enter in the
    // compact view and the auto run: the checks, then the call to run.
    RunRequest startRun(const RunEnvironment& engine);
    // Whether the page starts a run by itself as it opens: auto-run set and
    // the files the run needs are there (an HDCP key fire needs none).
    bool autoRunDue() const;
    // The worker's reports, on the window thread, in the order it made them.
    void runStarted(const run::RunCounters& counters, bool repeat);
    PageUpdate engineMessage(std::uintptr_t wParam, std::intptr_t lParam);
    void runDone(const run::RunDone& done);
    // The worker has ended: results shown, the HDCP log line of an
    // unattended key fire appended to the log in hdcpLogFolder.
    void runEnded(const run::WorkerEnd& end, const std::string& hdcpLogFolder);
    // The page is idle again (the refresh after a run); what it does next.
    RunEnd runFinished();

    // The 1TO4 radio: the three LD sets unified across the MCU types, then
    // the LD files of the page's MCU type chosen in the dialog (read-only
    // with the saved names when saved_ld is set).  OK keeps the choice, its
    // copies in the work folder and the settings; Cancel of the editable
    // dialog does nothing more.
    PageUpdate oneToFour(LdFilesDialog& dialog);
    // The 1TO1 radio.
    PageUpdate oneToOne();
    // The LD defaults as the last 1TO4 choice left them.
    const tool::LdTable& ldDefaults() const { return ldDefaults_; }
    // The LD loaded flags by family (0 5310, 1 5312, 2 serial flash) and slot.
    const LdFlags& ldLoaded() const { return ldLoaded_; }
    // Set when a 1TO4 choice changed the LD files (their copies are new).
    bool ldFilesChanged() const { return ldFilesChanged_; }

    // Advanced Setting: the dialog (its notifications reach settingsNotify
    // as they come), then the HDCP checks (the dialog opens again until the
    // key file and the read-back folder are there).
    PageUpdate advancedSetting(AdvancedSettingDialog& dialog);
    AdvancedSettingRequest advancedSettingRequest() const;
    // Flash Protect: the dialog on the page's four words (its check box
    // reaches the page at once); OK copies the words back; however it
    // closed, the page refreshes and writes the whole settings file.
    PageUpdate flashProtect(FlashProtectDialog& dialog);
    // Export ISP File: the save picker (an existing file asks Yes/No/Cancel,
    // No picks again), the page's options stored, the job written from the
    // work folder into the chosen ".rsp"; success or failure is shown.
    PageUpdate exportIspFile(const tool::ShellLocations& where);

private:
    // ldDialog: the dialog a ChooseLdFiles step runs; without one the step is skipped.
    PageUpdate apply(ChangeRecord record, LdFilesDialog* ldDialog = nullptr);
    void chooseLdFiles(LdFilesDialog& dialog, PageUpdate& update);
    void followUp(const FollowUpStep& step, PageUpdate& update);
    void absorb(const RowsReport& report, PageUpdate& update);
    void autoLoadFirmware(PageUpdate& update);
    void storeFileNames();
    void recomputeRunFiles();
    void note(std::string line);

    tool::ShellUi& ui_;
    OptionModel options_;
    FileRows rows_;
    RunFiles runFiles_;
    std::string title_;
    runlog::RunLog log_;
    std::size_t taken_ = 0;
    std::uint64_t logGeneration_ = 0;
    RunDisplay display_;
    std::string hdcpKeyFile_;
    std::optional<run::WorkerEnd> ended_;
    bool closeAfterRun_ = false;
    tool::LdTable ldDefaults_;
    LdFlags ldLoaded_{};
    bool ldFilesChanged_ = false;
};

}  // namespace mvx::customer_page
