#include "ftdi/ftdi_cell.hpp"

#include "ftdi/d2xx.hpp"
#include "ftdi/ftdi_dispatcher.hpp"
#include "mvx/sim/board.hpp"

namespace mvx::adapters {

// With a board the driver calls reach its FTDI chip and the waits sleep on
// its virtual clock; without one they reach the machine's driver and the
// microsecond waits spin.
std::unique_ptr<AdapterOps> makeFtdiTransport(int clockDivisor, sim::Board* board, platform::Clock& clock)
{
    if (board != nullptr) {
        sim::VirtualFtdiDevice* device = &board->ftdi();
        return std::make_unique<FtdiDispatcher>([device] { return makeBoardD2xx(*device); }, clockDivisor, clock,
                                                TFtdiIIC_Base::Delays::Sleep);
    }
    return std::make_unique<FtdiDispatcher>([] { return loadSystemD2xx(); }, clockDivisor, clock,
                                            TFtdiIIC_Base::Delays::Spin);
}

}  // namespace mvx::adapters
