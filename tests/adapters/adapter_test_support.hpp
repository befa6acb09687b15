// Shared pieces of the transport tests: a scripted parallel port that logs
// every access, and an in-memory virtual board.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>

#include "mvx/sim/board.hpp"
#include "parallel/port_io.hpp"

namespace mvx::test {

// Logs each access as a token: "D8F" data write, "C08" control write, "S"
// status read, "Y" yield.  Status reads answer the queued values first, then
// `status`.
class ScriptedPort final : public adapters::PortIo {
public:
    bool present = true;
    int availableCalls = 0;
    std::uint8_t status = 0;
    std::deque<std::uint8_t> queued;
    std::string log;

    bool available() override
    {
        ++availableCalls;
        return present;
    }
    void write(std::uint16_t port, std::uint8_t value) override
    {
        char token[8];
        std::snprintf(token, sizeof token, "%c%02X ", port == kDataPort ? 'D' : port == kControlPort ? 'C' : '?',
                      static_cast<unsigned>(value));
        log += token;
    }
    std::uint8_t read(std::uint16_t) override
    {
        log += "S ";
        if (queued.empty())
            return status;
        const std::uint8_t value = queued.front();
        queued.pop_front();
        return value;
    }
    void yield() override { log += "Y "; }
};

// A serial-flash board in memory; the scaler answers at 0x94 / 0x96.
inline std::unique_ptr<sim::Board> makeBoard(sim::BoardConfig config = {})
{
    std::string error;
    auto board = sim::Board::create(config, &error);
    EXPECT_NE(board, nullptr) << error;
    return board;
}

}  // namespace mvx::test
