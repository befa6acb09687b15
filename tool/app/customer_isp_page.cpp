#include "app/customer_isp_page.hpp"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <array>
#include <chrono>
#include <string_view>
#include <tuple>

#include "app/advanced_setting_dialog.hpp"
#include "app/flash_protect_dialog.hpp"
#include "app/load_ld_files_dialog.hpp"
#include "app/named_widgets.hpp"
#include "app/result_badge.hpp"
#include "app/run_bridge.hpp"
#include "app/virtual_board_banner.hpp"

namespace mvx::tool {

namespace cp = customer_page;
namespace n = customer_page::names;

namespace {


struct RadioDef {
    std::string_view name;
    const char* caption;
    int value;
};

struct GroupDef {
    std::string_view box;
    const char* caption;
    cp::OptionField field;
    std::array<RadioDef, 6> radios;   // unused tail entries have no name
};

// The option groups in the order the full view shows them, each radio with
// the value it selects.
constexpr std::array<GroupDef, 10> kGroups{{
    {n::mcuGroupBox, "MCU Type", cp::OptionField::McuType,
     {{{n::mcuR5310Radio, "R5310", 0}, {n::mcuR5312Radio, "R5312", 1}, {n::mcuSerialFlashRadio, "Serial Flash", 2},
       {n::mcu1to4R5310Radio, "1To4-->R5310", 3}, {n::mcu1to4R5312Radio, "1To4-->R5312", 4},
       {n::mcu1to4SerialFlashRadio, "1To4-->SF", 5}}}},
    {n::interfaceGroupBox, "Interface", cp::OptionField::InterfaceKind,
     {{{n::interfaceNorvaneUsbRadio, "Norvane USB", 0}, {n::interfaceFtdiUsbRadio, "FTDi USB", 1},
       {n::interfaceNorvaneIicRadio, "Norvane IIC", 2}, {n::interfaceCvtIicRadio, "CVT IIC", 3}}}},
    {n::boardCountGroupBox, "Boards", cp::OptionField::OneToFour,
     {{{n::oneToOneRadio, "1TO1", 0}, {n::oneToFourRadio, "1TO4", 1}}}},
    {n::addressGroupBox, "ISP Address", cp::OptionField::AddressMode,
     {{{n::addressCustomRadio, "0x", 0}, {n::addressDefaultRadio, "0x94", 1}}}},
    {n::ispTypeGroupBox, "ISP Type", cp::OptionField::IspType,
     {{{n::ispTypeAutoRadio, "Auto", 0}, {n::ispTypeEraseRadio, "Erase", 1}}}},
    {n::trueSizeGroupBox, "Erase", cp::OptionField::EraseType,
     {{{n::eraseMassRadio, "Mass Erase", 0}, {n::erasePageRadio, "Page Erase", 1}}}},
    {n::checkGroupBox, "Check", cp::OptionField::CheckType,
     {{{n::checkCrcRadio, "CRC", 0}, {n::checkSumRadio, "Check Sum", 1}}}},
    {n::fileTypeGroupBox, "File Type", cp::OptionField::FileType,
     {{{n::fileHexRadio, "Hex", 0}, {n::fileBinRadio, "Bin", 1}}}},
    {n::brandGroupBox, "Flash Type", cp::OptionField::FlashBrand,
     {{{n::brandPFlashRadio, "P-Flash", 0}, {n::brandWinbondRadio, "WinBond", 1}, {n::brandMxicRadio, "MXIC", 2},
       {n::brandEonRadio, "EON", 3}, {n::brandSstRadio, "SST-Flash", 4}, {n::brandAmicRadio, "AMIC", 5}}}},
    {n::sstGroupBox, "SST", cp::OptionField::SstType,
     {{{n::sst1To2MbitRadio, "1/2Mbits", 0}, {n::sst4MbitRadio, "4Mbits", 1}}}},
}};

constexpr GroupDef kIspEnableGroup{n::ispEnableGroupBox, "ISP", cp::OptionField::IspEnable,
                                   {{{n::ispEnableRadio, "Enable", 0}, {n::ispDisableRadio, "Disable", 1}}}};

struct SummaryDef {
    std::string_view label;
    const char* caption;
    std::string_view edit;
    std::string cp::OptionSummary::*text;
};

constexpr std::array<SummaryDef, 5> kSummary{{
    {n::summaryMcuLabel, "MCU", n::summaryMcuEdit, &cp::OptionSummary::mcu},
    {n::summaryInterfaceLabel, "Interface", n::summaryInterfaceEdit, &cp::OptionSummary::interface},
    {n::summaryEraseTypeLabel, "Erase Type", n::summaryEraseTypeEdit, &cp::OptionSummary::eraseType},
    {n::summaryEraseSizeLabel, "Erase Size", n::summaryEraseSizeEdit, &cp::OptionSummary::eraseSize},
    {n::summaryFileTypeLabel, "Hex/Bin", n::summaryFileTypeEdit, &cp::OptionSummary::fileType},
}};

constexpr std::array<const char*, 6> kRowHeaders{"", "File Name", "ChkSum", "File Len", "Prom Len", ""};
constexpr const char* kRowProperty = "fileRow";

QPushButton* button(std::string_view name, const char* caption, QWidget* parent)
{
    auto* b = named(new QPushButton(caption, parent), name, caption);
    b->setAutoDefault(false);
    return b;
}

int keyCode(const QKeyEvent& key)
{
    switch (key.key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter: return cp::kKeyEnter;
    case Qt::Key_Escape: return cp::kKeyEscape;
    case Qt::Key_Control: return cp::kKeyControl;
    default: return key.key() >= Qt::Key_A && key.key() <= Qt::Key_Z ? key.key() : key.key() & 0xFFFF;
    }
}

cp::PageFiles pageFiles(const ShellLocations& where)
{
    return {where.settingsPath(), where.programFolder(), where.programPath, where.registryPath};
}

// How long the page waits after a run before it is idle again, and after
// that before an auto-run closes the tool.
constexpr std::chrono::milliseconds kAfterRun{10};

// The 1TO4 switch's LD files chosen in the real dialog, over the page.
class PageLdFilesDialog final : public cp::LdFilesDialog {
public:
    PageLdFilesDialog(QWidget* page, ShellUi& ui) : page_(page), ui_(ui) {}
    std::optional<cp::LdSlots> choose(int mode, bool editable, const cp::LdSlots& paths) override
    {
        return runLoadLdFilesDialog(page_, ui_, mode, editable, paths);
    }

private:
    QWidget* page_;
    ShellUi& ui_;
};

}  // namespace

CustomerIspPage::CustomerIspPage(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, int viewMode,
                                 QWidget* parent)
    : QDialog(parent), where_(where), engine_(engine), fileInfo_(engine.entryPoints(), nullptr),
      model_(pageFiles(where), ui, fileInfo_), ui_(ui)
{
    RunBridge::Handlers handlers;
    handlers.started = [this](const run::RunCounters& counters) { workerStarted(counters); };
    handlers.engineMessage = [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        if (message == WM_ISP_PROGRESS)
            engineProgress(wParam, lParam);
        return std::intptr_t{0};
    };
    handlers.engineMessageBox = [this](std::string_view text, std::string_view caption, std::uint32_t) {
        ui_.showMessage(text, caption);
        return MVX_IDOK;
    };
    handlers.runDone = [this](const run::RunDone& done) { workerRunDone(done); };
    handlers.ended = [this](const run::WorkerEnd& end) { workerEnded(end); };
    bridge_ = std::make_unique<RunBridge>(*this, std::move(handlers));
    setObjectName(kCustomerPageName);
    setAcceptDrops(true);
    build();
    engineHandle_ = engine_.bindForPage();
    model_.setViewMode(viewMode);
    handle(model_.load());
    // The operator starts at the first file row.
    if (auto* firstRow = findChild<QLineEdit*>(QString::fromStdString(cp::rowControlName(0, cp::RowPart::NameEdit))))
        firstRow->setFocus(Qt::OtherFocusReason);
    qApp->installEventFilter(this);
    // The unattended line: the page starts its run by itself once it is up.
    if (model_.autoRunDue()) {
        QTimer::singleShot(0, this, [this] {
            if (model_.optionModel().advanced().startpage == 0)
                handle(model_.saveSettings());
            startRun();
        });
    }
}

CustomerIspPage::~CustomerIspPage()
{
    qApp->removeEventFilter(this);
    if (worker_) {
        // The page is going away under a run: a repeat test stops after the
        // running engine call, which completes before the join.
        worker_->postStop();
        bridge_->waitForEnd();
        worker_.reset();
    }
    releaseEngine();
}

void CustomerIspPage::build()
{
    auto* root = new QVBoxLayout(this);
    VirtualBoardBanner::addTo(*root, where_.virtualBoard, this);

    // The nine file rows.
    auto* rowsArea = new QWidget(this);
    rowsArea->setObjectName(kFileRowsAreaName);
    auto* grid = new QGridLayout(rowsArea);
    grid->setContentsMargins(0, 0, 0, 0);
    for (int c = 0; c < static_cast<int>(kRowHeaders.size()); ++c)
        grid->addWidget(new QLabel(kRowHeaders[static_cast<std::size_t>(c)], rowsArea), 0, c);
    for (int r = 0; r < cp::kRowCount; ++r) {
        const QString bank = QString("Row %1").arg(r);
        auto* tick = named(new QCheckBox(rowsArea), cp::rowControlName(r, cp::RowPart::CheckBox), bank);
        auto* open = named(new QPushButton(rowsArea), cp::rowControlName(r, cp::RowPart::OpenButton), bank);
        open->setAutoDefault(false);
        std::array<QWidget*, 6> cells{tick,
                                      readOnlyEdit(cp::rowControlName(r, cp::RowPart::NameEdit), bank + " File Name", rowsArea),
                                      readOnlyEdit(cp::rowControlName(r, cp::RowPart::ChecksumEdit), bank + " ChkSum", rowsArea),
                                      readOnlyEdit(cp::rowControlName(r, cp::RowPart::FileLengthEdit), bank + " File Len", rowsArea),
                                      readOnlyEdit(cp::rowControlName(r, cp::RowPart::ProgramLengthEdit), bank + " Prom Len", rowsArea),
                                      open};
        cells[1]->setMinimumWidth(cells[1]->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 32);
        for (int c = 0; c < static_cast<int>(cells.size()); ++c) {
            cells[static_cast<std::size_t>(c)]->setProperty(kRowProperty, r);
            grid->addWidget(cells[static_cast<std::size_t>(c)], r + 1, c);
        }
        connect(tick, &QCheckBox::clicked, this, [this, r](bool on) { handle(model_.tickRow(r, on)); });
        connect(open, &QPushButton::clicked, this, [this, r] { handle(model_.pickFile(r)); });
    }
    grid->setColumnStretch(1, 4);
    grid->setColumnStretch(2, 1);
    grid->setColumnStretch(3, 1);
    grid->setColumnStretch(4, 1);
    root->addWidget(rowsArea);

    auto* fileLine = new QHBoxLayout;
    fileLine->addWidget(named(new QLabel(QString::fromStdString(std::string(cp::kDateTimeCaption)), this),
                              kFileDateTimeLabelName, "File Date Time"));
    fileLine->addStretch(1);
    fileLine->addWidget(named(new QLabel("BigBinFileChecksum   0x", this), n::bigBinChecksumLabel, "BigBinFileChecksum"));
    fileLine->addWidget(readOnlyEdit(n::bigBinChecksumEdit, "BigBinFileChecksum", this));
    root->addLayout(fileLine);

    // Options (full view) beside the operator's action area.
    auto* middle = new QHBoxLayout;
    auto* optionsArea = new QWidget(this);
    optionsArea->setObjectName(kOptionsAreaName);
    auto* optionGrid = new QGridLayout(optionsArea);
    optionGrid->setContentsMargins(0, 0, 0, 0);
    auto addGroup = [this](const GroupDef& def, QWidget* parent) {
        auto* box = named(new QGroupBox(def.caption, parent), def.box, def.caption);
        auto* layout = new QVBoxLayout(box);
        for (const RadioDef& radio : def.radios) {
            if (radio.name.empty())
                continue;
            auto* r = named(new QRadioButton(radio.caption, box), radio.name, radio.caption);
            layout->addWidget(r);
            const cp::OptionField field = def.field;
            const int value = radio.value;
            if (field == cp::OptionField::OneToFour) {
                connect(r, &QRadioButton::clicked, this, [this, value] {
                    PageLdFilesDialog dialog(this, ui_);
                    handle(value == cp::kFourBoards ? model_.oneToFour(dialog) : model_.oneToOne());
                });
                continue;
            }
            connect(r, &QRadioButton::clicked, this, [this, field, value] { handle(model_.select(field, value)); });
        }
        return box;
    };
    int index = 0;
    for (const GroupDef& def : kGroups) {
        QGroupBox* box = addGroup(def, optionsArea);
        if (def.box == n::addressGroupBox) {
            auto* edit = named(new QLineEdit(box), n::addressEdit, "ISP Address");
            edit->setMaxLength(2);
            edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9A-Fa-f]{0,2}"), edit));
            box->layout()->addWidget(edit);
            connect(edit, &QLineEdit::textEdited, this,
                    [this](const QString& text) { handle(model_.setAddressText(text.toStdString())); });
        }
        if (def.box == n::trueSizeGroupBox) {
            auto* ext = named(new QCheckBox("Ext True Size", box), n::extTrueSizeCheckBox, "Ext True Size");
            auto* combo = named(new QComboBox(box), n::trueSizeCombo, "True Size");
            for (int kb = 1; kb <= cp::kTrueSizeCount; ++kb)
                combo->addItem(QString::number(kb));
            box->layout()->addWidget(ext);
            box->layout()->addWidget(combo);
            connect(ext, &QCheckBox::clicked, this,
                    [this](bool on) { handle(model_.select(cp::OptionField::ExtTrueSize, on ? 1 : 0)); });
            connect(combo, &QComboBox::activated, this,
                    [this](int i) { handle(model_.select(cp::OptionField::TrueSizeIndex, i)); });
        }
        optionGrid->addWidget(box, index / 4, index % 4);
        ++index;
    }
    auto* optionButtons = new QHBoxLayout;
    for (auto [name, caption] : {std::pair{n::advancedSettingButton, "Advanced Setting"},
                                 std::pair{n::saveSettingsButton, "Save Settings"},
                                 std::pair{n::exportIspFileButton, "Export ISP File"},
                                 std::pair{n::flashProtectButton, "Flash Protect"}}) {
        QPushButton* b = button(name, caption, optionsArea);
        optionButtons->addWidget(b);
        if (name == n::saveSettingsButton)
            connect(b, &QPushButton::clicked, this, [this] { handle(model_.saveSettings()); });
        else if (name == n::advancedSettingButton)
            connect(b, &QPushButton::clicked, this, [this] { advancedSetting(); });
        else if (name == n::flashProtectButton)
            connect(b, &QPushButton::clicked, this, [this] {
                FlashProtectRunner dialog(this);
                handle(model_.flashProtect(dialog));
            });
        else
            connect(b, &QPushButton::clicked, this, [this] { handle(model_.exportIspFile(where_)); });
    }
    optionGrid->addLayout(optionButtons, index / 4 + 1, 0, 1, 4);
    middle->addWidget(optionsArea, 0);

