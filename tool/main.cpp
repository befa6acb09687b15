#include <QApplication>
#include <QIcon>

#include "app/tool_main.hpp"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    // Set once for the whole program: every page and dialog shows this icon,
    // and the desktop matches the windows to the installed desktop entry.
    QApplication::setApplicationVersion(QStringLiteral(MVX_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/mvxisp.svg")));
    QGuiApplication::setDesktopFileName(QStringLiteral("MVX_ISP_Tool"));
    return mvx::tool::runTool(argc, argv);
}
