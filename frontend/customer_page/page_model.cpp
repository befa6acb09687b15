#include "customer_page/page_model.hpp"

#include <filesystem>
#include <utility>

#include "run_log/log_texts.hpp"
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
    return std::exchange(log_, {});
}

PageUpdate CustomerPageModel::load()
{
    options_.load();
    const tool::CustomerSettings& settings = options_.settings();
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
            log_.push_back(runlog::calculatedCrcLine(r, static_cast<std::int32_t>(rows_.row(r).crc)));
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
        log_.push_back("The settings could not be saved: " + error->message);
}

PageUpdate CustomerPageModel::apply(ChangeRecord record)
{
    PageUpdate update;
    const std::vector<FollowUpStep> steps = record.followUps;
    update.record = std::move(record);
    for (const FollowUpStep& step : steps)
        followUp(step, update);
    recomputeRunFiles();
    return update;
}

void CustomerPageModel::followUp(const FollowUpStep& step, PageUpdate& update)
{
    const RowOptions rows = rowOptions();
    switch (step.what) {
    case FollowUp::RefreshRowNames:
    case FollowUp::RelayoutView:
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
            log_.push_back("The title could not be mirrored: " + retitled.mirrorError->message);
        break;
    }
    case FollowUp::ExportStoredFirmware:
        for (const std::string& error : rows_.writeStoredFiles(step.folder, rows))
            log_.push_back(error);
        break;
    case FollowUp::ExportStoredLdFiles:
        for (const std::string& error : FileRows::writeStoredLdFiles(step.folder, rows, options_.settings().saved.ld))
            log_.push_back(error);
        break;
    case FollowUp::ChooseLdFiles:
        // The LD files are chosen in their own dialog, which comes with the settings dialogs.
        break;
    case FollowUp::HideRunResult:
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
        log_.push_back(runlog::calculatedCrcLine(r, static_cast<std::int32_t>(rows_.row(r).crc)));
    for (const std::string& error : report.copyErrors)
        log_.push_back(error);
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
        log_.push_back("The file names could not be saved: " + error->message);
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
    return options_.keyDown(key, runFiles_.actionEnabled);
}

PageUpdate CustomerPageModel::startRun()
{
    // Stands in for the run worker, which replaces this refusal in the next version.
    PageUpdate update;
    update.record.error = std::string(kRunNotYet);
    ui_.showMessage(kRunNotYet, tool::kToolCaption);
    return update;
}

PageUpdate CustomerPageModel::settingsDialog()
{
    // Stands in for the settings dialogs, which replace it in a later version.
    PageUpdate update;
    update.record.error = std::string(kDialogsNotYet);
    ui_.showMessage(kDialogsNotYet, tool::kToolCaption);
    return update;
}

}  // namespace mvx::customer_page
