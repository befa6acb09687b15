// Operation 2: in-system programming of the scaler's serial flash, banks of
// 64 KB.
#pragma once

#include "isp_context.hpp"

namespace mvx::engine {

// The highest bank code whose image the engine keeps; a used table entry
// above it is refused before the device is touched.
inline constexpr int kHighestFlashBank = 8;

// Runs operation 2 once on a context whose arguments, options copy,
// progress sink and plan, link (over the opened transport, at the run's
// slaves) and clock are set up.
//
// Loads and checks every used file, enters ISP mode (identifying the
// flash), checks the IC code when asked, drives the write-protect pin, then
// erases (erase only, or the erase plan) and programs and verifies the banks
// from the highest down, each with its own erase.  In HDCP-key mode (option
// 76) the key file takes the place of the firmware files and the key is
// written instead of the banks (hdcp_key.hpp); the run then leaves ISP mode
// and returns the key's result (stage 5 when it failed).  Returns 0 or a result
// code and leaves ctx.failureStage at how far the run got; a CRC mismatch
// (stage 4) has erased the whole chip again before the run returns 20.
// Every failure after entering ISP mode leaves it again, except the two
// IC-code exits (read-only mode and a mismatch, 28).
[[nodiscard]] int runSerialFlash(IspContext& ctx);

}  // namespace mvx::engine
