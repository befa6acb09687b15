// MVXIICDLL.so itself, loaded the way the engine loads it: exactly the six
// exports, the engine's results without a bus, and whole engine runs that
// reach a virtual board through the library (MVX_I2CDEV_VIRTUAL_BOARD).
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "mvx/adapters/maker_library_abi.h"
#include "mvx/adapters/transports.hpp"
#include "mvx/platform/dynamic_library.hpp"
#include "mvx/sim/virtual_clock.hpp"
#include "mvxisp.h"
#include "run.hpp"
#include "scaler_driver.hpp"
#include "temp_folder.hpp"

using mvx::test::readWholeFile;
using mvx::test::ScopedEnv;
using mvx::test::TempFolder;
using mvx::test::writeWholeFile;

namespace {

const std::string kModule = std::string(MVX_IICDLL_FOLDER) + "/" MVX_MAKER_IIC_LIBRARY ".so";

// The names of the symbols the file defines in its dynamic symbol table.
std::set<std::string> definedDynamicSymbols(const std::string& path)
{
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    std::string file(static_cast<std::size_t>(std::max<std::streamoff>(in.tellg(), 0)), '\0');
    in.seekg(0);
    in.read(file.data(), static_cast<std::streamsize>(file.size()));
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr))
        return names;
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (header.e_shoff + std::uint64_t{header.e_shnum} * sizeof(Elf64_Shdr) > file.size())
        return names;
    std::vector<Elf64_Shdr> sections(header.e_shnum);
    std::memcpy(sections.data(), file.data() + header.e_shoff, sections.size() * sizeof(Elf64_Shdr));
    for (const Elf64_Shdr& section : sections) {
        if (section.sh_type != SHT_DYNSYM || section.sh_link >= sections.size())
            continue;
        const Elf64_Shdr& strings = sections[section.sh_link];
        for (std::uint64_t at = section.sh_offset; at + sizeof(Elf64_Sym) <= section.sh_offset + section.sh_size;
             at += sizeof(Elf64_Sym)) {
            Elf64_Sym symbol;
            std::memcpy(&symbol, file.data() + at, sizeof symbol);
            if (symbol.st_shndx != SHN_UNDEF && ELF64_ST_BIND(symbol.st_info) != STB_LOCAL)
                names.insert(file.data() + strings.sh_offset + symbol.st_name);
        }
    }
    return names;
}

// Where the engine finds the library, with no virtual board of the engine's
// own and a registry store of the test's.
struct LibraryEnvironment {
    TempFolder folder;
    ScopedEnv systemDir{"MVX_SYSTEM_DIR", MVX_IICDLL_FOLDER};
    ScopedEnv engineBoard{"MVX_VIRTUAL_BOARD", nullptr};
    ScopedEnv registry{"MVX_REGISTRY", folder.file("registry.ini").c_str()};
    ScopedEnv target{"MVX_I2C_TARGET", nullptr};
};

// A board folder that only the library knows about.
struct LibraryBoard : LibraryEnvironment {
    explicit LibraryBoard(const std::string& ini = "")
    {
        writeWholeFile(board.file("board.ini"), ini);
    }
    std::string flash() const { return readWholeFile(board.file("flash.bin")); }
    TempFolder board;
    ScopedEnv bus{"MVX_I2C_BUS", nullptr};
    ScopedEnv env{"MVX_I2CDEV_VIRTUAL_BOARD", board.path().c_str()};
};

// One bank of firmware and the serial-flash run of it: kind 2, library mode.
struct SerialFlashRun {
    explicit SerialFlashRun(std::size_t bytes) : image(mvx::test::firmwarePattern(bytes, 21))
    {
        table.resize(MVX_FILE_TABLE_SIZE);
        const std::string path = files.file("bank0.bin");
        writeWholeFile(path, std::string(image.begin(), image.end()));
        table[0].inUse = 1;
        table[0].format = MVX_FORMAT_BINARY;
        std::strcpy(table[0].path, path.c_str());
        options.norvane_iic_ispspeed = 3;
        arguments.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        arguments.libraryMode = 1;
        arguments.operation = MVX_OP_SERIAL_FLASH;
        arguments.flashBrand = MVX_BRAND_WINBOND;
        arguments.idReadMode = 1;
        arguments.fileTable = table.data();
        arguments.options = &options;
    }
    int run() { return mvx::engine::runIsp(arguments); }