    // The operator's area: the big action button, the result, the switches, the summary.
    auto* actionArea = new QWidget(this);
    actionArea->setObjectName(kActionAreaName);
    auto* action = new QVBoxLayout(actionArea);
    action->setContentsMargins(0, 0, 0, 0);
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 2.5);
    big.setBold(true);
    for (auto [name, caption] : {std::pair{n::ispButton, "ISP"}, std::pair{n::readIcCodeButton, "Read IC Code"},
                                 std::pair{n::hdcpKeyFireButton, "HDCP Key Fire"}}) {
        QPushButton* b = button(name, caption, actionArea);
        b->setFont(big);
        b->setMinimumHeight(QFontMetrics(big).height() * 3);
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        action->addWidget(b, 2);
        connect(b, &QPushButton::clicked, this, [this] { startRun(); });
    }
    for (auto [name, kind] : {std::pair{n::passPictureLabel, ResultBadge::Kind::Pass},
                              std::pair{n::failPictureLabel, ResultBadge::Kind::Fail}}) {
        auto* picture = new ResultBadge(kind, actionArea);
        picture->setObjectName(qname(name));
        // As tall as the action button: read from across the line.
        picture->setMinimumHeight(QFontMetrics(big).height() * 3);
        action->addWidget(picture, 3);
    }
    auto* icCode = named(new QLabel(actionArea), n::icCodeLabel, "IC Code");
    QFont icFont = font();
    icFont.setPointSizeF(icFont.pointSizeF() * 1.6);
    icFont.setBold(true);
    icCode->setFont(icFont);
    icCode->setStyleSheet("color: rgb(0,0,255)");
    action->addWidget(icCode);
    action->addWidget(addGroup(kIspEnableGroup, actionArea));
    auto* repeat = new QGridLayout;
    action->addLayout(repeat);
    const std::array<std::tuple<std::string_view, const char*, std::string_view, const char*>, 3> counters{{
        {n::totalCaptionLabel, "ISP Total Number:", n::totalCountLabel, "rgb(0,0,255)"},
        {n::passCaptionLabel, "Pass :", n::passCountLabel, "rgb(34,139,34)"},
        {n::failCaptionLabel, "Fail :", n::failCountLabel, "rgb(227,23,13)"},
    }};
    int line = 0;
    for (const auto& [caption, text, count, colour] : counters) {
        const QString style = QString("color: %1").arg(colour);
        auto* c = named(new QLabel(text, actionArea), caption, text);
        auto* v = named(new QLabel("0", actionArea), count, text);
        c->setStyleSheet(style);
        v->setStyleSheet(style);
        repeat->addWidget(c, line, 0);
        repeat->addWidget(v, line, 1);
        ++line;
    }
    QPushButton* stop = button(n::stopIspButton, "Stop ISP", actionArea);
    repeat->addWidget(stop, line, 0, 1, 2);
    // Ends a repeat test after the run in progress; no effect without one.
    connect(stop, &QPushButton::clicked, this, [this] {
        if (worker_)
            worker_->postStop();
    });
    auto* summary = new QGridLayout;
    action->addLayout(summary);
    line = 0;
    for (const SummaryDef& def : kSummary) {
        summary->addWidget(named(new QLabel(def.caption, actionArea), def.label, def.caption), line, 0);
        QLineEdit* edit = readOnlyEdit(def.edit, def.caption, actionArea);
        edit->setStyleSheet("color: rgb(0,0,255)");
        edit->setMinimumWidth(edit->fontMetrics().horizontalAdvance(QStringLiteral("SerialFlash_1to4")));
        summary->addWidget(edit, line, 1);
        ++line;
    }
    action->addStretch(1);
    middle->addWidget(actionArea, 1);
    root->addLayout(middle);

    log_ = new QPlainTextEdit(this);
    log_->setObjectName(kLogEditName);
    log_->setAccessibleName("Log");
    log_->setReadOnly(true);
    log_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    log_->setMinimumHeight(log_->fontMetrics().lineSpacing() * 6);
    root->addWidget(log_, 1);
    // The overall percent of the run under the log.
    progress_ = new QProgressBar(this);
    progress_->setObjectName(kRunProgressBarName);
    progress_->setAccessibleName("Progress");
    progress_->setRange(0, 100);
    progress_->setValue(0);
    progress_->setFormat("%p%");
    root->addWidget(progress_);
}

