// The Flash Protect dialog's model: which pin list is shown and greyed, what
// each click changes, and that only the check box tells the page.
#include "settings_dialogs/flash_protect.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace mvx::settings_dialogs;
using mvx::tool::protectWords;

namespace {

// The names of the controls in a state, for readable failures.
std::vector<std::string> where(const FlashProtectModel& model, bool ProtectControlState::*flag)
{
    std::vector<std::string> names;
    for (std::size_t i = 0; i < kProtectControls.size(); ++i) {
        if (model.state(i).*flag)
            names.emplace_back(kProtectControls[i].name);
    }
    return names;
}

using Names = std::vector<std::string>;

}  // namespace

TEST(FlashProtectModel, OpeningShowsTheListOfTheSeriesGreyedWhenProtectionIsOff)
{
    struct Case {
        FlashProtectSettings words;
        Names shownPinControls;   // group boxes and radios of the pin lists that are shown
        Names enabled;
        Names checked;
    };
    const Names txq{"txqPinGroupBox", "txqPin0Radio", "txqPin1Radio", "txqPin2Radio", "txqPin3Radio",
                    "txqPin4Radio"};
    const Names q{"qPinGroupBox", "qPin0Radio", "qPin1Radio", "qPin2Radio", "qPin3Radio"};
    const Names alwaysEnabled{"flashProtectCheckBox"};
    Names onEnabled{"flashProtectCheckBox", "valueGroupBox", "valueLowRadio", "valueHighRadio", "seriesGroupBox",
                    "seriesQRadio", "seriesVqRadio", "seriesTxqRadio", "seriesTxmRadio"};
    Names onWithQ = onEnabled;
    onWithQ.insert(onWithQ.end(), q.begin(), q.end());
    const Case cases[] = {
        // Off on TXQ: its list shown but greyed, the others hidden, value and series greyed.
        {{0, 2, 1, 1}, txq, alwaysEnabled, {"valueHighRadio", "seriesTxqRadio", "txqPin1Radio"}},
        // On, VQ: the shared Q/VQ list, enabled, its radio on the pin.
        {{1, 1, 2, 0}, q, onWithQ, {"flashProtectCheckBox", "valueLowRadio", "seriesVqRadio", "qPin2Radio"}},
        // A series outside 0..3 has no list; no series radio is on.
        {{1, 7, 0, 1}, {}, onEnabled, {"flashProtectCheckBox", "valueHighRadio"}},
    };
    for (const Case& c : cases) {
        const FlashProtectModel model(c.words);
        const auto words = protectWords(c.words);
        SCOPED_TRACE(::testing::PrintToString(words));
        Names shownPins;
        for (std::size_t i = 0; i < kProtectControls.size(); ++i) {
            const ProtectPart part = kProtectControls[i].part;
            if ((part == ProtectPart::PinGroup || part == ProtectPart::PinRadio) && model.state(i).shown)
                shownPins.emplace_back(kProtectControls[i].name);
        }
        EXPECT_EQ(shownPins, c.shownPinControls);
        EXPECT_EQ(where(model, &ProtectControlState::enabled), c.enabled);
        EXPECT_EQ(where(model, &ProtectControlState::checked), c.checked);
        EXPECT_EQ(protectWords(model.words()), words);
    }
}

TEST(FlashProtectModel, ClicksSetTheirWordAndOnlyTheCheckBoxNotifies)
{
    struct Step {
        std::string_view click;
        bool checked;
        std::array<std::int32_t, 4> words;   // after the click
        bool notifies;
        Names checkedAfter;
    };
    const Step steps[] = {
        {"txqPin4Radio", true, {1, 2, 4, 1}, false, {"flashProtectCheckBox", "valueHighRadio", "seriesTxqRadio", "txqPin4Radio"}},
        // Q_series has no fifth pin: pin_type stays 4 and no radio of its list is on.
        {"seriesQRadio", true, {1, 0, 4, 1}, false, {"flashProtectCheckBox", "valueHighRadio", "seriesQRadio", "txqPin4Radio"}},
        {"valueLowRadio", true, {1, 0, 4, 0}, false, {"flashProtectCheckBox", "valueLowRadio", "seriesQRadio", "txqPin4Radio"}},
        {"flashProtectCheckBox", false, {0, 0, 4, 0}, true, {"valueLowRadio", "seriesQRadio", "txqPin4Radio"}},
        {"qPin1Radio", true, {0, 0, 1, 0}, false, {"valueLowRadio", "seriesQRadio", "qPin1Radio", "txqPin4Radio"}},
        {"seriesGroupBox", true, {0, 0, 1, 0}, false, {"valueLowRadio", "seriesQRadio", "qPin1Radio", "txqPin4Radio"}},
        {"noSuchRadio", true, {0, 0, 1, 0}, false, {"valueLowRadio", "seriesQRadio", "qPin1Radio", "txqPin4Radio"}},
        {"flashProtectCheckBox", true, {1, 0, 1, 0}, true, {"flashProtectCheckBox", "valueLowRadio", "seriesQRadio", "qPin1Radio", "txqPin4Radio"}},
    };
    FlashProtectModel model({1, 2, 0, 1});
    for (const Step& step : steps) {
        SCOPED_TRACE(step.click);
        const ProtectOutcome outcome = model.click(step.click, step.checked);
        EXPECT_EQ(protectWords(model.words()), step.words);
        EXPECT_EQ(where(model, &ProtectControlState::checked), step.checkedAfter);
        ASSERT_EQ(outcome.sent.has_value(), step.notifies);
        if (!outcome.sent)
            continue;
        // The page's side of the message receives the four words as they stand.
        mvx::tool::AdvancedSettings advanced{};
        FlashProtectSettings received{};
        const auto receipt = mvx::tool::receiveSettingsNotify(outcome.sent->wParam, outcome.sent->lParam, advanced,
                                                              received);
        EXPECT_EQ(receipt.effect, mvx::tool::NotifyEffect::FlashProtectCopied);
        EXPECT_EQ(protectWords(received), step.words);
    }
    // Protection off greys the Q list with the rest; on enables it again.
    EXPECT_TRUE(model.state("qPin1Radio").enabled);
    model.click("flashProtectCheckBox", false);
    EXPECT_FALSE(model.state("qPin1Radio").enabled);
    EXPECT_TRUE(model.state("qPin1Radio").shown);
    EXPECT_FALSE(model.state("txqPinGroupBox").shown);
}

TEST(FlashProtectModel, PinRadiosAreCaptionedWithTheirSeriesPins)
{
    for (const ProtectControlDef& def : kProtectControls) {
        if (def.part == ProtectPart::PinRadio) {
            EXPECT_FALSE(protectCaption(def).empty()) << def.name;
        }
    }
    EXPECT_EQ(protectCaption(kProtectControls[*protectControl("txqPin4Radio")]), "Pin114");
}
