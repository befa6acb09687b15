#include "app/stand_in_pages.hpp"

#include <QEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWindowStateChangeEvent>
#include <cstdlib>

#include "app/virtual_board_banner.hpp"
#include "mvx/platform/debug_output.hpp"
#include "shell/option_records.hpp"
#include "shell/settings_store.hpp"
#include "shell/window_title.hpp"

namespace mvx::tool {

StandInPage::StandInPage(PageKind kind, const ShellLocations& where, EngineBinding& engine,
                         int viewMode, QString action, QWidget* parent)
    : QDialog(parent), kind_(kind), where_(where), engine_(engine), viewMode_(viewMode),
      action_(std::move(action))
{
    const bool customer = kind_ == PageKind::Customer;
    setObjectName(customer ? "customerPage" : "assemblyPage");
    engineHandle_ = engine_.bindForPage();

    std::string title(kDefaultUserTitle);
    if (customer) {
        const auto settings = loadCustomerSettings(where_.settingsPath(), where_.programFolder());
        title = std::string(textOf(settings.advanced.user_title));
    }
    std::string fullTitle = titleWithProgramDate(title, where_.programPath);
    if (where_.virtualBoard)
        fullTitle += where_.virtualBoard->titleSuffix();
    const QString windowText = QString::fromStdString(fullTitle);
    setWindowTitle(windowText);
    if (auto error = mirrorWindowTitle(where_.registryPath, windowText.toStdString()))
        platform::debugOutput(error->message);

    auto* layout = new QVBoxLayout(this);
    VirtualBoardBanner::addTo(*layout, where_.virtualBoard, this);
    descriptionLabel_ = new QLabel(description(), this);
    descriptionLabel_->setObjectName("pageDescription");
    layout->addWidget(descriptionLabel_);
    auto* switchButton = new QPushButton("switch page", this);
    switchButton->setObjectName("switchPageButton");
    switchButton->setAutoDefault(false);
    layout->addWidget(switchButton);
    connect(switchButton, &QPushButton::clicked, this, &StandInPage::requestSwitch);
    resize(480, 200);
}

StandInPage::~StandInPage()
{
    releaseEngine();
}

QString StandInPage::description() const
{
    QString text = kind_ == PageKind::Customer
                       ? QString("Customer ISP Page, %1 view").arg(viewMode_ == 1 ? "compact" : "full")
                       : QString("Assembly ISP Page");
    return text + (engineBound() ? "\nengine loaded" : "\nengine not loaded");
}

void StandInPage::keyPressEvent(QKeyEvent* event)
{
    if (kind_ == PageKind::Customer && event->key() == Qt::Key_M &&
        (event->modifiers() & Qt::ControlModifier) != 0) {
        viewMode_ = viewMode_ == 1 ? 2 : 1;
        descriptionLabel_->setText(description());
        return;
    }
    QDialog::keyPressEvent(event);
}

void StandInPage::requestSwitch()
{
    switchPage_ = true;
    accept();
}

void StandInPage::releaseEngine()
{
    engine_.releaseForPage(engineHandle_);
}

void StandInPage::done(int result)
{
    if (!closed_) {
        closed_ = true;
        releaseEngine();
        if (kind_ == PageKind::Assembly) {
            AssemblySettings settings = loadAssemblySettings(where_.settingsPath());
            if (auto error = saveAssemblySettings(where_.settingsPath(), settings))
                platform::debugOutput(error->message);
        }
    }
    QDialog::done(result);
}

void StandInPage::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (actionStarted_ || action_.isEmpty())
        return;
    actionStarted_ = true;
    if (action_ == "switch") {
        QTimer::singleShot(0, this, &StandInPage::requestSwitch);
    } else if (action_ == "close") {
        QTimer::singleShot(0, this, &StandInPage::reject);
    } else if (action_ == "raised") {
        // Minimised before the event loop runs, so a raise request that is
        // already waiting finds the page minimised.
        waitingForRaise_ = true;
        setWindowState(windowState() | Qt::WindowMinimized);
    }
}

void StandInPage::changeEvent(QEvent* event)
{
    QDialog::changeEvent(event);
    if (event->type() != QEvent::WindowStateChange || !waitingForRaise_)
        return;
    const auto* change = static_cast<QWindowStateChangeEvent*>(event);
    if ((change->oldState() & Qt::WindowMinimized) != 0 && (windowState() & Qt::WindowMinimized) == 0) {
        waitingForRaise_ = false;
        QTimer::singleShot(0, this, &StandInPage::reject);
    }
}

StandInPageHost::StandInPageHost(const ShellLocations& where, EngineBinding& engine, QStringList actions)
    : where_(where), engine_(engine), actions_(std::move(actions))
{
}

QStringList StandInPageHost::actionsFromEnvironment()
{
    const char* script = std::getenv("MVX_STANDIN_PAGES");
    if (script == nullptr)
        return {};
    QStringList actions = QString::fromUtf8(script).split(',', Qt::SkipEmptyParts);
    for (QString& action : actions)
        action = action.trimmed();
    return actions;
}

bool StandInPageHost::runAssemblyPage()
{
    return run(PageKind::Assembly, 0);
}

bool StandInPageHost::runCustomerPage(int viewMode)
{
    return run(PageKind::Customer, viewMode);
}

bool StandInPageHost::run(PageKind kind, int viewMode)
{
    const QString action = actions_.isEmpty() ? QString() : actions_.takeFirst();
    StandInPage page(kind, where_, engine_, viewMode, action);
    page.exec();
    return page.switchPage();
}

}  // namespace mvx::tool
