// The Load LD Files dialog, offscreen: opened by the customer page's 1TO4
// radio and answered through its own controls, and read-only as "Show LD
// Files" opens it.
#include "app/load_ld_files_dialog.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/customer_isp_page.hpp"
#include "app/named_widgets.hpp"
#include "mvx/platform/ini.hpp"
#include "shell_test_support.hpp"
#include "widget_lookup.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
namespace sd = mvx::settings_dialogs;
using mvx::test::readWholeFile;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
using mvx::test::child;

namespace {


// Acts on the Load LD Files dialog once it is the active modal window;
// a dialog that never comes fails the test.
void whenDialogOpens(std::function<void(QDialog&)> act, int triesLeft = 500)
{
    QTimer::singleShot(10, [act = std::move(act), triesLeft]() mutable {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog != nullptr && dialog->objectName() == qname(sd::ld_names::dialog)) {
            act(*dialog);
            return;
        }
        if (triesLeft == 0) {
            ADD_FAILURE() << "the Load LD Files dialog did not open";
            return;
        }
        whenDialogOpens(std::move(act), triesLeft - 1);
    });
}

class LdDialog : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog was left open"; }
    mvx::test::ScratchInstall install;
    mvx::test::ScriptedUi ui;
};

}  // namespace

TEST_F(LdDialog, OneToFourRadioLoadsTheChosenFilesIntoTheSettingsAndTheWorkFolder)
{
    writeWholeFile(install.where.programPath, "program");
    fs::create_directories(install.where.workFolder);
    fs::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
    EngineBinding engine{install.where, ui};
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    child<QRadioButton>(page, cp::names::mcuR5312Radio)->click();

    const std::string m10 = install.root.file("m1_0.hex");
    const std::string m21 = install.root.file("m2_1.bin");
    writeWholeFile(m10, ":00000001FF\n");
    writeWholeFile(m21, std::string("\x01\x02\x03", 3));
    ui.openChoices = {m10, std::nullopt, m21};
    std::vector<std::string> shownEdits;
    whenDialogOpens([&](QDialog& dialog) {
        EXPECT_TRUE(child<QLineEdit>(dialog, sd::ld_names::edits[0])->isReadOnly());
        child<QPushButton>(dialog, sd::ld_names::loadButtons[0])->click();
        child<QPushButton>(dialog, sd::ld_names::loadButtons[1])->click();   // cancelled picker
        child<QPushButton>(dialog, sd::ld_names::loadButtons[3])->click();
        for (std::string_view edit : sd::ld_names::edits)
            shownEdits.push_back(child<QLineEdit>(dialog, edit)->text().toStdString());
        child<QPushButton>(dialog, sd::ld_names::okButton)->click();
    });
    child<QRadioButton>(page, cp::names::oneToFourRadio)->click();

    EXPECT_EQ(shownEdits, (std::vector<std::string>{m10, "", "", m21}));
    EXPECT_TRUE(ui.openChoices.empty());
    const std::string ini = install.where.settingsPath();
    const auto key = [&ini](std::string_view section, std::string_view name) {
        return mvx::platform::readProfileString(ini, section, name, "<none>");
    };
    EXPECT_EQ(key("Setting", "5312_ASS1"), m10);
    EXPECT_EQ(key("Setting", "5312_ASS4"), m21);
    EXPECT_EQ(key("Setting", "5312_1"), m10);
    EXPECT_EQ(key("Setting", "5312_4"), m21);
    EXPECT_EQ(key("Saved_LD", "5312file4"), "m2_1.bin");
    EXPECT_EQ(readWholeFile(install.where.workFile("5312file1")), readWholeFile(m10));
    EXPECT_EQ(readWholeFile(install.where.workFile("5312file4")), readWholeFile(m21));
    EXPECT_FALSE(fs::exists(install.where.workFile("5312file2")));
    EXPECT_TRUE(page.model().ldFilesChanged());
    EXPECT_TRUE(child<QRadioButton>(page, cp::names::oneToFourRadio)->isChecked());
    EXPECT_TRUE(ui.messages.empty()) << ui.messages.front().text;
}

TEST_F(LdDialog, ShownReadOnlyOrOutsideOneToFourItOffersNoLoadAndEscapeIsCancel)
{
    struct Case {
        int mode;
        bool editable;
        bool pathsShown;
    };
    const std::array<std::string, 4> paths{"/ld/a.hex", "/ld/b.hex", "", "/ld/d.bin"};
    for (const Case& c : {Case{0, false, false}, Case{2, true, false}, Case{5, false, true}}) {
        SCOPED_TRACE("mode " + std::to_string(c.mode));
        bool seen = false;
        whenDialogOpens([&](QDialog& dialog) {
            seen = true;
            for (std::size_t k = 0; k < paths.size(); ++k) {
                EXPECT_EQ(child<QLineEdit>(dialog, sd::ld_names::edits[k])->text().toStdString(),
                          c.pathsShown ? paths[k] : "");
                EXPECT_FALSE(child(dialog, sd::ld_names::loadButtons[k])->isEnabled());
                EXPECT_TRUE(child(dialog, sd::ld_names::labels[k])->isEnabled());
            }
            EXPECT_FALSE(child(dialog, sd::ld_names::exitButton)->isVisible());
            QTest::keyClick(&dialog, Qt::Key_Escape);
        });
        EXPECT_EQ(runLoadLdFilesDialog(nullptr, ui, c.mode, c.editable, paths), std::nullopt);
        EXPECT_TRUE(seen);
    }
}
