// The first instance's side of the single-instance hand-shake: a later
// instance sends the title it read from "isp_title", and the window with
// that title is restored, brought to the front and centred.
#pragma once

#include <QObject>
#include <QString>

class QSocketNotifier;
class QWidget;

namespace mvx::platform {
class SingleInstance;
}

namespace mvx::tool {

// The visible top-level window titled exactly title (else the first whose
// title begins with it: the pages append the program's date to the
// operator's title), restored and raised; nullptr when there is none.
QWidget* raiseWindowTitled(const QString& title);

class RaiseRequestListener : public QObject {
    Q_OBJECT
public:
    // instance must hold the lock and outlive the listener.
    explicit RaiseRequestListener(platform::SingleInstance& instance, QObject* parent = nullptr);

signals:
    // After each request: the window raised, or nullptr when none matched.
    void requestHandled(const QString& title, QWidget* raised);

private:
    void takeRequests();

    platform::SingleInstance& instance_;
    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace mvx::tool