    TempFolder files;
    std::vector<std::uint8_t> image;
    std::vector<FileTableEntry> table;
    IspOptions options{};
    mvx::engine::IspArguments arguments;
};

}  // namespace

// ---- the file ----

TEST(IicModule, ExportsTheSixCallsAndNothingElse)
{
    const std::set<std::string> expected{MVX_EXPORT_INITIALIZE,     MVX_EXPORT_DEBUG_READ,
                                         MVX_EXPORT_DEBUG_WRITE,    MVX_EXPORT_SET_POLLING,
                                         MVX_EXPORT_SET_WORK_DELAY, MVX_EXPORT_TARGET_BOARD_TEST};
    EXPECT_EQ(definedDynamicSymbols(kModule), expected);
    mvx::platform::DynamicLibrary library;
    ASSERT_TRUE(library.open(kModule)) << library.error();
    for (const std::string& name : expected)
        EXPECT_NE(library.symbol(name.c_str()), nullptr) << name;
}

// ---- no bus: the engine's transport results ----

TEST(IicModule, MissingBusGivesReadWriteAndProbeFailures)
{
    LibraryEnvironment environment;
    ScopedEnv bus("MVX_I2C_BUS", "/nonexistent/i2c-99");
    ScopedEnv board("MVX_I2CDEV_VIRTUAL_BOARD", nullptr);
    mvx::sim::VirtualClock clock;
    mvx::adapters::TransportSettings settings;
    settings.adapterKind = MVX_ADAPTER_NORVANE_IIC;
    settings.libraryMode = 1;
    auto transport = mvx::adapters::makeTransport(settings, nullptr, clock);
    ASSERT_TRUE(transport);
    ASSERT_EQ(transport->open(), MVX_OK);
    const std::uint8_t byte = 0x80;
    std::uint8_t got = 0;
    EXPECT_EQ(transport->write(0x94, 0x6F, &byte, 1, {1, 0, 0}), MVX_ERR_LIBRARY_WRITE);
    EXPECT_EQ(transport->read(0x94, 0x6F, &got, 1, {1, 0, 0}), MVX_ERR_LIBRARY_READ);
    EXPECT_EQ(transport->probeTarget(), MVX_ERR_ISP_MODE);
    transport->close();
}

TEST(IicModule, EngineRunWithoutAnyBusChosenFailsToEnterIspMode)
{
    LibraryEnvironment environment;
    ScopedEnv bus("MVX_I2C_BUS", nullptr);
    ScopedEnv board("MVX_I2CDEV_VIRTUAL_BOARD", nullptr);
    SerialFlashRun run(4096);
    EXPECT_EQ(run.run(), MVX_ERR_ISP_MODE);
}

// ---- whole engine runs through the library ----

TEST(IicModule, EngineProgramsTheBoardBehindTheLibrary)
{
    LibraryBoard board;
    SerialFlashRun run(8192);
    ASSERT_EQ(run.run(), MVX_OK);
    const std::string flash = board.flash();
    ASSERT_EQ(flash.size(), 512u * 1024u);
    EXPECT_EQ(0, std::memcmp(flash.data(), run.image.data(), run.image.size()));
    EXPECT_TRUE(std::all_of(flash.begin() + 8192, flash.end(), [](char c) { return c == '\xFF'; }));
}

TEST(IicModule, EngineProgramsTheBoardThroughAPlainOnlyDriver)
{
    LibraryBoard board("[i2cdev]\nrefuse_combined=1\n");
    SerialFlashRun run(4096);
    ASSERT_EQ(run.run(), MVX_OK);
    EXPECT_EQ(0, std::memcmp(board.flash().data(), run.image.data(), run.image.size()));
}

TEST(IicModule, EngineRunOnADeadLinkFailsToEnterIspModeAndWritesNothing)
{
    LibraryBoard board("[board]\nlink=dead\n");
    SerialFlashRun run(4096);
    EXPECT_EQ(run.run(), MVX_ERR_ISP_MODE);
    const std::string flash = board.flash();
    EXPECT_TRUE(std::all_of(flash.begin(), flash.end(), [](char c) { return c == '\xFF'; }));
}
