#include "app/page_host.hpp"

#include <QEvent>
#include <QTimer>
#include <QWindowStateChangeEvent>

#include "app/customer_isp_page.hpp"
#include "app/stand_in_pages.hpp"

namespace mvx::tool {

namespace {

// Plays one scripted action on the customer page once it shows: "switch",
// "close", or "raised" (minimised, closed once a raise request restores it).
class ScriptedAction final : public QObject {
public:
    ScriptedAction(CustomerIspPage& page, QString action) : QObject(&page), page_(page), action_(std::move(action))
    {
        page.installEventFilter(this);
    }

    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Show && !started_) {
            started_ = true;
            if (action_ == "switch") {
                QTimer::singleShot(0, &page_, [this] { page_.requestSwitch(); });
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
    CustomerIspPage& page_;
    QString action_;
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
    StandInPage page(PageKind::Assembly, where_, engine_, 0, nextAction());
    page.exec();
    return page.switchPage();
}

bool ToolPageHost::runCustomerPage(int viewMode)
{
    const QString action = nextAction();
    CustomerIspPage page(where_, engine_, ui_, viewMode);
    if (!action.isEmpty())
        new ScriptedAction(page, action);
    page.exec();
    return page.switchPage();
}

}  // namespace mvx::tool
