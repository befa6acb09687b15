#include "app/advanced_setting_dialog.hpp"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <initializer_list>

#include "app/edit_title_dialog.hpp"
#include "app/named_widgets.hpp"

namespace mvx::tool {

namespace sd = settings_dialogs;
using C = sd::AdvancedControl;
using K = sd::ControlKind;

namespace {

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool isHexEdit(C c)
{
    return c == C::Ffe2 || c == C::Ffe3 || c == C::IcCode || c == C::FlashStatusValue;
}

bool isPathEdit(C c)
{
    return c == C::AutoLoadFolder || c == C::HdcpKeyFile || c == C::HdcpSaveFolder;
}

}  // namespace

AdvancedSettingDialog::AdvancedSettingDialog(const AdvancedSettings& record, int mcuMode,
                                             std::array<std::string, 4> ldPaths, ShellUi& ui,
                                             sd::SettingsReceiver& page, ShowLdFiles showLdFiles, QWidget* parent)
    : QDialog(parent), ui_(ui), page_(page), model_(record, mcuMode, std::move(ldPaths), ui, page),
      showLdFiles_(std::move(showLdFiles))
{
    setObjectName(text(sd::kAdvancedSettingDialogName));
    setWindowTitle("Advanced Setting");
    build();
    connectControls();
    draw();
}

QWidget* AdvancedSettingDialog::make(C c, QWidget* parent)
{
    const sd::ControlDef& def = sd::controlDef(c);
    const QString caption = text(def.caption);
    QWidget* w = nullptr;
    switch (def.kind) {
    case K::Group: w = new QGroupBox(caption, parent); break;
    case K::CheckBox: w = new QCheckBox(caption, parent); break;
    case K::Radio: w = new QRadioButton(caption, parent); break;
    case K::Button: {
        auto* b = new QPushButton(caption, parent);
        b->setAutoDefault(false);
        w = b;
        break;
    }
    case K::Edit: {
        auto* e = new QLineEdit(parent);
        if (isHexEdit(c)) {
            e->setMaxLength(static_cast<int>(sd::kHexEditLength));
            e->setMaximumWidth(e->fontMetrics().horizontalAdvance(QStringLiteral("WWWW")));
        }
        if (c == C::RepeatCount)
            e->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), e));
        // Paths come from the browsers.
        e->setReadOnly(isPathEdit(c));
        w = e;
        break;
    }
    case K::Label: w = new QLabel(caption, parent); break;
    case K::Slider: {
        auto* s = new QSlider(Qt::Horizontal, parent);
        s->setRange(def.minimum, def.maximum);
        s->setTickInterval(def.tick);
        s->setTickPosition(QSlider::TicksBelow);
        w = s;
        break;
    }
    case K::Combo: {
        auto* box = new QComboBox(parent);
        for (std::string_view bank : sd::kSectorEraseBanks)
            box->addItem(text(bank));
        w = box;
        break;
    }
    }
    named(w, def.name, caption);
    widgets_[static_cast<std::size_t>(c)] = w;
    return w;
}