void CustomerIspPage::handle(const cp::PageUpdate& update)
{
    (void)update;
    redraw();
}

void CustomerIspPage::redraw()
{
    const cp::PageOptions& o = model_.options();
    auto drawGroup = [this, &o](const GroupDef& def) {
        for (const RadioDef& radio : def.radios) {
            if (auto* r = radio.name.empty() ? nullptr : findChild<QRadioButton*>(qname(radio.name)))
                r->setChecked(cp::value(o, def.field) == radio.value);
        }
    };
    for (const GroupDef& def : kGroups)
        drawGroup(def);
    drawGroup(kIspEnableGroup);
    findChild<QCheckBox*>(qname(n::extTrueSizeCheckBox))->setChecked(o.extTrueSize != 0);
    findChild<QComboBox*>(qname(n::trueSizeCombo))->setCurrentIndex(o.trueSizeIndex);
    auto* address = findChild<QLineEdit*>(qname(n::addressEdit));
    if (address->text().toStdString() != o.addressText)
        address->setText(QString::fromStdString(o.addressText));

    const auto labels = model_.bankLabels();
    for (int r = 0; r < cp::kRowCount; ++r) {
        const cp::FileRow& row = model_.rows().row(r);
        findChild<QCheckBox*>(QString::fromStdString(cp::rowControlName(r, cp::RowPart::CheckBox)))
            ->setChecked(o.rowTicked(r));
        const std::array<std::pair<cp::RowPart, std::string>, 4> texts{{
            {cp::RowPart::NameEdit, model_.rowName(r)},
            {cp::RowPart::ChecksumEdit, row.checksumText},
            {cp::RowPart::FileLengthEdit, row.fileLengthText},
            {cp::RowPart::ProgramLengthEdit, row.programLengthText},
        }};
        for (const auto& [part, text] : texts)
            findChild<QLineEdit*>(QString::fromStdString(cp::rowControlName(r, part)))
                ->setText(QString::fromStdString(text));
        findChild<QPushButton*>(QString::fromStdString(cp::rowControlName(r, cp::RowPart::OpenButton)))
            ->setText(QString::fromStdString(labels[static_cast<std::size_t>(r)]));
    }
    findChild<QLineEdit*>(qname(n::bigBinChecksumEdit))
        ->setText(QString::fromStdString(model_.rows().bigBinChecksumText()));
    findChild<QLabel*>(kFileDateTimeLabelName)->setText(QString::fromStdString(model_.rows().dateTimeText()));

    const cp::OptionSummary summary = model_.summary();
    for (const SummaryDef& def : kSummary)
        findChild<QLineEdit*>(qname(def.edit))->setText(QString::fromStdString(summary.*def.text));

    std::string title = model_.title();
    if (where_.virtualBoard)
        title += where_.virtualBoard->titleSuffix();
    setWindowTitle(QString::fromStdString(title));

    applyLayout(model_.layout());
    drawRun();
}

