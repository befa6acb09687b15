// What the program's windows show, written to a file for scripts and process
// tests: `MVX_ISP_Tool --describe-page FILE` (the switch is taken out before
// the rest of the command line goes to the start-up sequence).
//
// Every top-level window the program shows (the pages, and message boxes and
// pickers too) is described once it is shown and the events pending at that
// moment are handled; FILE is rewritten (atomically) after each one with a
// JSON array of all windows described so far, in the order they were shown:
//
//   {"objectName": "customerPage", "class": "...", "title": "...",
//    "windowId": <native window id, the X window under xcb>,
//    "widgets": [{"name": "row0ChecksumEdit", "class": "QLineEdit",
//                 "visible": true, "enabled": true, "text": "F730",
//                 "geometry": [380, 64, 86, 24]}, ...]}
//
// Only widgets with an objectName are listed; "text" is the text an operator
// reads (edits, buttons, labels, a combo's current entry), "checked" is
// given for checkable buttons and "geometry" is [x, y, width, height] in the
// window's coordinates (device-independent pixels).  When a named widget is
// shown or hidden, its window's latest entry is described again.
#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QObject>
#include <QPointer>
#include <QWidget>
#include <QString>
#include <optional>
#include <string>
#include <vector>

namespace mvx::tool {

inline constexpr std::string_view kDescribePageSwitch = "--describe-page";

// The program's arguments with its own switches taken out.
struct ToolArguments {
    std::vector<std::string> commandLine;      // what the start-up sequence gets
    std::optional<std::string> describePath;   // --describe-page FILE
    std::string error;                         // set: the arguments are unusable
};
ToolArguments splitToolArguments(int argc, const char* const* argv);

// The description of one window and its named widgets.
QJsonObject describeWindow(QWidget& window);

class PageDescriber : public QObject {
    Q_OBJECT
public:
    explicit PageDescriber(QString path, QObject* parent = nullptr);

    // Writes an empty list; false with error() when the file cannot be written.
    bool start();
    const QString& error() const { return error_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void describe(QWidget& window);
    // Describes a window again once the events pending now are handled.
    void refreshLater(QWidget* window);
    bool write();

    QString path_;
    QJsonArray windows_;
    std::vector<QPointer<QWidget>> described_;   // the window of each entry of windows_
    std::vector<QPointer<QWidget>> pending_;
    QString error_;
};

}  // namespace mvx::tool
