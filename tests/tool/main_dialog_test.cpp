#include "app/main_dialog.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QTimer>

namespace {

// Windows left open by a test would leak into the next one.
void expectNoVisibleWindows()
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible()) << widget->objectName().toStdString();
}

}  // namespace

TEST(MainDialog, OpensWithTheToolTitleAndClosesFromItsEventLoop)
{
    bool sawItOpen = false;
    int result = -1;
    {
        mvx::tool::MainDialog dialog;
        QTimer::singleShot(0, &dialog, [&] {
            sawItOpen = dialog.isVisible();
            dialog.reject();
        });
        result = dialog.exec();
        EXPECT_EQ(dialog.windowTitle().toStdString(), "Norvane ISP Tool V2.2");
    }
    EXPECT_TRUE(sawItOpen);
    EXPECT_EQ(result, QDialog::Rejected);
    expectNoVisibleWindows();
}