void CustomerIspPage::drawLog()
{
    // The log follows the model's: emptied, a progress line rewritten in
    // place, new lines appended; the last line stays in view.
    const std::vector<std::string>& lines = model_.log().lines();
    if (model_.logGeneration() != shownLogGeneration_ || lines.size() < shownLogLines_) {
        QStringList all;
        for (const std::string& line : lines)
            all << QString::fromStdString(line);
        log_->setPlainText(all.join('\n'));
    } else {
        if (shownLogLines_ > 0 && lines[shownLogLines_ - 1] != shownLastLine_) {
            QTextCursor cursor(log_->document());
            cursor.movePosition(QTextCursor::End);
            cursor.movePosition(QTextCursor::StartOfBlock, QTextCursor::KeepAnchor);
            cursor.insertText(QString::fromStdString(lines[shownLogLines_ - 1]));
        }
        for (std::size_t i = shownLogLines_; i < lines.size(); ++i)
            log_->appendPlainText(QString::fromStdString(lines[i]));
    }
    shownLogGeneration_ = model_.logGeneration();
    shownLogLines_ = lines.size();
    shownLastLine_ = lines.empty() ? std::string() : lines.back();
    log_->verticalScrollBar()->setValue(log_->verticalScrollBar()->maximum());
}

void CustomerIspPage::drawRun()
{
    drawLog();
    const cp::RunDisplay& run = model_.runDisplay();
    QPalette palette = log_->palette();
    palette.setColor(QPalette::Text, run.logColour() == cp::LogColour::Pass ? QColor(0, 0, 255) : QColor(255, 0, 0));
    log_->setPalette(palette);
    progress_->setValue(run.percent);
}

