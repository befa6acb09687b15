// What the shell needs from the operator's screen and from the system: modal
// message boxes and file pickers, and starting another program.  The program
// puts Qt dialogs and posix_spawn behind these; tests put scripts.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::tool {

enum class Buttons { Ok, YesNo, YesNoCancel };
enum class Answer { Ok, Yes, No, Cancel };

// One file type for a file picker: "rsp Files" with pattern "*.rsp".
struct FileFilter {
    std::string description;
    std::string extension;   // without the dot
};

// One file type of an open picker offering several: "hex Files" with "*.h*".
struct PatternFilter {
    std::string description;
    std::vector<std::string> patterns;
};

class ShellUi {
public:
    virtual ~ShellUi() = default;

    // A modal box with an OK button.
    virtual void showMessage(std::string_view text, std::string_view caption) = 0;
    // A modal question; the answer is one of the buttons offered.
    virtual Answer ask(std::string_view text, std::string_view caption, Buttons buttons) = 0;
    // Save and open pickers; nullopt when the operator cancels.
    virtual std::optional<std::string> chooseSaveFile(const FileFilter& filter) = 0;
    virtual std::optional<std::string> chooseOpenFile(const FileFilter& filter) = 0;
    // An open picker offering several file types, the first one selected.
    // A UI without its own answers with chooseOpenFile of "All Files".
    virtual std::optional<std::string> chooseOpenFileAmong(const std::vector<PatternFilter>& filters)
    {
        return chooseOpenFile({filters.empty() ? std::string("All Files") : filters.front().description, "*"});
    }
    // A folder picker with its title; nullopt when the operator cancels (and
    // from a UI that has none).
    virtual std::optional<std::string> chooseFolder(std::string_view title)
    {
        (void)title;
        return std::nullopt;
    }
};

// The caption of every plain message of the tool.
inline constexpr std::string_view kToolCaption = "MVX_ISP_Tool";

class ProcessStarter {
public:
    virtual ~ProcessStarter() = default;
    // Starts program with commandLine as its single argument (none when
    // empty) and does not wait for it.  hidden asks for no visible window.
    virtual bool start(const std::string& program, const std::string& commandLine,
                       bool hidden) = 0;
};

// posix_spawn with this process's environment; the child is not waited for.
class SpawnProcessStarter final : public ProcessStarter {
public:
    bool start(const std::string& program, const std::string& commandLine, bool hidden) override;
};

}  // namespace mvx::tool
