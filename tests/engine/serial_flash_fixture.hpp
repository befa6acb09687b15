// A serial-flash board in memory with an engine context over it, for the
// tests of the engine's serial-flash code: the bus traffic is recorded, the
// progress messages are collected, firmware files go to a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "bus_adapter.hpp"
#include "isp_context.hpp"
#include "mvx/sim/board.hpp"
#include "mvx/sim/scaler.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

namespace mvx::test {

struct Message {
    int code;
    int sub;
    std::intptr_t value;
    bool operator==(const Message&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const Message& m)
{
    return out << "{" << m.code << ", " << m.sub << ", " << m.value << "}";
}

class MessageLog {
public:
    MvxWindow window{this, &MessageLog::receive, nullptr};
    std::vector<Message> messages;

    std::vector<Message> withCode(int code) const
    {
        std::vector<Message> found;
        for (const Message& m : messages)
            if (m.code == code)
                found.push_back(m);
        return found;
    }

private:
    static std::intptr_t receive(void* context, std::uint32_t message, std::uintptr_t wParam, std::intptr_t lParam)
    {
        EXPECT_EQ(message, static_cast<std::uint32_t>(WM_ISP_PROGRESS));
        static_cast<MessageLog*>(context)->messages.push_back(
            {MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), lParam});
        return 0;
    }
};

// The bus adapter with every access written down.
class RecordingAdapter final : public adapters::AdapterOps {
public:
    struct Write {
        std::uint8_t address;
        std::uint8_t reg;
        std::vector<std::uint8_t> data;
    };
    // An erase command as the controller was told to start it.
    struct Erase {
        std::uint8_t opcode;
        std::uint8_t bank;
        std::uint8_t page;
        bool operator==(const Erase&) const = default;
    };

    explicit RecordingAdapter(sim::I2cBus& bus) : inner_(bus) {}

    int write(std::uint8_t address, std::uint8_t subAddress, const std::uint8_t* data, int count,
              adapters::PassThrough pass) override
    {
        writes.push_back({address, subAddress, std::vector<std::uint8_t>(data, data + count)});
        readsBeforeWrite.push_back(reads);
        return inner_.write(address, subAddress, data, count, pass);
    }
    int read(std::uint8_t address, std::uint8_t subAddress, std::uint8_t* buffer, int count,
             adapters::PassThrough pass) override
    {
        ++reads;
        return inner_.read(address, subAddress, buffer, count, pass);
    }
    int writeBlock(const std::uint8_t* block, int length, std::uint8_t secondary, std::uint8_t subAddress,
                   std::uint16_t offset) override
    {
        ++blocks;
        blockOffsets.push_back(offset);
        EXPECT_EQ(length, 258);
        EXPECT_EQ(secondary, 0x96);
        EXPECT_EQ(subAddress, 0x92);
        return inner_.writeBlock(block, length, secondary, subAddress, offset);
    }
    int probeTarget() override { return MVX_OK; }
    void reapplySettings() override { ++reapplied; }
    void applySerialFlashSettings() override { ++serialFlashSettings; }

    std::size_t accesses() const { return writes.size() + static_cast<std::size_t>(reads + blocks); }

    // Block, sector and chip erases started through 0x60 (chip erases with bank 0xFF).
    std::vector<Erase> erases() const
    {
        std::vector<Erase> found;
        std::uint8_t opcode = 0;
        std::array<std::uint8_t, 3> address{};
        for (const Write& w : writes) {
            if (w.data.empty())
                continue;
            if (w.reg == 0x61)
                opcode = w.data[0];
            else if (w.reg == 0x64 && w.data.size() == 3)
                std::copy_n(w.data.begin(), 3, address.begin());
            else if (w.reg == 0x60 && w.data[0] == 0xB9)
                found.push_back({opcode, address[0], address[1]});
            else if (w.reg == 0x60 && w.data[0] == 0xA1)
                found.push_back({opcode, 0xFF, 0});
        }
        return found;
    }

    // Writes of 256 bytes to the page data port.
    int pageWrites() const
    {
        int count = 0;
        for (const Write& w : writes)
            count += w.reg == 0x70 && w.data.size() == 256 ? 1 : 0;
        return count;
    }

