#include "app/page_description.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialog>
#include <QFile>
#include <QJsonDocument>
#include <QPushButton>
#include <QJsonArray>
#include <QLineEdit>
#include <QVBoxLayout>

#include "temp_folder.hpp"

using namespace mvx::tool;

TEST(ToolArguments, DescribeSwitchIsTakenOutOfTheCommandLine)
{
    struct Case {
        std::vector<const char*> argv;
        std::vector<std::string> commandLine;
        std::optional<std::string> describePath;
        bool error;
    };
    const std::vector<Case> cases{
        {{"tool"}, {}, std::nullopt, false},
        {{"tool", "-nosave"}, {"-nosave"}, std::nullopt, false},
        {{"tool", "--describe-page", "/tmp/p.json", "nosave"}, {"nosave"}, "/tmp/p.json", false},
        {{"tool", "zipset_exe/x", "--describe-page=/tmp/p.json"}, {"zipset_exe/x"}, "/tmp/p.json", false},
        {{"tool", "--describe-page"}, {}, "", true},
        {{"tool", "--describe-page="}, {}, "", true},
        {{"tool", "--describe-page=a", "--describe-page", "b"}, {}, "b", true},
    };
    for (const Case& c : cases) {
        const ToolArguments got = splitToolArguments(static_cast<int>(c.argv.size()), c.argv.data());
        const std::string where = c.argv.size() > 1 ? c.argv.back() : "(none)";
        EXPECT_EQ(got.commandLine, c.commandLine) << where;
        EXPECT_EQ(got.describePath, c.describePath) << where;
        EXPECT_EQ(!got.error.empty(), c.error) << where;
    }
}

TEST(PageDescription, ListsTheNamedWidgetsWithWhatTheyShow)
{
    QDialog page;
    page.setObjectName("customerPage");
    page.setWindowTitle("Line 7");
    auto* layout = new QVBoxLayout(&page);
    auto* name = new QLineEdit("/fw/bank0.hex", &page);
    name->setObjectName("row0NameEdit");
    auto* tick = new QCheckBox("Bank0", &page);
    tick->setObjectName("row0CheckBox");
    tick->setChecked(true);
    tick->setEnabled(false);
    auto* hidden = new QLineEdit("x", &page);
    hidden->setObjectName("addressEdit");
    hidden->setVisible(false);
    layout->addWidget(name);
    layout->addWidget(tick);
    layout->addWidget(hidden);
    layout->addWidget(new QLineEdit("unnamed", &page));
    page.show();

    const QJsonObject described = describeWindow(page);
    EXPECT_EQ(described.value("objectName").toString(), "customerPage");
    EXPECT_EQ(described.value("title").toString(), "Line 7");
    const QJsonArray widgets = described.value("widgets").toArray();
    ASSERT_EQ(widgets.size(), 3) << "unnamed widgets are left out";
    const auto geometry = [&page](const QWidget* w) {
        const QPoint at = w->mapTo(&page, QPoint(0, 0));
        return QJsonArray{at.x(), at.y(), w->width(), w->height()};
    };
    EXPECT_EQ(widgets[0].toObject(), (QJsonObject{{"name", "row0NameEdit"}, {"class", "QLineEdit"},
                                                  {"visible", true}, {"enabled", true}, {"text", "/fw/bank0.hex"},
                                                  {"geometry", geometry(name)}}));
    EXPECT_EQ(widgets[1].toObject(), (QJsonObject{{"name", "row0CheckBox"}, {"class", "QCheckBox"}, {"visible", true},
                                                  {"enabled", false}, {"text", "Bank0"}, {"checked", true},
                                                  {"geometry", geometry(tick)}}));
    EXPECT_GT(geometry(tick)[1].toInt(), geometry(name)[1].toInt()) << "the tick lies below the name";
    EXPECT_FALSE(widgets[2].toObject().value("visible").toBool());
}

TEST(PageDescription, WindowIsDescribedAgainWhenANamedWidgetIsShown)
{
    mvx::test::TempFolder folder;
    const QString path = QString::fromStdString(folder.file("pages.json"));
    PageDescriber describer(path);
    ASSERT_TRUE(describer.start()) << describer.error().toStdString();
    qApp->installEventFilter(&describer);
    QDialog page;
    page.setObjectName("customerPage");
    auto* layout = new QVBoxLayout(&page);
    auto* button = new QPushButton("Flash Protect", &page);
    button->setObjectName("flashProtectButton");
    button->setVisible(false);
    layout->addWidget(new QLineEdit(&page));
    layout->addWidget(button);
    const auto described = [&path] {
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::ReadOnly));
        return QJsonDocument::fromJson(file.readAll()).array();
    };
    page.show();
    QCoreApplication::processEvents();
    button->setVisible(true);
    QCoreApplication::processEvents();
    qApp->removeEventFilter(&describer);
    page.close();

    const QJsonArray windows = described();
    ASSERT_EQ(windows.size(), 1) << "one window, its entry rewritten";
    const QJsonObject entry = windows[0].toObject().value("widgets").toArray()[0].toObject();
    EXPECT_EQ(entry.value("name").toString(), "flashProtectButton");
    EXPECT_TRUE(entry.value("visible").toBool());
    EXPECT_GT(entry.value("geometry").toArray()[3].toInt(), 0);
}
