#include "ftdi/ftdi_cell.hpp"

#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {

namespace {

// Until the FTDI transport lands, the cell behaves as an FTDI device that
// could not be opened: opening is not checked by the run (0), every write
// answers 25 and every read 24.  The FTDI adapter has no probe.
class UnopenedFtdi final : public AdapterOps {
public:
    int open() override
    {
        platform::debugOutput("Open fail");
        return MVX_OK;
    }
    int write(std::uint8_t, std::uint8_t, const std::uint8_t*, int, PassThrough) override
    {
        platform::debugOutput("debug write fail");
        return MVX_ERR_LIBRARY_WRITE;
    }
    int read(std::uint8_t, std::uint8_t, std::uint8_t*, int, PassThrough) override
    {
        platform::debugOutput("debug Read fail");
        return MVX_ERR_LIBRARY_READ;
    }
    int writeBlock(const std::uint8_t*, int, std::uint8_t, std::uint8_t, std::uint16_t) override
    {
        return MVX_ERR_LIBRARY_WRITE;
    }
    int probeTarget() override { return MVX_OK; }
};

}  // namespace

std::unique_ptr<AdapterOps> makeFtdiTransport(int, sim::Board*, platform::Clock&)
{
    return std::make_unique<UnopenedFtdi>();
}

}  // namespace mvx::adapters