void AdvancedSettingDialog::build()
{
    // A group box holding its controls one per line; an inner layout may be added.
    auto group = [this](C box, QWidget* parent, std::initializer_list<C> members) {
        auto* g = static_cast<QGroupBox*>(make(box, parent));
        auto* layout = new QVBoxLayout(g);
        for (C c : members)
            layout->addWidget(make(c, g));
        return g;
    };
    auto row = [this](QWidget* parent, std::initializer_list<C> members) {
        auto* line = new QHBoxLayout;
        for (C c : members)
            line->addWidget(make(c, parent));
        return line;
    };
    auto* grid = new QGridLayout(this);

    // Left column.
    auto* left = new QVBoxLayout;
    QGroupBox* customer = group(C::CustomerGroup, this, {});
    auto* customerLayout = static_cast<QVBoxLayout*>(customer->layout());
    customerLayout->addLayout(row(customer, {C::SavedFw, C::ExportSavedFw}));
    customerLayout->addLayout(row(customer, {C::SavedLd, C::ShowLdFiles, C::ExportLdFiles}));
    customerLayout->addLayout(row(customer, {C::ShowMcu, C::ShowInfo}));
    customerLayout->addWidget(make(C::ChangeTitle, customer));
    left->addWidget(customer);
    left->addWidget(group(C::StartPageGroup, this, {C::AssemblyPage, C::CustomerPage}));
    QGroupBox* isp = group(C::IspOptionGroup, this, {C::AutoDetect, C::AutoRun});
    static_cast<QVBoxLayout*>(isp->layout())->addLayout(row(isp, {C::SectorErase, C::SectorEraseBank}));
    left->addWidget(isp);
    QGroupBox* delays = group(C::LdDelayGroup, this, {});
    auto* delayGrid = new QGridLayout;
    int line = 0;
    for (auto [label, slider, value] : {std::tuple{C::VgaDelayLabel, C::VgaDelaySlider, C::VgaDelayValue},
                                        std::tuple{C::CksmDelayLabel, C::CksmDelaySlider, C::CksmDelayValue}}) {
        delayGrid->addWidget(make(label, delays), line, 0, 1, 3);
        delayGrid->addWidget(new QLabel("0", delays), line + 1, 0);
        delayGrid->addWidget(make(slider, delays), line + 1, 1);
        delayGrid->addWidget(make(value, delays), line + 1, 2);
        line += 2;
    }
    delayGrid->setColumnStretch(1, 1);
    static_cast<QVBoxLayout*>(delays->layout())->addLayout(delayGrid);
    left->addWidget(delays);
    QGroupBox* repeat = group(C::RepeatGroup, this, {C::RepeatTest});
    static_cast<QVBoxLayout*>(repeat->layout())->addLayout(row(repeat, {C::RepeatCountLabel, C::RepeatCount}));
    left->addWidget(repeat);
    QGroupBox* ffe = group(C::FfeGroup, this, {C::FfeEnable});
    static_cast<QVBoxLayout*>(ffe->layout())->addLayout(row(ffe, {C::Ffe2Label, C::Ffe2, C::Ffe3Label, C::Ffe3}));
    left->addWidget(ffe);
    left->addStretch(1);

    // Middle column: auto-load, HDCP, erase before auto.
    auto* middle = new QVBoxLayout;
    QGroupBox* autoLoad = group(C::AutoLoadGroup, this, {C::AutoLoad});
    static_cast<QVBoxLayout*>(autoLoad->layout())->addLayout(row(autoLoad, {C::AutoLoadFolder, C::AutoLoadBrowse}));
    middle->addWidget(autoLoad);
    middle->addWidget(group(C::HdcpFireGroup, this, {C::HdcpFire}));
    QGroupBox* key = group(C::HdcpKeyGroup, this, {C::HdcpKeyFromFolder, C::HdcpKeyToTool});
    static_cast<QVBoxLayout*>(key->layout())->addLayout(row(key, {C::HdcpKeyFile, C::HdcpKeyBrowse}));
    middle->addWidget(key);
    QGroupBox* check = group(C::HdcpCheckGroup, this, {C::HdcpCrc, C::HdcpReadAll, C::HdcpSaveRead});
    static_cast<QVBoxLayout*>(check->layout())->addLayout(row(check, {C::HdcpSaveFolder, C::HdcpSaveBrowse}));
    middle->addWidget(check);
    QGroupBox* erase = group(C::EraseGroup, this, {C::MassErase, C::BankErase});
    auto* banks = row(erase, {C::BankIndexLabel, C::Bank0, C::Bank1, C::Bank2, C::Bank3, C::Bank4, C::Bank5, C::Bank6,
                              C::Bank7});
    static_cast<QVBoxLayout*>(erase->layout())->addLayout(banks);
    middle->addWidget(erase);
    middle->addStretch(1);

    // Right column: speeds, IC code, flash status.
    auto* right = new QVBoxLayout;
    QGroupBox* speed = group(C::SpeedGroup, this, {});
    auto* speedLayout = static_cast<QVBoxLayout*>(speed->layout());
    QGroupBox* usb = group(C::UsbSpeedGroup, speed, {});
    static_cast<QVBoxLayout*>(usb->layout())->addLayout(row(usb, {C::UsbHigh, C::UsbMid, C::UsbLow}));
    static_cast<QVBoxLayout*>(usb->layout())->addLayout(row(usb, {C::UsbSpeedSlider, C::UsbSpeedValue}));
    speedLayout->addWidget(usb);
    QGroupBox* other = group(C::OtherUsbGroup, speed, {});
    static_cast<QVBoxLayout*>(other->layout())->addLayout(row(other, {C::OtherUsbSlider, C::OtherUsbValue}));
    speedLayout->addWidget(other);
    QGroupBox* iic = group(C::IicSpeedGroup, speed, {});
    static_cast<QVBoxLayout*>(iic->layout())->addLayout(row(iic, {C::IicSpeedSlider, C::IicSpeedValue}));
    auto* ends = new QHBoxLayout;
    ends->addWidget(new QLabel("High", iic));
    ends->addStretch(1);
    ends->addWidget(new QLabel("Low", iic));
    static_cast<QVBoxLayout*>(iic->layout())->addLayout(ends);
    speedLayout->addWidget(iic);
    right->addWidget(speed);
    right->addWidget(group(C::ReadIcGroup, this, {C::ReadIc, C::ShowIspEnable}));
    QGroupBox* checkIc = group(C::CheckIcGroup, this, {C::CheckIc});
    static_cast<QVBoxLayout*>(checkIc->layout())->addLayout(row(checkIc, {C::IcCodeLabel, C::IcCode}));
    right->addWidget(checkIc);
    QGroupBox* status = group(C::FlashStatusGroup, this, {C::FlashStatus});
    static_cast<QVBoxLayout*>(status->layout())
        ->addLayout(row(status, {C::FlashStatusLabel, C::FlashStatusValue}));
    right->addWidget(status);
    right->addStretch(1);

    grid->addLayout(left, 0, 0);
    grid->addLayout(middle, 0, 1);
    grid->addLayout(right, 0, 2);
    // OK is there for Enter but not shown.
    auto* ok = named(new QPushButton("OK", this), kDialogOkButtonName, "OK");
    ok->setAutoDefault(false);
    ok->hide();
    connect(ok, &QPushButton::clicked, this, [this] {
        sd::DialogResult result;
        if (model_.accept(result))
            accept();
    });
}

