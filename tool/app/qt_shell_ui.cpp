#include "app/qt_shell_ui.hpp"

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>

namespace mvx::tool {
namespace {

QString text(std::string_view s)
{
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// A message's own line ends are "\r\n"; a message box breaks lines at "\n".
QString messageText(std::string_view s)
{
    return text(s).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
}

QString filterText(const FileFilter& filter)
{
    return QString::fromStdString(filter.description) + " (*." + QString::fromStdString(filter.extension) + ")";
}

std::optional<std::string> chosen(const QString& path)
{
    if (path.isEmpty())
        return std::nullopt;
    return path.toStdString();
}

}  // namespace

void QtShellUi::showMessage(std::string_view message, std::string_view caption)
{
    QMessageBox::information(QApplication::activeModalWidget(), text(caption), messageText(message));
}

Answer QtShellUi::ask(std::string_view message, std::string_view caption, Buttons buttons)
{
    QMessageBox::StandardButtons offered = QMessageBox::Ok;
    if (buttons == Buttons::YesNo)
        offered = QMessageBox::Yes | QMessageBox::No;
    else if (buttons == Buttons::YesNoCancel)
        offered = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    const auto pressed = QMessageBox::question(QApplication::activeModalWidget(), text(caption),
                                               messageText(message), offered);
    switch (pressed) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Ok:
        return Answer::Ok;
    default:
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

std::optional<std::string> QtShellUi::chooseSaveFile(const FileFilter& filter)
{
    // The shell asks its own overwrite question.
    return chosen(QFileDialog::getSaveFileName(QApplication::activeModalWidget(), {}, {}, filterText(filter),
                                               nullptr, QFileDialog::DontConfirmOverwrite));
}

std::optional<std::string> QtShellUi::chooseOpenFile(const FileFilter& filter)
{
    return chosen(QFileDialog::getOpenFileName(QApplication::activeModalWidget(), {}, {}, filterText(filter)));
}

std::optional<std::string> QtShellUi::chooseOpenFileAmong(const std::vector<PatternFilter>& filters)
{
    QStringList entries;
    for (const PatternFilter& filter : filters) {
        QStringList patterns;
        for (const std::string& pattern : filter.patterns)
            patterns << QString::fromStdString(pattern);
        entries << QString::fromStdString(filter.description) + " (" + patterns.join(' ') + ")";
    }
    return chosen(QFileDialog::getOpenFileName(QApplication::activeModalWidget(), {}, {}, entries.join(";;")));
}

std::optional<std::string> QtShellUi::chooseFolder(std::string_view title)
{
    // Files are listed too, so the operator sees what a folder holds.
    return chosen(QFileDialog::getExistingDirectory(QApplication::activeModalWidget(), text(title), {},
                                                    QFileDialog::Options()));
}

}  // namespace mvx::tool
