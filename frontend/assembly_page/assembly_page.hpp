// The Assembly ISP page without widgets: a job loaded from an exported ISP
// file, shown read-only, run once as one mvxISP call, and the choice between
// one target and four.  The Qt page draws texts() and controls() by the
// control names below and forwards the operator's actions here; message
// boxes, questions and the file picker go through the shell's UI.
//
// The job itself is read and turned into an mvxISP call by job/rsp_job (what
// "mvxisp run JOB.rsp" uses too); this model adds what only the page has: the
// 1 To 1 / 1 To 4 memory, the station's LD files, the run's state and the
// texts of every field.
//
// LD files: the customer page keeps the station's LD files in the work
// folder under their member names ("5310file1" .. "SFfile4", which the
// program packs into itself) and the names the operator chose in [Saved_LD]
// of the work folder's settings.  A 1To4 run takes those copies; the page
// shows the chosen names (the member name when none is stored).
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

#include "job/isp_call.hpp"
#include "job/rsp_job.hpp"
#include "shell/engine_binding.hpp"
#include "shell/settings_store.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::assembly_page {

// ---- control names (objectName of the Qt page's widgets) -------------------------

namespace names {
inline constexpr std::string_view page = "assemblyPage";
inline constexpr std::string_view ispButton = "ispButton";
inline constexpr std::string_view loadIspFileButton = "loadIspFileButton";
inline constexpr std::string_view targetsGroupBox = "targetsGroupBox";
inline constexpr std::string_view oneToOneRadio = "oneToOneRadio";
inline constexpr std::string_view oneToFourRadio = "oneToFourRadio";
inline constexpr std::string_view passPictureLabel = "passPictureLabel";
inline constexpr std::string_view failPictureLabel = "failPictureLabel";
inline constexpr std::string_view progressBar = "progressBar";
inline constexpr std::string_view progressLabel = "progressLabel";
inline constexpr std::string_view rspPathEdit = "rspPathEdit";
inline constexpr std::string_view rspDateLabel = "rspDateLabel";
inline constexpr std::string_view projectNameEdit = "projectNameEdit";
inline constexpr std::string_view mcuEdit = "mcuEdit";
inline constexpr std::string_view interfaceEdit = "interfaceEdit";
inline constexpr std::string_view ispTypeEdit = "ispTypeEdit";
inline constexpr std::string_view addressEdit = "addressEdit";
inline constexpr std::string_view brandEdit = "brandEdit";
inline constexpr std::string_view eraseTypeEdit = "eraseTypeEdit";
inline constexpr std::string_view eraseSizeEdit = "eraseSizeEdit";
inline constexpr std::string_view protectGroupBox = "protectGroupBox";
inline constexpr std::string_view flashProtectEdit = "flashProtectEdit";
inline constexpr std::string_view pinEdit = "pinEdit";
inline constexpr std::string_view pullEdit = "pullEdit";
inline constexpr std::string_view ldGroupBox = "ldGroupBox";
inline constexpr std::string_view ldPathEdit = "ldPathEdit";
inline constexpr std::string_view ldDateLabel = "ldDateLabel";
}  // namespace names

// "image2ChecksumEdit", "ld0NameEdit": the bank rows and LD names.
enum class ImagePart { NameEdit, ChecksumEdit, FileLengthEdit, ProgramLengthEdit };
std::string imageControlName(int image, ImagePart part);   // image 0..3
std::string ldControlName(int ld);                          // 0..3
inline constexpr std::array<std::string_view, 4> kLdLabels{"M1_0", "M1_1", "M2_0", "M2_1"};

// ---- texts and messages ------------------------------------------------------------

inline constexpr int kNoMode = 6;
inline constexpr std::string_view kNoRspMessage = "RSP file does not exist.";
inline constexpr std::string_view kLinkErrorMessage = "MCU Link Error!";
inline constexpr std::string_view kLdMissingSettingMessage =
    "LD files do not exist. Please confirm it in setting dialog.";
inline constexpr std::string_view kLdMissingMessage = "LD files do not exist. Please check it.";
inline constexpr std::string_view kToOneQuestion = "Do you really want to change to \"1TO1\" Mode?";
inline constexpr std::string_view kToFourQuestion = "Do you really want to change to \"1TO4\" Mode?";
inline constexpr std::string_view kConfirmCaption = "Confirm";
inline constexpr std::string_view kIspFileFilterExtension = "rsp";

