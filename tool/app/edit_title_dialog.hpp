// The Edit Title dialog: one line for the title, OK, Cancel and Default.
// Every change goes to the page at once through the model; the caller reads
// the title after OK.
#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <string_view>

#include "settings_dialogs/edit_title.hpp"

class QLineEdit;

namespace mvx::tool {

inline constexpr const char* kEditTitleDialogName = "editTitleDialog";
inline constexpr const char* kTitleEditName = "titleEdit";
inline constexpr const char* kTitleDefaultButtonName = "defaultButton";
inline constexpr const char* kDialogOkButtonName = "okButton";
inline constexpr const char* kDialogCancelButtonName = "cancelButton";

class EditTitleDialog : public QDialog {
    Q_OBJECT
public:
    EditTitleDialog(std::string_view title, ShellUi& ui, settings_dialogs::SettingsReceiver& page,
                    QWidget* parent = nullptr);

    // The title OK ended with; nullopt after Cancel.
    const std::optional<std::string>& accepted() const { return accepted_; }

private:
    void caretToEnd();

    settings_dialogs::EditTitleModel model_;
    QLineEdit* edit_ = nullptr;
    std::optional<std::string> accepted_;
};

}  // namespace mvx::tool
