// The engine library as callers see it: its dynamic symbol table and the two
// exports resolved at run time.
#include <elf.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp.h"
#include "mvxisp_result.hpp"
#include "temp_folder.hpp"

extern "C" int mvx_header_c_entry_size(void);
extern "C" int mvx_header_c_progress_wparam(int code, int sub);

namespace {

// The defined global and weak symbols of a 64-bit ELF file's .dynsym.
std::set<std::string> definedDynamicSymbols(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::set<std::string> names;
    if (file.size() < sizeof(Elf64_Ehdr)) {
        ADD_FAILURE() << "not an ELF file: " << path;
        return names;
    }
    Elf64_Ehdr header;
    std::memcpy(&header, file.data(), sizeof header);
    if (std::memcmp(header.e_ident, ELFMAG, SELFMAG) != 0 || header.e_ident[EI_CLASS] != ELFCLASS64) {
        ADD_FAILURE() << "not a 64-bit ELF file: " << path;
        return names;
    }
    auto section = [&](std::size_t index) {
        Elf64_Shdr s;
        std::memcpy(&s, file.data() + header.e_shoff + index * header.e_shentsize, sizeof s);
        return s;
    };
    for (std::size_t i = 0; i < header.e_shnum; ++i) {
        const Elf64_Shdr dynsym = section(i);
        if (dynsym.sh_type != SHT_DYNSYM)
            continue;
        const Elf64_Shdr strtab = section(dynsym.sh_link);
        for (std::size_t off = 0; off + sizeof(Elf64_Sym) <= dynsym.sh_size; off += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + dynsym.sh_offset + off, sizeof sym);
            const int binding = ELF64_ST_BIND(sym.st_info);
            if (sym.st_shndx == SHN_UNDEF || (binding != STB_GLOBAL && binding != STB_WEAK))
                continue;
            names.insert(file.data() + strtab.sh_offset + sym.st_name);
        }
    }
    return names;
}

struct Engine {
    mvx::platform::DynamicLibrary library;
    MvxIspFn isp = nullptr;
    MvxGetFileInfoFn fileInfo = nullptr;
    Engine()
    {
        if (!library.open(MVX_ENGINE_LIBRARY))
            return;
        isp = library.function<MvxIspFn>("mvxISP");
        fileInfo = library.function<MvxGetFileInfoFn>("mvxGetFileInfo");
    }
};

}  // namespace

// ---- the library's boundary ----

TEST(EngineLibrary, ExportsExactlyTheTwoEntryPoints)
{
    const auto names = definedDynamicSymbols(MVX_ENGINE_LIBRARY);
    EXPECT_EQ(names, (std::set<std::string>{"mvxISP", "mvxGetFileInfo"}));
}

TEST(EngineLibrary, BothEntryPointsResolveAtRunTime)
{
    Engine engine;
    ASSERT_TRUE(engine.library.isOpen()) << engine.library.error();
    EXPECT_NE(engine.isp, nullptr);
    EXPECT_NE(engine.fileInfo, nullptr);
}

// ---- the header's records ----

TEST(EngineHeader, RecordsHaveTheCallersLayoutInCAndCxx)
{
    EXPECT_EQ(sizeof(FileTableEntry), 268u);
    EXPECT_EQ(mvx_header_c_entry_size(), 268);
    EXPECT_EQ(sizeof(FlashProtectSettings), 16u);
    FileTableEntry table[MVX_FILE_TABLE_SIZE] = {};
    EXPECT_EQ(reinterpret_cast<char*>(&table[1]) - reinterpret_cast<char*>(&table[0]), 268);
    EXPECT_EQ(offsetof(IspOptions, hdcp_key_file) % alignof(const char*), 0u);
    EXPECT_LT(offsetof(IspOptions, autoload_hdcp_key_file_method), offsetof(IspOptions, hdcp_key_file));
    EXPECT_LT(offsetof(IspOptions, saveread_hdcp_key_file_path), offsetof(IspOptions, flashstatus_value));
}

TEST(EngineHeader, ProgressWordPacksCodeAndSubInSixteenBits)
{
    EXPECT_EQ(WM_ISP_PROGRESS, 0x465);
    EXPECT_EQ(WM_SETTINGS_NOTIFY, 0x466);
    EXPECT_EQ(WM_ISP_STOP, 0x467);
    EXPECT_EQ(MVX_PROGRESS_WPARAM(MVX_MSG_PROGRAM_PERCENT, 255), 0x02FFu);
    EXPECT_EQ(mvx_header_c_progress_wparam(2, 255), 0x02FF);
    EXPECT_EQ(MVX_PROGRESS_WPARAM(13, 0x1FF), 0x0DFFu);   // sub is a byte
    EXPECT_EQ(MVX_PROGRESS_CODE(0x0B05), 11);
    EXPECT_EQ(MVX_PROGRESS_SUB(0x0B05), 5);
}

TEST(EngineHeader, EveryResultCodeHasItsOwnName)
{
    const int codes[] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 20, 21, 24, 25, 26, 27, 28, 29};
    std::set<std::string> names;
    for (int code : codes) {
        const std::string name = mvx::resultName(code);
        EXPECT_NE(name, "unknown result code") << code;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), std::size(codes));
    EXPECT_STREQ(mvx::resultName(19), "unknown result code");
    EXPECT_STREQ(mvx::resultName(-1), "unknown result code");
}

