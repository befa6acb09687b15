// Operations 0 and 1: in-system programming of a 5310 MCU (banks 0 and 1) or
// a 5312 MCU (banks 0, 1 and 2).
#pragma once

#include "isp_context.hpp"

namespace mvx::engine {

// Runs operation 0 or 1 on a context whose arguments, options, progress
// sink and plan, link (over the opened transport at the run's slaves) and
// clock are set up.  Loads and checks every used file, enters MCU ISP mode,
// prepares and erases the flash, then programs and verifies the banks from the
// last one down.  Returns 0 or a result code; every failure after entering
// ISP mode leaves it again.
[[nodiscard]] int runMcu(IspContext& ctx);

}  // namespace mvx::engine
