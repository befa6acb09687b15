// The command line of mvxisp: "mvxisp COMMAND [OPTIONS] [ARGUMENTS]".
//
// Options are long ("--erase-size 16" or "--erase-size=16"), a few also short
// ("-q"); "--" ends the options.  Each command lists the options it takes;
// anything else is refused with a one-line reason, and so is an option given
// twice unless it may repeat (--ld, --bank).
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "shell/text.hpp"

namespace mvx::cli {

struct OptionSpec {
    std::string_view name;        // without the leading "--"
    char shortName = 0;           // 0 when the option has no short form
    std::string_view valueName;   // "KB", "FILE"; empty for a flag
    std::string_view help;        // for --help; lines separated by '\n'
    bool repeatable = false;
    std::span<const std::string_view> choices = {};   // the values it takes, when they are names
};

struct ParsedArguments {
    std::vector<std::pair<std::string, std::string>> options;   // in command-line order; flags have ""
    std::vector<std::string> positional;

    bool has(std::string_view name) const;
    // The value of an option that takes one, nullopt when it was not given.
    std::optional<std::string> value(std::string_view name) const;
    // Every value of a repeatable option, in order.
    std::vector<std::string> values(std::string_view name) const;
};

struct ParseResult {
    ParsedArguments arguments;
    std::string error;   // empty on success
    bool ok() const { return error.empty(); }
};

ParseResult parseArguments(std::span<const std::string> words, std::span<const OptionSpec> specs);

// ---- option values ----------------------------------------------------------

// A whole number, decimal or with a 0x prefix; nullopt for anything else
// (blanks, signs on hex, trailing characters, values beyond 32 bits).
std::optional<long long> parseNumber(std::string_view text);

// parseNumber within first..last; on failure *error says why, naming the
// option ("--erase-size: 40 is outside 1..32").
std::optional<int> parseNumberIn(std::string_view option, std::string_view text, long long first, long long last,
                                 std::string* error);

// One of the names (compared without regard to case), as its index.
std::optional<int> parseChoice(std::string_view option, std::string_view text,
                               std::span<const std::string_view> names, std::string* error);

// A list of numbers such as "0,2,5" or "1-3" within first..last, as a bit mask.
std::optional<unsigned> parseBankList(std::string_view option, std::string_view text, int first, int last,
                                      std::string* error);

using tool::equalsIgnoringCase;
using tool::endsWithIgnoringCase;

}  // namespace mvx::cli
