#include "app/load_ld_files_dialog.hpp"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/named_widgets.hpp"

namespace mvx::tool {

namespace sd = settings_dialogs;

namespace {

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

LoadLdFilesDialog::LoadLdFilesDialog(ShellUi& ui, int mode, bool editable, const sd::LdPaths& paths, QWidget* parent)
    : QDialog(parent), ui_(ui), model_(mode, editable, paths)
{
    setObjectName(qname(sd::ld_names::dialog));
    setWindowTitle(text(sd::kLdDialogTitle));
    auto* root = new QVBoxLayout(this);
    auto* grid = new QGridLayout;
    grid->setColumnStretch(1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    root->addLayout(grid);
    root->addLayout(buttons);
    for (auto& [name, state] : model_.controls()) {
        const QString caption = text(state.text);
        switch (state.kind) {
        case sd::LdControlKind::Label: {
            auto* label = named(new QLabel(caption, this), name, caption);
            grid->addWidget(label, state.slot, 0);
            break;
        }
        case sd::LdControlKind::Edit: {
            const QString slotCaption = text(sd::kLdSlotCaptions[static_cast<std::size_t>(state.slot)]);
            QLineEdit* edit = readOnlyEdit(name, slotCaption, this);
            edit->setMinimumWidth(edit->fontMetrics().averageCharWidth() * 48);
            grid->addWidget(edit, state.slot, 1);
            break;
        }
        case sd::LdControlKind::LoadButton: {
            const QString slotCaption = text(sd::kLdSlotCaptions[static_cast<std::size_t>(state.slot)]);
            auto* button = named(new QPushButton(caption, this), name, caption + " " + slotCaption);
            button->setAutoDefault(false);
            const int slot = state.slot;
            connect(button, &QPushButton::clicked, this, [this, slot] {
                if (model_.load(slot, ui_))
                    draw();
            });
            grid->addWidget(button, state.slot, 2);
            break;
        }
        case sd::LdControlKind::OkButton: {
            auto* ok = named(new QPushButton(caption, this), name, caption);
            ok->setDefault(true);
            connect(ok, &QPushButton::clicked, this, &QDialog::accept);
            buttons->addWidget(ok);
            break;
        }
        case sd::LdControlKind::ExitButton:
            // Kept for the dialog's template; does nothing.
            named(new QPushButton(caption, this), name, caption)->hide();
            break;
        }
    }
    draw();
}

void LoadLdFilesDialog::draw()
{
    for (auto& [name, state] : model_.controls()) {
        auto* w = findChild<QWidget*>(qname(name));
        if (w == nullptr)
            continue;
        w->setEnabled(state.enabled);
        w->setVisible(state.visible);
        if (auto* edit = qobject_cast<QLineEdit*>(w))
            edit->setText(QString::fromStdString(state.text));
    }
}

std::optional<std::array<std::string, 4>> runLoadLdFilesDialog(QWidget* parent, ShellUi& ui, int mode, bool editable,
                                                               const std::array<std::string, 4>& paths)
{
    LoadLdFilesDialog dialog(ui, mode, editable, paths, parent);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.model().ok();
}

}  // namespace mvx::tool
