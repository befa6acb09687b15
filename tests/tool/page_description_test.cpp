#include "app/page_description.hpp"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDialog>
#include <QJsonArray>
#include <QLineEdit>
#include <QVBoxLayout>

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
    EXPECT_EQ(widgets[0].toObject(), (QJsonObject{{"name", "row0NameEdit"}, {"class", "QLineEdit"},
                                                  {"visible", true}, {"enabled", true}, {"text", "/fw/bank0.hex"}}));
    EXPECT_EQ(widgets[1].toObject(), (QJsonObject{{"name", "row0CheckBox"}, {"class", "QCheckBox"}, {"visible", true},
                                                  {"enabled", false}, {"text", "Bank0"}, {"checked", true}}));
    EXPECT_FALSE(widgets[2].toObject().value("visible").toBool());
}
