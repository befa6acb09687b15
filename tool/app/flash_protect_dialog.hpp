// The Flash Protect dialog: the check box, the Value and Series radios and
// the three pin lists in one place, drawn from FlashProtectModel.  A click
// goes to the model; what it sends goes to the page at once.
#pragma once

#include <QDialog>
#include <array>

#include "customer_page/page_model.hpp"
#include "settings_dialogs/flash_protect.hpp"

namespace mvx::tool {

inline constexpr const char* kFlashProtectDialogName = "flashProtectDialog";

class FlashProtectDialog : public QDialog {
    Q_OBJECT
public:
    FlashProtectDialog(const FlashProtectSettings& words, settings_dialogs::SettingsReceiver& page,
                       QWidget* parent = nullptr);

    const settings_dialogs::FlashProtectModel& model() const { return model_; }

private:
    void build();
    void redraw();

    settings_dialogs::FlashProtectModel model_;
    settings_dialogs::SettingsReceiver& page_;
    std::array<QWidget*, settings_dialogs::kProtectControls.size()> controls_{};
};

// How the customer page runs it: modal over the page, the words back after OK.
class FlashProtectRunner final : public customer_page::FlashProtectDialog {
public:
    explicit FlashProtectRunner(QWidget* parent) : parent_(parent) {}
    std::optional<FlashProtectSettings> edit(const FlashProtectSettings& current,
                                             settings_dialogs::SettingsReceiver& page) override;

private:
    QWidget* parent_;
};

}  // namespace mvx::tool
