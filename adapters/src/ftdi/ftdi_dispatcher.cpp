#include "ftdi/ftdi_dispatcher.hpp"

#include <algorithm>
#include <utility>

#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {

namespace {

constexpr int kBlockHeader = 2;   // address and register bytes of a transfer block

int writeFailed()
{
    platform::debugOutput("debug write fail");
    return MVX_ERR_LIBRARY_WRITE;
}

int readFailed()
{
    platform::debugOutput("debug Read fail");
    return MVX_ERR_LIBRARY_READ;
}

}  // namespace

// The one place that keeps FTDI state beyond a run's objects: see the header.
std::unique_ptr<TFtdiIIC_Base>& processFtdi()
{
    static std::unique_ptr<TFtdiIIC_Base> ftdi;
    return ftdi;
}

FtdiDispatcher::FtdiDispatcher(TFtdiIIC_Base::D2xxLoader loader, int clockDivisor, platform::Clock& clock,
                               TFtdiIIC_Base::Delays delays)
    : loader_(std::move(loader)), clockDivisor_(clockDivisor), clock_(clock), delays_(delays)
{
}

FtdiDispatcher::~FtdiDispatcher()
{
    if (opened_)
        close();
}

bool FtdiDispatcher::openChip()
{
    opened_ = true;
    auto& ftdi = processFtdi();
    if (ftdi != nullptr && ftdi->isOpen())
        return true;
    // The old object goes first: it may still hold the chip.
    ftdi.reset();
    ftdi = std::make_unique<TFtdiIIC_Base>(loader_, clock_, delays_);
    ftdi->setClockDivisor(clockDivisor_);
    if (!ftdi->initFtdi()) {
        platform::debugOutput("Open fail");
        return false;
    }
    return true;
}

std::string FtdiDispatcher::busName()
{
    // A driver of its own for the question: the chip is not opened.
    const std::unique_ptr<D2xxApi> d2xx = loader_ ? loader_() : nullptr;
    return d2xx ? d2xx->chipName(0) : std::string();
}

int FtdiDispatcher::open()
{
    openChip();
    return MVX_OK;   // not checked here; every transfer will fail
}

void FtdiDispatcher::close()
{
    processFtdi().reset();
    opened_ = false;
}

int FtdiDispatcher::write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                          PassThrough)
{
    TFtdiIIC_Base* ftdi = processFtdi().get();
    if (ftdi == nullptr || count < 0 || count > kMaxWriteData || (count > 0 && data == nullptr))
        return writeFailed();
    writeBuffer_[0] = subAddress;
    if (count > 0)
        std::copy_n(data, count, writeBuffer_.begin() + 1);
    if (!ftdi->writeBytes(address, count + 1, writeBuffer_.data()))
        return writeFailed();
    platform::debugOutput("debug write suc");
    return MVX_OK;
}

int FtdiDispatcher::read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
                         PassThrough)
{
    if (buffer == nullptr)
        return MVX_ERR_NULL_BUFFER;
    TFtdiIIC_Base* ftdi = processFtdi().get();
    if (ftdi == nullptr || count < 0 || count > TFtdiIIC_Base::kMaxReadCount)
        return readFailed();
    if (!ftdi->writeBytes(address, 1, &subAddress) ||
        !ftdi->readBytes(static_cast<std::uint8_t>(address | 0x01), count, buffer))
        return readFailed();
    platform::debugOutput("debug Read suc");
    return MVX_OK;
}

int FtdiDispatcher::writeBlock(const std::uint8_t* block, int length, std::uint8_t, std::uint8_t, std::uint16_t)
{
    if (block == nullptr || length < kBlockHeader)
        return writeFailed();
    const int count = length - kBlockHeader;
    return write(block[0], block[1], block + kBlockHeader, count, {count, 0, 0});
}

}  // namespace mvx::adapters
