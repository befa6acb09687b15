// Progress reports to the owner window (WM_ISP_PROGRESS) and the percent
// landmarks of a run.
#pragma once

#include <cstdint>

#include "mvxisp.h"

namespace mvx::engine {

// Percent landmarks of one run and the window of the bank being worked on.
struct ProgressPlan {
    int eraseStart = 0;
    int eraseEnd = 0;
    int programStart = 0;
    int programEnd = 0;
    int windowStart = 0;
    int windowEnd = 0;

    // Erase start 6 %; erase only: erase end 95 %; otherwise program end 95 %
    // and erase end / program start 20 / 21 % (whole-device erase) or 35 / 36 %
    // (partial erase).
    static ProgressPlan forRun(int eraseOnly, int eraseMode);

    // Splits program start..end evenly over `banks` used entries (integer
    // division) and selects the k-th window.
    void selectBankWindow(int k, int banks);
    // A bank-level percent mapped into the current window.
    int bankPercent(int percent) const;
    // An erase percent mapped onto erase start..end.
    int erasePercent(int percent) const;
};

// Sends WM_ISP_PROGRESS synchronously; nothing without a window.
class ProgressSink {
public:
    explicit ProgressSink(const MvxWindow* window = nullptr) : window_(window) {}
    void setWindow(const MvxWindow* window) { window_ = window; }
    const MvxWindow* window() const { return window_; }

    void send(int code, int sub, std::intptr_t value) const;
    void overall(int percent) const { send(MVX_MSG_OVERALL_PERCENT, 0, percent); }
    // The modal failure box; returns the button (0 without a window).
    int messageBox(const char* text, const char* caption) const;

private:
    const MvxWindow* window_ = nullptr;
};

}  // namespace mvx::engine
