#include "mvx/sim/usb_bridge.hpp"

#include <algorithm>

namespace mvx::sim {

VirtualUsbBridge::VirtualUsbBridge(I2cBus& bus, VirtualClock& clock) : bus_(bus), clock_(clock)
{
}

void VirtualUsbBridge::transfer(std::uint64_t micros)
{
    ++usbTransfers_;
    clock_.advance(micros);
}

UsbTransferResult VirtualUsbBridge::bulkOut(std::span<const std::uint8_t> packet)
{
    if (!attached_)
        return {UsbStatus::NoDevice, 0};
    transfer(kUsbTransferMicros);
    ++packets_;
    bool understood = false;
    if (packet.size() >= kHeaderLength) {
        switch (packet[5]) {
        case kWritePacket:
            understood = registerWrite(packet);
            break;
        case kReadPacket:
            understood = registerRead(packet);
            break;
        case kBlockPacket:
            understood = blockWrite(packet);
            break;
        case kCommandPacket:
            understood = startCommand(packet);
            break;
        default:
            break;
        }
    }
    if (!understood)
        ++rejected_;
    return {UsbStatus::Ok, packet.size()};
}

UsbTransferResult VirtualUsbBridge::bulkIn(std::span<std::uint8_t> buffer, std::uint64_t timeoutMicros)
{
    if (!attached_)
        return {UsbStatus::NoDevice, 0};
    if (answers_.empty()) {
        transfer(timeoutMicros);
        return {UsbStatus::Timeout, 0};
    }
    transfer(kUsbTransferMicros);
    const std::vector<std::uint8_t> answer = std::move(answers_.front());
    answers_.pop_front();
    const std::size_t length = std::min(buffer.size(), answer.size());
    std::copy_n(answer.begin(), length, buffer.begin());
    return {length < answer.size() ? UsbStatus::Overflow : UsbStatus::Ok, length};
}

bool VirtualUsbBridge::registerWrite(std::span<const std::uint8_t> packet)
{
    const std::size_t count = (std::size_t{packet[2]} << 8) | packet[3];
    if (packet.size() - kHeaderLength < count)
        return false;
    lastWriteMode_ = packet[4];
    bus_.writeRegister(packet[0], packet[1], packet.subspan(kHeaderLength, count));
    return true;
}

bool VirtualUsbBridge::registerRead(std::span<const std::uint8_t> packet)
{
    if (packet.size() <= kSequenceOffset)
        return false;   // no sequence byte to answer with
    const std::uint8_t address = packet[0];
    const std::size_t count = std::min<std::size_t>(packet[4], kReadDataLimit);
    std::vector<std::uint8_t> answer(kReadAnswerLength, 0);
    const std::span<std::uint8_t> data(answer.data(), count);
    if (packet[3] == 0x00) {
        bus_.start(static_cast<std::uint8_t>(address | 1u));
        for (std::size_t i = 0; i < count; ++i)
            data[i] = bus_.read(i + 1 < count);
        bus_.stop();
    } else {
        bus_.readRegister(address, packet[1], data);
    }
    std::uint8_t sequence = packet[kSequenceOffset];
    if (staleReads_ > 0) {
        --staleReads_;
        sequence = static_cast<std::uint8_t>(sequence - 1);
    }
    answer[kSequenceOffset] = sequence;
    if (answers_.size() >= kAnswerQueueDepth)
        answers_.pop_front();
    answers_.push_back(std::move(answer));
    return true;
}

bool VirtualUsbBridge::blockWrite(std::span<const std::uint8_t> packet)
{
    const std::span<const std::uint8_t> frame = packet.subspan(kHeaderLength);
    if (frame.empty())
        return false;
    lastBlock_ = {packet[0], packet[1], static_cast<std::uint16_t>((packet[2] << 8) | packet[3]), frame.size()};
    const std::uint8_t place[] = {packet[2], packet[3]};
    bus_.writeRegister(packet[0], packet[1], place);
    bus_.writeFrame(frame);
    return true;
}

bool VirtualUsbBridge::startCommand(std::span<const std::uint8_t> packet)
{
    if (packet.size() < kHeaderLength + 1)
        return false;
    ++startCommands_;
    lastStartArgument_ = packet[6];
    return true;
}

}  // namespace mvx::sim
