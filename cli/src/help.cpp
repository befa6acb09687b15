#include "help.hpp"

#include <algorithm>

#include "job.hpp"

namespace mvx::cli {
namespace {

// ---- options -----------------------------------------------------------------

constexpr OptionSpec kMcu{"mcu", 0, "TYPE",
                          "what is programmed: sf (the scaler's serial flash, default), 5310 or\n"
                          "5312 (the MCU's own flash), or sf-1to4, 5310-1to4, 5312-1to4 for a\n"
                          "1To4 writer board that programs four targets", false, kMcuNames};
constexpr OptionSpec kInterface{"interface", 0, "KIND",
                                "the bus adapter: iic (Norvane IIC: parallel cable, or the IIC library;\n"
                                "default), usb (Norvane USB: USB bridge board, or the USB library),\n"
                                "ftdi (FTDI chip in MPSSE mode), cvt (CVT IIC parallel cable)",
                                false, kInterfaceNames};
constexpr OptionSpec kLibraryMode{"library-mode", 0, "MODE",
                                  "0: the built-in transports (USB bridge, parallel cable); 1: the\n"
                                  "library transports (MVXUSBDLL, FTDI, MVXIICDLL); auto (default): as\n"
                                  "the tool decides (ftdi 1, cvt 0, else 1 when the installed maker\n"
                                  "tools are version 100 or newer)", false, kLibraryModeNames};
constexpr OptionSpec kBus{"bus", 0, "BUS",
                          "program over a Linux I2C bus: N, i2c-N or /dev/i2c-N (see 'mvxisp\n"
                          "buses'); the IIC library over i2c-dev, so it implies --interface iic\n"
                          "--library-mode 1"};
constexpr OptionSpec kSlaveAddress{"slave-address", 0, "ADDR",
                                   "the scaler's ISP address, 8-bit write form such as 0x94 (the\n"
                                   "default; the second port is ADDR + 2); the 5310 always uses 0x94"};
constexpr OptionSpec kBrand{"brand", 0, "NAME",
                            "the flash brand: pmc, winbond, mxic, eon, sst or amic; without it the\n"
                            "flash is identified by its ID", false, kBrandNames};
constexpr OptionSpec kAutoDetect{"auto-detect", 0, "", "identify the flash by its ID even when --brand is given"};
constexpr OptionSpec kWpPin{"wp-pin", 0, "SERIES:PIN:LEVEL",
                            "drive the flash's write-protect pin: series q, vq, txq or txm, the\n"
                            "pin as index or name (q:Pin104:high, txq:2:low), level low or high"};
constexpr OptionSpec kE2E3{"e2e3", 0, "E2,E3",
                           "write these bytes to the scaler's registers 0xE2 and 0xE3 after\n"
                           "entering ISP mode (the MCU output bytes)"};
constexpr OptionSpec kCheckIcCode{"check-ic-code", 0, "CODE",
                                  "refuse to write unless the scaler's IC code is CODE (else result 28)"};
constexpr OptionSpec kFlashStatus{"flash-status", 0, "VALUE",
                                  "the flash status byte set when leaving ISP mode (default 0xFC)"};
constexpr OptionSpec kSectorEraseBank{"sector-erase-bank", 0, "N",
                                      "serial flash: erase bank N by 4 KB sectors, only as far as its\n"
                                      "image reaches (the rest of the bank keeps its data)"};
constexpr OptionSpec kErase{"erase", 0, "TYPE",
                            "mass (default) or page.  MCU: erase the whole flash, or only the\n"
                            "pages programmed.  Serial flash, erase command: the whole chip, or\n"
                            "the banks of --banks (a program run erases each bank it writes)",
                            false, kEraseNames};
constexpr OptionSpec kEraseSize{"erase-size", 0, "KB",
                                "MCU with --erase page: the KB (1..32) of the last bank to erase and\n"
                                "program (default: as far as its file reaches)"};
constexpr OptionSpec kVerify{"verify", 0, "TYPE", "5310: verify each bank by crc (default) or checksum",
                             false, kVerifyNames};
constexpr OptionSpec kMassEraseFirst{"mass-erase-first", 0, "", "serial flash: erase the whole chip before programming"};
constexpr OptionSpec kEraseBanks{"erase-banks", 0, "LIST",
                                 "serial flash: erase these 64 KB banks (0..7, such as 0,2-3) before\n"
                                 "programming"};
constexpr OptionSpec kEraseBankList{"banks", 0, "LIST",
                                    "with --erase page on the serial flash: the 64 KB banks to erase\n"
                                    "(0..8, such as 1 or 0,2-3)"};
constexpr OptionSpec kLd{"ld", 0, "FILE",
                         "a 1To4 LD file; four of them, in the order M1_0, M1_1, M2_0, M2_1", true};
constexpr OptionSpec kCheckVgaDelay{"check-vga-delay", 0, "MS",
                                    "1To4: the writer's wait for the VGA connection (default 500)"};
constexpr OptionSpec kChecksumDelay{"checksum-delay", 0, "MS",
                                    "1To4: the writer's wait before it shows the checksum (default 0)"};
constexpr OptionSpec kUsbFrequency{"usb-frequency", 0, "N", "MVXUSBDLL speed selection: 0 (default), 1 or 2"};
constexpr OptionSpec kUsbDelay{"usb-delay", 0, "N", "MVXUSBDLL delay byte (default 0)"};
constexpr OptionSpec kFtdiClock{"ftdi-clock", 0, "N", "FTDI clock divisor (default 14)"};
constexpr OptionSpec kIicDelay{"iic-delay", 0, "N", "MVXIICDLL work delay byte (default 0)"};
constexpr OptionSpec kBank{"bank", 0, "N=FILE", "the file of bank N (Intel HEX, or binary when named *.bin)", true};
constexpr OptionSpec kImage{"image", 0, "FILE", "one whole binary image, cut into the banks, instead of bank files"};
constexpr OptionSpec kRepeat{"repeat", 0, "N",
                             "repeat test: run N times and count passes and failures (the serial\n"
                             "flash is then not retried after a failed CRC)"};
constexpr OptionSpec kKeyKind{"key-kind", 0, "KIND", "bin or text (default: text for a *.txt name, else bin)",
                              false, kKeyKindNames};
constexpr OptionSpec kVerifyKey{"verify-key", 0, "HOW",
                                "crc (default): compare the key's CRC; read-back: read the key back and\n"
                                "compare it byte by byte", false, kKeyVerifyNames};
constexpr OptionSpec kSaveKey{"save-key", 0, "FOLDER",
                              "save the key read back as Read_HDCP_KEY_File.bin in FOLDER (implies\n"
                              "--verify-key read-back)"};
constexpr OptionSpec kTargets{"targets", 0, "N",
                              "1 or 4: run the job on one target or on a 1To4 writer board (default:\n"
                              "as it was exported)"};
constexpr OptionSpec kSettings{"settings", 0, "FILE",
                               "the station settings: flash protect pin, sector erase, flash\n"
                               "auto-detect, 1To4 delays (default: ISP__PSI.ini in the tool's work\n"
                               "folder; the defaults when it does not exist)"};
constexpr OptionSpec kAddress{"address", 0, "ADDR", "the ISP address to look for, 8-bit write form (default 0x94)"};
constexpr OptionSpec kProbeAll{"probe-all", 0, "",
                               "also probe buses without a display connector (SMBus, sensors:\n"
                               "only when you know what is on them)"};
constexpr OptionSpec kEngine{"engine", 0, "PATH",
                             "the engine library (default: $MVX_ENGINE, else libMVXISP.so in\n"
                             "../lib beside mvxisp)"};
constexpr OptionSpec kLog{"log", 0, "FILE", "also write the run log to FILE"};
constexpr OptionSpec kJson{"json", 0, "",
                           "stdout: one JSON object per line (each progress message, bank or bus)\n"
                           "and a final result object"};
constexpr OptionSpec kQuiet{"quiet", 'q', "", "no run log on stderr: only errors and a failed result"};
constexpr OptionSpec kHelp{"help", 'h', "", "show this help"};

// ---- groups --------------------------------------------------------------------

constexpr OptionSpec kTargetGroup[] = {kMcu, kInterface, kLibraryMode, kBus, kSlaveAddress};
constexpr OptionSpec kLinkGroup[] = {kInterface, kLibraryMode, kBus, kSlaveAddress};
constexpr OptionSpec kFlashGroup[] = {kBrand, kAutoDetect, kWpPin, kE2E3, kCheckIcCode, kFlashStatus,
                                      kSectorEraseBank};
constexpr OptionSpec kEraseFlashGroup[] = {kBrand, kAutoDetect, kWpPin, kE2E3, kCheckIcCode, kFlashStatus};
constexpr OptionSpec kIcCodeFlashGroup[] = {kBrand, kAutoDetect, kE2E3};
constexpr OptionSpec kHdcpFlashGroup[] = {kBrand, kAutoDetect, kWpPin, kE2E3, kCheckIcCode, kFlashStatus};
constexpr OptionSpec kEraseVerifyGroup[] = {kErase, kEraseSize, kVerify, kMassEraseFirst, kEraseBanks};
constexpr OptionSpec kEraseGroup[] = {kErase, kEraseSize, kEraseBankList};
constexpr OptionSpec kInfoLengthGroup[] = {kErase, kEraseSize, kSectorEraseBank};
constexpr OptionSpec kOneToFourGroup[] = {kLd, kCheckVgaDelay, kChecksumDelay};
constexpr OptionSpec kRunOneToFourGroup[] = {kLd};
constexpr OptionSpec kSpeedGroup[] = {kUsbFrequency, kUsbDelay, kFtdiClock, kIicDelay};
constexpr OptionSpec kFileGroup[] = {kBank, kImage};
constexpr OptionSpec kRepeatGroup[] = {kRepeat};
constexpr OptionSpec kHdcpGroup[] = {kKeyKind, kVerifyKey, kSaveKey};
constexpr OptionSpec kRunGroup[] = {kTargets, kSettings};
constexpr OptionSpec kBusGroup[] = {kAddress, kProbeAll};
constexpr OptionSpec kMcuOnlyGroup[] = {kMcu};
constexpr OptionSpec kRunOutputGroup[] = {kEngine, kLog, kJson, kQuiet, kHelp};
constexpr OptionSpec kInfoOutputGroup[] = {kEngine, kJson, kQuiet, kHelp};
constexpr OptionSpec kBusOutputGroup[] = {kJson, kQuiet, kHelp};

constexpr OptionGroup kInfoGroups[] = {{"Target", kMcuOnlyGroup},
                                       {"Files", kFileGroup},
                                       {"Lengths", kInfoLengthGroup},
                                       {"Output", kInfoOutputGroup}};
constexpr OptionGroup kProgramGroups[] = {{"Target", kTargetGroup},
                                          {"Files", kFileGroup},
                                          {"Erase and verify", kEraseVerifyGroup},
                                          {"Serial flash", kFlashGroup},
                                          {"1To4 writer board", kOneToFourGroup},
                                          {"Adapter speeds", kSpeedGroup},
                                          {"Repeat test", kRepeatGroup},
                                          {"Output", kRunOutputGroup}};
constexpr OptionGroup kEraseGroups[] = {{"Target", kTargetGroup},
                                        {"Erase", kEraseGroup},
                                        {"Serial flash", kEraseFlashGroup},
                                        {"Adapter speeds", kSpeedGroup},
                                        {"Output", kRunOutputGroup}};
constexpr OptionGroup kIcCodeGroups[] = {{"Target", kLinkGroup},
                                         {"Serial flash", kIcCodeFlashGroup},
                                         {"Adapter speeds", kSpeedGroup},
                                         {"Output", kRunOutputGroup}};
constexpr OptionGroup kHdcpGroups[] = {{"Target", kLinkGroup},
                                       {"HDCP key", kHdcpGroup},
                                       {"Serial flash", kHdcpFlashGroup},
                                       {"Adapter speeds", kSpeedGroup},
                                       {"Output", kRunOutputGroup}};
constexpr OptionGroup kRunGroups[] = {{"Job", kRunGroup},
                                      {"Target (overriding the job)", kLinkGroup},
                                      {"1To4 writer board", kRunOneToFourGroup},
                                      {"Output", kRunOutputGroup}};
constexpr OptionGroup kBusGroups[] = {{"Listing", kBusGroup}, {"Output", kBusOutputGroup}};

// ---- commands ------------------------------------------------------------------

constexpr CommandInfo kCommands[] = {
    {"info", "show the lengths, checksum and CRC of firmware files, bank by bank",
     "mvxisp info [OPTIONS] FILE...\n"
     "       mvxisp info [OPTIONS] --image FILE",
     "Shows what the engine reads from firmware files, as the customer page shows it:\n"
     "for each bank the file length (bytes found in the file), the PROM length (bytes\n"
     "that are programmed and verified), the 16-bit checksum and the CRC.  FILE... are\n"
     "banks 0, 1, 2, ... in order; the lengths follow the rules of --mcu and the erase\n"
     "options.  Nothing is sent to a board.  The exit status is the first failing\n"
     "bank's result (0 when every file reads).",
     "mvxisp info samples/bank0.hex samples/bank1.hex samples/bank2.hex\n"
     "mvxisp info --mcu 5312 --image firmware.bin\n"
     "mvxisp info --mcu 5310 --erase page --erase-size 20 main.hex extend.hex\n"
     "mvxisp info --json firmware.hex",
     kInfoGroups},
    {"program", "program firmware into the serial flash or an MCU",
     "mvxisp program [OPTIONS] FILE...\n"
     "       mvxisp program [OPTIONS] --image FILE",
     "Programs firmware in one engine run: checks every file, puts the target into ISP\n"
     "mode, erases, programs and verifies bank by bank, and leaves ISP mode.  FILE...\n"
     "are banks 0, 1, 2, ... (Intel HEX, or raw binary when the name ends in .bin);\n"
     "--bank N=FILE puts a file at bank N, --image takes one whole image instead.\n"
     "The serial flash takes banks 0..8 (8 is the LD bank), the 5310 banks 0..1, the\n"
     "5312 banks 0..2.  A serial-flash bank that fails its CRC check is erased and the\n"
     "whole run is repeated once.",
     "# a monitor's serial flash over its DDC bus /dev/i2c-3\n"
     "mvxisp program --bus 3 bank0.hex bank1.hex bank2.hex\n"
     "# a 5312 MCU through the FTDI adapter, partial erase of 24 KB\n"
     "mvxisp program --mcu 5312 --interface ftdi --erase page --erase-size 24 b0.hex b1.hex b2.hex\n"
     "# one whole image into a Winbond flash, write-protect pin Pin104 driven high\n"
     "mvxisp program --image firmware.bin --brand winbond --wp-pin q:Pin104:high\n"
     "# a 1To4 writer board programming four 5310 targets\n"
     "mvxisp program --mcu 5310-1to4 --ld m1_0.hex --ld m1_1.hex --ld m2_0.hex --ld m2_1.hex b0.hex b1.hex",
     kProgramGroups},
    {"erase", "erase the serial flash or an MCU without programming",
     "mvxisp erase [OPTIONS]",
     "Erases without programming and leaves ISP mode: the whole device (--erase mass,\n"
     "the default), or with --erase page an MCU's full banks and the first\n"
     "--erase-size KB of its last bank, or the serial-flash banks named by --banks.",
     "mvxisp erase --bus 3\n"
     "mvxisp erase --erase page --banks 1,2\n"
     "mvxisp erase --mcu 5310 --interface cvt\n"
     "mvxisp erase --mcu 5312 --erase page --erase-size 8",
     kEraseGroups},
    {"ic-code", "read the scaler's IC code",
     "mvxisp ic-code [OPTIONS]",
     "Puts the scaler into ISP mode, reads its IC code and prints it (\"IC Code: 0x5A\";\n"
     "with --json the result object carries \"ic_code\").  Nothing is erased or written.",
     "mvxisp ic-code --bus 3\n"
     "mvxisp ic-code --json",
     kIcCodeGroups},
    {"hdcp", "write an HDCP key into the serial flash and verify it",
     "mvxisp hdcp [OPTIONS] KEYFILE",
     "Writes an HDCP key instead of firmware: the key goes into the 4 KB sector at\n"
     "0x3F000 of the serial flash, the rest of the flash keeps its data, and the key is\n"
     "verified by CRC or by reading it back.  The key file is binary, or text (--key-kind\n"
     "text, or a name ending in .txt).",
     "mvxisp hdcp --bus 3 key.bin\n"
     "mvxisp hdcp --verify-key read-back --save-key ./readback key.bin",
     kHdcpGroups},
    {"run", "run an exported ISP file (.rsp) as the assembly page does",
     "mvxisp run [OPTIONS] JOB.rsp",
     "Runs an ISP file written by the customer page's Export ISP File, as the Assembly\n"
     "ISP page runs it: mode, interface, ISP type, address, brand, erase and verify\n"
     "options and the images come from the file; the flash protect pin, sector erase,\n"
     "flash auto-detect and the 1To4 delays from the station's settings file.  The file\n"
     "is unpacked into a temporary folder that is removed afterwards.  A 1To4 job needs\n"
     "its LD files (--ld, else the tool's stored LD copies).  Results 12, 13 and 18 are\n"
     "reported as \"MCU Link Error!\".",
     "mvxisp run line3.rsp\n"
     "mvxisp run --bus 3 line3.rsp\n"
     "mvxisp run --targets 4 --ld m1_0.hex --ld m1_1.hex --ld m2_0.hex --ld m2_1.hex line3.rsp",
     kRunGroups},
    {"buses", "list the Linux I2C buses, their display connectors and monitors",
     "mvxisp buses [OPTIONS] [BUS...]",
     "Lists the I2C buses (/dev/i2c-N with the adapter's name), the display connector\n"
     "each belongs to, the monitor on it (from its EDID) and whether something answers\n"
     "at the scaler's ISP address.  It warns when the ddcci driver holds a bus or the\n"
     "connector drives an active display.  Only display buses and the buses named are\n"
     "probed.  Needs the i2c-dev module (sudo modprobe i2c-dev) and access to the bus\n"
     "nodes; $MVX_SYSFS_ROOT and $MVX_DEV_ROOT replace /sys and /dev.",
     "mvxisp buses\n"
     "mvxisp buses 3\n"
     "mvxisp buses --json",
     kBusGroups},
};

constexpr std::string_view kProgramSummary = "in-system programming of monitor scalers through the MVXISP engine";

constexpr std::string_view kEngineSearch =
    "The engine library is loaded at run time: --engine PATH, else $MVX_ENGINE, else\n"
    "libMVXISP.so in ../lib beside mvxisp.\n";

constexpr std::string_view kInterruptNote =
    "An interrupt (Ctrl-C) during a run takes effect when the run has ended: a\n"
    "half-written flash can leave a monitor unable to start.\n";

// The help of each variable, broken into the lines --help shows.
constexpr std::size_t kEnvironmentColumn = 22;
constexpr EnvironmentVariable kEnvironment[] = {
    {"MVX_ENGINE", "the engine library"},
    {"MVX_VIRTUAL_BOARD", "a folder: run against the virtual board instead of hardware"},
    {"MVX_I2CDEV_VIRTUAL_BOARD", "a folder: only the IIC library (--bus) talks to the\n"
                                 "virtual board, to test the library itself"},
    {"MVX_SYSTEM_DIR", "the adapter libraries (default: ../lib/mvxisp beside mvxisp\n"
                       "when it exists, else <prefix>/lib/mvxisp)"},
    {"MVX_I2C_BUS", "the i2c-dev bus of the IIC library (set by --bus)"},
    {"MVX_REGISTRY", "the registry store (the installed maker tools' versions)"},
    {"MVX_PROGRAM_FILES", "where the tool's work folder is (run: station settings)"},
    {"MVX_DEBUG=1", "the adapters' diagnostic lines on stderr"},
};

constexpr std::string_view kExitStatus =
    "Exit status:\n"
    "  0       passed\n"
    "  1..29   the engine's result code, e.g. 13: the device could not be put into ISP\n"
    "          mode, 14: a firmware or key file cannot be read, 20: CRC mismatch,\n"
    "          29: the bus is in use by another run\n"
    "  64      wrong command, option or value\n"
    "  65      the ISP file or image cannot be used\n"
    "  66      an input file (ISP file, settings, LD file) cannot be read\n"
    "  69      the engine library cannot be loaded\n"
    "  70      internal error\n"
    "  73      the log file cannot be written (also when the run itself passed)\n"
    "  130     a --repeat test stopped by Ctrl-C before all its runs were done\n"
    "          (129: SIGHUP, 143: SIGTERM)\n"
    "The last line on stderr gives the status and its meaning; on a virtual board\n"
    "it names the board, as the first line does.\n";

// One option: its name in the left column, its help as words wrapped to
// fit 80 columns.
void appendWrapped(std::string& out, std::string_view left, std::string_view help)
{
    constexpr std::size_t kColumn = 30;
    constexpr std::size_t kWidth = 79;
    std::string line(left);
    if (line.size() + 2 > kColumn) {
        out += line + "\n";
        line.clear();
    }
    line.resize(kColumn, ' ');
    bool lineHasWords = false;
    while (!help.empty()) {
        const auto end = help.find_first_of(" \n");
        const std::string_view word = help.substr(0, end);
        help.remove_prefix(end == std::string_view::npos ? help.size() : end + 1);
        if (word.empty())
            continue;
        if (lineHasWords && line.size() + 1 + word.size() > kWidth) {
            out += line + "\n";
            line.assign(kColumn, ' ');
            lineHasWords = false;
        }
        if (lineHasWords)
            line += ' ';
        line += word;
        lineHasWords = true;
    }
    out += line + "\n";
}

}  // namespace

std::span<const CommandInfo> commands()
{
    return kCommands;
}

const CommandInfo* findCommand(std::string_view name)
{
    for (const CommandInfo& command : kCommands)
        if (command.name == name)
            return &command;
    return nullptr;
}

std::vector<OptionSpec> optionsOf(const CommandInfo& command)
{
    std::vector<OptionSpec> options;
    for (const OptionGroup& group : command.groups)
        for (const OptionSpec& spec : group.options)
            if (std::none_of(options.begin(), options.end(),
                             [&](const OptionSpec& known) { return known.name == spec.name; }))
                options.push_back(spec);
    return options;
}

std::string programHelp()
{
    std::string out =
        "mvxisp - " + std::string(kProgramSummary) + "\n"
        "\n"
        "Usage: mvxisp COMMAND [OPTIONS] [ARGUMENTS]\n"
        "       mvxisp COMMAND --help\n"
        "\n"
        "Commands:\n";
    for (const CommandInfo& command : kCommands) {
        std::string left = "  " + std::string(command.name);
        left.resize(12, ' ');
        out += left + std::string(command.summary) + "\n";
    }
    out +=
        "\n" +
        std::string(kEngineSearch) +
        "\n"
        "Environment:\n";
    for (const EnvironmentVariable& variable : kEnvironment) {
        std::string left = "  " + std::string(variable.name);
        std::string_view help = variable.help;
        while (!help.empty()) {
            if (left.size() + 2 > kEnvironmentColumn) {
                out += left + "\n";
                left.clear();
            }
            left.resize(kEnvironmentColumn, ' ');
            const auto newline = help.find('\n');
            out += left + std::string(help.substr(0, newline)) + "\n";
            help.remove_prefix(newline == std::string_view::npos ? help.size() : newline + 1);
            left.clear();
        }
    }
    out += "\n" + std::string(kInterruptNote) + "\n";
    out += exitStatusHelp();
    return out;
}

std::string commandHelp(const CommandInfo& command)
{
    std::string out = "Usage: " + std::string(command.usage) + "\n\n" + std::string(command.description) + "\n";
    for (const OptionGroup& group : command.groups) {
        out += "\n" + std::string(group.heading) + ":\n";
        for (const OptionSpec& spec : group.options) {
            std::string left = spec.shortName != 0 ? std::string("  -") + spec.shortName + ", --" : "      --";
            left += spec.name;
            if (!spec.valueName.empty())
                left += " " + std::string(spec.valueName);
            appendWrapped(out, left, spec.help);
        }
    }
    out += "\nExamples:\n";
    std::string_view examples = command.examples;
    while (!examples.empty()) {
        const auto newline = examples.find('\n');
        out += "  " + std::string(examples.substr(0, newline)) + "\n";
        if (newline == std::string_view::npos)
            break;
        examples.remove_prefix(newline + 1);
    }
    if (command.name != "buses")
        out += "\n" + std::string(exitStatusHelp());
    return out;
}

std::string_view exitStatusHelp()
{
    return kExitStatus;
}

std::string_view programSummary()
{
    return kProgramSummary;
}

std::string_view engineSearchHelp()
{
    return kEngineSearch;
}

std::string_view interruptHelp()
{
    return kInterruptNote;
}

std::span<const EnvironmentVariable> environmentVariables()
{
    return kEnvironment;
}

}  // namespace mvx::cli