void CustomerIspPage::startRun()
{
    cp::RunEnvironment engine{engine_.entryPoints().bound(), std::string(kEngineLibraryName)};
    cp::RunRequest request = model_.startRun(engine);
    if (!request.call) {
        redraw();
        return;
    }
    runIsRepeat_ = request.call->options.enable_isprepeattest == 1;
    redraw();
    worker_ = run::IspWorker::start(engine_.entryPoints().isp, std::move(*request.call), *bridge_, request.settings);
}

void CustomerIspPage::workerStarted(const run::RunCounters& counters)
{
    model_.runStarted(counters, runIsRepeat_);
    redraw();
}

void CustomerIspPage::engineProgress(std::uintptr_t wParam, std::intptr_t lParam)
{
    model_.engineMessage(wParam, lParam);
    const int code = static_cast<int>((wParam >> 8) & 0xFF);
    // The log and the bar move with every message; the rest only when it can change.
    if (code == MVX_MSG_IC_CODE)
        redraw();
    else
        drawRun();
}

void CustomerIspPage::workerRunDone(const run::RunDone& done)
{
    model_.runDone(done);
    redraw();
}

void CustomerIspPage::workerEnded(const run::WorkerEnd& end)
{
    model_.runEnded(end, where_.programFolder());
    redraw();
    QTimer::singleShot(kAfterRun, this, [this] { finishRun(); });
}

