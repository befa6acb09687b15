#include "progress.hpp"

namespace mvx::engine {

ProgressPlan ProgressPlan::forRun(int eraseOnly, int eraseMode)
{
    ProgressPlan plan;
    plan.eraseStart = 6;
    if (eraseOnly != 0) {
        plan.eraseEnd = 95;
        return plan;
    }
    plan.programEnd = 95;
    if (eraseMode == 0) {
        plan.eraseEnd = 20;
        plan.programStart = 21;
    } else {
        plan.eraseEnd = 35;
        plan.programStart = 36;
    }
    return plan;
}

void ProgressPlan::selectBankWindow(int k, int banks)
{
    const int slice = banks > 0 ? (programEnd - programStart) / banks : 0;
    windowStart = programStart + k * slice;
    windowEnd = programStart + (k + 1) * slice;
}

int ProgressPlan::bankPercent(int percent) const
{
    return windowStart + (windowEnd - windowStart) * percent / 100;
}

int ProgressPlan::erasePercent(int percent) const
{
    return eraseStart + (eraseEnd - eraseStart) * percent / 100;
}

void ProgressSink::send(int code, int sub, std::intptr_t value) const
{
    if (window_ == nullptr || window_->sendMessage == nullptr)
        return;
    window_->sendMessage(window_->context, WM_ISP_PROGRESS, MVX_PROGRESS_WPARAM(code, sub), value);
}

int ProgressSink::messageBox(const char* text, const char* caption) const
{
    if (window_ == nullptr || window_->messageBox == nullptr)
        return 0;
    return window_->messageBox(window_->context, text, caption, MVX_MB_OK);
}

}  // namespace mvx::engine