void AdvancedSettingDialog::connectControls()
{
    for (const sd::ControlDef& def : sd::kAdvancedControls) {
        const C c = def.id;
        QWidget* w = widget(c);
        switch (def.kind) {
        case K::CheckBox:
            connect(static_cast<QCheckBox*>(w), &QCheckBox::clicked, this, [this, c](bool on) {
                model_.toggle(c, on);
                draw();
            });
            break;
        case K::Radio:
            connect(static_cast<QRadioButton*>(w), &QRadioButton::clicked, this, [this, c] {
                model_.choose(c);
                draw();
            });
            break;
        case K::Button:
            connect(static_cast<QPushButton*>(w), &QPushButton::clicked, this, [this, c] {
                if (c == C::ChangeTitle) {
                    model_.changeTitle(*this);
                } else if (c == C::ShowLdFiles) {
                    const sd::LdFilesView view = model_.showLdFiles();
                    if (showLdFiles_)
                        showLdFiles_(view.mcuMode, view.paths);
                } else {
                    model_.press(c);
                }
                draw();
            });
            break;
        case K::Edit:
            connect(static_cast<QLineEdit*>(w), &QLineEdit::textEdited, this, [this, c](const QString& t) {
                model_.editText(c, t.toStdString());
                draw();
            });
            break;
        case K::Slider:
            connect(static_cast<QSlider*>(w), &QSlider::valueChanged, this, [this, c](int position) {
                model_.slide(c, position);
                draw();
            });
            break;
        case K::Combo:
            connect(static_cast<QComboBox*>(w), &QComboBox::activated, this, [this](int index) {
                model_.selectSectorEraseBank(index);
                draw();
            });
            break;
        case K::Group:
        case K::Label:
            break;
        }
    }
}

void AdvancedSettingDialog::draw()
{
    for (const sd::ControlDef& def : sd::kAdvancedControls) {
        QWidget* w = widget(def.id);
        const sd::ControlState& state = model_.state(def.id);
        const QSignalBlocker quiet(w);
        w->setEnabled(state.enabled);
        switch (def.kind) {
        case K::CheckBox:
        case K::Radio:
            static_cast<QAbstractButton*>(w)->setChecked(state.checked);
            break;
        case K::Edit:
            if (auto* e = static_cast<QLineEdit*>(w); e->text().toStdString() != state.text)
                e->setText(QString::fromStdString(state.text));
            break;
        case K::Label:
            if (!state.text.empty())
                static_cast<QLabel*>(w)->setText(QString::fromStdString(state.text));
            break;
        case K::Slider:
            static_cast<QSlider*>(w)->setValue(state.value);
            break;
        case K::Combo:
            static_cast<QComboBox*>(w)->setCurrentIndex(state.value);
            break;
        case K::Group:
        case K::Button:
            break;
        }
    }
}

std::optional<std::string> AdvancedSettingDialog::editTitle(std::string_view current)
{
    EditTitleDialog dialog(current, ui_, page_, this);
    dialog.exec();
    return dialog.accepted();
}

void AdvancedSettingDialog::keyPressEvent(QKeyEvent* event)
{
    // Enter is OK (the hidden button); Esc stays Cancel.
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        findChild<QPushButton*>(kDialogOkButtonName)->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

}  // namespace mvx::tool