// The MCU family's name (mode modulo 3; "--" without a job).
std::string familyText(int mode);
// The interface as the page shows it: always "IIC" for the 1To4 modes.
std::string interfaceText(int mode, int interface);
// The flash protect pin of a scaler type ("--" for a pair the board has not).
std::string pinName(int scalarType, int pinType);
// The message a 1To4 mode shows when its LD files are missing (empty for
// the other modes).
std::string_view ldMissingMessage(int mode);
// The message a run's result adds to the fail picture (empty for none).
std::string_view resultMessage(int result);

// ---- the model ---------------------------------------------------------------------

struct PageFiles {
    std::string settingsPath;    // the work folder's "ISP__PSI.ini"
    std::string workFolder;      // where the station's LD copies are
    std::string ispfileFolder;   // where ISP files are unpacked
    std::string programPath;     // its date goes into the title
    std::string registryPath;    // the title is mirrored into "isp_title"
    std::string titleSuffix;     // appended to every title (the virtual board notice)
};

struct ControlState {
    bool visible = true;
    bool enabled = true;
};

class AssemblyPageModel {
public:
    AssemblyPageModel(PageFiles files, tool::ShellUi& ui, const tool::EngineEntryPoints& engine);

    // The page opens: the station settings, then the saved job (keeping the
    // saved 1 To 1 / 1 To 4 choice); "RSP file does not exist." when the
    // saved job cannot be loaded.
    void open();
    // Load ISP File: the picker, then the chosen file as a 1To4 job.
    void chooseIspFile();
    // Loads an ISP file; keepMode keeps the saved 1 To 1 / 1 To 4 choice,
    // otherwise the job becomes a 1To4 job.  A file that cannot be loaded
    // clears the job and says why (at open: "RSP file does not exist." for a
    // missing file).  True when the job loaded.
    bool load(const std::string& path, bool keepMode, bool atOpen = false);
    // The 1 To 1 (0) or 1 To 4 (1) radio, confirmed by the operator.
    void chooseTargets(int oneToFour);

    // The ISP button (and Enter while it is enabled): the call to run, or
    // nullopt after the message that says why not.  On success the page is
    // running until runIdle().
    std::optional<job::IspCall> startRun();
    // WM_ISP_PROGRESS from the engine: the overall percentage moves the bar.
    void progress(std::uintptr_t wParam, std::intptr_t lParam);
    // The worker's engine call returned: the picture, the result's message.
    void runEnded(int result);
    // The run's controls come back, the bar goes (the 10 ms after the run).
    void runIdle();

    // Ctrl+M: true when the page closes to open the customer page.
    bool requestSwitch();
    // OK, Cancel: false while running; otherwise "last1to4" and "recfile" are
    // written and the page closes.
    bool close();

    bool running() const { return running_; }
    bool loaded() const { return loaded_; }
    bool switchPage() const { return switchPage_; }
    bool jobChanged() const { return jobChanged_; }
    int mode() const { return loaded_ ? job_.mode : kNoMode; }
    int oneToFour() const { return settings_.last1to4; }
    int progressValue() const { return progress_; }
    const job::RspJob& job() const { return job_; }
    // Whether the ISP button takes a press (and Enter).
    bool ispEnabled() const;

    std::map<std::string, std::string> texts() const;
    std::map<std::string, ControlState> controls() const;
    // The window title (with the program date and the suffix); refresh()
    // mirrors it into the registry.
    std::string title() const;
    void refresh();

private:
    struct LdFile {
        std::string name;
        std::string path;
    };
    // The station's LD copies of the job's family (1To4 modes; else empty).
    std::array<LdFile, 4> ldFiles() const;
    // The ISP file's name without folder and extension ("--" without one).
    std::string projectName() const;
    void clearJob();
    bool anyImageFailed() const;
    bool imageFailed(int i) const;

    PageFiles files_;
    tool::ShellUi& ui_;
    const tool::EngineEntryPoints& engine_;
    tool::AssemblySettings settings_;
    job::RspJob job_;
    bool loaded_ = false;
    bool running_ = false;
    bool switchPage_ = false;
    bool jobChanged_ = false;
    bool targetsEnabled_ = true;
    bool progressShown_ = false;
    int progress_ = 0;
    std::optional<bool> passed_;   // the picture shown
    std::string mirroredTitle_;
};

}  // namespace mvx::assembly_page
