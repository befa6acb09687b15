#include "shell/startup.hpp"

#include <filesystem>
#include <system_error>

#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/paths.hpp"
#include "shell/file_io.hpp"
#include "shell/packages.hpp"
#include "shell/settings_store.hpp"

namespace mvx::tool {
namespace {

using Outcome = platform::SingleInstance::Outcome;

bool sameFolder(const std::string& a, const std::string& b)
{
    std::error_code ignored;
    const auto left = std::filesystem::weakly_canonical(a, ignored).lexically_normal();
    const auto right = std::filesystem::weakly_canonical(b, ignored).lexically_normal();
    return !a.empty() && left == right;
}

Outcome takeInstance(const CommandLine& commandLine, StartupServices& services)
{
    Outcome outcome = services.instance.acquire();
    if (commandLine.service == ServiceForm::None)
        return outcome;
    for (std::uint32_t waited = 0; outcome == Outcome::AlreadyRunning && waited < kServiceLockWaitMillis;
         waited += kServiceLockPollMillis) {
        services.clock.sleepMillis(kServiceLockPollMillis);
        outcome = services.instance.acquire();
    }
    return outcome;
}

StartupOutcome runService(const CommandLine& commandLine, const ShellLocations& where,
                          StartupServices& services)
{
    if (commandLine.service == ServiceForm::RemoveFolder) {
        if (!sameFolder(commandLine.argument, where.workFolder)) {
            platform::debugOutput("refused to remove '" + commandLine.argument +
                                  "': not the work folder");
            return StartupOutcome::ServiceFailed;
        }
        std::string error;
        if (!removeFolder(where.workFolder, &error)) {
            platform::debugOutput(error);
            return StartupOutcome::ServiceFailed;
        }
        return StartupOutcome::ServiceDone;
    }
    if (commandLine.argument.empty())
        return StartupOutcome::ServiceDone;
    const PackageResult packed = repackTo(where.programPath, commandLine.argument,
                                          commandLine.service == ServiceForm::RepackWithFiles);
    if (!packed.ok) {
        if (!packed.message.empty())
            services.ui.showMessage(packed.message, kToolCaption);
        return StartupOutcome::ServiceFailed;
    }
    if (!services.starter.start(commandLine.argument,
                                std::string(kRemoveFolderPrefix) + where.workFolder, true))
        platform::debugOutput("cannot start '" + commandLine.argument + "' to remove the work folder");
    return StartupOutcome::ServiceDone;
}

bool prepareWorkFolder(const ShellLocations& where, std::string& error)
{
    if (isFolder(where.workFolder)) {
        if (!emptyFolder(where.workFolder, &error))
            return false;
    } else if (!platform::makeFolders(where.workFolder, &error)) {
        return false;
    }
    return platform::makeFolders(where.ispfileFolder, &error);
}

void runPages(const ShellLocations& where, StartupServices& services)
{
    int page = readStartPage(where.settingsPath());
    bool firstPage = true;
    for (;;) {
        const bool switchPage = page == kAssemblyPage
                                    ? services.pages.runAssemblyPage()
                                    : services.pages.runCustomerPage(firstPage ? 1 : 2);
        firstPage = false;
        std::string error;
        if (!emptyFolder(where.ispfileFolder, &error))
            platform::debugOutput(error);
        if (!switchPage)
            return;
        page = page == kAssemblyPage ? kCustomerPage : kAssemblyPage;
    }
}

}  // namespace

CommandLine parseCommandLine(std::string_view text)
{
    CommandLine line;
    line.text = std::string(text);
    const auto service = [&](std::string_view prefix, ServiceForm form) {
        if (line.service != ServiceForm::None || !text.starts_with(prefix))
            return;
        line.service = form;
        line.argument = std::string(text.substr(prefix.size()));
    };
    service(kRepackWithFilesPrefix, ServiceForm::RepackWithFiles);
    service(kRepackWithoutFilesPrefix, ServiceForm::RepackWithoutFiles);
    service(kRemoveFolderPrefix, ServiceForm::RemoveFolder);
    const auto minus = text.rfind('-');
    line.noSave = (minus == std::string_view::npos ? text : text.substr(minus + 1)) == kNoSaveWord;
    return line;
}

std::string commandLineText(int argc, const char* const* argv)
{
    std::string text;
    for (int i = 1; i < argc; ++i) {
        if (i > 1)
            text += ' ';
        text += argv[i];
    }
    return text;
}

StartupOutcome runStartup(const CommandLine& commandLine, const ShellLocations& where,
                          StartupServices& services)
{
    if (!commandLine.text.empty())
        services.clock.sleepMillis(kStartDelayMillis);

    switch (takeInstance(commandLine, services)) {
    case Outcome::AlreadyRunning: {
        services.ui.showMessage(kAlreadyRunningMessage, kToolCaption);
        const std::string title = mirroredWindowTitle(where.registryPath);
        if (!title.empty() && !services.instance.requestRaise(title))
            platform::debugOutput("the running instance did not take the raise request");
        return StartupOutcome::AlreadyRunning;
    }
    case Outcome::Error:
        // Without the lock the tool still works; only the guard is lost.
        platform::debugOutput("single-instance check failed: " + services.instance.error());
        break;
    case Outcome::First:
        if (services.listenForRaiseRequests)
            services.listenForRaiseRequests(services.instance);
        break;
    }

    std::string error;
    if (!platform::makeFolders(where.makerFolder, &error)) {
        services.ui.showMessage("Cannot create the work folder: " + error, kToolCaption);
        return StartupOutcome::Failed;
    }
    if (commandLine.service != ServiceForm::None)
        return runService(commandLine, where, services);

    if (!prepareWorkFolder(where, error)) {
        services.ui.showMessage("Cannot prepare the work folder: " + error, kToolCaption);
        return StartupOutcome::Failed;
    }
    if (const PackageResult unpacked = unpackSelf(where); !unpacked.ok) {
        if (!unpacked.message.empty())
            services.ui.showMessage(unpacked.message, kToolCaption);
        return StartupOutcome::UnpackFailed;
    }

    runPages(where, services);

    if (commandLine.noSave) {
        if (!removeFolder(where.workFolder, &error))
            platform::debugOutput(error);
        return StartupOutcome::Finished;
    }
    if (!services.starter.start(where.workFile(kProgramMember),
                                std::string(kRepackWithFilesPrefix) + where.programPath, false)) {
        services.ui.showMessage(
            "Cannot start the packing copy of the tool: this session's settings and files were not "
            "saved into the program file.",
            kToolCaption);
        return StartupOutcome::Failed;
    }
    return StartupOutcome::Finished;
}

}  // namespace mvx::tool
