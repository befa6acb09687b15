// The Load LD Files dialog's model: the set-up by mode, which controls work,
// and Load through the picker.
#include "settings_dialogs/load_ld_files.hpp"

#include <gtest/gtest.h>

#include <deque>

using namespace mvx::settings_dialogs;
namespace tool = mvx::tool;

namespace {

class PickerUi final : public tool::ShellUi {
public:
    void showMessage(std::string_view text, std::string_view) override { ADD_FAILURE() << "message: " << text; }
    tool::Answer ask(std::string_view text, std::string_view, tool::Buttons) override
    {
        ADD_FAILURE() << "question: " << text;
        return tool::Answer::Cancel;
    }
    std::optional<std::string> chooseSaveFile(const tool::FileFilter&) override { return std::nullopt; }
    std::optional<std::string> chooseOpenFile(const tool::FileFilter&) override { return std::nullopt; }
    std::optional<std::string> chooseOpenFileAmong(const std::vector<tool::PatternFilter>& filters) override
    {
        offered.push_back(filters);
        if (choices.empty())
            return std::nullopt;
        auto choice = choices.front();
        choices.pop_front();
        return choice;
    }
    std::deque<std::optional<std::string>> choices;
    std::vector<std::vector<tool::PatternFilter>> offered;
};

const LdPaths kPaths{"/ld/a.hex", "", "/ld/c.bin", "/ld/d.h01"};

}  // namespace

TEST(LoadLdFiles, SetUpKeepsThePathsOnlyInOneToFourModesAndLoadWorksOnlyWhenEditable)
{
    struct Case {
        int mode;
        bool editable;
        bool pathsKept;
        bool loadEnabled;
    };
    const Case cases[] = {
        {3, true, true, true},   {5, true, true, true},   {4, false, true, false},
        {0, true, false, false}, {2, false, false, false}, {6, true, false, false}, {-1, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("mode " + std::to_string(c.mode) + (c.editable ? " editable" : " read-only"));
        PickerUi ui;
        ui.choices = {"/new/m2_1.hex"};
        LoadLdFilesModel model(c.mode, c.editable, kPaths);
        EXPECT_EQ(model.paths(), c.pathsKept ? kPaths : LdPaths{});
        for (int k = 0; k < kLdSlots; ++k) {
            const auto s = static_cast<std::size_t>(k);
            const LdControlState edit = model.state(ld_names::edits[s]);
            EXPECT_EQ(edit.text, model.paths()[s]);
            EXPECT_TRUE(edit.readOnly);
            EXPECT_TRUE(edit.enabled);
            EXPECT_TRUE(model.state(ld_names::labels[s]).enabled);
            EXPECT_EQ(model.state(ld_names::labels[s]).text, kLdSlotCaptions[s]);
            EXPECT_EQ(model.state(ld_names::loadButtons[s]).enabled, c.loadEnabled);
        }
        EXPECT_FALSE(model.state(ld_names::exitButton).visible);
        EXPECT_TRUE(model.state(ld_names::okButton).enabled);

        // Load of slot 4: the picker only where the buttons work; OK hands back the result.
        const LdPaths before = model.paths();
        EXPECT_EQ(model.load(3, ui), c.loadEnabled);
        LdPaths expected = before;
        if (c.loadEnabled)
            expected[3] = "/new/m2_1.hex";
        EXPECT_EQ(model.ok(), expected);
        EXPECT_EQ(model.state(ld_names::edits[3]).text, expected[3]);
        ASSERT_EQ(ui.offered.size(), c.loadEnabled ? 1u : 0u);
        if (c.loadEnabled) {
            ASSERT_EQ(ui.offered[0].size(), 2u);
            EXPECT_EQ(ui.offered[0][0].description, "hex Files");
            EXPECT_EQ(ui.offered[0][0].patterns, std::vector<std::string>{"*.h*"});
            EXPECT_EQ(ui.offered[0][1].description, "bin Files");
            EXPECT_EQ(ui.offered[0][1].patterns, std::vector<std::string>{"*.bin"});
        }
    }
}

TEST(LoadLdFiles, CancelledPickerAndSlotsOutsideOneToFourChangeNothing)
{
    PickerUi ui;
    ui.choices = {std::nullopt};
    LoadLdFilesModel model(4, true, kPaths);
    EXPECT_FALSE(model.load(0, ui));
    EXPECT_FALSE(model.load(4, ui));
    EXPECT_FALSE(model.load(-1, ui));
    EXPECT_EQ(model.ok(), kPaths);
    EXPECT_EQ(ui.offered.size(), 1u);
}