void CustomerIspPage::finishRun()
{
    // The worker has made its last report: the join is immediate.
    worker_.reset();
    const cp::RunEnd end = model_.runFinished();
    log_->setFocus(Qt::OtherFocusReason);
    redraw();
    if (end.closeTool)
        QTimer::singleShot(kAfterRun, this, [this] { reject(); });
}

void CustomerIspPage::applyLayout(const cp::PageLayout& layout)
{
    for (const auto& [name, state] : layout.controls) {
        if (auto* widget = findChild<QWidget*>(QString::fromStdString(name))) {
            widget->setVisible(state.visible);
            widget->setEnabled(state.enabled);
        }
    }
    for (const auto& [name, text] : layout.texts) {
        const QString value = QString::fromStdString(text);
        if (auto* label = findChild<QLabel*>(QString::fromStdString(name)))
            label->setText(value);
        else if (auto* edit = findChild<QLineEdit*>(QString::fromStdString(name)))
            edit->setText(value);
    }
}

void CustomerIspPage::advancedSetting()
{
    // Each notification of the dialog reaches the model and redraws the page at once.
    class Redrawing final : public settings_dialogs::SettingsReceiver {
    public:
        Redrawing(CustomerIspPage& page, settings_dialogs::SettingsReceiver& model) : page_(page), model_(model) {}
        std::vector<std::string> settingsNotify(std::uintptr_t wParam, std::intptr_t lParam) override
        {
            std::vector<std::string> failures = model_.settingsNotify(wParam, lParam);
            page_.redraw();
            return failures;
        }

    private:
        CustomerIspPage& page_;
        settings_dialogs::SettingsReceiver& model_;
    };
    class Dialog final : public cp::AdvancedSettingDialog {
    public:
        Dialog(CustomerIspPage& page, ShellUi& ui) : page_(page), ui_(ui) {}
        AdvancedSettings edit(const cp::AdvancedSettingRequest& request,
                              settings_dialogs::SettingsReceiver& model) override
        {
            Redrawing redrawing(page_, model);
            // Show LD Files: the LD files dialog, read-only, over this one.
            QWidget* over = &page_;
            auto showLdFiles = [this, &over](int mode, const std::array<std::string, 4>& paths) {
                runLoadLdFilesDialog(over, ui_, mode, false, paths);
            };
            tool::AdvancedSettingDialog dialog(request.record, request.mcuMode, request.ldPaths, ui_, redrawing,
                                               showLdFiles, &page_);
            over = &dialog;
            dialog.exec();
            return dialog.record();
        }

    private:
        CustomerIspPage& page_;
        ShellUi& ui_;
    } dialog(*this, ui_);
    handle(model_.advancedSetting(dialog));
}

