#include "app/page_host.hpp"

#include <QApplication>
#include <QEvent>
#include <QKeyEvent>
#include <QTimer>
#include <QWindowStateChangeEvent>
#include <array>
#include <functional>

#include "app/assembly_isp_page.hpp"
#include "app/customer_isp_page.hpp"

namespace mvx::tool {

namespace {

// Ctrl+M as the keyboard gives it: Control down, M, both up.
void pressCtrlM(QWidget& page)
{
    const std::array<QKeyEvent, 4> keys{QKeyEvent(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier),
                                        QKeyEvent(QEvent::KeyPress, Qt::Key_M, Qt::ControlModifier, "m"),
                                        QKeyEvent(QEvent::KeyRelease, Qt::Key_M, Qt::ControlModifier, "m"),
                                        QKeyEvent(QEvent::KeyRelease, Qt::Key_Control, Qt::NoModifier)};
    for (const QKeyEvent& key : keys) {
        QKeyEvent copy(key.type(), key.key(), key.modifiers(), key.text());
        QApplication::sendEvent(&page, &copy);
    }
}

// Plays one scripted action on a page once it shows: "switch", "ctrl-m",
// "close", or "raised" (minimised, closed once a raise request restores it).
class ScriptedAction final : public QObject {
public:
    ScriptedAction(QDialog& page, QString action, std::function<void()> requestSwitch)
        : QObject(&page), page_(page), action_(std::move(action)), requestSwitch_(std::move(requestSwitch))
    {
        page.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !started_) {
            started_ = true;
            if (action_ == "switch") {
                QTimer::singleShot(0, &page_, [this] { requestSwitch_(); });
            } else if (action_ == "ctrl-m") {
                QTimer::singleShot(0, &page_, [this] { pressCtrlM(page_); });
            } else if (action_ == "close") {
                QTimer::singleShot(0, &page_, [this] { page_.reject(); });
            } else if (action_ == "raised") {
                waitingForRaise_ = true;
                page_.setWindowState(page_.windowState() | Qt::WindowMinimized);
            }
        } else if (event->type() == QEvent::WindowStateChange && waitingForRaise_) {
            const auto* change = static_cast<QWindowStateChangeEvent*>(event);
            if ((change->oldState() & Qt::WindowMinimized) != 0 && (page_.windowState() & Qt::WindowMinimized) == 0) {
                waitingForRaise_ = false;
                QTimer::singleShot(0, &page_, [this] { page_.reject(); });
            }
        }
        return false;
    }

private:
    QDialog& page_;
    QString action_;
    std::function<void()> requestSwitch_;
    bool started_ = false;
    bool waitingForRaise_ = false;
};

}  // namespace

ToolPageHost::ToolPageHost(const ShellLocations& where, EngineBinding& engine, ShellUi& ui, QStringList actions)
    : where_(where), engine_(engine), ui_(ui), actions_(std::move(actions))
{
}

bool ToolPageHost::runAssemblyPage()
{
    const QString action = nextAction();
    AssemblyIspPage page(where_, engine_, ui_);
    if (!action.isEmpty())
        new ScriptedAction(page, action, [&page] { page.requestSwitch(); });
    page.exec();
    return page.switchPage();
}

bool ToolPageHost::runCustomerPage(int viewMode)
{
    const QString action = nextAction();
    CustomerIspPage page(where_, engine_, ui_, viewMode);
    if (!action.isEmpty())
        new ScriptedAction(page, action, [&page] { page.requestSwitch(); });
    page.exec();
    return page.switchPage();
}

}  // namespace mvx::tool