    std::vector<Write> writes;
    std::vector<int> readsBeforeWrite;   // reads made before each write
    int reads = 0;
    int blocks = 0;
    std::vector<std::uint16_t> blockOffsets;
    int reapplied = 0;
    int serialFlashSettings = 0;

private:
    BusAdapter inner_;
};

// Intel-HEX text of `data` at offset 0, 16 bytes a record.
inline std::string toHex(std::span<const std::uint8_t> data)
{
    std::string text;
    char field[8];
    for (std::size_t at = 0; at < data.size(); at += 16) {
        const std::size_t n = std::min<std::size_t>(16, data.size() - at);
        unsigned sum = static_cast<unsigned>(n + ((at >> 8) & 0xFF) + (at & 0xFF));
        std::snprintf(field, sizeof field, ":%02X%04X", static_cast<unsigned>(n), static_cast<unsigned>(at));
        text += field;
        text += "00";
        for (std::size_t i = 0; i < n; ++i) {
            std::snprintf(field, sizeof field, "%02X", data[at + i]);
            text += field;
            sum += data[at + i];
        }
        std::snprintf(field, sizeof field, "%02X\n", (0x100 - (sum & 0xFF)) & 0xFF);
        text += field;
    }
    return text + ":00000001FF\n";
}

class SerialFlashFixture : public ::testing::Test {
protected:
    // Builds the board and the context.  The context runs operation 2 with
    // the part's brand as argument 8, ID read mode 0, a whole-device erase
    // plan and the messages going to `log`.
    void start(const sim::BoardConfig& config)
    {
        ctx.reset();
        adapter.reset();
        std::string error;
        board = sim::Board::create(config, &error);
        ASSERT_NE(board, nullptr) << error;
        adapter = std::make_unique<RecordingAdapter>(board->bus());
        ctx = std::make_unique<engine::IspContext>();
        ctx->operation = MVX_OP_SERIAL_FLASH;
        ctx->flashBrand = brandOf(config.flashPart);
        ctx->fileTable = table.data();
        ctx->clock = &board->clock();
        ctx->progress.setWindow(&log.window);
        ctx->plan = engine::ProgressPlan::forRun(0, 0);
        ctx->link.emplace(*adapter, board->clock(), std::uint8_t{0x94}, std::uint8_t{0x96});
    }
    void start(const std::string& part = "W25X40A")
    {
        sim::BoardConfig config;
        config.flashPart = part;
        start(config);
    }

    static int brandOf(const std::string& part)
    {
        const sim::FlashPart* found = sim::findFlashPart(part);
        return found != nullptr && found->brand <= MVX_BRAND_AMIC ? int{found->brand} : int{MVX_BRAND_PMC};
    }

    std::vector<std::uint8_t>& flash() { return board->flash()->array(); }

    // A firmware file for a bank: binary, or HEX when asked.
    void useFile(int bank, const std::vector<std::uint8_t>& bytes, bool hex = false, std::uint8_t inUse = 1)
    {
        const std::string path = folder.file("bank" + std::to_string(bank) + (hex ? ".hex" : ".bin"));
        writeWholeFile(path, hex ? toHex(bytes) : std::string(bytes.begin(), bytes.end()));
        FileTableEntry& entry = table[static_cast<std::size_t>(bank)];
        entry.inUse = inUse;
        entry.format = hex ? MVX_FORMAT_HEX : MVX_FORMAT_BINARY;
        std::snprintf(entry.path, sizeof entry.path, "%s", path.c_str());
    }

    // Flash bytes [offset, offset + count).
    std::vector<std::uint8_t> flashBytes(std::size_t offset, std::size_t count)
    {
        return {flash().begin() + static_cast<std::ptrdiff_t>(offset),
                flash().begin() + static_cast<std::ptrdiff_t>(offset + count)};
    }
    bool flashRangeIs(std::size_t offset, std::size_t count, std::uint8_t value)
    {
        const auto bytes = flashBytes(offset, count);
        return std::all_of(bytes.begin(), bytes.end(), [value](std::uint8_t b) { return b == value; });
    }
    // A bank's content after programming `image`: the image, then 0xFF.
    static std::vector<std::uint8_t> bankHolding(const std::vector<std::uint8_t>& image)
    {
        std::vector<std::uint8_t> bank(image);
        bank.resize(0x10000, 0xFF);
        return bank;
    }

    TempFolder folder;
    std::array<FileTableEntry, MVX_FILE_TABLE_SIZE> table{};
    MessageLog log;
    std::unique_ptr<sim::Board> board;
    std::unique_ptr<RecordingAdapter> adapter;
    std::unique_ptr<engine::IspContext> ctx;
};

}  // namespace mvx::test
