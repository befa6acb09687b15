// How long a whole run takes on real hardware, as the virtual board's time
// model predicts it, against the physical floor of the same run.
//
// Each row is one engine call (mvxISP's C++ side) on a fresh virtual board,
// through one transport: a 512 KB serial flash (blank, then reprogrammed with
// other data), a full 5310 (96 KB) and a full 5312 (160 KB), at 100 and
// 400 kHz.  The floor is what no transport can beat: 9.1 clocks per payload
// byte at the bus clock (8 data bits, the acknowledge and a share of the
// START, address and STOP), plus the part's own busy times, taken from the
// same tables the board uses: for the serial flash (N / 256) page programs
// and, where the old data must go, (N / 65536) 64 KB block erases; for the
// MCUs the mass erase (their byte programming runs while the next byte is on
// the bus).  The bit-banged parallel cables clock the bus as fast as the
// port lets them whatever the board is rated for, so their floor is taken
// at that clock.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "mvx/platform/ini.hpp"
#include "mvx/sim/mcu.hpp"
#include "mvx/sim/port_io.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "mvxisp.h"
#include "run.hpp"

namespace {

namespace fs = std::filesystem;

struct Transport {
    const char* name;
    int adapterKind;
    int libraryMode;
    bool portPaced;   // the parallel cables: the port sets the bus clock
};

constexpr Transport kTransports[] = {
    {"parallel cable, Norvane wiring", MVX_ADAPTER_NORVANE_IIC, 0, true},
    {"parallel cable, CVT wiring", MVX_ADAPTER_CVT_IIC, 0, true},
    {"IIC library", MVX_ADAPTER_NORVANE_IIC, 1, false},
    {"USB bridge", MVX_ADAPTER_NORVANE_USB, 0, false},
    {"USB library", MVX_ADAPTER_NORVANE_USB, 1, false},
    {"FTDI", MVX_ADAPTER_FTDI_USB, 1, false},
};

enum class Job { FlashBlank, FlashReprogram, Mcu5310, Mcu5312 };

struct JobShape {
    const char* name;
    const char* target;
    int operation;
    std::vector<std::size_t> banks;
};

JobShape shapeOf(Job job)
{
    switch (job) {
    case Job::FlashBlank:
        return {"512 KB flash, blank", "serialflash", MVX_OP_SERIAL_FLASH, std::vector<std::size_t>(8, 65536)};
    case Job::FlashReprogram:
        return {"512 KB flash, reprogram", "serialflash", MVX_OP_SERIAL_FLASH, std::vector<std::size_t>(8, 65536)};
    case Job::Mcu5310:
        return {"5310, full", "5310", MVX_OP_MCU_5310, {65536, 32768}};
    case Job::Mcu5312:
        return {"5312, full", "5312", MVX_OP_MCU_5312, {65536, 65536, 32768}};
    }
    return {};
}

struct Measured {
    int result = -1;
    double virtualSeconds = 0;
    double busBytes = 0;
    double usbTransfers = 0;
    double cpuSeconds = 0;
};

double cpuNow()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void writeFile(const fs::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

// Firmware files of the job's bank sizes (seeded pattern) and the table naming them.
std::vector<FileTableEntry> firmware(const fs::path& folder, const JobShape& shape, unsigned seed)
{
    std::vector<FileTableEntry> table(MVX_FILE_TABLE_SIZE);
    for (std::size_t bank = 0; bank < shape.banks.size(); ++bank) {
        std::string data(shape.banks[bank], '\0');
        unsigned state = seed + static_cast<unsigned>(bank);
        for (char& byte : data) {
            state = state * 1103515245u + 12345u;
            byte = static_cast<char>(state >> 16);
        }
        const fs::path path = folder / ("bank" + std::to_string(bank) + "-" + std::to_string(seed) + ".bin");
        writeFile(path, data);
        table[bank].inUse = 1;
        table[bank].format = MVX_FORMAT_BINARY;
        std::snprintf(table[bank].path, sizeof table[bank].path, "%s", path.c_str());
    }
    return table;
}

double runNumber(const std::optional<mvx::platform::IniDocument>& ini, const char* key)
{
    if (!ini)
        return 0;
    return std::strtod(ini->value("run", key).value_or("0").c_str(), nullptr);
}

Measured runOnce(const fs::path& board, const Transport& transport, const JobShape& shape, unsigned khz,
                 unsigned seed)
{
    const std::vector<FileTableEntry> table = firmware(board, shape, seed);
    IspOptions options{};
    // The FTDI adapter's SCL is 6 MHz / (1 + divisor): 59 for 100 kHz, 14 for 400 kHz.
    options.other_usb_ispspeed = static_cast<int>(6000 / khz) - 1;
    mvx::engine::IspArguments a;
    a.adapterKind = transport.adapterKind;
    a.libraryMode = transport.libraryMode;
    a.operation = shape.operation;
    a.flashBrand = MVX_BRAND_WINBOND;
    a.idReadMode = 1;
    a.fileTable = table.data();
    a.options = &options;
    Measured m;
    const double cpuFrom = cpuNow();
    m.result = mvx::engine::runIsp(a);
    m.cpuSeconds = cpuNow() - cpuFrom;
    const auto ini = mvx::platform::loadIni((board / "run.ini").string());
    m.virtualSeconds = runNumber(ini, "virtual_us") / 1e6;
    m.busBytes = runNumber(ini, "bus_bytes");
    m.usbTransfers = runNumber(ini, "usb_transfers");
    return m;
}

// The clock the bit-banged cable gives the bus: one SCL period per written
// bit, three port accesses and three yields.
double portClockHz()
{
    using Port = mvx::sim::VirtualParallelPort;
    return 1e9 / (3.0 * static_cast<double>(Port::kAccessNanos + Port::kYieldNanos));
}

double floorSeconds(Job job, double payload, double clockHz)
{
    double seconds = 9.1 * payload / clockHz;
    const mvx::sim::FlashPart* part = mvx::sim::findFlashPart("W25X40A");
    switch (job) {
    case Job::FlashReprogram:
        seconds += payload / 65536 * part->block64EraseMicros / 1e6;
        [[fallthrough]];
    case Job::FlashBlank:
        seconds += payload / 256 * part->pageProgramMicros / 1e6;
        break;
    case Job::Mcu5310:
        seconds += mvx::sim::McuTiming::massErase5310Micros / 1e6;
        break;
    case Job::Mcu5312:
        seconds += mvx::sim::McuTiming::massErase5312Micros / 1e6;
        break;
    }
    return seconds;
}

}  // namespace

int main()
{
    char pattern[] = "/tmp/mvx-program-time-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::perror("program_time: temporary folder");
        return 1;
    }
    const fs::path scratch(pattern);
    std::printf("%-30s %-24s %5s %9s %9s %6s %9s %9s %8s %6s\n", "transport", "job", "kHz", "virtual s",
                "floor s", "ratio", "bus B/B", "USB/page", "CPU ms", "CPU %");
    int failures = 0;
    int boardNumber = 0;
    for (const Transport& transport : kTransports) {
        for (const Job job : {Job::FlashBlank, Job::FlashReprogram, Job::Mcu5310, Job::Mcu5312}) {
            const JobShape shape = shapeOf(job);
            for (const unsigned khz : {100u, 400u}) {
                // The cable's clock does not follow the board's rating: one row is enough.
                if (transport.portPaced && khz != 100u)
                    continue;
                const fs::path board = scratch / ("board" + std::to_string(++boardNumber));
                fs::create_directories(board);
                writeFile(board / "board.ini", std::string("[board]\ntarget=") + shape.target +
                                                   "\nbus_khz=" + std::to_string(khz) + "\n");
                setenv("MVX_VIRTUAL_BOARD", board.c_str(), 1);
                // Reprogramming: the board first gets other firmware.
                if (job == Job::FlashReprogram && runOnce(board, transport, shape, khz, 11).result != MVX_OK)
                    ++failures;
                const Measured m = runOnce(board, transport, shape, khz, 31);
                double payload = 0;
                for (const std::size_t bytes : shape.banks)
                    payload += static_cast<double>(bytes);
                const double clockHz = transport.portPaced ? portClockHz() : khz * 1000.0;
                const double floor = floorSeconds(job, payload, clockHz);
                const std::string speed = transport.portPaced ? "port" : std::to_string(khz);
                std::printf("%-30s %-24s %5s %9.2f %9.2f %6.2f %9.2f %9.2f %8.0f %6.2f%s\n", transport.name,
                            shape.name, speed.c_str(), m.virtualSeconds, floor, m.virtualSeconds / floor,
                            m.busBytes / payload, m.usbTransfers / (payload / 256), m.cpuSeconds * 1e3,
                            100.0 * m.cpuSeconds / m.virtualSeconds, m.result == MVX_OK ? "" : "  FAILED");
                std::fflush(stdout);
                if (m.result != MVX_OK)
                    ++failures;
            }
        }
    }
    unsetenv("MVX_VIRTUAL_BOARD");
    std::error_code ignored;
    fs::remove_all(scratch, ignored);
    if (failures != 0)
        std::printf("%d runs failed\n", failures);
    return failures == 0 ? 0 : 1;
}
