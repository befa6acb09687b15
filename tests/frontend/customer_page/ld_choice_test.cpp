// The customer page's 1TO4 and 1TO1 radios: the LD sets unified across the
// MCU types, the dialog's proposal, and what OK and Cancel leave in the
// settings file, the work folder and the page.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

#include "customer_page/page_model.hpp"
#include "mvx/platform/ini.hpp"
#include "shell_test_support.hpp"
#include "temp_folder.hpp"

using namespace mvx::customer_page;
using mvx::test::readWholeFile;
using mvx::test::writeWholeFile;
namespace tool = mvx::tool;
namespace platform = mvx::platform;

namespace {

class NoEngine final : public FileInfoSource {
public:
    std::optional<FileInfoAnswer> fileInfo(const FileInfoRequest&) override { return std::nullopt; }
};

// Answers the dialog with `answer` of what it was shown (nullopt: Cancel).
class ScriptedLdDialog final : public LdFilesDialog {
public:
    std::optional<LdSlots> choose(int mode, bool editable, const LdSlots& paths) override
    {
        shown.push_back({mode, editable, paths});
        return answer(paths);
    }
    struct Shown {
        int mode;
        bool editable;
        LdSlots paths;
    };
    std::function<std::optional<LdSlots>(const LdSlots&)> answer;
    std::vector<Shown> shown;
};

struct Page {
    mvx::test::TempFolder folder;
    mvx::test::ScriptedUi ui;
    NoEngine engine;
    CustomerPageModel model{PageFiles{ini(), folder.path(), folder.file("MVX_ISP_Tool"), folder.file("registry.ini")},
                            ui, engine};
    std::string ini() const { return folder.file("ISP__PSI.ini"); }
    // A file in the scratch folder whose bytes name it.
    std::string make(const std::string& name)
    {
        writeWholeFile(folder.file(name), "bytes of " + name);
        return folder.file(name);
    }
    std::optional<std::string> key(std::string_view section, std::string_view name) const
    {
        const auto doc = platform::loadIni(ini());
        return doc ? doc->value(section, name) : std::nullopt;
    }
};

using Keys = std::map<std::string, std::string>;   // "Section/key" -> value; "@name" is the made file's path

}  // namespace

