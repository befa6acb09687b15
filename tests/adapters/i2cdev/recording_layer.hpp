// A scripted i2c-dev layer: records every call with the bytes it carried and
// answers what the test queued (success when nothing is queued).  Read
// messages and read() calls are filled from a counter, so a test can tell
// which bytes came from which call.
#pragma once

#include <cerrno>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "mvx/i2cdev/i2c_dev_layer.hpp"

namespace mvx::test {

struct RecordedMessage {
    std::uint16_t addr = 0;
    std::uint16_t flags = 0;
    std::uint16_t len = 0;
    std::vector<std::uint8_t> bytes;   // a write message's bytes
    bool operator==(const RecordedMessage&) const = default;
};

struct LayerCall {
    enum class Kind { Open, Close, Transfer, SetSlave, Read, Write };
    Kind kind;
    std::string path;                        // Open
    std::vector<RecordedMessage> messages;   // Transfer
    int address = -1;                        // SetSlave
    std::size_t count = 0;                   // Read, Write
    std::vector<std::uint8_t> bytes;         // Write
};

inline RecordedMessage writeMessage(std::uint16_t addr, std::vector<std::uint8_t> bytes)
{
    return {addr, 0, static_cast<std::uint16_t>(bytes.size()), std::move(bytes)};
}

inline RecordedMessage readMessage(std::uint16_t addr, std::uint16_t len)
{
    return {addr, I2C_M_RD, len, {}};
}

class RecordingLayer final : public i2cdev::I2cDevLayer {
public:
    // Queued answers: 0 = success, else -errno.
    std::deque<int> openAnswers;
    std::deque<int> transferAnswers;
    std::deque<int> slaveAnswers;
    std::deque<int> readAnswers;
    std::deque<int> writeAnswers;
    std::uint8_t nextReadByte = 0xA0;
    std::vector<LayerCall> calls;

    int open(const std::string& path) override
    {
        calls.push_back({LayerCall::Kind::Open, path, {}, -1, 0, {}});
        const int answer = take(openAnswers);
        return answer < 0 ? answer : kFd;
    }
    void close(int fd) override
    {
        calls.push_back({LayerCall::Kind::Close, {}, {}, fd, 0, {}});
    }
    int transfer(int fd, i2c_msg* messages, std::uint32_t count) override
    {
        LayerCall call{LayerCall::Kind::Transfer, {}, {}, fd, 0, {}};
        for (std::uint32_t i = 0; i < count; ++i) {
            RecordedMessage m{messages[i].addr, messages[i].flags, messages[i].len, {}};
            if (!(messages[i].flags & I2C_M_RD))
                m.bytes.assign(messages[i].buf, messages[i].buf + messages[i].len);
            call.messages.push_back(m);
        }
        calls.push_back(call);
        const int answer = take(transferAnswers);
        if (answer < 0)
            return answer;
        for (std::uint32_t i = 0; i < count; ++i)
            if (messages[i].flags & I2C_M_RD)
                for (std::uint16_t b = 0; b < messages[i].len; ++b)
                    messages[i].buf[b] = nextReadByte++;
        return static_cast<int>(count);
    }
    int setSlave(int, std::uint16_t address) override
    {
        calls.push_back({LayerCall::Kind::SetSlave, {}, {}, address, 0, {}});
        return take(slaveAnswers);
    }
    ssize_t read(int, std::uint8_t* buffer, std::size_t count) override
    {
        calls.push_back({LayerCall::Kind::Read, {}, {}, -1, count, {}});
        const int answer = take(readAnswers);
        if (answer < 0)
            return answer;
        for (std::size_t i = 0; i < count; ++i)
            buffer[i] = nextReadByte++;
        return static_cast<ssize_t>(count);
    }
    ssize_t write(int, const std::uint8_t* data, std::size_t count) override
    {
        calls.push_back({LayerCall::Kind::Write, {}, {}, -1, count, std::vector<std::uint8_t>(data, data + count)});
        const int answer = take(writeAnswers);
        return answer < 0 ? answer : static_cast<ssize_t>(count);
    }

    std::vector<LayerCall> callsOf(LayerCall::Kind kind) const
    {
        std::vector<LayerCall> found;
        for (const LayerCall& call : calls)
            if (call.kind == kind)
                found.push_back(call);
        return found;
    }
    // Every call but Open (the traffic of an access on an open bus).
    std::vector<LayerCall> traffic() const
    {
        std::vector<LayerCall> found;
        for (const LayerCall& call : calls)
            if (call.kind != LayerCall::Kind::Open)
                found.push_back(call);
        return found;
    }

    static constexpr int kFd = 7;

private:
    static int take(std::deque<int>& answers)
    {
        if (answers.empty())
            return 0;
        const int answer = answers.front();
        answers.pop_front();
        return answer;
    }
};

}  // namespace mvx::test
