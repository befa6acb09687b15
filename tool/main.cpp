#include <QApplication>

#include "app/main_dialog.hpp"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    mvx::tool::MainDialog dialog;
    dialog.exec();
    return 0;
}
