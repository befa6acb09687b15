// The virtual board's own cost: how fast a whole 512 KB flash can be written
// and read back through the models, the way the engine drives them.
#include <benchmark/benchmark.h>

#include <span>

#include "mvx/sim/board.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "scaler_driver.hpp"

namespace {

void WholeFlashWriteAndVerify(benchmark::State& state)
{
    const auto image = mvx::test::firmwarePattern(512 * 1024);
    for (auto _ : state) {
        std::string error;
        auto board = mvx::sim::Board::create(mvx::sim::BoardConfig{}, &error);
        mvx::test::ScalerDriver isp(board->bus(), board->clock());
        isp.ready(0x00);
        int crcs = 0;
        for (std::uint32_t bank = 0; bank < 8; ++bank) {
            isp.eraseBlock64(static_cast<std::uint8_t>(bank));
            isp.setUp();
            isp.write(0x6D, {0x02});
            isp.write(0x71, {0xFF});
            for (std::uint32_t page = 0; page < 256; ++page) {
                const std::uint32_t at = (bank << 16) | (page << 8);
                isp.programPage(at, std::span(image).subspan(at, 256));
            }
            crcs += isp.crc(bank << 16, (bank << 16) | 0xFFFF);
        }
        benchmark::DoNotOptimize(crcs);
        state.counters["virtual_s"] = static_cast<double>(board->clock().nowMicros()) / 1e6;
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 512 * 1024);
}
BENCHMARK(WholeFlashWriteAndVerify)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
