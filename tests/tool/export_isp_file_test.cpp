// Export ISP File from the customer page's button, offscreen: the exported
// job runs from the assembly page on the virtual board, and a file that
// cannot be written is reported and leaves nothing behind.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <filesystem>
#include <set>

#include "app/assembly_isp_page.hpp"
#include "app/customer_isp_page.hpp"
#include "app/named_widgets.hpp"
#include "run_fixtures.hpp"
#include "shell/packages.hpp"
#include "shell/settings_store.hpp"
#include "shell_test_support.hpp"

using namespace mvx::tool;
namespace cp = mvx::customer_page;
namespace ap = mvx::assembly_page;
using mvx::test::readWholeFile;
using mvx::test::writeWholeFile;
namespace fs = std::filesystem;

namespace {

class ExportIspFile : public ::testing::Test {
protected:
    // A serial flash job of one raw bank on the Norvane IIC cable, its copy
    // in the work folder as the page keeps it.
    ExportIspFile()
    {
        writeWholeFile(install.where.programPath, "program");
        fs::create_directories(install.where.workFolder);
        fs::copy_file(MVX_ENGINE_LIBRARY, install.where.workFile("ISP__PSI.dll"));
        const std::string bank = install.root.file("bank0.bin");
        writeWholeFile(bank, image);
        writeWholeFile(install.where.workFile("hexfile1"), image);
        const std::string ini = install.where.settingsPath();
        CustomerSettings settings = loadCustomerSettings(ini, install.where.programFolder());
        settings.mcu = MVX_OP_SERIAL_FLASH;
        ModeOptions& mode = settings.current();
        mode.interface = MVX_ADAPTER_NORVANE_IIC;
        mode.brand = MVX_BRAND_WINBOND;
        mode.ispaddr = 1;
        mode.ispfiletype = 0;
        mode.filecheck = 1;
        settings.hexPaths[0] = bank;
        settings.saved.hex[0] = "bank0.bin";
        EXPECT_FALSE(saveCustomerSettings(ini, settings));
        EXPECT_FALSE(saveFileNames(ini, settings));
    }

    void clickExport()
    {
        CustomerIspPage page(install.where, engine, ui, cp::kFullView);
        page.findChild<QPushButton*>(qname(cp::names::exportIspFileButton))->click();
    }

    mvx::test::ScratchInstall install;
    mvx::test::ScriptedUi ui;
    EngineBinding engine{install.where, ui};
    std::string image = mvx::test::bytesOfLength(5000, 3);
};

std::set<std::string> entriesOf(const std::string& folder)
{
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    return names;
}

}  // namespace

TEST_F(ExportIspFile, ExportedJobRunsFromTheAssemblyPageOnTheVirtualBoard)
{
    // An existing file: No picks again; the new name gets ".rsp".
    const std::string old = install.root.file("old.rsp");
    writeWholeFile(old, "keep");
    ui.saveChoices = {old, install.root.file("line9")};
    ui.answers = {Answer::No};
    clickExport();
    const std::string rsp = install.root.file("line9.rsp");
    ASSERT_EQ(ui.messageTexts(), std::vector<std::string>{std::string(kExportSuccessMessage)});
    ASSERT_EQ(ui.questions.size(), 1u);
    EXPECT_EQ(ui.questions[0].text, kOverwriteQuestion);
    EXPECT_EQ(readWholeFile(old), "keep");
    ASSERT_TRUE(fs::exists(rsp));

    mvx::test::BoardFolder board;
    AssemblyIspPage page(install.where, engine, ui);
    ui.messages.clear();
    QTimer::singleShot(0, &page, [&] {
        ui.openChoices.push_back(rsp);
        page.findChild<QPushButton*>(qname(ap::names::loadIspFileButton))->click();
        ui.answers.push_back(Answer::Yes);   // one target
        page.findChild<QRadioButton*>(qname(ap::names::oneToOneRadio))->click();
        page.findChild<QPushButton*>(qname(ap::names::ispButton))->click();
        QElapsedTimer clock;
        clock.start();
        while (page.model().running() && clock.elapsed() < 20000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        page.reject();
    });
    page.exec();
    EXPECT_TRUE(ui.messages.empty()) << ui.messages[0].text;
    EXPECT_EQ(board.flash().substr(0, image.size()), image);
}

TEST_F(ExportIspFile, UnwritableTargetIsReportedAndLeavesNoFile)
{
    struct Case {
        const char* what;
        std::string chosen;
        std::vector<Answer> answers;
    };
    const std::string folderNamedLikeTheFile = install.root.file("taken.rsp");
    fs::create_directories(folderNamedLikeTheFile);
    const Case cases[] = {
        {"a missing folder", install.root.file("no such folder/job.rsp"), {}},
        {"a folder in the file's place", folderNamedLikeTheFile, {Answer::Yes}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ui.messages.clear();
        ui.saveChoices = {c.chosen};
        ui.answers.assign(c.answers.begin(), c.answers.end());
        CustomerIspPage page(install.where, engine, ui, cp::kFullView);
        const auto before = entriesOf(install.root.path());
        page.findChild<QPushButton*>(qname(cp::names::exportIspFileButton))->click();
        ASSERT_EQ(ui.messages.size(), 1u);
        EXPECT_NE(ui.messages[0].text, kExportSuccessMessage);
        EXPECT_NE(ui.messages[0].text.find("Export isp file failed"), std::string::npos) << ui.messages[0].text;
        // Nothing new beside the chosen name, no half-written file under it.
        EXPECT_EQ(entriesOf(install.root.path()), before);
        EXPECT_FALSE(fs::exists(install.root.file("no such folder")));
        EXPECT_TRUE(fs::is_directory(folderNamedLikeTheFile));
    }
}

TEST_F(ExportIspFile, ChangedOptionsAreSavedAndExported)
{
    CustomerIspPage page(install.where, engine, ui, cp::kFullView);
    page.findChild<QRadioButton*>(qname(cp::names::ispTypeEraseRadio))->click();
    ASSERT_TRUE(page.model().optionModel().settingsDirty());
    const std::string rsp = install.root.file("erase.rsp");
    ui.saveChoices = {rsp};
    page.findChild<QPushButton*>(qname(cp::names::exportIspFileButton))->click();
    EXPECT_EQ(ui.messageTexts(), std::vector<std::string>{std::string(kExportSuccessMessage)});

    EXPECT_FALSE(page.model().optionModel().settingsDirty()) << "saved, so closing asks nothing";
    const CustomerSettings saved = loadCustomerSettings(install.where.settingsPath(), install.where.programFolder());
    EXPECT_EQ(saved.modes[MVX_OP_SERIAL_FLASH].isptype, 1);
    const std::string unpacked = install.root.file("unpacked");
    ASSERT_TRUE(unpackIspFile(rsp, unpacked).ok);
    const ModeOptions exported = readUnprefixedModeOptions(unpacked + "/ISP__PSI.ini", MVX_OP_SERIAL_FLASH);
    EXPECT_EQ(exported.isptype, 1);
    EXPECT_EQ(exported.interface, MVX_ADAPTER_NORVANE_IIC);
}
