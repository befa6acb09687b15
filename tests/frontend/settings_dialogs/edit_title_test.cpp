// The Edit Title model: every change reaches the page as notification 1,
// a title over the limit is refused with the standard prompt and sends
// nothing, "Default" sends the tool's own title, OK hands the title back.
#include "settings_dialogs/edit_title.hpp"

#include <gtest/gtest.h>

#include "settings_receiver_support.hpp"
#include "shell_test_support.hpp"

using namespace mvx::settings_dialogs;
namespace tool = mvx::tool;

TEST(EditTitle, ChangesReachThePageAtOnceAndOverlongTextIsRefused)
{
    const std::string longest(kTitleMaxLength, 'x');
    const std::string tooLong(kTitleMaxLength + 1, 'x');
    struct Step {
        std::string typed;        // "<default>" presses Default
        std::string title;        // the model's title after the step
        bool sent;
        std::string prompt;
    };
    const Step steps[] = {
        {"Line 7", "Line 7", true, ""},
        {"", "", true, ""},
        {longest, longest, true, ""},
        {tooLong, longest, false, "Please enter no more than 255 characters."},
        {"<default>", std::string(tool::kDefaultUserTitle), true, ""},
    };
    mvx::test::ScriptedUi ui;
    mvx::test::RecordingPage page;
    EditTitleModel model("Bench A", ui, page);
    for (const Step& step : steps) {
        page.received.clear();
        ui.messages.clear();
        const DialogResult result = step.typed == "<default>" ? model.setDefault() : model.edited(step.typed);
        EXPECT_EQ(model.title(), step.title) << step.typed.size();
        EXPECT_EQ(page.titles(), step.sent ? std::vector<std::string>{step.title} : std::vector<std::string>{});
        EXPECT_EQ(result.shown, step.prompt.empty() ? std::vector<std::string>{} : std::vector<std::string>{step.prompt});
        EXPECT_EQ(ui.messageTexts(), result.shown);
    }
    EXPECT_EQ(model.accept(tooLong), std::nullopt) << "OK keeps the dialog open on a refused text";
    EXPECT_EQ(model.accept("Line 8"), "Line 8");
}
