// The Advanced Setting and Edit Title dialogs opened from the customer page's
// buttons, offscreen: what they send reaches the page at once, Esc keeps it,
// Cancel in Edit Title takes the live title back, an export reports its
// failed copies.
#include "app/advanced_setting_dialog.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <functional>

#include "app/customer_isp_page.hpp"
#include "app/edit_title_dialog.hpp"
#include "shell_test_support.hpp"
#include "widget_lookup.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
namespace sd = mvx::settings_dialogs;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;
using mvx::test::child;

namespace {

class SettingsDialogs : public ::testing::Test {
protected:
    SettingsDialogs()
    {
        writeWholeFile(install.where.programPath, "program");
        fs::create_directories(install.where.workFolder);
        fs::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
    }
    ~SettingsDialogs() override
    {
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "a dialog was left open";
    }


    // Once the modal dialog `name` is open, acts on it; the action must close it.
    static void whenOpen(std::string_view name, std::function<void(QDialog&)> act)
    {
        const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
        QTimer::singleShot(0, [wanted, act] {
            QWidget* open = nullptr;
            const bool found = QTest::qWaitFor([&] {
                open = QApplication::activeModalWidget();
                return open != nullptr && open->objectName() == wanted;
            }, 5000);
            ASSERT_TRUE(found) << wanted.toStdString() << " did not open";
            auto* dialog = qobject_cast<QDialog*>(open);
            act(*dialog);
            if (dialog->isVisible()) {
                ADD_FAILURE() << wanted.toStdString() << " is still open";
                dialog->reject();
            }
        });
    }

    // Runs the page with whileOpen, then closes it.
    void runPage(CustomerIspPage& page, const std::function<void()>& whileOpen)
    {
        QTimer::singleShot(0, &page, [&page, whileOpen] {
            whileOpen();
            page.done(QDialog::Rejected);
        });
        page.exec();
    }

    void openAdvancedSetting(CustomerIspPage& page, std::function<void(QDialog&)> act)
    {
        whenOpen(sd::kAdvancedSettingDialogName, std::move(act));
        child<QPushButton>(page, cp::names::advancedSettingButton)->click();
    }

    mvx::test::ScratchInstall install;
    mvx::test::ScriptedUi ui;
    EngineBinding engine{install.where, ui};
};

}  // namespace

TEST_F(SettingsDialogs, EditTitleTypingRetitlesThePageAtOnceAndCancelTakesItBack)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    const QString before = page.windowTitle();
    QString whileTyping;
    QString afterCancel;
    int caretOnOpening = -1;
    runPage(page, [&] {
        openAdvancedSetting(page, [&](QDialog& advanced) {
            whenOpen(kEditTitleDialogName, [&](QDialog& title) {
                auto* edit = child<QLineEdit>(title, kTitleEditName);
                // The edit takes the focus a moment after opening, caret at the end.
                EXPECT_TRUE(QTest::qWaitFor([edit] { return edit->hasFocus() && !edit->hasSelectedText(); }, 2000));
                caretOnOpening = edit->cursorPosition();
                QTest::keyClicks(edit, " Line 3");
                whileTyping = page.windowTitle();
                child<QPushButton>(title, kDialogCancelButtonName)->click();
            });
            child<QPushButton>(advanced, "changeTitleButton")->click();
            afterCancel = page.windowTitle();
            QTest::keyClick(&advanced, Qt::Key_Escape);
        });
    });
    EXPECT_EQ(caretOnOpening, static_cast<int>(kDefaultUserTitle.size())) << "the caret opens at the end";
    EXPECT_TRUE(whileTyping.startsWith(QString::fromUtf8(kDefaultUserTitle.data()) + " Line 3"))
        << whileTyping.toStdString();
    EXPECT_EQ(afterCancel, before);
    EXPECT_EQ(page.windowTitle(), before);
}

