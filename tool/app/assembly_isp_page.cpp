#include "app/assembly_isp_page.hpp"

#include <QApplication>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <string_view>

#include "app/named_widgets.hpp"
#include "app/virtual_board_banner.hpp"

namespace mvx::tool {

namespace ap = assembly_page;
namespace n = assembly_page::names;

namespace {

ap::PageFiles pageFiles(const ShellLocations& where)
{
    return {where.settingsPath(),
            where.workFolder,
            where.ispfileFolder,
            where.programPath,
            where.registryPath,
            where.virtualBoard ? where.virtualBoard->titleSuffix() : std::string()};
}

// The read-only job fields, in the order the page shows them.
constexpr std::array<std::pair<std::string_view, const char*>, 8> kJobFields{{
    {n::projectNameEdit, "Project"},
    {n::mcuEdit, "MCU"},
    {n::interfaceEdit, "Interface"},
    {n::ispTypeEdit, "ISP Type"},
    {n::addressEdit, "Address"},
    {n::brandEdit, "Flash Type"},
    {n::eraseTypeEdit, "Erase Type"},
    {n::eraseSizeEdit, "Erase Size"},
}};

constexpr std::array<std::pair<std::string_view, const char*>, 3> kProtectFields{{
    {n::flashProtectEdit, "Flash Protect"},
    {n::pinEdit, "Pin"},
    {n::pullEdit, "Pull"},
}};

constexpr std::array<const char*, 4> kRowHeaders{"File Name", "ChkSum", "File Len", "Prom Len"};

}  // namespace

AssemblyIspPage::AssemblyIspPage(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, QWidget* parent)
    : QDialog(parent), where_(where), engine_(engine), ui_(ui), model_(pageFiles(where), ui, engine.entryPoints())
{
    setObjectName(qname(n::page));
    build();
    engineHandle_ = engine_.bindForPage();
    model_.open();
    redraw();
    qApp->installEventFilter(this);
}

AssemblyIspPage::~AssemblyIspPage()
{
    qApp->removeEventFilter(this);
    if (worker_) {
        bridge_->waitForEnd();
        worker_.reset();
    }
    releaseEngine();
}

void AssemblyIspPage::build()
{
    auto* root = new QVBoxLayout(this);
    VirtualBoardBanner::addTo(*root, where_.virtualBoard, this);

    auto* fileLine = new QHBoxLayout;
    auto* load = named(new QPushButton("Load ISP File", this), n::loadIspFileButton, "Load ISP File");
    load->setAutoDefault(false);
    connect(load, &QPushButton::clicked, this, [this] {
        model_.chooseIspFile();
        redraw();
    });
    fileLine->addWidget(load);
    QLineEdit* path = readOnlyEdit(n::rspPathEdit, "ISP File", this);
    path->setMinimumWidth(path->fontMetrics().horizontalAdvance(QLatin1Char('x')) * 40);
    fileLine->addWidget(path, 1);
    fileLine->addWidget(named(new QLabel(this), n::rspDateLabel, "ISP File Date"));
    root->addLayout(fileLine);

    auto* middle = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    auto* jobBox = new QGroupBox("Job", this);
    auto* jobForm = new QGridLayout(jobBox);
    int line = 0;
    for (const auto& [name, caption] : kJobFields) {
        jobForm->addWidget(new QLabel(caption, jobBox), line / 2, (line % 2) * 2);
        jobForm->addWidget(readOnlyEdit(name, caption, jobBox), line / 2, (line % 2) * 2 + 1);
        ++line;
    }
    left->addWidget(jobBox);

    auto* protect = named(new QGroupBox("Flash Protect", this), n::protectGroupBox, "Flash Protect");
    auto* protectLine = new QHBoxLayout(protect);
    for (const auto& [name, caption] : kProtectFields) {
        protectLine->addWidget(new QLabel(caption, protect));
        protectLine->addWidget(readOnlyEdit(name, caption, protect));
    }
    left->addWidget(protect);

    auto* rows = new QGroupBox("Files", this);
    auto* grid = new QGridLayout(rows);
    for (int c = 0; c < static_cast<int>(kRowHeaders.size()); ++c)
        grid->addWidget(new QLabel(kRowHeaders[static_cast<std::size_t>(c)], rows), 0, c + 1);
    for (int r = 0; r < 4; ++r) {
        const QString bank = QString("Bank%1").arg(r);
        grid->addWidget(new QLabel(bank, rows), r + 1, 0);
        const std::array<ap::ImagePart, 4> parts{ap::ImagePart::NameEdit, ap::ImagePart::ChecksumEdit,
                                                 ap::ImagePart::FileLengthEdit, ap::ImagePart::ProgramLengthEdit};
        for (int c = 0; c < 4; ++c)
            grid->addWidget(readOnlyEdit(ap::imageControlName(r, parts[static_cast<std::size_t>(c)]),
                                         bank + " " + kRowHeaders[static_cast<std::size_t>(c)], rows),
                            r + 1, c + 1);
    }
    grid->setColumnStretch(1, 4);
    for (int c = 2; c <= 4; ++c)
        grid->setColumnStretch(c, 1);
    left->addWidget(rows);

    auto* ld = named(new QGroupBox("LD Files", this), n::ldGroupBox, "LD Files");
    auto* ldGrid = new QGridLayout(ld);
    ldGrid->addWidget(readOnlyEdit(n::ldPathEdit, "LD Path", ld), 0, 0, 1, 3);
    ldGrid->addWidget(named(new QLabel(ld), n::ldDateLabel, "LD File Date"), 0, 3);
    for (int i = 0; i < 4; ++i) {
        const QString label = qname(ap::kLdLabels[static_cast<std::size_t>(i)]);
        ldGrid->addWidget(new QLabel(label, ld), 1 + i / 2, (i % 2) * 2);
        ldGrid->addWidget(readOnlyEdit(ap::ldControlName(i), label, ld), 1 + i / 2, (i % 2) * 2 + 1);
    }
    left->addWidget(ld);
    left->addStretch(1);
    middle->addLayout(left, 3);

    // The operator's side: the big ISP button, the result, the progress, the targets.
    auto* right = new QVBoxLayout;
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 2.5);
    big.setBold(true);
    auto* isp = named(new QPushButton("ISP", this), n::ispButton, "ISP");
    isp->setAutoDefault(false);
    isp->setFont(big);
    isp->setMinimumHeight(QFontMetrics(big).height() * 3);
    isp->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    connect(isp, &QPushButton::clicked, this, &AssemblyIspPage::startRun);
    right->addWidget(isp, 2);
    for (auto [name, caption, colour] : {std::tuple{n::passPictureLabel, "PASS", "rgb(34,139,34)"},
                                         std::tuple{n::failPictureLabel, "FAIL", "rgb(227,23,13)"}}) {
        auto* picture = named(new QLabel(caption, this), name, caption);
        picture->setFont(big);
        picture->setAlignment(Qt::AlignCenter);
        picture->setStyleSheet(QString("color: %1").arg(colour));
        right->addWidget(picture);
    }
    auto* progressLine = new QHBoxLayout;
    auto* bar = named(new QProgressBar(this), n::progressBar, "Progress");
    bar->setRange(0, 100);
    bar->setTextVisible(false);
    progressLine->addWidget(bar, 1);
    auto* percent = named(new QLabel(this), n::progressLabel, "Progress");
    percent->setMinimumWidth(percent->fontMetrics().horizontalAdvance("100%"));
    progressLine->addWidget(percent);
    right->addLayout(progressLine);

