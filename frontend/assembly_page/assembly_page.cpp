#include "assembly_page/assembly_page.hpp"

#include <algorithm>
#include <filesystem>
#include <system_error>
#include <utility>

#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/ini.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/platform/registry.hpp"
#include "mvxisp.h"
#include "run_log/log_texts.hpp"
#include "shell/option_records.hpp"
#include "shell/window_title.hpp"

namespace mvx::assembly_page {

namespace {

constexpr std::array<std::string_view, 3> kFamilyTexts{"5310", "5312", "SerialFlash"};
constexpr std::array<std::string_view, 4> kInterfaceTexts{"USB", "FTDI", "IIC", "CVT IIC"};
// The brands by index, as the customer page's radios name them.
constexpr std::array<std::string_view, 6> kBrandTexts{"P-Flash", "WinBond", "MXIC", "EON", "SST", "AMIC"};
constexpr std::array<std::string_view, 2> kIspTypeTexts{"Auto", "Erase"};
constexpr std::array<std::string_view, 2> kAddressTexts{"0x90", "0x94"};
constexpr std::array<std::string_view, 2> kEraseTexts{"Mass Erase", "Page Erase"};

// The protect pins each scaler type offers, by pin_type.
struct PinRow {
    int scalarType;
    std::array<std::string_view, 5> pins;   // unused tail entries are empty
};
constexpr std::array<PinRow, 4> kPins{{
    {0, {"Pin103", "Pin104", "Pin105", "Pin108", ""}},
    {1, {"Pin103", "Pin104", "Pin105", "Pin108", ""}},
    {2, {"Pin110", "Pin111", "Pin112", "Pin113", "Pin114"}},
    {3, {"Pin26", "Pin27", "Pin28", "Pin29", ""}},
}};

template <std::size_t N>
std::string textAt(const std::array<std::string_view, N>& texts, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= N || texts[static_cast<std::size_t>(index)].empty())
        return "--";
    return std::string(texts[static_cast<std::size_t>(index)]);
}

bool isProtectMode(int mode)
{
    return mode == MVX_OP_SERIAL_FLASH || mode == MVX_OP_SERIAL_FLASH_1TO4;
}

// The name after the last folder separator of either kind.
std::string lastName(const std::string& path)
{
    const auto cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

bool regularFile(const std::string& path)
{
    std::error_code ignored;
    return std::filesystem::is_regular_file(path, ignored);
}

}  // namespace

std::string imageControlName(int image, ImagePart part)
{
    static constexpr std::array<std::string_view, 4> kParts{"NameEdit", "ChecksumEdit", "FileLengthEdit",
                                                            "ProgramLengthEdit"};
    return "image" + std::to_string(image) + std::string(kParts[static_cast<std::size_t>(part)]);
}

std::string ldControlName(int ld)
{
    return "ld" + std::to_string(ld) + "NameEdit";
}

std::string familyText(int mode)
{
    return mode < 0 || mode >= tool::kModeCount ? "--" : std::string(kFamilyTexts[static_cast<std::size_t>(mode % 3)]);
}

std::string interfaceText(int mode, int interface)
{
    if (job::isOneToFourOperation(mode))
        return "IIC";
    return textAt(kInterfaceTexts, interface);
}

std::string pinName(int scalarType, int pinType)
{
    for (const PinRow& row : kPins) {
        if (row.scalarType == scalarType)
            return textAt(row.pins, pinType);
    }
    return "--";
}

std::string_view ldMissingMessage(int mode)
{
    if (mode == MVX_OP_5312_1TO4)
        return kLdMissingSettingMessage;
    return job::isOneToFourOperation(mode) ? kLdMissingMessage : std::string_view{};
}

std::string_view resultMessage(int result)
{
    switch (result) {
    case MVX_ERR_BRIDGE_MISSING:
    case MVX_ERR_ISP_MODE:
    case MVX_ERR_TIMEOUT: return kLinkErrorMessage;
    default: return {};
    }
}

AssemblyPageModel::AssemblyPageModel(PageFiles files, tool::ShellUi& ui, const tool::EngineEntryPoints& engine)
    : files_(std::move(files)), ui_(ui), engine_(engine)
{
    clearJob();
}

void AssemblyPageModel::clearJob()
{
    job_ = job::RspJob{};
    job_.mode = kNoMode;
    loaded_ = false;
}

void AssemblyPageModel::open()
{
    settings_ = tool::loadAssemblySettings(files_.settingsPath);
    if (!settings_.recfile.empty())
        load(settings_.recfile, true, true);
    refresh();
}

void AssemblyPageModel::chooseIspFile()
{
    if (running_)
        return;
    const auto chosen = ui_.chooseOpenFile({std::string(kIspFileFilterExtension) + " Files",
                                            std::string(kIspFileFilterExtension)});
    if (!chosen)
        return;
    jobChanged_ = true;
    load(*chosen, false);
    refresh();
}

bool AssemblyPageModel::load(const std::string& path, bool keepMode, bool atOpen)
{
    settings_.recfile = path;
    std::error_code ignored;
    std::filesystem::create_directories(files_.ispfileFolder, ignored);
    // Without keepMode every job becomes a 1To4 job.
    const std::optional<int> targets = !keepMode || settings_.last1to4 != 0 ? 4 : 1;
    job::RspLoad result = job::loadRspJob(path, files_.ispfileFolder, targets, files_.settingsPath);
    if (result.status != 0) {
        clearJob();
        if (atOpen && !std::filesystem::exists(path, ignored))
            ui_.showMessage(kNoRspMessage, tool::kToolCaption);
        else
            ui_.showMessage("The ISP file '" + path + "' cannot be loaded: " + result.reason, tool::kToolCaption);
        return false;
    }
    job_ = std::move(result.job);
    if (!keepMode)
        settings_.last1to4 = 1;
    job::readImageInfo(job_, engine_.getFileInfo);
    loaded_ = true;
    targetsEnabled_ = true;
    passed_.reset();
    return true;
}

void AssemblyPageModel::chooseTargets(int oneToFour)
{
    const int wanted = oneToFour != 0 ? 1 : 0;
    if (!loaded_ || running_ || wanted == settings_.last1to4)
        return;
    if (ui_.ask(wanted != 0 ? kToFourQuestion : kToOneQuestion, kConfirmCaption, tool::Buttons::YesNo) !=
        tool::Answer::Yes)
        return;
    settings_.last1to4 = wanted;
    if (wanted != 0 && job_.mode <= MVX_OP_SERIAL_FLASH)
        job_.mode += 3;
    if (wanted == 0 && job_.mode > MVX_OP_SERIAL_FLASH)
        job_.mode -= 3;
    // The lengths the engine reports depend on the operation.
    job::readImageInfo(job_, engine_.getFileInfo);
    refresh();
}

bool AssemblyPageModel::imageFailed(int i) const
{
    const job::JobImage& image = job_.images[static_cast<std::size_t>(i)];
    return image.selected && (image.path.empty() || image.result != MVX_OK);
}

bool AssemblyPageModel::anyImageFailed() const
{
    for (int i = 0; i < 4; ++i) {
        if (imageFailed(i))
            return true;
    }
    return false;
}

bool AssemblyPageModel::ispEnabled() const
{
    return loaded_ && !running_ && !settings_.recfile.empty() && !anyImageFailed();
}

std::array<AssemblyPageModel::LdFile, 4> AssemblyPageModel::ldFiles() const
{
    std::array<LdFile, 4> files;
    if (!loaded_ || !job::isOneToFourOperation(job_.mode))
        return files;
    const std::string family(tool::kLdFamilies[static_cast<std::size_t>(job_.mode % 3)]);
    for (int n = 1; n <= 4; ++n) {
        const std::string member = family + "file" + std::to_string(n);
        LdFile& file = files[static_cast<std::size_t>(n - 1)];
        file.path = platform::joinPath(files_.workFolder, member);
        file.name = lastName(platform::readProfileString(files_.settingsPath, tool::kSavedLdSection, member, ""));
        if (file.name.empty())
            file.name = member;
    }
    return files;
}

std::optional<job::IspCall> AssemblyPageModel::startRun()
{
    if (!ispEnabled())
        return std::nullopt;
    if (engine_.isp == nullptr) {
        ui_.showMessage(tool::kCopyDllMessage, tool::kToolCaption);
        return std::nullopt;
    }
    job::JobOverrides overrides;
    if (job::isOneToFourOperation(job_.mode)) {
        for (const LdFile& file : ldFiles()) {
            if (!regularFile(file.path)) {
                ui_.showMessage(ldMissingMessage(job_.mode), tool::kToolCaption);
                return std::nullopt;
            }
            overrides.ldFiles.push_back(file.path);
        }
    }
    job::Built built = job::buildRspRun(job_, overrides, files_.workFolder);
    if (built.status != 0) {
        ui_.showMessage(built.error, tool::kToolCaption);
        return std::nullopt;
    }
    job::IspCall& call = built.plan.call;
    platform::RegistryStore registry(files_.registryPath);
    call.libraryMode = tool::libraryModeFor(built.plan.libraryModeInterface, registry);

    passed_.reset();
    targetsEnabled_ = false;
    progressShown_ = true;
    progress_ = 0;
    running_ = true;
    return std::move(call);
}

void AssemblyPageModel::progress(std::uintptr_t wParam, std::intptr_t lParam)
{
    if (MVX_PROGRESS_CODE(wParam) == MVX_MSG_OVERALL_PERCENT)
        progress_ = static_cast<int>(std::clamp<std::intptr_t>(lParam, 0, 100));
}

void AssemblyPageModel::runEnded(int result)
{
    passed_ = result == MVX_OK;
    targetsEnabled_ = job_.mode != MVX_OP_SERIAL_FLASH;
    const std::string_view message = resultMessage(result);
    if (!message.empty())
        ui_.showMessage(message, tool::kToolCaption);
}

void AssemblyPageModel::runIdle()
{
    running_ = false;
    progressShown_ = false;
}

bool AssemblyPageModel::requestSwitch()
{
    if (running_)
        return false;
    switchPage_ = true;
    return true;
}

bool AssemblyPageModel::close()
{
    if (running_)
        return false;
    if (auto error = tool::saveAssemblySettings(files_.settingsPath, settings_))
        platform::debugOutput(error->message);
    return true;
}

std::string AssemblyPageModel::projectName() const
{
    return settings_.recfile.empty() ? "--" : std::filesystem::path(settings_.recfile).stem().string();
}

std::map<std::string, std::string> AssemblyPageModel::texts() const
{
    namespace n = names;
    const tool::ModeOptions& o = job_.options;
    const bool job = loaded_;
    const int mode = this->mode();
    std::map<std::string, std::string> t;
    t[std::string(n::rspPathEdit)] = settings_.recfile;
    t[std::string(n::rspDateLabel)] =
        settings_.recfile.empty() ? "" : runlog::fileDateTimeText(settings_.recfile).value_or("");
    t[std::string(n::projectNameEdit)] = projectName();
    t[std::string(n::mcuEdit)] = familyText(mode);
    t[std::string(n::interfaceEdit)] = job ? interfaceText(mode, o.interface) : "--";
    t[std::string(n::ispTypeEdit)] = job ? textAt(kIspTypeTexts, o.isptype) : "--";
    t[std::string(n::addressEdit)] = job ? textAt(kAddressTexts, o.ispaddr) : "--";
    t[std::string(n::brandEdit)] = job ? textAt(kBrandTexts, o.brand) : "--";
    t[std::string(n::eraseTypeEdit)] = job ? textAt(kEraseTexts, o.erase) : "--";
    t[std::string(n::eraseSizeEdit)] =
        job && o.extend != 0 && o.erase == 1 ? std::to_string(o.ex_size + 1) + "k" : "--";
    const FlashProtectSettings& p = settings_.protect;
    const bool protect = p.enable_protect != 0;
    t[std::string(n::flashProtectEdit)] = protect ? "Open" : "Close";
    t[std::string(n::pinEdit)] = protect ? pinName(p.scalar_type, p.pin_type) : "--";
    t[std::string(n::pullEdit)] = protect ? (p.value == 1 ? "High" : "Low") : "--";

    for (int i = 0; i < 4; ++i) {
        const job::JobImage& image = job_.images[static_cast<std::size_t>(i)];
        const bool shown = job && image.selected && !image.path.empty();
        const bool known = shown && image.result == MVX_OK;
        t[imageControlName(i, ImagePart::NameEdit)] = shown ? image.name : "";
        t[imageControlName(i, ImagePart::ChecksumEdit)] = known ? job::checksumText(image.checksum) : "";
        t[imageControlName(i, ImagePart::FileLengthEdit)] = known ? std::to_string(image.dataLength) : "";
        t[imageControlName(i, ImagePart::ProgramLengthEdit)] = known ? std::to_string(image.programLength) : "";
    }
    const auto ld = ldFiles();
    for (int i = 0; i < 4; ++i)
        t[ldControlName(i)] = ld[static_cast<std::size_t>(i)].name;
    t[std::string(n::ldPathEdit)] = ld[0].path.empty() ? "" : files_.workFolder;
    t[std::string(n::ldDateLabel)] = ld[0].path.empty() ? "" : runlog::fileDateTimeText(ld[0].path).value_or("");
    t[std::string(n::progressLabel)] = std::to_string(progress_) + "%";
    return t;
}

std::map<std::string, ControlState> AssemblyPageModel::controls() const
{
    namespace n = names;
    const int mode = this->mode();
    const auto texts = this->texts();
    std::map<std::string, ControlState> c;
    c[std::string(n::ispButton)] = {true, ispEnabled()};
    c[std::string(n::loadIspFileButton)] = {true, !running_};
    c[std::string(n::targetsGroupBox)] = {true, loaded_ && targetsEnabled_ && !running_};
    c[std::string(n::passPictureLabel)] = {passed_ == true, true};
    c[std::string(n::failPictureLabel)] = {passed_ == false, true};
    c[std::string(n::progressBar)] = {progressShown_, true};
    c[std::string(n::progressLabel)] = {progressShown_, true};
    c[std::string(n::rspDateLabel)] = {!texts.at(std::string(n::rspDateLabel)).empty(), true};
    c[std::string(n::ldGroupBox)] = {loaded_ && job::isOneToFourOperation(mode), true};
    c[std::string(n::protectGroupBox)] = {loaded_ && isProtectMode(mode), true};
    return c;
}

std::string AssemblyPageModel::title() const
{
    std::string title(tool::kDefaultUserTitle);
    if (loaded_) {
        title = projectName() + " (" + familyText(job_.mode) + " _ " +
                interfaceText(job_.mode, job_.options.interface) + ")";
    }
    return tool::titleWithProgramDate(title, files_.programPath) + files_.titleSuffix;
}

void AssemblyPageModel::refresh()
{
    const std::string now = title();
    if (now == mirroredTitle_)
        return;
    mirroredTitle_ = now;
    if (auto error = tool::mirrorWindowTitle(files_.registryPath, now))
        platform::debugOutput(error->message);
}

}  // namespace mvx::assembly_page
