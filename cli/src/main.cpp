// mvxisp: the command-line front end of the MVXISP engine.
#include <sys/ioctl.h>
#include <unistd.h>

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "commands.hpp"
#include "interrupts.hpp"
#include "job.hpp"
#include "mvx/platform/paths.hpp"

int main(int argc, char** argv)
{
    try {
        // First, before any other thread exists: interrupts are then taken
        // by the watch in every thread the program starts.
        mvx::cli::InterruptWatch interrupts;
        std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
        mvx::cli::CliEnvironment environment;
        if (interrupts.active())
            environment.interrupts = &interrupts;
        environment.programPath = mvx::platform::currentProgramPath();
        if (environment.programPath.empty() && argc > 0)
            environment.programPath = argv[0];
        environment.out = &std::cout;
        environment.err = &std::cerr;
        environment.stderrIsTerminal = ::isatty(STDERR_FILENO) == 1;
        environment.virtualBoard = mvx::tool::virtualBoardNotice();
        winsize size{};
        if (environment.stderrIsTerminal && ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0)
            environment.terminalColumns = size.ws_col;
        return mvx::cli::runCli(args, environment);
    } catch (const std::exception& error) {
        std::cerr << "mvxisp: internal error: " << error.what() << "\n";
    } catch (...) {
        std::cerr << "mvxisp: internal error\n";
    }
    return mvx::cli::kStatusInternal;
}