void CustomerIspPage::settingsNotify(std::uintptr_t wParam, std::intptr_t lParam)
{
    handle(model_.settingsNotify(wParam, lParam));
}

void CustomerIspPage::requestSwitch()
{
    switchRequested_ = true;
    accept();
}

void CustomerIspPage::releaseEngine()
{
    engine_.releaseForPage(engineHandle_);
}

void CustomerIspPage::done(int result)
{
    // A repeat test ends after the run in progress; the page itself stays
    // until the run is over (the model refuses to close while it runs).
    if (worker_)
        worker_->postStop();
    if (!closed_) {
        const cp::CloseOutcome outcome = model_.close();
        if (!outcome.closes)
            return;
        closed_ = true;
        releaseEngine();
    }
    QDialog::done(result);
}

bool CustomerIspPage::handleKey(QKeyEvent* key, bool pressed)
{
    if (!pressed) {
        model_.keyUp(keyCode(*key));
        return false;
    }
    switch (model_.keyDown(keyCode(*key))) {
    case cp::KeyAction::PassOn: return false;
    case cp::KeyAction::Consume: return true;
    case cp::KeyAction::StartRun: startRun(); return true;
    case cp::KeyAction::ToggleView: redraw(); return true;
    case cp::KeyAction::SwitchPage: accept(); return true;
    }
    return false;
}

