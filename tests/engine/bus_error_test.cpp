// A register write the transport reports as failed ends the step it belongs
// to with the transport's code, whatever the device made of the writes it did
// get: the serial flash and both MCU types, one write lost at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bus_adapter.hpp"
#include "isp_context.hpp"
#include "mvx/sim/board.hpp"
#include "mvx/sim/mcu.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "operation_mcu.hpp"
#include "operation_serial_flash.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

namespace mvx::test {
namespace {

using engine::FailureStage;
using Bytes = std::vector<std::uint8_t>;

// The test transport, except that one write the bus never sees: the
// `occurrence`-th single or burst write to `reg` whose data begin with
// `prefix`.  That write fails as a library transport's does (25).
class LosingAdapter final : public adapters::AdapterOps {
public:
    struct Loss {
        std::uint8_t reg;
        Bytes prefix;
        int occurrence;
    };

    LosingAdapter(sim::I2cBus& bus, Loss loss) : inner_(bus), loss_(std::move(loss)) {}

    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              adapters::PassThrough pass) override
    {
        const auto n = static_cast<std::size_t>(std::max(count, 0));
        if (subAddress == loss_.reg && n >= loss_.prefix.size() &&
            std::equal(loss_.prefix.begin(), loss_.prefix.end(), data) && ++seen_ == loss_.occurrence)
            return MVX_ERR_LIBRARY_WRITE;
        return inner_.write(address, subAddress, data, count, pass);
    }
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             adapters::PassThrough pass) override
    {
        return inner_.read(address, subAddress, buffer, count, pass);
    }
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override
    {
        return inner_.writeBlock(block, length, secondary, subAddress, offset);
    }
    int probeTarget() override { return MVX_OK; }

    bool lost() const { return seen_ >= loss_.occurrence; }

private:
    BusAdapter inner_;
    Loss loss_;
    int seen_ = 0;
};

struct Row {
    const char* name;
    sim::BoardTarget target;
    int operation;
    LosingAdapter::Loss loss;
    FailureStage stage;
};

TEST(BusError, ALostWriteEndsItsStepWithTheTransportsCode)
{
    // An 8 KB bank over old data: 32 pages, and every bank needs its erase.
    const Bytes firmware = firmwarePattern(8192, 3);
    const Row rows[] = {
        {"flash: block erase start", sim::BoardTarget::SerialFlash, MVX_OP_SERIAL_FLASH, {0x60, {0xB9}, 1},
         FailureStage::Erase},
        {"flash: page 5 address", sim::BoardTarget::SerialFlash, MVX_OP_SERIAL_FLASH, {0x64, {1, 5, 0}, 1},
         FailureStage::Program},
        {"flash: page 9 program start", sim::BoardTarget::SerialFlash, MVX_OP_SERIAL_FLASH, {0x6F, {0xA0}, 10},
         FailureStage::Program},
        {"flash: end of the verifying CRC", sim::BoardTarget::SerialFlash, MVX_OP_SERIAL_FLASH,
         {0x72, {1, 0x1F, 0xFF}, 3}, FailureStage::Verify},
        {"5312: mass erase start", sim::BoardTarget::Mcu5312, MVX_OP_MCU_5312, {0x90, {0xC0}, 1},
         FailureStage::Erase},
        {"5310: bank 1 select", sim::BoardTarget::Mcu5310, MVX_OP_MCU_5310, {0x90, {0x60}, 1},
         FailureStage::Program},
        {"5312: bank 1 CRC start", sim::BoardTarget::Mcu5312, MVX_OP_MCU_5312, {0xA2, {0xB0}, 1},
         FailureStage::Verify},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sim::BoardConfig config;
        config.target = row.target;
        std::string error;
        auto board = sim::Board::create(config, &error);
        ASSERT_NE(board, nullptr) << error;
        LosingAdapter adapter(board->bus(), row.loss);
        const bool serialFlash = row.operation == MVX_OP_SERIAL_FLASH;
        Bytes& memory = serialFlash ? board->flash()->array() : board->mcu()->flash();
        std::fill(memory.begin(), memory.end(), std::uint8_t{0x00});

        TempFolder folder;
        std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
        const std::string path = folder.file("bank1.bin");
        writeWholeFile(path, std::string(firmware.begin(), firmware.end()));
        table[1].inUse = 1;
        table[1].format = MVX_FORMAT_BINARY;
        std::snprintf(table[1].path, sizeof table[1].path, "%s", path.c_str());

        engine::IspContext ctx;
        ctx.operation = row.operation;
        ctx.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        ctx.flashBrand = MVX_BRAND_WINBOND;
        ctx.fileTable = table.data();
        ctx.clock = &board->clock();
        ctx.plan = engine::ProgressPlan::forRun(0, 0);
        ctx.link.emplace(adapter, board->clock(), std::uint8_t{0x94}, std::uint8_t{0x96});

        const int result = serialFlash ? engine::runSerialFlash(ctx) : engine::runMcu(ctx);
        EXPECT_TRUE(adapter.lost());
        EXPECT_EQ(result, MVX_ERR_LIBRARY_WRITE);
        EXPECT_EQ(ctx.failureStage, row.stage);
    }
}

}  // namespace
}  // namespace mvx::test
