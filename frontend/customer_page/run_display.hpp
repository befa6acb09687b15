// What the customer page shows of its runs, as data: the run in progress,
// the pass or fail picture, the IC code, the three counters, the overall
// percent and the colour of the log.  The page model changes it at the start
// of a run, on each engine message and when the worker reports; the view
// lays it over the option layout (overlay()).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "customer_page/bank_layout.hpp"
#include "run/isp_worker.hpp"

namespace mvx::customer_page {

enum class ResultPicture : std::uint8_t { None, Pass, Fail };
enum class LogColour : std::uint8_t { Pass, Fail };   // blue, red

struct RunDisplay {
    bool running = false;            // a worker is running or has not been tidied up after
    bool lastRunPassed = true;
    bool hdcpRunPassed = true;
    ResultPicture picture = ResultPicture::None;
    bool icCodeShown = false;
    std::string icCodeText;          // "IC Code: 0x05"
    std::optional<run::RunCounters> counters;   // the counters' texts, once a run set them
    int percent = 0;                 // the overall percent of the current or last run
    bool repeat = false;             // the run is a repeat test

    // The log is red after a failed run, firmware or HDCP key alike.
    LogColour logColour() const { return lastRunPassed && hdcpRunPassed ? LogColour::Pass : LogColour::Fail; }

    // The view layout (page open, view toggled) hides the result and the IC
    // code and puts the counters back to the layout's own texts.
    void resetForView();
    // A run starts: no result shown, the log passes until a run fails.
    void startRun();
    // The worker is running; a repeat test shows its counters from now on.
    void workerStarted(const run::RunCounters& counters, bool repeat);
    // Code 16: the IC code read in this run replaces the result pictures.
    void showIcCode(std::int32_t icCode);
    void runDone(const run::RunDone& done);
    void workerEnded(const run::WorkerEnd& end);

    // The layout with the run's state laid over it: while running the rows,
    // their open buttons, the action buttons and the ISP Enable Option radios
    // are disabled; the pictures, the IC code and the counters as above.
    void overlay(PageLayout& layout) const;
};

}  // namespace mvx::customer_page
