#include "app/tool_main.hpp"

#include <memory>

#include "app/page_host.hpp"
#include "app/qt_shell_ui.hpp"
#include "app/stand_in_pages.hpp"
#include "app/window_raiser.hpp"
#include "mvx/platform/clock.hpp"
#include "mvx/platform/single_instance.hpp"
#include "shell/engine_binding.hpp"
#include "shell/startup.hpp"

namespace mvx::tool {

int runTool(int argc, const char* const* argv)
{
    const CommandLine commandLine = parseCommandLine(commandLineText(argc, argv));
    const ShellLocations where = ShellLocations::fromSystem();
    QtShellUi ui;
    EngineBinding engine(where, ui);
    ToolPageHost pages(where, engine, ui, StandInPageHost::actionsFromEnvironment());
    SpawnProcessStarter starter;
    platform::SingleInstance instance{std::string(kInstanceName)};
    std::unique_ptr<RaiseRequestListener> listener;
    StartupServices services{ui, pages, starter, platform::systemClock(), instance,
                             [&listener](platform::SingleInstance& held) {
                                 listener = std::make_unique<RaiseRequestListener>(held);
                             }};
    switch (runStartup(commandLine, where, services)) {
    case StartupOutcome::Finished:
    case StartupOutcome::AlreadyRunning:
    case StartupOutcome::ServiceDone:
        return 0;
    default:
        return 1;
    }
}

}  // namespace mvx::tool