TEST_F(SettingsDialogs, EscAfterChangesKeepsThemInThePage)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    ui.answers = {Answer::No};   // not saved when the page closes
    int autoRunWhileOpen = -1;
    runPage(page, [&] {
        openAdvancedSetting(page, [&](QDialog& advanced) {
            // HDCP key fire on: its groups open, the options it excludes close.
            child<QCheckBox>(advanced, "hdcpFireCheckBox")->click();
            EXPECT_TRUE(child<QCheckBox>(advanced, "hdcpFireCheckBox")->isChecked());
            EXPECT_TRUE(child<QRadioButton>(advanced, "hdcpKeyFromFolderRadio")->isEnabled());
            EXPECT_FALSE(child<QCheckBox>(advanced, "showMcuCheckBox")->isEnabled());
            child<QCheckBox>(advanced, "hdcpFireCheckBox")->click();
            child<QCheckBox>(advanced, "autoRunCheckBox")->click();
            child<QCheckBox>(advanced, "showMcuCheckBox")->click();
            autoRunWhileOpen = page.model().optionModel().advanced().enable_autorunisp;
            QTest::keyClick(&advanced, Qt::Key_Escape);
        });
    });
    EXPECT_EQ(autoRunWhileOpen, 1) << "the page has each change at once";
    const AdvancedSettings& kept = page.model().optionModel().advanced();
    EXPECT_EQ(kept.enable_autorunisp, 1);
    EXPECT_EQ(kept.show_mcu, 1);
    EXPECT_TRUE(page.model().optionModel().settingsDirty());
}

TEST_F(SettingsDialogs, ExportOfSavedFirmwareReportsAFailedCopyAndNamesNoSuccess)
{
    // The package names a firmware file whose saved copy is not in the work folder.
    writeWholeFile(install.where.settingsPath(),
                   "[ad_setting]\nsaved_hex=1\n[Saved_HEX]\nhexfile1=bank0.hex\nhexfile2=bank1.hex\n");
    writeWholeFile(install.where.workFile("hexfile2"), ":00000001FF\n");
    const std::string out = install.root.file("out");
    fs::create_directories(out);
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    ui.folderChoices = {out, out};
    runPage(page, [&] {
        openAdvancedSetting(page, [&](QDialog& advanced) {
            auto* exportButton = child<QPushButton>(advanced, "exportSavedFwButton");
            EXPECT_TRUE(exportButton->isEnabled());
            exportButton->click();
            writeWholeFile(install.where.workFile("hexfile1"), ":00000001FF\n");
            exportButton->click();
            advanced.reject();
        });
    });
    ASSERT_EQ(ui.messages.size(), 2u);
    EXPECT_EQ(ui.messages[0].text.rfind("Export failed:", 0), 0u) << ui.messages[0].text;
    EXPECT_NE(ui.messages[0].text.find("hexfile1"), std::string::npos) << ui.messages[0].text;
    EXPECT_EQ(ui.messages[1].text, std::string(sd::kExportDone));
    EXPECT_EQ(ui.folderTitles, (std::vector<std::string>{"Select save folder", "Select save folder"}));
    EXPECT_TRUE(fs::exists(fs::path(out) / "bank0.hex"));
    EXPECT_TRUE(fs::exists(fs::path(out) / "bank1.hex"));
}

TEST_F(SettingsDialogs, ShowLdFilesOpensTheSavedLdNamesReadOnly)
{
    // A four-board serial flash job packed with its LD files.
    writeWholeFile(install.where.settingsPath(),
                   "[ad_setting]\nsaved_ld=1\n[Setting]\nmcu=5\n"
                   "[Saved_LD]\nSFfile1=m1_0.hex\nSFfile2=m1_1.hex\nSFfile3=m2_0.hex\nSFfile4=m2_1.hex\n");
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    std::vector<std::string> shown;
    std::vector<bool> loadEnabled;
    runPage(page, [&] {
        openAdvancedSetting(page, [&](QDialog& advanced) {
            whenOpen("loadLdFilesDialog", [&](QDialog& ld) {
                for (int slot = 1; slot <= 4; ++slot) {
                    const std::string n = "ldSlot" + std::to_string(slot);
                    shown.push_back(child<QLineEdit>(ld, n + "Edit")->text().toStdString());
                    loadEnabled.push_back(child<QPushButton>(ld, n + "LoadButton")->isEnabled());
                }
                QTest::keyClick(&ld, Qt::Key_Escape);
            });
            child<QPushButton>(advanced, "showLdFilesButton")->click();
            advanced.reject();
        });
    });
    EXPECT_EQ(shown, (std::vector<std::string>{"m1_0.hex", "m1_1.hex", "m2_0.hex", "m2_1.hex"}));
    EXPECT_EQ(loadEnabled, std::vector<bool>(4, false));
}