bool CustomerIspPage::eventFilter(QObject* watched, QEvent* event)
{
    // The page sees every key before its controls do.
    if ((event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease) && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && QApplication::activeModalWidget() == this) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() || event->type() == QEvent::KeyPress)
            return handleKey(key, event->type() == QEvent::KeyPress);
    }
    return QDialog::eventFilter(watched, event);
}

int CustomerIspPage::rowAt(const QPoint& position) const
{
    for (const QWidget* w = childAt(position); w != nullptr && w != this; w = w->parentWidget()) {
        const QVariant row = w->property(kRowProperty);
        if (row.isValid())
            return row.toInt();
    }
    return -1;
}

void CustomerIspPage::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls() && event->mimeData()->urls().value(0).isLocalFile())
        event->acceptProposedAction();
}

void CustomerIspPage::dropEvent(QDropEvent* event)
{
    const int row = rowAt(event->position().toPoint());
    const QString path = event->mimeData()->urls().value(0).toLocalFile();
    if (row < 0 || path.isEmpty())
        return;
    // A row takes a dropped file only when its open button would.
    const auto* open = findChild<QPushButton*>(QString::fromStdString(cp::rowControlName(row, cp::RowPart::OpenButton)));
    if (open == nullptr || !open->isEnabled())
        return;
    event->acceptProposedAction();
    handle(model_.openRow(row, path.toStdString()));
}

}  // namespace mvx::tool