// ---- argument checks that need no device ----

TEST(EngineArguments, AdapterKindAndOperationAreCheckedFirst)
{
    Engine engine;
    ASSERT_NE(engine.isp, nullptr);
    IspOptions options{};
    EXPECT_EQ(engine.isp(4, 0, 0, 1, 0, 0, 32, 0, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0, &options),
              MVX_ERR_ADAPTER_KIND);
    EXPECT_EQ(engine.isp(-1, 0, 0, 1, 0, 0, 32, 0, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0, &options),
              MVX_ERR_ADAPTER_KIND);
    EXPECT_EQ(engine.isp(0, 6, 0, 1, 0, 0, 32, 0, 0, nullptr, 0, 0, nullptr, nullptr, 0, 0, &options),
              MVX_ERR_OPERATION);
}

TEST(EngineArguments, FileInfoChecksPathFormatBankAndOperationInOrder)
{
    Engine engine;
    ASSERT_NE(engine.fileInfo, nullptr);
    int data = -7, program = -7, checksum = -7, crc = -7;
    EXPECT_EQ(engine.fileInfo(nullptr, 3, 300, 9, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0),
              MVX_ERR_FILE);
    EXPECT_EQ(engine.fileInfo("a.hex", 3, 300, 9, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0),
              MVX_ERR_FILE_FORMAT);
    EXPECT_EQ(engine.fileInfo("a.hex", 0, 257, 9, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0),
              MVX_ERR_BANK);
    EXPECT_EQ(engine.fileInfo("a.hex", 0, 0, 6, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0),
              MVX_ERR_OPERATION);
    const std::string tooLong(300, 'a');
    EXPECT_EQ(engine.fileInfo(tooLong.c_str(), 0, 0, 0, 0, 0, &data, &program, &checksum, &crc, nullptr, 0, 0),
              MVX_ERR_FILE);
    // A failed argument check leaves the outputs unwritten.
    EXPECT_EQ(data, -7);
    EXPECT_EQ(program, -7);
    EXPECT_EQ(checksum, -7);
    EXPECT_EQ(crc, -7);
}

// ---- one run through the loaded library, as the tool makes it ----

namespace {

struct Recorded {
    int code;
    int sub;
    long value;
    bool operator==(const Recorded&) const = default;
};

intptr_t recordMessage(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_ISP_PROGRESS)
        static_cast<std::vector<Recorded>*>(context)->push_back(
            {MVX_PROGRESS_CODE(wParam), MVX_PROGRESS_SUB(wParam), static_cast<long>(lParam)});
    return 0;
}

}  // namespace

TEST(EngineLibrary, SerialFlashRunReportsEachStepInOrder)
{
    Engine engine;
    ASSERT_NE(engine.isp, nullptr);
    mvx::test::TempFolder folder;
    mvx::test::ScopedEnv board("MVX_VIRTUAL_BOARD", folder.file("board").c_str());
    std::string firmware(300, '\0');
    for (std::size_t i = 0; i < firmware.size(); ++i)
        firmware[i] = static_cast<char>(i * 7 + 3);
    mvx::test::writeWholeFile(folder.file("bank0.bin"), firmware);

    std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    table[0].inUse = 1;
    table[0].format = MVX_FORMAT_BINARY;
    std::strcpy(table[0].path, folder.file("bank0.bin").c_str());
    std::vector<Recorded> messages;
    const MvxWindow window{&messages, recordMessage, nullptr};
    const FlashProtectSettings protect{};
    const IspOptions options{};
    ASSERT_EQ(engine.isp(MVX_ADAPTER_NORVANE_IIC, MVX_OP_SERIAL_FLASH, 0, 1, 0, 0, 32, MVX_BRAND_WINBOND, 0,
                         table.data(), 0, 1, &window, &protect, 0, 0, &options),
              MVX_OK);

    std::uint8_t crc = 0;
    for (char c : firmware) {
        crc = static_cast<std::uint8_t>(crc ^ static_cast<std::uint8_t>(c));
        for (int bit = 0; bit < 8; ++bit)
            crc = static_cast<std::uint8_t>((crc & 0x80) ? (crc << 1) ^ 0x07 : crc << 1);
    }
    std::uint8_t blank = 0;
    for (int i = 0; i < 300; ++i) {
        blank = static_cast<std::uint8_t>(blank ^ 0xFF);
        for (int bit = 0; bit < 8; ++bit)
            blank = static_cast<std::uint8_t>((blank & 0x80) ? (blank << 1) ^ 0x07 : blank << 1);
    }
    // Identified (Winbond W25X40A), entered, erased (the bank was blank: its
    // CRC is reported and it counts as erased), programmed, verified, passed.
    const std::vector<Recorded> expected{
        {14, 1, 2},     {13, 0, 5},   {13, 0, 20}, {4, 0, blank}, {1, 0, 1}, {2, 0, 0},   {13, 0, 21},
        {2, 0, 100},    {3, 0, crc},  {4, 0, crc}, {5, 0, 1},     {12, 0, 0}, {9, 0, 0},  {13, 0, 100},
    };
    EXPECT_EQ(messages, expected);
}
