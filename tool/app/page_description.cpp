#include "app/page_description.hpp"

#include <QAbstractButton>
#include <QComboBox>
#include <QEvent>
#include <QJsonDocument>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSaveFile>
#include <QTextEdit>
#include <QTimer>
#include <QWidget>

#include "mvx/platform/debug_output.hpp"

namespace mvx::tool {

ToolArguments splitToolArguments(int argc, const char* const* argv)
{
    ToolArguments arguments;
    const std::string prefix = std::string(kDescribePageSwitch) + "=";
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        std::optional<std::string> path;
        if (argument == kDescribePageSwitch) {
            if (i + 1 < argc)
                path = argv[++i];
            else
                path = std::string();
        } else if (argument.rfind(prefix, 0) == 0) {
            path = argument.substr(prefix.size());
        } else {
            arguments.commandLine.push_back(argument);
            continue;
        }
        if (path->empty()) {
            arguments.error = std::string(kDescribePageSwitch) + " needs a file name";
        } else if (arguments.describePath) {
            arguments.error = std::string(kDescribePageSwitch) + " is given twice";
        }
        arguments.describePath = std::move(path);
    }
    return arguments;
}

namespace {

// The text an operator reads on a widget, when it has one.
std::optional<QString> shownText(const QWidget& widget)
{
    if (const auto* edit = qobject_cast<const QLineEdit*>(&widget))
        return edit->text();
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget))
        return button->text();
    if (const auto* label = qobject_cast<const QLabel*>(&widget))
        return label->text();
    if (const auto* combo = qobject_cast<const QComboBox*>(&widget))
        return combo->currentText();
    if (const auto* plain = qobject_cast<const QPlainTextEdit*>(&widget))
        return plain->toPlainText();
    if (const auto* rich = qobject_cast<const QTextEdit*>(&widget))
        return rich->toPlainText();
    return std::nullopt;
}

}  // namespace

QJsonObject describeWindow(QWidget& window)
{
    QJsonArray widgets;
    for (const QWidget* child : window.findChildren<QWidget*>()) {
        if (child->objectName().isEmpty())
            continue;
        QJsonObject entry{{"name", child->objectName()},
                          {"class", QString::fromLatin1(child->metaObject()->className())},
                          {"visible", child->isVisible()},
                          {"enabled", child->isEnabled()}};
        // Where it lies in its window, for scripts that click it.
        const QPoint at = child->mapTo(&window, QPoint(0, 0));
        entry.insert("geometry", QJsonArray{at.x(), at.y(), child->width(), child->height()});
        if (const auto text = shownText(*child))
            entry.insert("text", *text);
        if (const auto* button = qobject_cast<const QAbstractButton*>(child); button && button->isCheckable())
            entry.insert("checked", button->isChecked());
        widgets.append(entry);
    }
    return QJsonObject{{"objectName", window.objectName()},
                       {"class", QString::fromLatin1(window.metaObject()->className())},
                       {"title", window.windowTitle()},
                       {"windowId", static_cast<qint64>(window.winId())},
                       {"widgets", widgets}};
}

PageDescriber::PageDescriber(QString path, QObject* parent) : QObject(parent), path_(std::move(path)) {}

bool PageDescriber::start()
{
    return write();
}

bool PageDescriber::eventFilter(QObject* watched, QEvent* event)
{
    const bool shown = event->type() == QEvent::Show;
    if ((shown || event->type() == QEvent::Hide) && watched->isWidgetType()) {
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->isWindow() && shown) {
            QPointer<QWidget> window(widget);
            QTimer::singleShot(0, this, [this, window] {
                if (window && window->isVisible())
                    describe(*window);
            });
        } else if (!widget->isWindow() && !widget->objectName().isEmpty()) {
            refreshLater(widget->window());
        }
    }
    return QObject::eventFilter(watched, event);
}

void PageDescriber::describe(QWidget& window)
{
    windows_.append(describeWindow(window));
    described_.emplace_back(&window);
    if (!write())
        platform::debugOutput(error_.toStdString());
}

void PageDescriber::refreshLater(QWidget* window)
{
    for (const QPointer<QWidget>& pending : pending_) {
        if (pending == window)
            return;
    }
    pending_.emplace_back(window);
    QTimer::singleShot(0, this, [this] {
        std::vector<QPointer<QWidget>> windows;
        windows.swap(pending_);
        bool changed = false;
        for (const QPointer<QWidget>& shownWindow : windows) {
            // The latest description of a window that is still shown.
            for (std::size_t i = described_.size(); shownWindow && shownWindow->isVisible() && i-- > 0;) {
                if (described_[i] == shownWindow) {
                    windows_[static_cast<qsizetype>(i)] = describeWindow(*shownWindow);
                    changed = true;
                    break;
                }
            }
        }
        if (changed && !write())
            platform::debugOutput(error_.toStdString());
    });
}

bool PageDescriber::write()
{
    QSaveFile file(path_);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(windows_).toJson()) < 0 || !file.commit()) {
        error_ = QString("cannot write the page description %1: %2").arg(path_, file.errorString());
        return false;
    }
    return true;
}

}  // namespace mvx::tool
