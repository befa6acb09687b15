// Message boxes and file pickers of the program: Qt's standard dialogs,
// owned by the modal page that is open at the time.
#pragma once

#include "shell/shell_ui.hpp"

namespace mvx::tool {

class QtShellUi final : public ShellUi {
public:
    void showMessage(std::string_view text, std::string_view caption) override;
    Answer ask(std::string_view text, std::string_view caption, Buttons buttons) override;
    std::optional<std::string> chooseSaveFile(const FileFilter& filter) override;
    std::optional<std::string> chooseOpenFile(const FileFilter& filter) override;
    std::optional<std::string> chooseOpenFileAmong(const std::vector<PatternFilter>& filters) override;
    std::optional<std::string> chooseFolder(std::string_view title) override;
};

}  // namespace mvx::tool
