// The mvxisp program without its main(): reads the command line, runs the
// command and answers the exit status.
#pragma once

#include <ostream>
#include <span>
#include <string>

namespace mvx::cli {

struct CliEnvironment {
    std::string programPath;       // the running program (the engine is looked for beside it)
    std::ostream* out = nullptr;   // stdout
    std::ostream* err = nullptr;   // stderr
    bool stderrIsTerminal = false;
    int terminalColumns = 80;
};

// args without the program name.
int runCli(std::span<const std::string> args, const CliEnvironment& environment);

}  // namespace mvx::cli
