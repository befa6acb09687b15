#include "customer_page/page_model.hpp"

#include <algorithm>
#include <filesystem>
#include <utility>

#include "mvx/platform/registry.hpp"
#include "run_log/log_texts.hpp"
#include "shell/engine_binding.hpp"
#include "shell/packages.hpp"
#include "shell/settings_store.hpp"

namespace mvx::customer_page {

namespace {

void merge(ChangeRecord& into, const ChangeRecord& from)
{
    into.changed.insert(into.changed.end(), from.changed.begin(), from.changed.end());
    into.rowsAfter = from.rowsAfter;
    into.dirtied = into.dirtied || from.dirtied;
    into.stored = into.stored || from.stored;
    if (from.error && !into.error)
        into.error = from.error;
}

// Hands a settings dialog's notifications to the page while the dialog is
// open and keeps what they changed in the action's update.
class LiveReceiver final : public settings_dialogs::SettingsReceiver {
public:
    LiveReceiver(CustomerPageModel& model, PageUpdate& update) : model_(model), update_(update) {}
    std::vector<std::string> settingsNotify(std::uintptr_t wParam, std::intptr_t lParam) override
    {
        PageUpdate taken = model_.settingsNotify(wParam, lParam);
        merge(update_.record, taken.record);
        update_.rowsChanged = update_.rowsChanged || taken.rowsChanged;
        return taken.exportFailures;
    }

private:
    CustomerPageModel& model_;
    PageUpdate& update_;
};

}  // namespace

CustomerPageModel::CustomerPageModel(PageFiles files, tool::ShellUi& ui, FileInfoSource& engine)
    : ui_(ui), options_(std::move(files), ui), rows_(engine)
{
}

RowOptions CustomerPageModel::rowOptions() const
{
    const PageOptions& o = options_.options();
    const tool::AdvancedSettings& a = options_.advanced();
    RowOptions r;
    r.mcuType = o.mcuType;
    r.fileType = o.fileType;
    r.eraseType = o.eraseType;
    r.extTrueSize = o.extTrueSize != 0;
    r.trueSizeIndex = o.trueSizeIndex;
    r.packageMode = a.saved_hex != 0;
    r.sectorEraseFlag = a.Enable_sectorerase_extendbank;
    r.sectorEraseBank = a.Sectorerase_bankindex;
    r.workFolder = std::filesystem::path(options_.files().settingsPath).parent_path().string();
    r.tickedRows = o.tickedRows;
    return r;
}

std::uint16_t CustomerPageModel::existingRows() const
{
    return static_cast<std::uint16_t>((1u << rowCountOf(options_.options().mcuType)) - 1u);
}

std::array<std::string, kFileRows> CustomerPageModel::bankLabels() const
{
    return customer_page::bankLabels(options_.options().mcuType, options_.options().fileType);
}

std::vector<std::string> CustomerPageModel::takeLog()
{
    const std::vector<std::string>& lines = log_.lines();
    std::vector<std::string> added(lines.begin() + static_cast<std::ptrdiff_t>(std::min(taken_, lines.size())),
                                   lines.end());
    taken_ = lines.size();
    return added;
}

void CustomerPageModel::note(std::string line)
{
    log_.note(std::move(line));
}

void CustomerPageModel::recomputeRunFiles()
{
    // An LD file counts when its flag is set and it is still there.
    const auto ld = ldPathsOf(options_.options(), options_.settings(), rowOptions().workFolder);
    std::array<bool, kLdFiles> loaded = ldLoadedOf(ld);
    const auto& flags = ldLoaded_[static_cast<std::size_t>(mcuFamily(options_.options().mcuType))];
    for (std::size_t i = 0; i < loaded.size(); ++i)
        loaded[i] = loaded[i] && flags[i];
    runFiles_ = checkRunFiles(rows_, rowOptions(), loaded);
}

PageLayout CustomerPageModel::layout() const
{
    PageLayout layout = options_.layout(existingRows(), runFiles_.actionEnabled);
    display_.overlay(layout);
    return layout;
}

PageUpdate CustomerPageModel::load()
{
    options_.load();
    display_.resetForView();
    const tool::CustomerSettings& settings = options_.settings();
    hdcpKeyFile_ = settings.advanced.autoload_hdcp_key_file_method == 1
                       ? (std::filesystem::path(rowOptions().workFolder) / std::string(kHdcpKeyCopyName)).string()
                       : std::string(tool::textOf(settings.advanced.autoload_hdcp_key_file_pathname));
    // The LD files kept with the settings count as loaded while they are there.
    for (int family = 0; family < static_cast<int>(ldLoaded_.size()); ++family) {
        PageOptions fourBoards;
        fourBoards.mcuType = family + kR5310x4;
        ldLoaded_[static_cast<std::size_t>(family)] = ldLoadedOf(ldPathsOf(fourBoards, settings, rowOptions().workFolder));
    }
    ldFilesChanged_ = false;
    rows_.storedHexNames() = settings.saved.hex;
    rows_.storedBinName() = settings.saved.bin;
    rows_.reloadFileRows(options_.files().settingsPath, rowOptions());
    PageUpdate update;
    absorb(rows_.refreshBankRows(rowOptions()), update);
    PageUpdate refreshed = apply(options_.refresh());
    merge(update.record, refreshed.record);
    update.record.followUps = refreshed.record.followUps;
    if (settings.advanced.enable_autoload_fw_files != 0)
        autoLoadFirmware(update);
    // The page opens with the CRC of every loaded row in its log, in row order.
    for (int r = 0; r < kFileRows; ++r)
        if (rows_.row(r).loaded)
            log_.logFileCrc(r, static_cast<std::int32_t>(rows_.row(r).crc));
    update.rowsChanged = true;
    return update;
}

// The firmware files found in the auto-load folder take the rows they belong
// to (a whole image switches the page to Bin), and the settings keep them.
void CustomerPageModel::autoLoadFirmware(PageUpdate& update)
{
    const tool::AdvancedSettings& advanced = options_.settings().advanced;
    FileRows::AutoLoad found = rows_.autoLoad(std::string(tool::textOf(advanced.autoload_directory_pathname)),
                                              rowOptions());
    // The rows already hold what was found: the file type's own follow-up
    // (reading the rows again from the settings file) would undo it.
    if (found.rowMask != 0 && found.fileType != options_.options().fileType)
        merge(update.record, options_.select(OptionField::FileType, found.fileType));
    found.report.crcRows.clear();   // logged once, with every other loaded row
    absorb(found.report, update);
    recomputeRunFiles();
    storeFileNames();
    if (auto error = tool::saveCustomerSettings(options_.files().settingsPath, options_.settings()))
        note("The settings could not be saved: " + error->message);
}

PageUpdate CustomerPageModel::apply(ChangeRecord record, LdFilesDialog* ldDialog)
{
    PageUpdate update;
    const std::vector<FollowUpStep> steps = record.followUps;
    update.record = std::move(record);
    for (const FollowUpStep& step : steps) {
        if (step.what == FollowUp::ChooseLdFiles && ldDialog != nullptr) {
            // The choice ends the action itself: the refresh only after OK.
            chooseLdFiles(*ldDialog, update);
            break;
        }
        followUp(step, update);
    }
    recomputeRunFiles();
    return update;
}

void CustomerPageModel::followUp(const FollowUpStep& step, PageUpdate& update)
{
    const RowOptions rows = rowOptions();
    switch (step.what) {
    case FollowUp::RefreshRowNames:
        update.rowsChanged = true;
        break;
    case FollowUp::RelayoutView:
        display_.resetForView();
        update.rowsChanged = true;
        break;
    case FollowUp::ReloadFileRows:
        rows_.reloadFileRows(options_.files().settingsPath, rows);
        update.rowsChanged = true;
        break;
    case FollowUp::RecomputeBankRows:
        absorb(rows_.refreshBankRows(rows), update);
        break;
    case FollowUp::RecomputeLastBank:
        absorb(rows_.recomputeShortLastBank(rows), update);
        break;
    case FollowUp::RecomputeMissingFiles:
        recomputeRunFiles();
        break;
    case FollowUp::Retitle: {
        Retitle retitled = options_.retitleNow();
        title_ = std::move(retitled.title);
        if (retitled.mirrorError)
            note("The title could not be mirrored: " + retitled.mirrorError->message);
        break;
    }
    case FollowUp::ExportStoredFirmware:
        for (const std::string& error : rows_.writeStoredFiles(step.folder, rows)) {
            note(error);
            update.exportFailures.push_back(error);
        }
        break;
    case FollowUp::ExportStoredLdFiles:
        for (const std::string& error : FileRows::writeStoredLdFiles(step.folder, rows, options_.settings().saved.ld)) {
            note(error);
            update.exportFailures.push_back(error);
        }
        break;
    case FollowUp::ChooseLdFiles:
        // Only the 1TO4 radio brings the dialog (oneToFour); elsewhere the choice waits for it.
        break;
    case FollowUp::HideRunResult:
        display_.picture = ResultPicture::None;
        display_.icCodeShown = false;
        update.runResultHidden = true;
        break;
    case FollowUp::UnloadEngine:
        update.unloadEngine = true;
        break;
    }
}

void CustomerPageModel::absorb(const RowsReport& report, PageUpdate& update)
{
    update.rowsChanged = true;
    if (report.openError)
        ui_.showMessage(kOpenFileError, tool::kToolCaption);
    for (const int r : report.crcRows)
        log_.logFileCrc(r, static_cast<std::int32_t>(rows_.row(r).crc));
    for (const std::string& error : report.copyErrors)
        note(error);
    if (report.rowMaskCleared)
        options_.settings().modes[static_cast<std::size_t>(options_.options().mcuType)].filecheck = 0;
    if (report.tickedRows)
        merge(update.record, options_.setTickedRows(*report.tickedRows));
    // The rows were already read with the raised size: its own follow-up
    // (recomputing the last bank) would only repeat that.
    if (report.trueSizeIndex)
        merge(update.record, options_.select(OptionField::TrueSizeIndex, *report.trueSizeIndex));
}

void CustomerPageModel::storeFileNames()
{
    tool::CustomerSettings& settings = options_.settings();
    optionsToSettings(options_.options(), settings);
    if (options_.options().fileType == kBinFile) {
        settings.binPath = rows_.row(0).path;
    } else {
        for (int r = 0; r < kFileRows; ++r)
            settings.hexPaths[static_cast<std::size_t>(r)] = rows_.row(r).path;
    }
    settings.saved.hex = rows_.storedHexNames();
    settings.saved.bin = rows_.storedBinName();
    if (auto error = tool::saveFileNames(options_.files().settingsPath, settings))
        note("The file names could not be saved: " + error->message);
}

PageUpdate CustomerPageModel::select(OptionField field, int value)
{
    return apply(options_.select(field, value));
}

PageUpdate CustomerPageModel::tickRow(int row, bool ticked)
{
    return apply(options_.tickRow(row, ticked));
}

PageUpdate CustomerPageModel::setAddressText(std::string_view text)
{
    return apply(options_.setAddressText(text));
}

PageUpdate CustomerPageModel::pickFile(int row)
{
    std::vector<tool::PatternFilter> filters;
    for (const OpenFilter& filter : openFilters(row, options_.options().fileType))
        filters.push_back({filter.description, filter.patterns});
    const auto path = ui_.chooseOpenFileAmong(filters);
    if (!path)
        return {};
    return openRow(row, *path);
}

PageUpdate CustomerPageModel::openRow(int row, const std::string& path)
{
    PageUpdate update;
    if (row < 0 || row >= kFileRows || ((existingRows() >> row) & 1u) == 0) {
        update.record.error = "row " + std::to_string(row) + " is not a file row of this MCU type";
        return update;
    }
    absorb(rows_.openRow(row, path, rowOptions()), update);
    storeFileNames();
    recomputeRunFiles();
    return update;
}

PageUpdate CustomerPageModel::saveSettings()
{
    return apply(options_.saveSettings());
}

CloseOutcome CustomerPageModel::close()
{
    CloseOutcome outcome = options_.close();
    PageUpdate update = apply(outcome.record);
    outcome.record = std::move(update.record);
    return outcome;
}

PageUpdate CustomerPageModel::settingsNotify(std::uintptr_t wParam, std::intptr_t lParam)
{
    return apply(options_.settingsNotify(wParam, lParam));
}

KeyAction CustomerPageModel::keyDown(int key)
{
    const KeyAction action = options_.keyDown(key, runFiles_.actionEnabled && !display_.running);
    if (action == KeyAction::ToggleView)
        display_.resetForView();
    return action;
}

RunRequest CustomerPageModel::startRun(const RunEnvironment& engine)
{
    RunRequest request;
    if (display_.running) {
        request.update.record.error = "a run is already in progress";
        return request;
    }
    const tool::CustomerSettings& settings = options_.settings();
    platform::RegistryStore registry(options_.files().registryPath);
    RunInputs in;
    in.options = options_.options();
    in.settings = &settings;
    in.rows = &rows_;
    in.rowOptions = rowOptions();
    in.workFolder = in.rowOptions.workFolder;
    in.hdcpKeyFile = hdcpKeyFile_;
    in.libraryMode = tool::libraryModeFor(in.options.interfaceKind, registry);
    in.engineBound = engine.engineBound;
    in.engineFile = engine.engineFile;
    RunStart start = prepareRun(in);
    if (!start.call) {
        request.update.record.error = start.refusal;
        ui_.showMessage(start.refusal, tool::kToolCaption);
        return request;
    }
    // The log names the dates of the run's own files.
    std::vector<std::string> paths;
    for (const FileTableEntry& entry : start.call->table)
        paths.emplace_back(entry.inUse != 0 ? entry.path : "");
    log_.clear();
    log_.setFilePathLookup([paths = std::move(paths)](std::int32_t index) {
        return index >= 0 && static_cast<std::size_t>(index) < paths.size() ? paths[static_cast<std::size_t>(index)]
                                                                            : std::string();
    });
    taken_ = 0;
    ++logGeneration_;
    display_.startRun();
    options_.setIspRunning(true);
    ended_.reset();
    closeAfterRun_ = false;
    request.settings.autoRun = settings.advanced.enable_autorunisp != 0;
    request.call = std::move(start.call);
    return request;
}

bool CustomerPageModel::autoRunDue() const
{
    const tool::AdvancedSettings& a = options_.advanced();
    if (a.enable_autorunisp == 0)
        return false;
    if (a.enable_hdcp_key_fire != 0)
        return true;
    const PageOptions& o = options_.options();
    const auto loaded = [this](int row) { return rows_.row(row).loaded; };
    switch (o.mcuType) {
    case kR5310: return loaded(0) && loaded(1);
    case kR5312: return loaded(0) && loaded(1) && loaded(2);
    case kSerialFlash: {
        bool any = false;
        for (int r = 0; r < 8; ++r) {
            if (!o.rowTicked(r))
                continue;
            if (!loaded(r))
                return false;
            any = true;
        }
        // Nothing ticked is nothing to program: no run by itself.
        return any;
    }
    default: return false;
    }
}

void CustomerPageModel::runStarted(const run::RunCounters& counters, bool repeat)
{
    display_.workerStarted(counters, repeat);
}

PageUpdate CustomerPageModel::engineMessage(std::uintptr_t wParam, std::intptr_t lParam)
{
    const runlog::ProgressMessage message = runlog::decodeProgress(wParam, lParam);
    log_.handle(message);
    if (message.code == MVX_MSG_IC_CODE)
        display_.showIcCode(message.value);
    display_.percent = log_.overallPercent();
    return {};
}

void CustomerPageModel::runDone(const run::RunDone& done)
{
    display_.runDone(done);
}

void CustomerPageModel::runEnded(const run::WorkerEnd& end, const std::string& hdcpLogFolder)
{
    display_.workerEnded(end);
    bool close = end.closeTool;
    if (end.appendHdcpLog) {
        if (auto error = appendHdcpLog(hdcpLogFolder, hdcpLogLine(end.lastResult))) {
            // The per-board record is missing: stay open so the operator sees why.
            note(*error);
            close = false;
        }
    }
    closeAfterRun_ = close;
    ended_ = end;
}

RunEnd CustomerPageModel::runFinished()
{
    display_.running = false;
    options_.setIspRunning(false);
    apply(options_.refresh());
    return {std::exchange(closeAfterRun_, false)};
}

PageUpdate CustomerPageModel::oneToFour(LdFilesDialog& dialog)
{
    return apply(options_.select(OptionField::OneToFour, kFourBoards), &dialog);
}

PageUpdate CustomerPageModel::oneToOne()
{
    return apply(options_.select(OptionField::OneToFour, kOneBoard));
}

void CustomerPageModel::chooseLdFiles(LdFilesDialog& dialog, PageUpdate& update)
{
    tool::CustomerSettings& settings = options_.settings();
    const std::string& ini = options_.files().settingsPath;
    ldDefaults_ = readLdDefaults(ini);
    for (tool::LdTable* set : {&ldDefaults_, &settings.saved.ld, &settings.ldPaths})
        unifyLdSlots(*set);
    const int type = options_.options().mcuType;
    if (type < kR5310 || type > kSerialFlash)
        return;
    const auto family = static_cast<std::size_t>(type);
    const bool savedLd = settings.advanced.saved_ld != 0;
    const std::optional<LdSlots> chosen =
        dialog.choose(type + kR5310x4, !savedLd, savedLd ? settings.saved.ld[family] : ldDefaults_[family]);
    if (!chosen && !savedLd)
        return;
    std::vector<std::string> problems;
    if (chosen) {
        if (!savedLd)
            ldDefaults_[family] = *chosen;
        if (auto error = writeLdDefaults(ini, family, ldDefaults_[family]))
            problems.push_back("The LD defaults could not be saved: " + error->message);
        LdSlots& current = settings.ldPaths[family];
        bool changed = false;
        for (std::size_t k = 0; k < current.size(); ++k) {
            if (!savedLd) {
                changed = changed || current[k] != (*chosen)[k];
                current[k] = (*chosen)[k];
            }
            if (!current[k].empty())
                ldLoaded_[family][k] = true;
        }
        if (savedLd || changed) {
            for (std::string& error :
                 FileRows::storeLdCopies(rowOptions().workFolder, family, current, settings.saved.ld[family]))
                problems.push_back(std::move(error));
            storeFileNames();
            ldFilesChanged_ = ldFilesChanged_ || changed;
        }
    }
    PageUpdate refreshed = apply(options_.refresh());
    merge(update.record, refreshed.record);
    update.rowsChanged = update.rowsChanged || refreshed.rowsChanged;
    if (auto error = tool::saveCustomerSettings(ini, settings))
        problems.push_back("The settings could not be saved: " + error->message);
    else
        update.record.stored = true;
    for (const std::string& problem : problems)
        note(problem);
    if (!problems.empty()) {
        update.record.error = problems.front();
        ui_.showMessage(problems.front(), tool::kToolCaption);
    }
}

AdvancedSettingRequest CustomerPageModel::advancedSettingRequest() const
{
    AdvancedSettingRequest request{options_.advanced(), options_.options().mcuType, {}};
    if (request.mcuMode >= kR5310x4)
        request.ldPaths = options_.settings().saved.ld[static_cast<std::size_t>(mcuFamily(request.mcuMode))];
    return request;
}

PageUpdate CustomerPageModel::advancedSetting(AdvancedSettingDialog& dialog)
{
    PageUpdate update;
    LiveReceiver page(*this, update);
    for (;;) {
        const AdvancedSettingRequest request = advancedSettingRequest();
        const tool::AdvancedSettings returned = dialog.edit(request, page);
        PageUpdate taken = apply(options_.takeAdvanced(request.record, returned));
        merge(update.record, taken.record);
        update.rowsChanged = true;
        const tool::AdvancedSettings& a = options_.advanced();
        hdcpKeyFile_ = std::string(tool::textOf(a.autoload_hdcp_key_file_pathname));
        if (a.enable_hdcp_key_fire != 0 && a.autoload_hdcp_key_file_method == 1) {
            const std::string workFolder = rowOptions().workFolder;
            // A key that cannot be copied must not leave an old one to be fired.
            if (auto error = copyHdcpKey(hdcpKeyFile_, workFolder, options_.files().settingsPath)) {
                note(*error);
                ui_.showMessage(*error, tool::kToolCaption);
            }
            hdcpKeyFile_ = (std::filesystem::path(workFolder) / std::string(kHdcpKeyCopyName)).string();
        }
        const auto problem = hdcpSettingsProblem(a);
        if (!problem)
            return update;
        ui_.showMessage(*problem, "");
    }
}

PageUpdate CustomerPageModel::flashProtect(FlashProtectDialog& dialog)
{
    PageUpdate update;
    LiveReceiver page(*this, update);
    if (const auto returned = dialog.edit(options_.settings().protect, page))
        options_.settings().protect = *returned;
    PageUpdate stored = apply(options_.refreshAndStore());
    merge(update.record, stored.record);
    update.rowsChanged = update.rowsChanged || stored.rowsChanged;
    return update;
}

PageUpdate CustomerPageModel::exportIspFile(const tool::ShellLocations& where)
{
    PageUpdate update;
    bool chosen = false;
    const bool written = tool::exportIspFile(ui_, where, [this, &update, &chosen] {
        chosen = true;
        merge(update.record, apply(options_.storeForExport()).record);
        const tool::CustomerSettings& settings = options_.settings();
        return tool::IspJob{settings.mcu, settings.current(), settings.saved};
    });
    if (!chosen)
        update.record.declined = true;
    else if (!written && !update.record.error)
        update.record.error = "The ISP file was not written.";   // the reason has been shown
    return update;
}

}  // namespace mvx::customer_page
