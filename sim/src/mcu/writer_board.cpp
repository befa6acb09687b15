#include "mvx/sim/writer_board.hpp"

namespace mvx::sim {
namespace {

BoardConfig withoutCrcFault(const BoardConfig& config)
{
    BoardConfig copy = config;
    copy.faults.crcMismatchOnce = false;
    return copy;
}

}  // namespace

WriterBoard::WriterBoard(VirtualClock& clock, const BoardConfig& config)
    : m1_(McuType::Writer, clock, config), m2_(McuType::Writer, clock, withoutCrcFault(config))
{
}

void WriterBoard::attach(I2cBus& bus)
{
    m1_.attach(bus, kM1Address);
    m2_.attach(bus, kM2Address);
}

void WriterBoard::endOfCall()
{
    m1_.endOfCall();
    m2_.endOfCall();
}

}  // namespace mvx::sim
