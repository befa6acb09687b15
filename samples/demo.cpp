// Writes firmware files into the serial flash of the virtual board named by
// MVX_VIRTUAL_BOARD through the engine library, prints the engine's progress
// messages as they arrive, and then checks that the board's flash.bin holds
// the image.
//
//   mvx_demo ENGINE_LIBRARY BANK0.hex [BANK1.hex ...]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp.h"
#include "mvxisp_result.hpp"

namespace {

const char* const kBrands[] = {"PMC", "Winbond", "MXIC", "EON", "SST", "AMIC"};

struct Console {
    int lastPercent = -1;
    bool crcLineOpen = false;   // an image CRC waits for the device's
};

intptr_t onMessage(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    auto& console = *static_cast<Console*>(context);
    if (message != WM_ISP_PROGRESS)
        return 0;
    const int code = MVX_PROGRESS_CODE(wParam);
    const int sub = MVX_PROGRESS_SUB(wParam);
    switch (code) {
    case MVX_MSG_OVERALL_PERCENT:
        if (lParam != console.lastPercent && (lParam % 10 == 0 || lParam >= 95)) {
            std::printf("  %3ld %%\n", static_cast<long>(lParam));
            console.lastPercent = static_cast<int>(lParam);
        }
        break;
    case MVX_MSG_FLASH_IDENTIFIED:
        if (sub < 6)
            std::printf("  flash: %s, type %ld\n", kBrands[sub], static_cast<long>(lParam));
        else
            std::printf("  flash: unknown chip\n");
        break;
    case MVX_MSG_ERASE_RESULT:
        std::printf("  erase bank %d: %s\n", sub, lParam == 1 || lParam == 2 || lParam == 5 ? "OK" : "failed");
        break;
    case MVX_MSG_CRC_IMAGE:
        std::printf("  bank %d: image CRC %02lX", sub, static_cast<long>(lParam));
        console.crcLineOpen = true;
        break;
    case MVX_MSG_CRC_DEVICE:
        if (console.crcLineOpen)
            std::printf(", device CRC %02lX", static_cast<long>(lParam));
        else
            std::printf("  bank %d: device CRC %02lX after the erase\n", sub, static_cast<long>(lParam));
        break;
    case MVX_MSG_CRC_MATCH:
        std::printf(" -> %s\n", lParam == 1 ? "match" : "MISMATCH");
        console.crcLineOpen = false;
        break;
    case MVX_MSG_RUN_PASSED:
        std::printf("  run passed\n");
        break;
    case MVX_MSG_RUN_FAILED:
        std::printf("  run failed with %ld\n", static_cast<long>(lParam));
        break;
    default:
        break;
    }
    return 0;
}

int onMessageBox(void*, const char* text, const char* caption, uint32_t)
{
    std::printf("  [%s] %s\n", caption, text);
    return MVX_IDOK;
}

// The bytes an Intel HEX file puts at each address of its bank (0xFF elsewhere).
bool readHex(const std::string& path, std::vector<unsigned char>& bank)
{
    std::ifstream in(path);
    if (!in)
        return false;
    bank.assign(65536, 0xFF);
    std::string line;
    while (std::getline(in, line)) {
        if (line.size() < 11 || line[0] != ':')
            continue;
        auto byteAt = [&](std::size_t i) { return static_cast<unsigned>(std::stoul(line.substr(i, 2), nullptr, 16)); };
        const unsigned count = byteAt(1);
        const unsigned address = byteAt(3) * 256 + byteAt(5);
        if (byteAt(7) == 1)
            break;
        for (unsigned j = 0; j < count && address + j < bank.size() && 9 + 2 * j + 2 <= line.size(); ++j)
            bank[address + j] = static_cast<unsigned char>(byteAt(9 + 2 * j));
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s ENGINE_LIBRARY BANK0.hex [BANK1.hex ...]\n", argv[0]);
        return 2;
    }
    const char* boardFolder = std::getenv("MVX_VIRTUAL_BOARD");
    if (boardFolder == nullptr) {
        std::fprintf(stderr, "set MVX_VIRTUAL_BOARD to the virtual board's folder\n");
        return 2;
    }
    mvx::platform::DynamicLibrary engine;
    if (!engine.open(argv[1])) {
        std::fprintf(stderr, "cannot load the engine: %s\n", engine.error().c_str());
        return 2;
    }
    auto isp = engine.function<MvxIspFn>("mvxISP");
    if (isp == nullptr) {
        std::fprintf(stderr, "the engine has no mvxISP\n");
        return 2;
    }

    std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    const int banks = argc - 2;
    for (int bank = 0; bank < banks; ++bank) {
        const std::string path = argv[bank + 2];
        if (path.size() >= MVX_PATH_CAPACITY) {
            std::fprintf(stderr, "path too long: %s\n", path.c_str());
            return 2;
        }
        table[static_cast<std::size_t>(bank)].inUse = 1;
        table[static_cast<std::size_t>(bank)].format = MVX_FORMAT_HEX;
        std::memcpy(table[static_cast<std::size_t>(bank)].path, path.c_str(), path.size() + 1);
    }

    Console console;
    const MvxWindow window{&console, onMessage, onMessageBox};
    const FlashProtectSettings protect{};
    IspOptions options{};
    options.isprepeat_counter = 1;
    std::printf("Programming %d bank(s) into the serial flash of the virtual board in %s\n", banks, boardFolder);
    std::printf("  (Norvane IIC parallel-port cable, flash identified by its JEDEC ID)\n");
    const int result = isp(MVX_ADAPTER_NORVANE_IIC, MVX_OP_SERIAL_FLASH, 0, 1, 0, 0, 32, MVX_BRAND_WINBOND, 0,
                           table.data(), 0, 1, &window, &protect, 0, 0, &options);
    std::printf("mvxISP returned %d (%s)\n", result, mvx::resultName(result));
    if (result != MVX_OK)
        return 1;

    std::ifstream flashFile(std::string(boardFolder) + "/flash.bin", std::ios::binary);
    const std::vector<unsigned char> flash((std::istreambuf_iterator<char>(flashFile)), std::istreambuf_iterator<char>());
    for (int bank = 0; bank < banks; ++bank) {
        std::vector<unsigned char> expected;
        if (!readHex(argv[bank + 2], expected) || flash.size() < static_cast<std::size_t>(bank + 1) * 65536u ||
            !std::equal(expected.begin(), expected.end(), flash.begin() + bank * 65536)) {
            std::printf("flash.bin does NOT hold bank %d of the image\n", bank);
            return 1;
        }
    }
    std::printf("flash.bin holds the image: %d x 65,536 bytes match the firmware files\n", banks);
    return 0;
}
