// The one table that picks the transport of a run (see transports.hpp).
#include "mvx/adapters/transports.hpp"

#include <string>

#include "bridge/usb_bridge_cell.hpp"
#include "ftdi/ftdi_cell.hpp"
#include "maker/maker_libraries.hpp"
#include "maker/maker_transports.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/sim/board.hpp"
#include "mvx/sim/port_io.hpp"
#include "mvxisp.h"
#include "none/no_transport.hpp"
#include "parallel/parallel_iic.hpp"
#include "parallel/port_io.hpp"

namespace mvx::adapters {

namespace {

std::unique_ptr<ParallelIic> makeParallelTransport(Wiring wiring, sim::Board* board, platform::Clock& clock)
{
    std::unique_ptr<PortIo> port;
    if (board != nullptr)
        port = std::make_unique<SimPortIo>(
            board->parallelPort(wiring == Wiring::Cvt ? sim::ParallelWiring::Cvt : sim::ParallelWiring::Norvane));
    else
        port = std::make_unique<PpdevPortIo>();
    return std::make_unique<OwningParallelIic>(wiring, std::move(port), clock);
}

std::unique_ptr<AdapterOps> makeMakerUsbTransport(const TransportSettings& settings, sim::Board* board)
{
    MakerUsbTransport::Loader loader;
    if (board != nullptr) {
        loader = [board]() -> std::unique_ptr<MakerUsbApi> {
            return std::make_unique<BoardMakerUsbLibrary>(board->makerUsbLibrary());
        };
    } else {
        loader = []() -> std::unique_ptr<MakerUsbApi> {
            std::string error;
            auto api = LoadedMakerUsbLibrary::load(platform::adapterLibraryPath(MVX_MAKER_USB_LIBRARY), &error);
            if (!api)
                platform::debugOutput("MVXUSBDLL not usable: " + error);
            return api;
        };
    }
    return std::make_unique<MakerUsbTransport>(std::move(loader), settings.usbFrequency, settings.usbDelay);
}

std::unique_ptr<AdapterOps> makeMakerIicTransport(const TransportSettings& settings, sim::Board* board)
{
    MakerIicTransport::Loader loader;
    if (board != nullptr) {
        loader = [board]() -> std::unique_ptr<MakerIicApi> {
            return std::make_unique<BoardMakerIicLibrary>(board->makerIicLibrary());
        };
    } else {
        loader = []() -> std::unique_ptr<MakerIicApi> {
            std::string error;
            auto api = LoadedMakerIicLibrary::load(platform::adapterLibraryPath(MVX_MAKER_IIC_LIBRARY), &error);
            if (!api)
                platform::debugOutput("MVXIICDLL not usable: " + error);
            return api;
        };
    }
    return std::make_unique<MakerIicTransport>(std::move(loader), settings.iicWorkDelay);
}

}  // namespace

std::unique_ptr<AdapterOps> makeTransport(const TransportSettings& settings, sim::Board* board,
                                          platform::Clock& clock)
{
    const bool library = (settings.libraryMode & 0xFF) != 0;
    switch (settings.adapterKind) {
    case MVX_ADAPTER_NORVANE_USB:
        return library ? makeMakerUsbTransport(settings, board) : makeUsbBridgeTransport(board, clock);
    case MVX_ADAPTER_FTDI_USB:
        if (library)
            return makeFtdiTransport(settings.ftdiClock, board, clock);
        return std::make_unique<NoTransport>(false);
    case MVX_ADAPTER_NORVANE_IIC:
        if (library)
            return makeMakerIicTransport(settings, board);
        return makeParallelTransport(Wiring::Norvane, board, clock);
    case MVX_ADAPTER_CVT_IIC:
        // With library mode there is nothing to carry the transfers, but the
        // line probe still looks at the CVT cable.
        if (library)
            return std::make_unique<NoTransport>(true, makeParallelTransport(Wiring::Cvt, board, clock));
        return makeParallelTransport(Wiring::Cvt, board, clock);
    default:
        return nullptr;
    }
}

}  // namespace mvx::adapters
