// The program object: from process start to the first page, the page loop,
// and the hand-over at exit.
//
//   1. A non-empty command line first waits 800 ms: the process that started
//      this one is still ending.
//   2. Single instance: a second instance shows "Norvane ISP Tool is already
//      running!", asks the first one to raise the window titled as the
//      registry's "isp_title" says, and ends.  The service forms below are
//      started by the tool itself; they wait (bounded) for the instance that
//      started them to end instead of giving up at once.
//   3. The "Norvane" folder is created when missing.
//   4. Service forms, each ending the program when done:
//        "zipset_exe<path>"  pack the work folder with the job's files into
//                            the program at path, then start it with
//                            "del<work folder>";
//        "zipisp_exe<path>"  the same without the job's files;
//        "del<folder>"       remove the work folder (only the work folder:
//                            any other folder is refused and left alone).
//      A pack that fails keeps the work folder and does not start the
//      clean-up run.
//   5. "nosave" after the command line's last "-" (or the whole line) runs
//      without saving: the work folder is removed at exit and the program
//      file keeps the job it was started with.
//   6. The work folder is emptied (or created) with its "ispfile" folder,
//      and the program unpacks itself into it.
//   7. The start page ("startpage" 0: assembly page, else customer page)
//      opens; a page that closes asking to switch opens the other one.  The
//      customer page gets viewMode 1 when it is the first page shown and 2
//      when the operator came over from the assembly page.  The ispfile
//      folder is emptied after every page.
//   8. Exit: "ISP__PSI.exe" of the work folder is started with
//      "zipset_exe<this program>" and packs the job back into this program.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "mvx/platform/clock.hpp"
#include "mvx/platform/single_instance.hpp"
#include "shell/locations.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::tool {

inline constexpr std::string_view kRepackWithFilesPrefix = "zipset_exe";
inline constexpr std::string_view kRepackWithoutFilesPrefix = "zipisp_exe";
inline constexpr std::string_view kRemoveFolderPrefix = "del";
inline constexpr std::string_view kNoSaveWord = "nosave";
inline constexpr std::string_view kAlreadyRunningMessage = "Norvane ISP Tool is already running!";
inline constexpr std::string_view kInstanceName = "MVX_ISP";

inline constexpr std::uint32_t kStartDelayMillis = 800;
// How long a service run waits for the instance that started it to end.
inline constexpr std::uint32_t kServiceLockWaitMillis = 10000;
inline constexpr std::uint32_t kServiceLockPollMillis = 100;

enum class ServiceForm { None, RepackWithFiles, RepackWithoutFiles, RemoveFolder };

struct CommandLine {
    std::string text;                        // the whole command line
    ServiceForm service = ServiceForm::None;
    std::string argument;                    // what follows the service prefix
    bool noSave = false;
};

CommandLine parseCommandLine(std::string_view text);
// The command line of a process: its arguments after the program, joined
// with single blanks.
std::string commandLineText(int argc, const char* const* argv);

// The two pages, shown modally one at a time.
class PageHost {
public:
    virtual ~PageHost() = default;
    // Each answers true when the page closed asking for the other page.
    virtual bool runAssemblyPage() = 0;
    virtual bool runCustomerPage(int viewMode) = 0;
};

struct StartupServices {
    ShellUi& ui;
    PageHost& pages;
    ProcessStarter& starter;
    platform::Clock& clock;
    platform::SingleInstance& instance;
    // Called once this process holds the instance, before any page opens,
    // so that raise requests of later instances are served.
    std::function<void(platform::SingleInstance&)> listenForRaiseRequests;
};

enum class StartupOutcome {
    Finished,          // the page loop ended (and the hand-over started)
    AlreadyRunning,    // a second instance; the first was asked to raise
    ServiceDone,       // a service form did its work (or had nothing to do)
    ServiceFailed,     // a service form could not do its work
    UnpackFailed,      // the program could not unpack itself
    Failed,            // the work folder could not be prepared, or the
                       // packing copy could not be started
};

StartupOutcome runStartup(const CommandLine& commandLine, const ShellLocations& where,
                          StartupServices& services);

}  // namespace mvx::tool
