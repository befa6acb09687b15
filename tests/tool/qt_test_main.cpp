// main() for the widget tests: one QApplication for the whole binary, on the
// offscreen platform unless the caller chose another.  A listener fails any
// test that leaves a dialog or message box open, naming it, and closes it so
// the next test starts clean.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <cstdlib>

namespace {

class OpenDialogCheck final : public testing::EmptyTestEventListener {
    void OnTestEnd(const testing::TestInfo&) override
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<QDialog*>(widget);
            if (dialog == nullptr || !dialog->isVisible())
                continue;
            ADD_FAILURE() << "a " << dialog->metaObject()->className() << " is still open at the end of the test: '"
                          << dialog->objectName().toStdString() << "', titled '"
                          << dialog->windowTitle().toStdString() << "'";
            dialog->reject();
            dialog->close();
        }
    }
};

}  // namespace

int main(int argc, char** argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    testing::InitGoogleTest(&argc, argv);
    QApplication application(argc, argv);
    // Appended last, it sees each test's end before the printer reports it.
    testing::UnitTest::GetInstance()->listeners().Append(new OpenDialogCheck);
    return RUN_ALL_TESTS();
}
