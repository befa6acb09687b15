// The three 1To4 operations (3: 5310 targets, 4: 5312 targets, 5: serial-flash
// targets).  They do not program a target themselves: they load the two MCUs
// of a 1To4 writer board, M1 (0x94 / 0x96) and M2 (0x90 / 0x92), with the
// writer firmware, the target banks and the information block, after which
// the board programs four targets on its own.
//
// Writer images (64 KB per writer bank, 0xFF where nothing is placed):
//   writer banks 0 and 1   the writer firmware of the table's LD slots
//   0x4000..0xBFFF         the writer's first target bank: its first 32 KB in
//                          writer bank 0, the next 32 KB in writer bank 1
//   0xC000..0xFFFF         its second target bank: 16 KB in writer bank 0, the
//                          next 16 KB in writer bank 1
//   writer bank 2          (operation 5) the first 32 KB of target bank 3
//   0x3FAC..0x3FD0         the information block (one_to_four_header.hpp)
//
//   operation  M1 firmware  M2 firmware  M1 targets        M2 targets
//   3          16, 17       18, 19       0 (20), 1 (21)    -
//   4          9, 10        11, 12       0 (13), 2 (15)    1 (14)
//   5          22, 23       25, 26       0 (28), 2 (30)    1 (29), 2 (30)
//                                        bank 3 (31) in writer bank 2 of both
// (file-table entries; in brackets each target's slot code, which names the
// same file under the same length rules, so each target file is read once,
// under its plain bank code).  The LD slots and target bank 0 must be in use;
// the other target banks are optional.  The writers answer at their own
// addresses whatever slave selector the call names.
//
// Every file is loaded and placed before a writer is touched.  The writers
// are then mass-erased and programmed bank by bank; each writer bank's device
// checksum (16-bit word sum) must equal the image's, or both writers are
// erased again and the run ends with 21, so a half-loaded board never runs.
// The same wipe follows any programming failure.
#pragma once

#include "isp_context.hpp"

namespace mvx::engine {

// Runs operation 3, 4 or 5 of ctx.  Results: 0; 1 for adapter kinds 0 and 1
// (only the parallel-port kinds reach the writer board); 2 for another
// operation; 8 (operation 5) for a flash brand outside 0..5; 9, 10, 11, 14,
// 15 from loading the files (10 also for a missing table or an LD slot or
// target bank 0 not in use; 9 also for operation 5 target data past the
// 32 KB a writer holds for banks 2 and 3); 13 when the line probe fails or a
// writer does not enter ISP mode; 18 when a writer stays busy; a transport's
// write failure; 21 when a writer's checksum differs.
[[nodiscard]] int runOneToFour(IspContext& ctx);

}  // namespace mvx::engine
