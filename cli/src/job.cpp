#include "job.hpp"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "mvx/platform/regular_file.hpp"
#include "mvxisp_file_limits.hpp"
#include "mvxisp_result.hpp"
#include "shell/option_records.hpp"

namespace mvx::cli {
namespace {

constexpr int kBankBytes = 65536;
// The engine answers a writer board asked for over USB or FTDI with result 1,
// "adapter kind outside 0..3", which hides the cause.
constexpr std::string_view kOneToFourCables = "1To4 runs only over the parallel cables (iic, cvt)";
constexpr int kMcuLastBankKb = 32;
// A whole image fills serial-flash banks 0..7 at most.
constexpr int kSerialFlashImageBanks = 8;

constexpr std::string_view kLevelNames[] = {"low", "high"};

std::string mcuName(int operation)
{
    return std::string(kMcuNames[operation]);
}

// A byte value for an option ("0x5A", "90").
std::optional<int> byteOption(const ParsedArguments& args, std::string_view name, std::string* error)
{
    const auto text = args.value(name);
    if (!text)
        return std::nullopt;
    return parseNumberIn(name, *text, 0, 255, error);
}

Built refuse(int status, std::string message)
{
    Built built;
    built.status = status;
    built.error = std::move(message);
    return built;
}

Built usage(std::string message)
{
    return refuse(kStatusUsage, std::move(message));
}

// --wp-pin SERIES:PIN:LEVEL, e.g. "q:0:high" or "txq:Pin112:low".
std::optional<FlashProtectSettings> protectFrom(std::string_view text, std::string* error)
{
    const auto first = text.find(':');
    const auto second = first == std::string_view::npos ? first : text.find(':', first + 1);
    if (second == std::string_view::npos) {
        *error = "--wp-pin: '" + std::string(text) + "' is not SERIES:PIN:LEVEL (such as q:0:high)";
        return std::nullopt;
    }
    const auto series = parseChoice("wp-pin", text.substr(0, first), kSeriesNames, error);
    if (!series)
        return std::nullopt;
    const std::string_view pinText = text.substr(first + 1, second - first - 1);
    const auto count = static_cast<int>(tool::protectPinCount(*series));
    std::optional<int> pin;
    for (int i = 0; i < count; ++i)
        if (equalsIgnoringCase(pinText, tool::protectPinName(*series, i)))
            pin = i;
    if (!pin) {
        std::string why;
        pin = parseNumberIn("wp-pin", pinText, 0, count - 1, &why);
        if (!pin) {
            std::string names;
            for (int i = 0; i < count; ++i)
                names += (i == 0 ? "" : ", ") + std::string(tool::protectPinName(*series, i));
            *error = "--wp-pin: '" + std::string(pinText) + "' is not a pin of that series (0.." +
                     std::to_string(count - 1) + " or " + names + ")";
            return std::nullopt;
        }
    }
    const std::string_view levelText = text.substr(second + 1);
    std::optional<int> level;
    if (levelText == "0" || levelText == "1")
        level = levelText == "1" ? 1 : 0;
    else
        level = parseChoice("wp-pin", levelText, kLevelNames, error);
    if (!level)
        return std::nullopt;
    return FlashProtectSettings{1, *series, *pin, *level};
}

// --bus as the node of an i2c-dev bus, checked against the interface and
// library mode in force; no node and no error when --bus is not given.
struct BusChoice {
    std::optional<std::string> node;
    std::string error;
};
BusChoice busChoiceOf(const ParsedArguments& args, int interface, std::optional<int> libraryMode)
{
    BusChoice choice;
    const auto text = args.value("bus");
    if (!text)
        return choice;
    choice.node = busNodeFrom(*text);
    if (!choice.node)
        choice.error = "--bus: '" + *text + "' is neither a bus number, i2c-N nor a path such as /dev/i2c-3";
    else if (args.has("interface") && interface != MVX_ADAPTER_NORVANE_IIC)
        choice.error = "--bus drives a Linux I2C bus through the IIC library: it goes with --interface iic";
    else if (libraryMode && *libraryMode == 0)
        choice.error = "--bus drives a Linux I2C bus through the IIC library: it needs --library-mode 1";
    return choice;
}

// --slave-address: an 8-bit write address, or 1 for "default"; nothing and no
// error when it is not given.
struct AddressChoice {
    std::optional<int> selector;
    std::string error;
};
AddressChoice slaveAddressOf(const ParsedArguments& args)
{
    AddressChoice choice;
    const auto text = args.value("slave-address");
    if (!text)
        return choice;
    if (equalsIgnoringCase(*text, "default")) {
        choice.selector = 1;
        return choice;
    }
    choice.selector = parseNumberIn("slave-address", *text, 2, 0xFC, &choice.error);
    if (choice.selector && *choice.selector % 2 != 0)
        choice.error = "--slave-address: " + *text + " is not an 8-bit write address (an even number such as 0x94)";
    return choice;
}

}  // namespace

std::string statusMeaning(int status)
{
    switch (status) {
    case kStatusUsage: return "wrong command, option or value";
    case kStatusBadData: return "the ISP file or image cannot be used";
    case kStatusNoInput: return "an input file cannot be read";
    case kStatusNoEngine: return "the engine library cannot be loaded";
    case kStatusInternal: return "internal error";
    case kStatusCannotCreate: return "the log file cannot be written";
    case kStatusInterruptedBase + SIGHUP: return "interrupted (SIGHUP) before all runs were done";
    case kStatusInterruptedBase + SIGINT: return "interrupted (Ctrl-C) before all runs were done";
    case kStatusInterruptedBase + SIGTERM: return "interrupted (SIGTERM) before all runs were done";
    default: return mvx::resultName(status);
    }
}

std::optional<std::string> libraryModeProblem(int adapterKind, std::optional<int> libraryMode)
{
    // Neither combination has a transport: the engine would touch nothing
    // and report a link error.
    if (adapterKind == MVX_ADAPTER_FTDI_USB && libraryMode == 0)
        return "--library-mode 0: the FTDI adapter works only through its library (--library-mode 1)";
    if (adapterKind == MVX_ADAPTER_CVT_IIC && libraryMode == 1)
        return "--library-mode 1: the CVT cable has no library (--library-mode 0)";
    return std::nullopt;
}


std::optional<int> operationFromName(std::string_view text, std::string* error)
{
    if (equalsIgnoringCase(text, "serial-flash"))
        return MVX_OP_SERIAL_FLASH;
    if (equalsIgnoringCase(text, "serial-flash-1to4"))
        return MVX_OP_SERIAL_FLASH_1TO4;
    return parseChoice("mcu", text, kMcuNames, error);
}

std::optional<std::string> busNodeFrom(std::string_view text)
{
    const auto digits = [](std::string_view s) {
        return !s.empty() && s.size() <= 6 && s.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if (!text.empty() && text.front() == '/')
        return std::string(text);
    if (text.substr(0, 4) == "i2c-" && digits(text.substr(4)))
        return "/dev/" + std::string(text);
    if (digits(text))
        return "/dev/i2c-" + std::string(text);
    return std::nullopt;
}

BankFiles collectBankFiles(int operation, const ParsedArguments& args)
{
    BankFiles result;
    const auto fail = [&](int status, std::string message) {
        result.files.clear();
        result.status = status;
        result.error = std::move(message);
        return result;
    };
    const int count = bankCountOf(operation);
    const std::string range = "banks 0.." + std::to_string(count - 1);
    std::vector<BankFile> files;
    for (std::size_t i = 0; i < args.positional.size(); ++i)
        files.push_back({static_cast<int>(i), args.positional[i], bankFileFormat(args.positional[i])});
    for (const std::string& text : args.values("bank")) {
        const auto equals = text.find('=');
        if (equals == std::string::npos || equals + 1 == text.size())
            return fail(kStatusUsage, "--bank: '" + text + "' is not N=FILE");
        std::string error;
        const auto bank = parseNumberIn("bank", std::string_view(text).substr(0, equals), 0, 255, &error);
        if (!bank)
            return fail(kStatusUsage, error);
        const std::string path = text.substr(equals + 1);
        files.push_back({*bank, path, bankFileFormat(path)});
    }

    if (const auto image = args.value("image")) {
        if (!files.empty())
            return fail(kStatusUsage, "--image programs one whole image: give no bank files with it");
        if (image->size() >= MVX_PATH_CAPACITY)
            return fail(kStatusUsage, "the path '" + *image + "' is longer than 259 characters");
        std::string why;
        if (!readable(*image, &why, kMaxImageFileBytes))
            return fail(MVX_ERR_FILE, "cannot read the image '" + *image + "': " + why);
        std::error_code error;
        const auto size = std::filesystem::file_size(*image, error);
        if (error || size == 0)
            return fail(MVX_ERR_FILE, "the image '" + *image + "' is empty");
        int banks = bankCountOf(operation);
        if (isSerialFlashOperation(operation)) {
            // The serial flash's last bank holds the LD file, never a part of an image.
            std::string imageRange = range;
            if (operation == MVX_OP_SERIAL_FLASH) {
                banks = kSerialFlashImageBanks;
                imageRange = "banks 0.." + std::to_string(banks - 1) + "; bank " + std::to_string(banks) +
                             " holds the LD file";
            }
            const auto needed = (size + kBankBytes - 1) / kBankBytes;
            if (needed > static_cast<std::uintmax_t>(banks))
                return fail(kStatusBadData, "the image '" + *image + "' holds " + std::to_string(needed) +
                                                " banks of 64 KB; the " + mcuName(operation) + " run takes " +
                                                std::to_string(banks) + " (" + imageRange + ")");
            banks = static_cast<int>(needed);
        }
        for (int bank = 0; bank < banks; ++bank)
            result.files.push_back({bank, *image, MVX_FORMAT_WHOLE_DEVICE});
        result.image = *image;
        return result;
    }

    std::vector<bool> taken(static_cast<std::size_t>(count), false);
    for (const BankFile& file : files) {
        if (file.bank >= count)
            return fail(kStatusUsage, "bank " + std::to_string(file.bank) + " is not a bank of the " +
                                          mcuName(operation) + " (" + range + ")");
        if (taken[static_cast<std::size_t>(file.bank)])
            return fail(kStatusUsage, "bank " + std::to_string(file.bank) + " is given more than once");
        taken[static_cast<std::size_t>(file.bank)] = true;
        if (file.path.size() >= MVX_PATH_CAPACITY)
            return fail(kStatusUsage, "the path '" + file.path + "' is longer than 259 characters");
        std::string why;
        if (!readable(file.path, &why, fileLimitOf(file.format)))
            return fail(MVX_ERR_FILE, "cannot read the bank " + std::to_string(file.bank) + " file '" + file.path +
                                          "': " + why);
    }
    result.files = std::move(files);
    return result;
}

EraseChoice eraseChoiceOf(int operation, const ParsedArguments& args)
{
    EraseChoice choice;
    if (const auto text = args.value("erase")) {
        const auto mode = parseChoice("erase", *text, kEraseNames, &choice.error);
        if (!mode)
            return choice;
        choice.mode = *mode;
    }
    if (const auto text = args.value("erase-size")) {
        if (isSerialFlashOperation(operation)) {
            choice.error = "--erase-size sets the partial erase of an MCU's last bank; the serial flash has none";
            return choice;
        }
        if (choice.mode != 1) {
            choice.error = "--erase-size goes with --erase page";
            return choice;
        }
        const auto kb = parseNumberIn("erase-size", *text, 1, kMcuLastBankKb, &choice.error);
        if (!kb)
            return choice;
        choice.length = *kb * 1024;
    }
    return choice;
}

Built buildRun(std::string_view command, const ParsedArguments& args)
{
    Built built;
    RunPlan& plan = built.plan;
    IspCall& call = plan.call;
    call.options = defaultIspOptions();
    std::string error;

    // ---- target ----
    if (const auto text = args.value("mcu")) {
        const auto operation = operationFromName(*text, &error);
        if (!operation)
            return usage(error);
        call.operation = *operation;
    }
    const int op = call.operation;
    const bool serialFlash = isSerialFlashOperation(op);
    if (command == "erase" && isOneToFourOperation(op))
        return usage("erase works on one target; a 1To4 writer board erases as part of its program run");

    if (const auto text = args.value("interface")) {
        const auto kind = parseChoice("interface", *text, kInterfaceNames, &error);
        if (!kind)
            return usage(error);
        call.adapterKind = *kind;
        if (isOneToFourOperation(op) &&
            (call.adapterKind == MVX_ADAPTER_NORVANE_USB || call.adapterKind == MVX_ADAPTER_FTDI_USB))
            return usage(std::string(kOneToFourCables));
    }
    if (const auto text = args.value("library-mode")) {
        const auto mode = parseChoice("library-mode", *text, kLibraryModeNames, &error);
        if (!mode)
            return usage(error);
        if (*mode != 2)
            plan.libraryMode = *mode;
        if (const auto problem = libraryModeProblem(call.adapterKind, plan.libraryMode))
            return usage(*problem);
    }
    const BusChoice bus = busChoiceOf(args, call.adapterKind, plan.libraryMode);
    if (!bus.error.empty())
        return usage(bus.error);
    if (bus.node) {
        plan.bus = bus.node;
        call.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        plan.libraryMode = 1;
    }
    const AddressChoice address = slaveAddressOf(args);
    if (!address.error.empty())
        return usage(address.error);
    if (address.selector)
        call.slaveSelector = *address.selector;

    // ---- serial flash ----
    static constexpr std::string_view kFlashOnly[] = {"brand", "auto-detect", "e2e3", "check-ic-code", "wp-pin",
                                                      "flash-status", "sector-erase-bank"};
    for (std::string_view name : kFlashOnly)
        if (!serialFlash && args.has(name))
            return usage("--" + std::string(name) + " applies to the serial flash, not to the " + mcuName(op));
    for (std::string_view name : {"mass-erase-first", "erase-banks"})
        if (op != MVX_OP_SERIAL_FLASH && args.has(name))
            return usage("--" + std::string(name) + " applies to a serial-flash run on one target (--mcu sf)");
    if (const auto text = args.value("brand")) {
        const auto brand = parseChoice("brand", *text, kBrandNames, &error);
        if (!brand)
            return usage(error);
        call.flashBrand = *brand;
    }
    // Without a brand the flash is identified by its ID.
    call.idReadMode = serialFlash && (args.has("auto-detect") || !args.has("brand")) ? 1 : 0;
    if (const auto text = args.value("e2e3")) {
        const auto comma = text->find(',');
        const auto e2 = comma == std::string::npos ? std::nullopt
                                                   : parseNumberIn("e2e3", text->substr(0, comma), 0, 255, &error);
        const auto e3 = e2 ? parseNumberIn("e2e3", text->substr(comma + 1), 0, 255, &error) : std::nullopt;
        if (!e3)
            return usage(comma == std::string::npos ? "--e2e3: '" + *text + "' is not E2,E3 (such as 0xFD,0xBF)"
                                                    : error);
        call.options.enable_sete2e3output = 1;
        call.options.ffe2_value = *e2;
        call.options.ffe3_value = *e3;
    }
    if (args.has("check-ic-code")) {
        const auto code = byteOption(args, "check-ic-code", &error);
        if (!code)
            return usage(error);
        call.options.enable_check_ic_code_before_isp = 1;
        call.options.ic_code_check_value = *code;
    }
    if (const auto text = args.value("wp-pin")) {
        const auto protect = protectFrom(*text, &error);
        if (!protect)
            return usage(error);
        call.protect = *protect;
    }
    if (args.has("flash-status")) {
        const auto status = byteOption(args, "flash-status", &error);
        if (!status)
            return usage(error);
        call.options.enable_setflashstatusafterisp = 1;
        call.options.flashstatus_value = *status;
    }
    if (const auto text = args.value("sector-erase-bank")) {
        const auto bank = parseNumberIn("sector-erase-bank", *text, 0, 8, &error);
        if (!bank)
            return usage(error);
        call.sectorEraseFlag = 1;
        call.sectorEraseBank = *bank;
    }
    if (args.has("mass-erase-first"))
        call.options.enable_masserasebeforeauto4flash = 1;
    if (const auto text = args.value("erase-banks")) {
        const auto mask = parseBankList("erase-banks", *text, 0, 7, &error);
        if (!mask)
            return usage(error);
        call.options.enable_bankerasebeforeauto4flash = 1;
        call.options.bankindex_erasebeforeauto4flash = static_cast<int>(*mask);
    }

    // ---- erase and verify ----
    const EraseChoice erase = eraseChoiceOf(op, args);
    if (!erase.error.empty())
        return usage(erase.error);
    call.eraseMode = erase.mode;
    call.eraseLength = erase.length;
    if (const auto text = args.value("verify")) {
        const auto verify = parseChoice("verify", *text, kVerifyNames, &error);
        if (!verify)
            return usage(error);
        if (*verify == 1 && op != MVX_OP_MCU_5310)
            return usage("--verify checksum is for the 5310; the " + mcuName(op) + " always verifies by CRC");
        call.verifyByChecksum = *verify;
    }

    // ---- adapter speeds ----
    struct Speed {
        std::string_view name;
        int IspOptions::*field;
        int last;
    };
    static constexpr Speed kSpeeds[] = {{"usb-frequency", &IspOptions::norvane_usb_frequency, 2},
                                        {"usb-delay", &IspOptions::norvane_usb_ispspeed, 255},
                                        {"ftdi-clock", &IspOptions::other_usb_ispspeed, 65535},
                                        {"iic-delay", &IspOptions::norvane_iic_ispspeed, 255},
                                        {"check-vga-delay", &IspOptions::checkVGAconn_delay, 65535},
                                        {"checksum-delay", &IspOptions::beforeshowCKSM_delay, 65535}};
    for (const Speed& speed : kSpeeds) {
        if (const auto text = args.value(speed.name)) {
            const auto value = parseNumberIn(speed.name, *text, 0, speed.last, &error);
            if (!value)
                return usage(error);
            call.options.*speed.field = *value;
        }
    }
    for (std::string_view name : {"check-vga-delay", "checksum-delay"})
        if (!isOneToFourOperation(op) && args.has(name))
            return usage("--" + std::string(name) + " applies to the 1To4 writer board (--mcu ...-1to4)");

    // ---- repeat test ----
    if (const auto text = args.value("repeat")) {
        const auto runs = parseNumberIn("repeat", *text, 1, 1000000, &error);
        if (!runs)
            return usage(error);
        plan.runs = *runs;
        call.options.enable_isprepeattest = 1;
        call.options.isprepeat_counter = *runs;
    }

    // ---- the command ----
    if (command == "program") {
        BankFiles banks = collectBankFiles(op, args);
        if (banks.status != 0)
            return refuse(banks.status, banks.error);
        if (banks.files.empty())
            return usage("name the firmware: bank files (FILE..., --bank N=FILE) or one whole image (--image FILE)");
        for (const BankFile& file : banks.files)
            setEntry(call.table[static_cast<std::size_t>(file.bank)], 1, file.format, file.path);
        plan.files = std::move(banks.files);
    } else if (command == "erase") {
        call.eraseOnly = 1;
        if (const auto text = args.value("banks")) {
            if (op != MVX_OP_SERIAL_FLASH || call.eraseMode != 1)
                return usage("--banks names the serial-flash banks of --erase page");
            const auto mask = parseBankList("banks", *text, 0, 8, &error);
            if (!mask)
                return usage(error);
            // Banks to erase without a file to load: any in-use value but 1.
            for (int bank = 0; bank <= 8; ++bank)
                if ((*mask >> bank & 1u) != 0)
                    call.table[static_cast<std::size_t>(bank)].inUse = 2;
        } else if (op == MVX_OP_SERIAL_FLASH && call.eraseMode == 1) {
            return usage("--erase page on the serial flash erases the banks named by --banks");
        } else if (!serialFlash && call.eraseMode == 1 && call.eraseLength < 0) {
            // Without a file the last bank's length is unknown: name it.
            return usage("--erase page on an MCU erases its full banks and the first --erase-size KB of the last "
                         "bank: give --erase-size");
        }
    } else if (command == "ic-code") {
        call.options.enable_read_ic_code = 1;
        call.options.ispEnable = 1;
    } else if (command == "hdcp") {
        if (args.positional.size() != 1)
            return usage("name one HDCP key file");
        call.hdcpKeyFile = args.positional[0];
        call.options.enable_hdcp_key_fire = 1;
        call.options.hdcp_key_file_kind = endsWithIgnoringCase(call.hdcpKeyFile, ".txt") ? 1 : 0;
        if (const auto text = args.value("key-kind")) {
            const auto kind = parseChoice("key-kind", *text, kKeyKindNames, &error);
            if (!kind)
                return usage(error);
            call.options.hdcp_key_file_kind = *kind;
        }
        // A binary key fills at most the key block; of a text key nothing is read.
        const std::uint64_t keyLimit =
            call.options.hdcp_key_file_kind == 0 ? kMaxHdcpKeyFileBytes : platform::kNoFileLimit;
        std::string why;
        if (!readable(call.hdcpKeyFile, &why, keyLimit))
            return refuse(MVX_ERR_FILE, "cannot read the HDCP key file '" + call.hdcpKeyFile + "': " + why);
        if (const auto text = args.value("verify-key")) {
            const auto method = parseChoice("verify-key", *text, kKeyVerifyNames, &error);
            if (!method)
                return usage(error);
            call.options.hdcp_key_fire_check_method = *method;
        }
        if (const auto folder = args.value("save-key")) {
            if (args.value("verify-key") && call.options.hdcp_key_fire_check_method != 1)
                return usage("--save-key keeps the key read back by --verify-key read-back");
            if (!std::filesystem::is_directory(*folder))
                return refuse(kStatusNoInput, "--save-key: '" + *folder + "' is not a folder");
            call.options.hdcp_key_fire_check_method = 1;
            call.options.enable_save_readed_hdcp_key = 1;
            call.readBackFolder = *folder;
        }
    }
    if (command != "hdcp" && command != "program" && !args.positional.empty())
        return usage("unexpected argument '" + args.positional[0] + "'");

    // ---- 1To4 LD files ----
    const auto ldFiles = args.values("ld");
    if (!ldFiles.empty() && !isOneToFourOperation(op))
        return usage("--ld names the LD files of a 1To4 run (--mcu ...-1to4)");
    if (isOneToFourOperation(op)) {
        if (ldFiles.size() != 4)
            return usage("a 1To4 run needs its four LD files: --ld FILE four times (M1_0, M1_1, M2_0, M2_1)");
        const auto entries = ldEntriesOf(op);
        for (std::size_t i = 0; i < ldFiles.size(); ++i) {
            std::string why;
            if (ldFiles[i].size() >= MVX_PATH_CAPACITY)
                return usage("the path '" + ldFiles[i] + "' is longer than 259 characters");
            if (!readable(ldFiles[i], &why, kMaxHexFileBytes))
                return refuse(MVX_ERR_FILE, "cannot read the LD file '" + ldFiles[i] + "': " + why);
            setEntry(call.table[static_cast<std::size_t>(entries[i])], 1, MVX_FORMAT_HEX, ldFiles[i]);
        }
    }
    return built;
}

Built buildRspRun(const job::RspJob& job, const ParsedArguments& args, const std::string& ldFolder)
{
    job::JobOverrides overrides;
    std::string error;
    const int interface = job.options.interface;
    if (const auto text = args.value("interface")) {
        const auto kind = parseChoice("interface", *text, kInterfaceNames, &error);
        if (!kind)
            return usage(error);
        overrides.interface = *kind;
    }
    const int chosenInterface = overrides.interface.value_or(interface);
    if (const auto text = args.value("library-mode")) {
        const auto chosen = parseChoice("library-mode", *text, kLibraryModeNames, &error);
        if (!chosen)
            return usage(error);
        if (*chosen != 2)
            overrides.libraryMode = *chosen;
        // A 1To4 job runs over the IIC cable whatever its interface.
        const auto problem = isOneToFourOperation(job.mode) ? std::nullopt
                                                            : libraryModeProblem(chosenInterface, overrides.libraryMode);
        if (problem)
            return usage(*problem);
    }
    const BusChoice bus = busChoiceOf(args, chosenInterface, overrides.libraryMode);
    if (!bus.error.empty())
        return usage(bus.error);
    overrides.bus = bus.node;
    const AddressChoice address = slaveAddressOf(args);
    if (!address.error.empty())
        return usage(address.error);
    overrides.slaveSelector = address.selector;
    overrides.ldFiles = args.values("ld");
    return job::buildRspRun(job, overrides, ldFolder);
}

}  // namespace mvx::cli
