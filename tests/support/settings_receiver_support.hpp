// A page that records the settings notifications a dialog sends it, with
// the payload copied as the page would copy it.
#pragma once

#include <string>
#include <vector>

#include "settings_dialogs/settings_receiver.hpp"
#include "shell/option_records.hpp"

namespace mvx::test {

class RecordingPage final : public settings_dialogs::SettingsReceiver {
public:
    struct Received {
        tool::SettingsNotifyCode code;
        tool::AdvancedSettings record;   // code 0
        std::string text;                // the title (1) or the folder (2, 3)
    };

    std::vector<std::string> settingsNotify(std::uintptr_t wParam, std::intptr_t lParam) override
    {
        Received r{static_cast<tool::SettingsNotifyCode>(lParam), {}, {}};
        if (r.code == tool::SettingsNotifyCode::AdvancedSettings)
            r.record = *reinterpret_cast<const tool::AdvancedSettings*>(wParam);
        else
            r.text = reinterpret_cast<const char*>(wParam);
        received.push_back(r);
        return r.code == tool::SettingsNotifyCode::ExportSavedFirmware ||
                       r.code == tool::SettingsNotifyCode::ExportLdFiles
                   ? exportFailures
                   : std::vector<std::string>{};
    }

    std::vector<std::string> titles() const
    {
        std::vector<std::string> t;
        for (const Received& r : received)
            if (r.code == tool::SettingsNotifyCode::Title)
                t.push_back(r.text);
        return t;
    }

    std::vector<Received> received;
    std::vector<std::string> exportFailures;   // what an export answers
};

}  // namespace mvx::test
