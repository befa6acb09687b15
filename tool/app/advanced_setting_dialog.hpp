// The Advanced Setting dialog: group boxes of named controls drawn from the
// model's control table.  Every action goes to the model, which sends the
// page what changed at once; the dialog then draws the model again.  There
// is no visible OK: Esc and the close box end it as Cancel, which keeps
// everything already sent, and the page takes record() back either way.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <string>

#include "settings_dialogs/advanced_setting.hpp"

namespace mvx::tool {

class AdvancedSettingDialog : public QDialog, private settings_dialogs::TitleEditor {
    Q_OBJECT
public:
    // Opens the Load LD Files dialog with the MCU mode and the four LD paths.
    using ShowLdFiles = std::function<void(int mcuMode, const std::array<std::string, 4>& paths)>;

    AdvancedSettingDialog(const AdvancedSettings& record, int mcuMode, std::array<std::string, 4> ldPaths,
                          ShellUi& ui, settings_dialogs::SettingsReceiver& page, ShowLdFiles showLdFiles,
                          QWidget* parent = nullptr);

    const AdvancedSettings& record() const { return model_.record(); }
    const settings_dialogs::AdvancedSettingModel& model() const { return model_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    using Control = settings_dialogs::AdvancedControl;
    QWidget* make(Control c, QWidget* parent);
    QWidget* widget(Control c) const { return widgets_[static_cast<std::size_t>(c)]; }
    void build();
    void connectControls();
    void draw();
    std::optional<std::string> editTitle(std::string_view current) override;

    ShellUi& ui_;
    settings_dialogs::SettingsReceiver& page_;
    settings_dialogs::AdvancedSettingModel model_;
    ShowLdFiles showLdFiles_;
    std::array<QWidget*, settings_dialogs::kAdvancedControlCount> widgets_{};
};

}  // namespace mvx::tool
