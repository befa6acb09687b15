// The Edit Title dialog's model: the title being edited, sent to the page as
// notification 1 on every change so the window title follows the typing.
// Whoever opened the dialog stores the title only after OK; titles already
// sent stay in effect in the page until it sends another.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "settings_dialogs/settings_receiver.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::settings_dialogs {

inline constexpr std::size_t kTitleMaxLength = 255;

class EditTitleModel {
public:
    EditTitleModel(std::string_view title, tool::ShellUi& ui, SettingsReceiver& page);

    const std::string& title() const { return title_; }

    // The edit's text changed: a text over the limit is refused with the
    // standard prompt and nothing is sent.
    DialogResult edited(std::string_view text);
    // "Default": the tool's own title, shown and sent.
    DialogResult setDefault();
    // OK reads the edit: the title to store, or nullopt (prompt shown) when
    // the text is over the limit and the dialog stays open.
    std::optional<std::string> accept(std::string_view text);

private:
    bool fits(std::string_view text, DialogResult& result);
    DialogResult send();

    std::string title_;
    tool::ShellUi& ui_;
    SettingsReceiver& page_;
};

}  // namespace mvx::settings_dialogs
