#include "customer_page/run_display.hpp"

#include <array>
#include <string_view>

#include "run_log/log_texts.hpp"

namespace mvx::customer_page {

namespace {

constexpr std::array<std::string_view, 5> kIdleOnlyControls{names::ispButton, names::readIcCodeButton,
                                                            names::hdcpKeyFireButton, names::ispEnableRadio,
                                                            names::ispDisableRadio};

}  // namespace

void RunDisplay::resetForView()
{
    picture = ResultPicture::None;
    icCodeShown = false;
    icCodeText.clear();
    counters.reset();
}

void RunDisplay::startRun()
{
    running = true;
    lastRunPassed = true;
    hdcpRunPassed = true;
    picture = ResultPicture::None;
    icCodeShown = false;
    icCodeText.clear();
    percent = 0;
    repeat = false;
}

void RunDisplay::workerStarted(const run::RunCounters& started, bool repeatTest)
{
    repeat = repeatTest;
    if (repeat)
        counters = started;
}

void RunDisplay::showIcCode(std::int32_t icCode)
{
    picture = ResultPicture::None;
    icCodeShown = true;
    icCodeText = runlog::icCodeText(icCode);
}

void RunDisplay::runDone(const run::RunDone& done)
{
    if (!repeat)
        return;
    lastRunPassed = done.result == MVX_OK;
    counters = done.counters;
}

void RunDisplay::workerEnded(const run::WorkerEnd& end)
{
    if (end.flag == run::ResultFlag::HdcpRun)
        hdcpRunPassed = end.passed;
    else if (end.runsDone > 0)
        lastRunPassed = end.passed;
    if (end.showResult)
        picture = end.passed ? ResultPicture::Pass : ResultPicture::Fail;
    if (!end.repeat)
        icCodeShown = end.showIcCode;
    if (end.repeat)
        counters = end.counters;
}

void RunDisplay::overlay(PageLayout& layout) const
{
    if (running) {
        for (int row = 0; row < kRowCount; ++row) {
            layout.controls[rowControlName(row, RowPart::CheckBox)].enabled = false;
            layout.controls[rowControlName(row, RowPart::OpenButton)].enabled = false;
        }
        for (std::string_view name : kIdleOnlyControls)
            layout.controls[std::string(name)].enabled = false;
    }
    layout.controls[std::string(names::passPictureLabel)].visible = picture == ResultPicture::Pass;
    layout.controls[std::string(names::failPictureLabel)].visible = picture == ResultPicture::Fail;
    // An IC code read is shown whichever view asked for it.
    layout.controls[std::string(names::icCodeLabel)].visible = icCodeShown;
    layout.texts[std::string(names::icCodeLabel)] = icCodeText;
    if (counters) {
        layout.texts[std::string(names::totalCountLabel)] = std::to_string(counters->total);
        layout.texts[std::string(names::passCountLabel)] = std::to_string(counters->pass);
        layout.texts[std::string(names::failCountLabel)] = std::to_string(counters->fail);
    }
}

}  // namespace mvx::customer_page
