#include <QApplication>

#include "app/tool_main.hpp"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    return mvx::tool::runTool(argc, argv);
}
