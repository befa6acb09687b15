#include "docs.hpp"

#include <algorithm>
#include <vector>

#include "help.hpp"

namespace mvx::cli {
namespace {

// ---- the manual page ---------------------------------------------------------

// One line of text for the man macros: backslashes doubled as \e, a dash that
// starts a word (an option) kept as a dash rather than a hyphen, and a line
// that would start with a control character protected.
std::string roffLine(std::string_view text)
{
    std::string out;
    if (!text.empty() && (text.front() == '.' || text.front() == '\''))
        out += "\\&";
    char before = ' ';
    for (const char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-' && (before == ' ' || before == '-' || before == '[' || before == '(' || before == '\''))
            out += "\\-";
        else
            out += c;
        before = c;
    }
    return out;
}

// Text of several lines ('\n' between them), each made a roff line; without
// the blanks that indent them when trimIndent is set.
std::string roffLines(std::string_view text, bool trimIndent = false)
{
    std::string out;
    while (!text.empty()) {
        const auto newline = text.find('\n');
        std::string_view line = text.substr(0, newline);
        if (trimIndent)
            line.remove_prefix(std::min(line.find_first_not_of(' '), line.size()));
        out += roffLine(line) + "\n";
        text.remove_prefix(newline == std::string_view::npos ? text.size() : newline + 1);
    }
    return out;
}

std::string optionTag(const OptionSpec& spec)
{
    std::string tag;
    if (spec.shortName != 0)
        tag += std::string("\\fB\\-") + spec.shortName + "\\fR, ";
    tag += "\\fB" + roffLine("--" + std::string(spec.name)) + "\\fR";
    if (!spec.valueName.empty())
        tag += " \\fI" + roffLine(spec.valueName) + "\\fR";
    return tag;
}

void appendCommand(std::string& out, const CommandInfo& command)
{
    out += ".SS " + std::string(command.name) + "\n";
    out += roffLine(command.summary) + ".\n";
    out += ".PP\n.nf\n" + roffLines(command.usage, true) + ".fi\n";
    out += ".PP\n" + roffLines(command.description);
    for (const OptionGroup& group : command.groups) {
        out += ".PP\n\\fI" + roffLine(group.heading) + ":\\fR\n";
        for (const OptionSpec& spec : group.options)
            out += ".TP\n" + optionTag(spec) + "\n" + roffLines(spec.help);
    }
    out += ".PP\nExamples:\n.RS\n.nf\n" + roffLines(command.examples) + ".fi\n.RE\n";
}

// ---- the completion script -----------------------------------------------------

std::string words(const std::vector<std::string_view>& names, std::string_view prefix = {})
{
    std::string out;
    for (const std::string_view name : names)
        out += (out.empty() ? "" : " ") + std::string(prefix) + std::string(name);
    return out;
}

// What follows an option on the command line, for completion.
enum class ValueKind { None, Choice, File, Folder, Other };

ValueKind valueKind(const OptionSpec& spec)
{
    if (spec.valueName.empty())
        return ValueKind::None;
    if (!spec.choices.empty())
        return ValueKind::Choice;
    if (spec.valueName == "FOLDER")
        return ValueKind::Folder;
    if (spec.valueName.find("FILE") != std::string_view::npos || spec.valueName == "PATH")
        return ValueKind::File;
    return ValueKind::Other;
}

// Whether a command's arguments after the options are files ("FILE...",
// "KEYFILE", "JOB.rsp"), as its usage line names them.
bool takesFiles(const CommandInfo& command)
{
    const std::string_view first = command.usage.substr(0, command.usage.find('\n'));
    const auto options = first.find("[OPTIONS]");
    const std::string_view rest = options == std::string_view::npos ? std::string_view{} : first.substr(options);
    return rest.find("FILE") != std::string_view::npos || rest.find(".rsp") != std::string_view::npos;
}

}  // namespace

std::string manPage(std::string_view version)
{
    std::string out;
    out += ".TH MVXISP 1 \"\" \"mvxisp " + roffLine(version) + "\" \"User Commands\"\n"
           ".nh\n";
    out += ".SH NAME\nmvxisp \\- " + roffLine(programSummary()) + "\n";
    out += ".SH SYNOPSIS\n"
           ".B mvxisp\n.I COMMAND\n.RI [ OPTIONS ]\n.RI [ ARGUMENTS ]\n.br\n"
           ".B mvxisp\n.I COMMAND\n.B \\-\\-help\n.br\n"
           ".B mvxisp \\-\\-help\n.br\n"
           ".B mvxisp \\-\\-version\n";
    out += ".SH DESCRIPTION\n"
           "\\fBmvxisp\\fR writes firmware into a monitor's scaler over its I2C (DDC) link, "
           "through a bus adapter or a Linux I2C bus.\n"
           ".PP\n" +
           roffLines(engineSearchHelp()) + ".PP\n" + roffLines(interruptHelp());
    out += ".SH COMMANDS\n";
    for (const CommandInfo& command : commands())
        appendCommand(out, command);
    out += ".SH ENVIRONMENT\n";
    for (const EnvironmentVariable& variable : environmentVariables())
        out += ".TP\n.B " + roffLine(variable.name) + "\n" + roffLines(variable.help);
    out += ".SH \"EXIT STATUS\"\n";
    std::string_view status = exitStatusHelp();
    status.remove_prefix(status.find('\n') + 1);   // the heading is the section's
    out += ".nf\n" + roffLines(status) + ".fi\n";
    return out;
}

std::string bashCompletion()
{
    std::vector<std::string_view> commandNames;
    for (const CommandInfo& command : commands())
        commandNames.push_back(command.name);

    std::string out =
        "# bash completion for mvxisp: its commands, their options and the values of\n"
        "# options that take names.  Written by the build from the program's option table.\n"
        "_mvxisp()\n"
        "{\n"
        "    local cur=${COMP_WORDS[COMP_CWORD]} prev=\n"
        "    (( COMP_CWORD > 0 )) && prev=${COMP_WORDS[COMP_CWORD-1]}\n"
        "    # \"--mcu=5\" arrives as \"--mcu\" \"=\" \"5\"\n"
        "    if [[ $cur == = ]]; then\n"
        "        cur=\n"
        "    elif [[ $prev == = ]] && (( COMP_CWORD > 1 )); then\n"
        "        prev=${COMP_WORDS[COMP_CWORD-2]}\n"
        "    fi\n"
        "    COMPREPLY=()\n"
        "    if (( COMP_CWORD == 1 )); then\n"
        "        COMPREPLY=( $(compgen -W \"" +
        words(commandNames) +
        " --help --version\" -- \"$cur\") )\n"
        "        return 0\n"
        "    fi\n"
        "    local options files=0\n"
        "    case ${COMP_WORDS[1]} in\n";
    std::vector<OptionSpec> every;
    for (const CommandInfo& command : commands()) {
        std::vector<std::string_view> names;
        for (const OptionSpec& spec : optionsOf(command)) {
            names.push_back(spec.name);
            const auto sameName = [&](const OptionSpec& known) { return known.name == spec.name; };
            if (std::none_of(every.begin(), every.end(), sameName))
                every.push_back(spec);
        }
        out += "        " + std::string(command.name) + ") options=\"" + words(names, "--") + "\"";
        if (takesFiles(command))
            out += "; files=1";
        out += " ;;\n";
    }
    out += "        *) return 0 ;;\n"
           "    esac\n"
           "    case $prev in\n";
    std::vector<std::string_view> fileOptions;
    std::vector<std::string_view> folderOptions;
    std::vector<std::string_view> otherOptions;
    for (const OptionSpec& spec : every) {
        switch (valueKind(spec)) {
        case ValueKind::Choice: {
            std::vector<std::string_view> values(spec.choices.begin(), spec.choices.end());
            out += "        --" + std::string(spec.name) + ") COMPREPLY=( $(compgen -W \"" + words(values) +
                   "\" -- \"$cur\") ); return 0 ;;\n";
            break;
        }
        case ValueKind::File: fileOptions.push_back(spec.name); break;
        case ValueKind::Folder: folderOptions.push_back(spec.name); break;
        case ValueKind::Other: otherOptions.push_back(spec.name); break;
        case ValueKind::None: break;
        }
    }
    const auto alternatives = [](const std::vector<std::string_view>& names) {
        std::string pattern;
        for (const std::string_view name : names)
            pattern += (pattern.empty() ? "--" : "|--") + std::string(name);
        return pattern;
    };
    if (!fileOptions.empty())
        out += "        " + alternatives(fileOptions) + ") COMPREPLY=( $(compgen -f -- \"$cur\") ); return 0 ;;\n";
    if (!folderOptions.empty())
        out += "        " + alternatives(folderOptions) + ") COMPREPLY=( $(compgen -d -- \"$cur\") ); return 0 ;;\n";
    if (!otherOptions.empty())
        out += "        " + alternatives(otherOptions) + ") return 0 ;;\n";
    out += "    esac\n"
           "    if [[ $cur == -* ]]; then\n"
           "        COMPREPLY=( $(compgen -W \"$options\" -- \"$cur\") )\n"
           "    elif (( files )); then\n"
           "        COMPREPLY=( $(compgen -f -- \"$cur\") )\n"
           "    fi\n"
           "    return 0\n"
           "}\n"
           "complete -o filenames -F _mvxisp mvxisp\n";
    return out;
}

}  // namespace mvx::cli
