#include "app/flash_protect_dialog.hpp"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "app/named_widgets.hpp"

namespace mvx::tool {

namespace sd = settings_dialogs;

namespace {

QString captionOf(const sd::ProtectControlDef& def)
{
    const std::string_view caption = sd::protectCaption(def);
    return QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size()));
}

}  // namespace

FlashProtectDialog::FlashProtectDialog(const FlashProtectSettings& words, settings_dialogs::SettingsReceiver& page,
                                       QWidget* parent)
    : QDialog(parent), model_(words), page_(page)
{
    setObjectName(kFlashProtectDialogName);
    setWindowTitle("Flash Protect");
    build();
    redraw();
}

void FlashProtectDialog::build()
{
    auto* root = new QVBoxLayout(this);
    auto* groups = new QHBoxLayout;
    // The three pin lists share one grid cell; only the current series' list is shown.
    auto* pinCell = new QGridLayout;
    QGroupBox* box = nullptr;
    for (std::size_t i = 0; i < sd::kProtectControls.size(); ++i) {
        const sd::ProtectControlDef& def = sd::kProtectControls[i];
        const QString caption = captionOf(def);
        QWidget* widget = nullptr;
        switch (def.part) {
        case sd::ProtectPart::ProtectCheck: {
            auto* check = named(new QCheckBox(caption, this), def.name, caption);
            connect(check, &QCheckBox::clicked, this, [this, i](bool on) {
                if (auto sent = model_.click(i, on).sent)
                    page_.settingsNotify(sent->wParam, sent->lParam);
                redraw();
            });
            root->addWidget(check);
            widget = check;
            break;
        }
        case sd::ProtectPart::ValueGroup:
        case sd::ProtectPart::SeriesGroup:
        case sd::ProtectPart::PinGroup:
            box = named(new QGroupBox(caption, this), def.name, caption);
            new QVBoxLayout(box);
            if (def.part == sd::ProtectPart::PinGroup) {
                // Keeps the dialog's size as the lists change places.
                QSizePolicy policy = box->sizePolicy();
                policy.setRetainSizeWhenHidden(true);
                box->setSizePolicy(policy);
                pinCell->addWidget(box, 0, 0);
            } else {
                groups->addWidget(box);
            }
            widget = box;
            break;
        case sd::ProtectPart::ValueRadio:
        case sd::ProtectPart::SeriesRadio:
        case sd::ProtectPart::PinRadio: {
            // The model decides which radio is on (for a pin a list lacks, none).
            auto* radio = named(new QRadioButton(caption, box), def.name, caption);
            radio->setAutoExclusive(false);
            box->layout()->addWidget(radio);
            connect(radio, &QRadioButton::clicked, this, [this, i] {
                model_.click(i);
                redraw();
            });
            widget = radio;
            break;
        }
        }
        controls_[i] = widget;
    }
    // Each group's radios from its top, however tall the row.
    for (auto* group : findChildren<QGroupBox*>())
        static_cast<QVBoxLayout*>(group->layout())->addStretch(1);
    groups->addLayout(pinCell);
    root->addLayout(groups);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName("okButton");
    buttons->button(QDialogButtonBox::Cancel)->setObjectName("cancelButton");
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    root->addWidget(buttons);
}

void FlashProtectDialog::redraw()
{
    for (std::size_t i = 0; i < sd::kProtectControls.size(); ++i) {
        const sd::ProtectControlState& state = model_.state(i);
        QWidget* widget = controls_[i];
        widget->setVisible(state.shown);
        widget->setEnabled(state.enabled);
        if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setChecked(state.checked);
    }
}

std::optional<FlashProtectSettings> FlashProtectRunner::edit(const FlashProtectSettings& current,
                                                             settings_dialogs::SettingsReceiver& page)
{
    tool::FlashProtectDialog dialog(current, page, parent_);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.model().words();
}

}  // namespace mvx::tool
