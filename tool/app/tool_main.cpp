#include "app/tool_main.hpp"

#include <QApplication>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "app/page_description.hpp"
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
    const ToolArguments arguments = splitToolArguments(argc, argv);
    if (!arguments.error.empty()) {
        std::cerr << "MVX_ISP_Tool: " << arguments.error << '\n';
        return 2;
    }
    std::unique_ptr<PageDescriber> describer;
    if (arguments.describePath) {
        describer = std::make_unique<PageDescriber>(QString::fromStdString(*arguments.describePath));
        if (!describer->start()) {
            std::cerr << "MVX_ISP_Tool: " << describer->error().toStdString() << '\n';
            return 2;
        }
        QApplication::instance()->installEventFilter(describer.get());
    }
    std::vector<const char*> rest{argc > 0 ? argv[0] : ""};
    for (const std::string& argument : arguments.commandLine)
        rest.push_back(argument.c_str());
    const CommandLine commandLine =
        parseCommandLine(commandLineText(static_cast<int>(rest.size()), rest.data()));
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
