#include "app/window_raiser.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>

#include "mvx/platform/single_instance.hpp"
#include "temp_folder.hpp"

using namespace mvx::tool;
using mvx::platform::SingleInstance;

namespace {

void showMinimisedTitled(QDialog& window, const QString& title)
{
    window.setWindowTitle(title);
    window.show();
    window.setWindowState(Qt::WindowMinimized);
    QApplication::processEvents();
}

// Pumps events until done() holds or a second has passed.
template <typename Done>
bool pumpUntil(Done done)
{
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < 1000)
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

}  // namespace

// ---- finding and raising the window ---------------------------------------------------------------

TEST(WindowRaiser, ExactTitleRestoresThatWindowOnly)
{
    QDialog wanted;
    QDialog other;
    showMinimisedTitled(wanted, "Line 7 tool 2024-3-7 ");
    showMinimisedTitled(other, "Line 7 tool 2024-3-7  (old)");
    EXPECT_EQ(raiseWindowTitled("Line 7 tool 2024-3-7 "), &wanted);
    EXPECT_FALSE(wanted.isMinimized());
    EXPECT_TRUE(other.isMinimized());
}

TEST(WindowRaiser, TitleWithoutTheDateFindsTheWindowThatStartsWithIt)
{
    QDialog page;
    showMinimisedTitled(page, "Norvane ISP Tool V2.2 2024-3-7 ");
    EXPECT_EQ(raiseWindowTitled("Norvane ISP Tool V2.2"), &page);
    EXPECT_FALSE(page.isMinimized());
}

TEST(WindowRaiser, UnknownOrEmptyTitleRaisesNothing)
{
    QDialog page;
    showMinimisedTitled(page, "Line 7");
    EXPECT_EQ(raiseWindowTitled("Line 8"), nullptr);
    EXPECT_EQ(raiseWindowTitled(""), nullptr);
    EXPECT_TRUE(page.isMinimized());
    QDialog hidden;
    hidden.setWindowTitle("Hidden");
    EXPECT_EQ(raiseWindowTitled("Hidden"), nullptr);
}

// ---- requests from a second instance -------------------------------------------------------------

TEST(RaiseRequests, SecondInstanceRaisesTheFirstInstancesWindow)
{
    mvx::test::TempFolder runtime;
    SingleInstance first("MVX_ISP", runtime.path());
    ASSERT_EQ(first.acquire(), SingleInstance::Outcome::First);
    RaiseRequestListener listener(first);
    QDialog page;
    showMinimisedTitled(page, "Retitled by the operator 2024-3-7 ");
    QStringList handled;
    QObject::connect(&listener, &RaiseRequestListener::requestHandled,
                     [&](const QString& title, QWidget* raised) {
                         handled << title;
                         EXPECT_EQ(raised, &page);
                     });

    SingleInstance second("MVX_ISP", runtime.path());
    ASSERT_EQ(second.acquire(), SingleInstance::Outcome::AlreadyRunning);
    ASSERT_TRUE(second.requestRaise("Retitled by the operator 2024-3-7 "));
    ASSERT_TRUE(pumpUntil([&] { return !handled.isEmpty(); }));
    EXPECT_EQ(handled, QStringList{"Retitled by the operator 2024-3-7 "});
    EXPECT_FALSE(page.isMinimized());
}