TEST(OneToFour, TheDialogProposesTheUnifiedSetAndOkKeepsTheChoice)
{
    struct Case {
        std::string what;
        int mcu;
        bool savedLd;
        Keys before;                      // in the settings file before the page opens
        std::optional<Keys> chosen;       // slot "1".."4" -> "@file" chosen in the dialog; nullopt: Cancel
        int mode;                         // the dialog shown
        bool editable;
        LdSlots shown;                    // "@name" for a made file
        LdSlots current;                  // the type's current LD paths afterwards, in the page
        std::array<bool, 4> loaded;       // the type's flags afterwards
        Keys after;                       // keys the settings file holds afterwards ("-": missing)
        std::vector<int> copies;          // slots whose copy "<family>file<k>" holds the current file
        bool changed;
    };
    const Case cases[] = {
        {"only the serial flash default of slot 2: proposed for 5310 and kept by OK", kR5310, false,
         {{"Setting/SF_ASS2", "@ld2.hex"}}, Keys{}, 3, true, {"", "@ld2.hex", "", ""}, {"", "@ld2.hex", "", ""},
         {false, true, false, false},
         {{"Setting/5310_ASS2", "@ld2.hex"}, {"Setting/5310_2", "@ld2.hex"}, {"Saved_LD/5310file2", "ld2.hex"},
          {"Setting/5312_ASS2", "-"}, {"ad_setting/saved_hex", "0"}},
         {2}, true},
        {"OK with new files writes the defaults, the paths and their copies", kR5312, false,
         {{"Setting/5310_1", "@old1.hex"}},
         Keys{{"1", "@a.hex"}, {"2", "@b.bin"}, {"3", "@c.hex"}, {"4", "@d.hex"}}, 4, true, {"", "", "", ""},
         {"@a.hex", "@b.bin", "@c.hex", "@d.hex"}, {true, true, true, true},
         {{"Setting/5312_ASS1", "@a.hex"}, {"Setting/5312_ASS4", "@d.hex"}, {"Setting/5312_1", "@a.hex"},
          {"Setting/5312_2", "@b.bin"}, {"Saved_LD/5312file2", "b.bin"}, {"Setting/5310_1", "@old1.hex"}},
         {1, 2, 3, 4}, true},
        {"Cancel of the editable dialog writes nothing", kSerialFlash, false,
         {{"Setting/5312_3", "@cur3.hex"}, {"Setting/5310_ASS1", "@def1.hex"}}, std::nullopt, 5, true,
         {"@def1.hex", "", "", ""}, {"", "", "@cur3.hex", ""}, {false, false, false, false},
         {{"Setting/SF_3", "-"}, {"Setting/SF_ASS1", "-"}, {"ad_setting/saved_hex", "-"}}, {}, false},
        {"saved_ld: the saved names read-only; OK marks each slot with a current path", kR5312, true,
         {{"ad_setting/saved_ld", "1"}, {"Saved_LD/5312file1", "n1.hex"}, {"Saved_LD/SFfile3", "n3.hex"},
          {"Setting/5312_1", "@p1.hex"}, {"Setting/5310_4", "@p4.hex"}, {"Setting/SF_ASS2", "@def2.hex"}},
         Keys{}, 4, false, {"n1.hex", "", "n3.hex", ""}, {"@p1.hex", "", "", "@p4.hex"}, {true, false, false, true},
         {{"Setting/5312_ASS2", "@def2.hex"}, {"Setting/5312_4", "@p4.hex"}, {"Saved_LD/5312file4", "p4.hex"},
          {"Saved_LD/5312file3", "n3.hex"}, {"ad_setting/saved_hex", "0"}},
         {1, 4}, false},
        {"saved_ld with Cancel still refreshes and writes the settings", kR5310, true,
         {{"ad_setting/saved_ld", "1"}}, std::nullopt, 3, false, {"", "", "", ""}, {"", "", "", ""},
         {false, false, false, false},
         {{"Setting/5310_ASS1", "-"}, {"ad_setting/saved_hex", "0"}}, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Page page;
        const auto value = [&page](const std::string& v) {
            return v.starts_with('@') ? page.folder.file(v.substr(1)) : v;
        };
        for (const auto& [where, v] : c.before) {
            const auto slash = where.find('/');
            const std::string text = v.starts_with('@') ? page.make(v.substr(1)) : v;
            ASSERT_FALSE(platform::writeProfileString(page.ini(), where.substr(0, slash), where.substr(slash + 1), text));
        }
        if (c.chosen)
            for (const auto& [slot, v] : *c.chosen)
                page.make(v.substr(1));
        page.model.load();
        page.model.select(OptionField::McuType, c.mcu);
        // From here the settings file holds only the LD defaults the 1TO4 switch reads.
        std::filesystem::remove(page.ini());
        std::filesystem::remove(page.folder.file("registry.ini"));   // the refresh mirrors the title there
        for (const auto& [where, v] : c.before)
            if (where.find("_ASS") != std::string::npos) {
                ASSERT_FALSE(platform::writeProfileString(page.ini(), "Setting", where.substr(8), value(v)));
            }
        const std::string iniBefore = mvx::test::exists(page.ini()) ? readWholeFile(page.ini()) : "";
        ScriptedLdDialog dialog;
        dialog.answer = [&](const LdSlots& shown) -> std::optional<LdSlots> {
            if (!c.chosen)
                return std::nullopt;
            LdSlots result = shown;
            for (const auto& [slot, v] : *c.chosen)
                result[static_cast<std::size_t>(std::stoi(slot) - 1)] = value(v);
            return result;
        };

        const PageUpdate update = page.model.oneToFour(dialog);

        ASSERT_EQ(dialog.shown.size(), 1u);
        EXPECT_EQ(dialog.shown[0].mode, c.mode);
        EXPECT_EQ(dialog.shown[0].editable, c.editable);
        const auto paths = [&value](const LdSlots& names) {
            LdSlots result;
            for (std::size_t k = 0; k < result.size(); ++k)
                result[k] = value(names[k]);
            return result;
        };
        EXPECT_EQ(dialog.shown[0].paths, paths(c.shown));
        EXPECT_EQ(page.model.options().oneToFour, kFourBoards);
        EXPECT_TRUE(page.model.optionModel().settingsDirty());
        const auto family = static_cast<std::size_t>(c.mcu);
        EXPECT_EQ(page.model.optionModel().settings().ldPaths[family], paths(c.current));
        EXPECT_EQ(page.model.ldLoaded()[family], c.loaded);
        EXPECT_EQ(page.model.ldFilesChanged(), c.changed);
        // After Cancel the three types still hold the same paths per slot, in the page.
        const tool::CustomerSettings& s = page.model.optionModel().settings();
        for (const tool::LdTable* set : {&page.model.ldDefaults(), &s.ldPaths, &s.saved.ld})
            EXPECT_TRUE(c.chosen || ((*set)[0] == (*set)[1] && (*set)[1] == (*set)[2]));
        for (const auto& [where, v] : c.after) {
            const auto slash = where.find('/');
            const auto stored = page.key(where.substr(0, slash), where.substr(slash + 1));
            if (v == "-")
                EXPECT_FALSE(stored) << where;
            else
                EXPECT_EQ(stored, value(v)) << where;
        }
        for (int k = 1; k <= 4; ++k) {
            const std::string copy = page.folder.file(std::string(tool::kLdFamilies[family]) + "file" + std::to_string(k));
            const bool expected = std::find(c.copies.begin(), c.copies.end(), k) != c.copies.end();
            ASSERT_EQ(std::filesystem::exists(copy), expected) << copy;
            if (expected) {
                EXPECT_EQ(readWholeFile(copy), readWholeFile(s.ldPaths[family][static_cast<std::size_t>(k - 1)]));
            }
        }
        const bool cancelled = !c.chosen && !c.savedLd;
        if (cancelled) {
            EXPECT_EQ(mvx::test::exists(page.ini()) ? readWholeFile(page.ini()) : "", iniBefore) << "nothing written";
        }
        EXPECT_EQ(mvx::test::exists(page.folder.file("registry.ini")), !cancelled) << "the page refreshed";
        EXPECT_FALSE(update.record.error) << *update.record.error;
        EXPECT_TRUE(page.ui.messages.empty());
    }
}

TEST(OneToFour, AChoiceTheRunNeedsEnablesTheRunAndOneToOneLeavesTheFlags)
{
    Page page;
    page.model.load();
    page.model.select(OptionField::McuType, kR5310x4);
    page.model.tickRow(0, true);
    EXPECT_FALSE(page.model.runFiles().actionEnabled);
    EXPECT_EQ(page.model.runFiles().missingMask & 0xF0, 0xF0);

    // The four-board types choose nothing: the dialog is for 5310, 5312 and serial flash only.
    ScriptedLdDialog dialog;
    dialog.answer = [&](const LdSlots&) {
        return LdSlots{page.make("1.hex"), page.make("2.hex"), page.make("3.hex"), page.make("4.hex")};
    };
    page.model.oneToFour(dialog);
    EXPECT_TRUE(dialog.shown.empty());

    page.model.select(OptionField::McuType, kR5310);
    page.model.oneToFour(dialog);
    ASSERT_EQ(dialog.shown.size(), 1u);
    EXPECT_EQ(page.model.ldLoaded()[0], (std::array<bool, 4>{true, true, true, true}));
    page.model.select(OptionField::McuType, kR5310x4);
    EXPECT_EQ(page.model.runFiles().missingMask & 0xF0, 0);

    // A copy or file that went away no longer counts.
    std::filesystem::remove(page.folder.file("3.hex"));
    page.model.tickRow(0, true);
    EXPECT_EQ(page.model.runFiles().missingMask & 0xF0, 1 << 6);

    page.model.select(OptionField::McuType, kR5310);
    const PageUpdate oneBoard = page.model.oneToOne();
    EXPECT_EQ(page.model.options().oneToFour, kOneBoard);
    EXPECT_TRUE(oneBoard.record.dirtied);
    EXPECT_EQ(page.model.ldLoaded()[0], (std::array<bool, 4>{true, true, true, true}));
    EXPECT_EQ(dialog.shown.size(), 1u);
}
