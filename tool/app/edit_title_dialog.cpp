#include "app/edit_title_dialog.hpp"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <chrono>

#include "app/named_widgets.hpp"

namespace mvx::tool {

namespace {
// The edit takes the focus a moment after the dialog opens, and again after "Default".
constexpr std::chrono::milliseconds kFocusAfterOpening{100};
constexpr std::chrono::milliseconds kFocusAfterDefault{10};
}  // namespace

EditTitleDialog::EditTitleDialog(std::string_view title, ShellUi& ui, settings_dialogs::SettingsReceiver& page,
                                 QWidget* parent)
    : QDialog(parent), model_(title, ui, page)
{
    setObjectName(kEditTitleDialogName);
    setWindowTitle("Edit Title");
    auto* root = new QVBoxLayout(this);
    auto* line = new QHBoxLayout;
    line->addWidget(new QLabel("Input Title:", this));
    edit_ = named(new QLineEdit(this), kTitleEditName, "Input Title:");
    edit_->setMaxLength(static_cast<int>(settings_dialogs::kTitleMaxLength));
    edit_->setText(QString::fromStdString(model_.title()));
    edit_->setMinimumWidth(edit_->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    line->addWidget(edit_, 1);
    root->addLayout(line);

    auto* buttons = new QDialogButtonBox(this);
    auto* ok = named(buttons->addButton(QDialogButtonBox::Ok), kDialogOkButtonName, "OK");
    named(buttons->addButton(QDialogButtonBox::Cancel), kDialogCancelButtonName, "Cancel");
    auto* byDefault = named(buttons->addButton("Default", QDialogButtonBox::ResetRole), kTitleDefaultButtonName,
                            "Default");
    byDefault->setAutoDefault(false);
    ok->setDefault(true);
    root->addWidget(buttons);

    connect(edit_, &QLineEdit::textEdited, this, [this](const QString& text) { model_.edited(text.toStdString()); });
    connect(byDefault, &QPushButton::clicked, this, [this] {
        model_.setDefault();
        edit_->setText(QString::fromStdString(model_.title()));
        QTimer::singleShot(kFocusAfterDefault, this, [this] { caretToEnd(); });
    });
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        if ((accepted_ = model_.accept(edit_->text().toStdString())))
            accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    caretToEnd();
    QTimer::singleShot(kFocusAfterOpening, this, [this] { caretToEnd(); });
}

void EditTitleDialog::caretToEnd()
{
    edit_->setFocus(Qt::OtherFocusReason);
    edit_->setCursorPosition(static_cast<int>(edit_->text().size()));
}

}  // namespace mvx::tool
