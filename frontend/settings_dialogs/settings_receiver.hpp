// The page a settings dialog reports to while it is open.  Every change is
// sent at once as WM_SETTINGS_NOTIFY and handled before the call returns, so
// the payload (owned by the dialog) need only live for the call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "shell/option_records.hpp"

namespace mvx::settings_dialogs {

class SettingsReceiver {
public:
    virtual ~SettingsReceiver() = default;
    // wParam points at the payload, lParam is the code (tool::SettingsNotifyCode).
    // The answer names what the page could not do (a copy of an export that
    // failed); empty when everything asked of it was done.
    virtual std::vector<std::string> settingsNotify(std::uintptr_t wParam, std::intptr_t lParam) = 0;
};

// What one action of a dialog did: the notifications it sent, in order, and
// the messages it showed.
struct DialogResult {
    std::vector<tool::SettingsNotifyCode> sent;
    std::vector<std::string> shown;
};

// Sends one notification to the page and notes it in `result`; answers what
// the page could not do.
inline std::vector<std::string> sendTo(SettingsReceiver& page, const tool::SettingsNotification& message,
                                       DialogResult& result)
{
    result.sent.push_back(static_cast<tool::SettingsNotifyCode>(message.lParam));
    return page.settingsNotify(message.wParam, message.lParam);
}

// The standard prompt for text longer than its edit takes.
inline std::string tooLongPrompt(std::size_t limit)
{
    return "Please enter no more than " + std::to_string(limit) + " characters.";
}

}  // namespace mvx::settings_dialogs
