// The mvxisp program without its main(): reads the command line, runs the
// command and answers the exit status.
#pragma once

#include <optional>
#include <ostream>
#include <span>
#include <string>

#include "shell/virtual_board.hpp"

namespace mvx::cli {

class InterruptWatch;

struct CliEnvironment {
    std::string programPath;       // the running program (the engine is looked for beside it)
    std::ostream* out = nullptr;   // stdout
    std::ostream* err = nullptr;   // stderr
    bool stderrIsTerminal = false;
    int terminalColumns = 80;
    // Set while a virtual board stands in for the hardware: every command
    // but buses shows it first and in its last line.
    std::optional<tool::VirtualBoardNotice> virtualBoard;
    // Ctrl-C and SIGTERM outside the engine runs end the command (removing
    // its temporary folder); null: signals keep their ordinary effect
    // outside the runs.
    InterruptWatch* interrupts = nullptr;
};

// args without the program name.
int runCli(std::span<const std::string> args, const CliEnvironment& environment);

}  // namespace mvx::cli
