// The Load LD Files dialog: four read-only paths, one per LD slot, each with
// its Load button, and OK.  A thin view of settings_dialogs::LoadLdFilesModel.
#pragma once

#include <QDialog>
#include <array>
#include <optional>
#include <string>

#include "settings_dialogs/load_ld_files.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::tool {

class LoadLdFilesDialog : public QDialog {
    Q_OBJECT
public:
    LoadLdFilesDialog(ShellUi& ui, int mode, bool editable, const settings_dialogs::LdPaths& paths,
                      QWidget* parent = nullptr);

    const settings_dialogs::LoadLdFilesModel& model() const { return model_; }

private:
    void draw();

    ShellUi& ui_;
    settings_dialogs::LoadLdFilesModel model_;
};

// Runs the dialog modally: the four paths after OK; nullopt after Cancel, Esc
// or the close box.  Outside modes 3..5 the paths shown are empty.
std::optional<std::array<std::string, 4>> runLoadLdFilesDialog(QWidget* parent, ShellUi& ui, int mode, bool editable,
                                                               const std::array<std::string, 4>& paths);

}  // namespace mvx::tool
