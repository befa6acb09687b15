// The commands of mvxisp, their options and their --help texts.  The option
// lists here are the ones the parser accepts, so --help names every option.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "arguments.hpp"

namespace mvx::cli {

struct OptionGroup {
    std::string_view heading;
    std::span<const OptionSpec> options;
};

struct CommandInfo {
    std::string_view name;
    std::string_view summary;      // one line for the command list
    std::string_view usage;        // "mvxisp program [OPTIONS] FILE..."
    std::string_view description;  // paragraphs
    std::string_view examples;     // lines
    std::span<const OptionGroup> groups;
};

std::span<const CommandInfo> commands();
const CommandInfo* findCommand(std::string_view name);

// Every option of a command, for the parser.
std::vector<OptionSpec> optionsOf(const CommandInfo& command);

// "mvxisp --help" and "mvxisp COMMAND --help".
std::string programHelp();
std::string commandHelp(const CommandInfo& command);

// The exit statuses, for the help texts.
std::string_view exitStatusHelp();

// The parts of "mvxisp --help" that the manual page shows too.
struct EnvironmentVariable {
    std::string_view name;
    std::string_view help;   // lines separated by '\n'
};
std::string_view programSummary();      // one line, what the program is
std::string_view engineSearchHelp();    // where the engine library is loaded from
std::string_view interruptHelp();       // what Ctrl-C does during a run
std::span<const EnvironmentVariable> environmentVariables();

}  // namespace mvx::cli
