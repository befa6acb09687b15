#include "maker/maker_transports.hpp"

#include <utility>

#include "mvx/adapters/transports.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvxisp.h"

namespace mvx::adapters {

namespace {

constexpr int kPolling = 4;
constexpr int kSerialFlashUsbSpeed = 2;
constexpr int kSerialFlashDelay = 5;
constexpr int kBlockHeader = 2;   // address and register bytes of a transfer block

int lowByte(int value)
{
    return value & 0xFF;
}

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

// ---- MVXUSBDLL ----

MakerUsbTransport::MakerUsbTransport(Loader loader, int usbFrequency, int usbDelay)
    : loader_(std::move(loader)), speedMode_(usbSpeedMode(usbFrequency)), delay_(lowByte(usbDelay))
{
}

int MakerUsbTransport::open()
{
    api_.reset();
    if (loader_)
        api_ = loader_();
    if (!api_)
        return MVX_OK;   // not checked here; every transfer will fail
    api_->initialize();
    reapplySettings();
    return MVX_OK;
}

void MakerUsbTransport::close()
{
    api_.reset();
}

int MakerUsbTransport::write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                             PassThrough pass)
{
    if (!api_ || count < 0 || (count > 0 && data == nullptr))
        return writeFailed();
    if (api_->debugWrite(address, subAddress, data, count, pass.fifth, pass.sixth, pass.seventh) == 0)
        return writeFailed();
    return MVX_OK;
}

int MakerUsbTransport::read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
                            PassThrough pass)
{
    if (buffer == nullptr)
        return MVX_ERR_NULL_BUFFER;
    if (!api_ || count < 0)
        return readFailed();
    if (api_->debugRead(address, subAddress, buffer, count, pass.fifth, pass.sixth, pass.seventh) == 0)
        return readFailed();
    return MVX_OK;
}

int MakerUsbTransport::writeBlock(const std::uint8_t* block, int length, std::uint8_t, std::uint8_t, std::uint16_t)
{
    if (block == nullptr || length < kBlockHeader)
        return writeFailed();
    const int count = length - kBlockHeader;
    return write(block[0], block[1], block + kBlockHeader, count, {count, 0, 0});
}

void MakerUsbTransport::reapplySettings()
{
    if (!api_)
        return;
    api_->setUsbPolling(kPolling, 0);
    api_->setUsbSpeedMode(speedMode_, 0);
    api_->setUsbDelay(delay_, 0);
}

void MakerUsbTransport::applySerialFlashSettings()
{
    if (!api_)
        return;
    api_->setUsbSpeedMode(kSerialFlashUsbSpeed, 0);
    api_->setUsbDelay(kSerialFlashDelay, 0);
}

// ---- MVXIICDLL ----

MakerIicTransport::MakerIicTransport(Loader loader, int workDelay)
    : loader_(std::move(loader)), workDelay_(lowByte(workDelay))
{
}

int MakerIicTransport::open()
{
    api_.reset();
    if (loader_)
        api_ = loader_();
    if (!api_)
        return MVX_OK;   // not checked here; every transfer will fail
    api_->initialize();
    reapplySettings();
    return MVX_OK;
}

void MakerIicTransport::close()
{
    api_.reset();
}

int MakerIicTransport::write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
                             PassThrough pass)
{
    if (!api_ || count < 0 || (count > 0 && data == nullptr))
        return writeFailed();
    if (api_->debugWrite(address, subAddress, data, count, pass.fifth, pass.sixth) == 0)
        return writeFailed();
    return MVX_OK;
}

int MakerIicTransport::read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
                            PassThrough pass)
{
    if (buffer == nullptr)
        return MVX_ERR_NULL_BUFFER;
    if (!api_ || count < 0)
        return readFailed();
    if (api_->debugRead(address, subAddress, buffer, count, pass.fifth, pass.sixth) == 0)
        return readFailed();
    return MVX_OK;
}

int MakerIicTransport::writeBlock(const std::uint8_t* block, int length, std::uint8_t, std::uint8_t, std::uint16_t)
{
    if (block == nullptr || length < kBlockHeader)
        return writeFailed();
    const int count = length - kBlockHeader;
    return write(block[0], block[1], block + kBlockHeader, count, {count, 0, 0});
}

int MakerIicTransport::probeTarget()
{
    if (!api_ || api_->targetBoardTest() == 0)
        return MVX_ERR_ISP_MODE;
    return MVX_OK;
}

void MakerIicTransport::reapplySettings()
{
    if (!api_)
        return;
    api_->setPolling(kPolling);
    api_->setWorkDelay(workDelay_);
}

void MakerIicTransport::applySerialFlashSettings()
{
    if (!api_)
        return;
    api_->setPolling(kPolling);
    api_->setWorkDelay(kSerialFlashDelay);
}

}  // namespace mvx::adapters