    auto* targets = named(new QGroupBox("Targets", this), n::targetsGroupBox, "Targets");
    auto* targetsLine = new QHBoxLayout(targets);
    for (auto [name, caption, value] : {std::tuple{n::oneToOneRadio, "1 To 1", 0}, std::tuple{n::oneToFourRadio, "1 To 4", 1}}) {
        auto* radio = named(new QRadioButton(caption, targets), name, caption);
        targetsLine->addWidget(radio);
        const int chosen = value;
        connect(radio, &QRadioButton::clicked, this, [this, chosen] {
            model_.chooseTargets(chosen);
            redraw();
        });
    }
    right->addWidget(targets);
    right->addStretch(1);
    middle->addLayout(right, 2);
    root->addLayout(middle, 1);
}

void AssemblyIspPage::redraw()
{
    for (const auto& [name, text] : model_.texts()) {
        const QString value = QString::fromStdString(text);
        if (auto* label = findChild<QLabel*>(QString::fromStdString(name)))
            label->setText(value);
        else if (auto* edit = findChild<QLineEdit*>(QString::fromStdString(name));
                 edit != nullptr && edit->text() != value) {
            edit->setText(value);
            edit->setCursorPosition(0);   // a long path shows from its start
        }
    }
    for (const auto& [name, state] : model_.controls()) {
        if (auto* widget = findChild<QWidget*>(QString::fromStdString(name))) {
            widget->setVisible(state.visible);
            widget->setEnabled(state.enabled);
        }
    }
    findChild<QRadioButton*>(qname(n::oneToOneRadio))->setChecked(model_.oneToFour() == 0);
    findChild<QRadioButton*>(qname(n::oneToFourRadio))->setChecked(model_.oneToFour() != 0);
    drawProgress();
    setWindowTitle(QString::fromStdString(model_.title()));
    model_.refresh();
}

