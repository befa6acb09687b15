// The table that picks the bus transport for a run, from the adapter kind and
// the library mode the caller passed:
//
//   kind  library mode 0                 library mode nonzero
//   0     USB bridge board               maker USB library (MVXUSBDLL)
//   1     no transport                   FTDI chip in MPSSE mode
//   2     parallel cable, Norvane wiring maker I2C library (MVXIICDLL)
//   3     parallel cable, CVT wiring     no transport (the CVT probe only)
//
// "No transport" cells accept every write and read, touch nothing and answer
// 0 (a read leaves the caller's buffer as it was).  Kind 1 without library
// has no page path either.
//
// With a virtual board the lowest layer of each transport (port I/O, maker
// libraries) is the board's; without one it is the machine's: ppdev on
// /dev/parport0, and MVXUSBDLL.so / MVXIICDLL.so from the adapter-library
// folder.
#pragma once

#include <memory>

#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::sim {
class Board;
}

namespace mvx::adapters {

struct TransportSettings {
    int adapterKind = 0;     // 0..3
    int libraryMode = 0;     // only the low byte counts: nonzero selects the library transports
    int usbFrequency = 0;    // option 60: MVXUSBDLL speed selection (1, 2 or other)
    int usbDelay = 0;        // option 64: MVXUSBDLL delay (low byte)
    int ftdiClock = 0;       // option 68: FTDI clock divisor
    int iicWorkDelay = 0;    // option 72: MVXIICDLL work delay (low byte)
};

// The transport of the cell; nullptr for an adapter kind outside 0..3.  board
// is nullptr for real hardware; when given it must outlive the transport.
// clock times the waits inside the transport (the board's clock with a board).
std::unique_ptr<AdapterOps> makeTransport(const TransportSettings& settings, sim::Board* board,
                                          platform::Clock& clock);

// _SetUSBSpeedMode's first value for option 60: 2 for 1, 4 for 2, else 1.
constexpr int usbSpeedMode(int usbFrequency)
{
    return usbFrequency == 1 ? 2 : usbFrequency == 2 ? 4 : 1;
}

}  // namespace mvx::adapters
