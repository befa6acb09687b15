// The Flash Protect dialog, offscreen, opened from the customer page's
// button: what it draws, what OK and Cancel leave in the page and in the
// work folder's settings file.
#include "app/flash_protect_dialog.hpp"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>
#include <QTimer>
#include <filesystem>

#include "app/customer_isp_page.hpp"
#include "app/named_widgets.hpp"
#include "run_fixtures.hpp"
#include "shell/settings_store.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
using mvx::test::ScratchInstall;
using mvx::test::ScriptedUi;

namespace {

struct Drawn {
    const char* control;
    bool shown;
    bool enabled;
    bool checked;
};

struct Case {
    const char* what;
    FlashProtectSettings opened;      // in the settings file before the page opens
    std::vector<const char*> clicks;
    std::vector<Drawn> drawn;         // after the clicks
    bool ok;
    FlashProtectSettings after;       // in the page and the settings file
};

}  // namespace

TEST(FlashProtectDialog, OkAndCancelFromThePageButtonLeaveTheWordsInThePageAndTheSettingsFile)
{
    const Case cases[] = {
        {"OK takes series, pin and level", {1, 0, 0, 1}, {"seriesTxqRadio", "txqPin4Radio", "valueLowRadio"},
         {{"txqPin4Radio", true, true, true}, {"qPinGroupBox", false, false, false}}, true, {1, 2, 4, 0}},
        {"TXQ pin 4 to Q_series keeps pin 4 with no radio on", {1, 2, 4, 1}, {"seriesQRadio"},
         {{"qPin0Radio", true, true, false}, {"qPin3Radio", true, true, false}, {"txqPinGroupBox", false, false, false}},
         true, {1, 0, 4, 1}},
        {"Cancel keeps the toggle it sent, not what followed", {0, 0, 0, 1},
         {"flashProtectCheckBox", "seriesTxmRadio", "txmPin2Radio", "valueLowRadio"},
         {{"txmPinGroupBox", true, true, false}, {"txmPin2Radio", true, true, true}}, false, {1, 0, 0, 1}},
        {"off on TXQ: its list greyed, the others hidden", {0, 2, 1, 1}, {},
         {{"txqPin1Radio", true, false, true}, {"txqPinGroupBox", true, false, false},
          {"qPinGroupBox", false, false, false}, {"txmPinGroupBox", false, false, false},
          {"seriesTxqRadio", true, false, true}, {"valueHighRadio", true, false, true}},
         false, {0, 2, 1, 1}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchInstall install;
        ScriptedUi ui;
        mvx::test::writeWholeFile(install.where.programPath, "program");
        std::filesystem::create_directories(install.where.workFolder);
        std::filesystem::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
        const std::string ini = install.where.settingsPath();
        CustomerSettings settings = loadCustomerSettings(ini, install.where.programFolder());
        settings.mcu = cp::kSerialFlash;   // the button serves serial flash jobs
        settings.protect = c.opened;
        ASSERT_FALSE(saveCustomerSettings(ini, settings));
        EngineBinding engine{install.where, ui};
        CustomerIspPage page(install.where, engine, ui, cp::kFullView);

        bool opened = false;
        QTimer::singleShot(0, &page, [&] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            opened = dialog->objectName() == kFlashProtectDialogName;
            const auto button = [dialog](const char* name) { return dialog->findChild<QAbstractButton*>(name); };
            for (const char* click : c.clicks)
                button(click)->click();
            for (const Drawn& d : c.drawn) {
                QWidget* w = dialog->findChild<QWidget*>(d.control);
                ASSERT_NE(w, nullptr) << d.control;
                EXPECT_EQ(w->isVisibleTo(dialog), d.shown) << d.control;
                EXPECT_EQ(w->isEnabled(), d.enabled) << d.control;
                if (auto* b = qobject_cast<QAbstractButton*>(w)) {
                    EXPECT_EQ(b->isChecked(), d.checked) << d.control;
                }
            }
            button(c.ok ? "okButton" : "cancelButton")->click();
        });
        page.findChild<QPushButton*>(qname(cp::names::flashProtectButton))->click();

        EXPECT_TRUE(opened);
        const auto expected = protectWords(c.after);
        EXPECT_EQ(protectWords(page.model().optionModel().settings().protect), expected);
        EXPECT_EQ(protectWords(loadCustomerSettings(ini, install.where.programFolder()).protect), expected);
        EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    }
}