void AssemblyIspPage::drawProgress()
{
    findChild<QProgressBar*>(qname(n::progressBar))->setValue(model_.progressValue());
    findChild<QLabel*>(qname(n::progressLabel))->setText(QString("%1%").arg(model_.progressValue()));
}

void AssemblyIspPage::startRun()
{
    std::optional<job::IspCall> call = model_.startRun();
    redraw();
    if (!call)
        return;
    RunBridge::Handlers handlers;
    handlers.engineMessage = [this](std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam) {
        if (message == WM_ISP_PROGRESS) {
            model_.progress(wParam, lParam);
            drawProgress();
        }
        return std::intptr_t{0};
    };
    handlers.engineMessageBox = [this](std::string_view text, std::string_view caption, std::uint32_t) {
        ui_.showMessage(text, caption);
        return MVX_IDOK;
    };
    handlers.ended = [this](const run::WorkerEnd& end) {
        model_.runEnded(end.lastResult);
        redraw();
        // The remaining controls come back once the worker's thread is done.
        QTimer::singleShot(10, this, &AssemblyIspPage::finishRun);
    };
    bridge_ = std::make_unique<RunBridge>(*this, std::move(handlers));
    worker_ = run::IspWorker::start(engine_.entryPoints().isp, std::move(*call), *bridge_);
    if (!worker_)
        finishRun();
}

void AssemblyIspPage::finishRun()
{
    worker_.reset();
    bridge_.reset();
    model_.runIdle();
    redraw();
    setFocus(Qt::OtherFocusReason);
}

void AssemblyIspPage::requestSwitch()
{
    if (model_.requestSwitch())
        accept();
}

void AssemblyIspPage::releaseEngine()
{
    engine_.releaseForPage(engineHandle_);
}

void AssemblyIspPage::done(int result)
{
    if (!closed_) {
        if (!model_.close())
            return;
        closed_ = true;
        releaseEngine();
    }
    QDialog::done(result);
}

bool AssemblyIspPage::eventFilter(QObject* watched, QEvent* event)
{
    // The page sees every key before its controls do.
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && QApplication::activeModalWidget() == this) {
        const auto* key = static_cast<QKeyEvent*>(event);
        switch (key->key()) {
        case Qt::Key_Escape: return true;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (model_.ispEnabled())
                startRun();
            return true;
        case kAssemblySwitchKey:
            if ((key->modifiers() & Qt::ControlModifier) == 0)
                break;
            requestSwitch();
            return true;
        default: break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace mvx::tool
