#include "app/window_raiser.hpp"

#include <QApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <QWidget>

#include "mvx/platform/single_instance.hpp"

namespace mvx::tool {
namespace {

QWidget* findWindow(const QString& title)
{
    if (title.isEmpty())
        return nullptr;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* window : windows) {
        if (window->isVisible() && window->windowTitle() == title)
            return window;
    }
    for (QWidget* window : windows) {
        if (window->isVisible() && window->windowTitle().startsWith(title))
            return window;
    }
    return nullptr;
}

}  // namespace

QWidget* raiseWindowTitled(const QString& title)
{
    QWidget* window = findWindow(title);
    if (window == nullptr)
        return nullptr;
    window->setWindowState((window->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    window->show();
    window->raise();
    window->activateWindow();
    if (const QScreen* screen = window->screen()) {
        const QRect area = screen->availableGeometry();
        window->move(area.center() - window->rect().center());
    }
    return window;
}

RaiseRequestListener::RaiseRequestListener(platform::SingleInstance& instance, QObject* parent)
    : QObject(parent), instance_(instance)
{
    if (instance_.listenFd() < 0)
        return;
    notifier_ = new QSocketNotifier(instance_.listenFd(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &RaiseRequestListener::takeRequests);
}

void RaiseRequestListener::takeRequests()
{
    for (const std::string& title : instance_.takeRaiseRequests()) {
        const QString text = QString::fromStdString(title);
        QWidget* raised = raiseWindowTitled(text);
        emit requestHandled(text, raised);
    }
}

}  // namespace mvx::tool
