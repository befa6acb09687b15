#include "job/rsp_job.hpp"

#include <filesystem>

#include "run_log/log_texts.hpp"
#include "mvx/platform/ini.hpp"
#include "mvx/platform/paths.hpp"
#include "mvxisp_file_limits.hpp"
#include "mvxisp_result.hpp"
#include "shell/packages.hpp"
#include "shell/text.hpp"

namespace mvx::job {
namespace {

constexpr std::string_view kModeTexts[] = {"5310", "5312", "SerialFlash", "5310_1to4", "5312_1to4", "SF_1to4"};
constexpr std::string_view kInterfaceTexts[] = {"USB", "FTDI", "IIC", "CVT IIC"};
constexpr std::string_view kBrandTexts[] = {"PMC", "Winbond", "MXIC", "EON", "SST", "AMIC"};

std::string textOf(std::span<const std::string_view> texts, int index)
{
    if (index < 0 || static_cast<std::size_t>(index) >= texts.size())
        return "--";
    return std::string(texts[static_cast<std::size_t>(index)]);
}

RspLoad refuse(int status, std::string message, std::string reason)
{
    RspLoad load;
    load.status = status;
    load.error = std::move(message);
    load.reason = std::move(reason);
    return load;
}

}  // namespace

RspLoad loadRspJob(const std::string& path, const std::string& folder, std::optional<int> targets,
                   const std::string& stationSettings)
{
    std::string why;
    if (!readable(path, &why, kMaxIspFileBytes))
        return refuse(kStatusNoInput, "cannot read the ISP file '" + path + "': " + why, why);
    const tool::UnpackedIspFile unpacked = tool::unpackIspFile(path, folder);
    if (!unpacked.ok)
        return refuse(kStatusBadData, "'" + path + "' cannot be run: " + unpacked.error, unpacked.error);

    RspLoad load;
    RspJob& job = load.job;
    job.path = path;
    job.storedMode = unpacked.mcu;
    job.mode = unpacked.mcu;
    if (targets == 4 && job.mode <= MVX_OP_SERIAL_FLASH)
        job.mode += 3;
    if (targets == 1 && job.mode > MVX_OP_SERIAL_FLASH)
        job.mode -= 3;

    const std::string ini = platform::joinPath(folder, tool::kSettingsMember);
    job.options = tool::readUnprefixedModeOptions(ini, job.mode);
    const bool hexJob = job.options.ispfiletype == 0;
    for (int i = 0; i < 4; ++i) {
        JobImage& image = job.images[static_cast<std::size_t>(i)];
        image.selected = (job.options.filecheck >> i & 1) != 0;
        image.name = hexJob ? platform::readProfileString(ini, tool::kSavedHexSection, "hexfile" + std::to_string(i + 1), "")
                            : platform::readProfileString(ini, tool::kSavedBinSection, "binfile.bin", "");
        // Only what the unpack wrote: an empty chunk is an absent image.  The
        // job's LD and key names are never opened; the LD files come from
        // the station (or --ld).
        image.path = unpacked.images.at(hexJob ? static_cast<std::size_t>(i) : 0);
        image.format = !hexJob ? MVX_FORMAT_WHOLE_DEVICE
                               : tool::endsWithIgnoringCase(image.name, ".bin") ? MVX_FORMAT_BINARY : MVX_FORMAT_HEX;
    }

    if (!stationSettings.empty())
        job.station = tool::loadAssemblySettings(stationSettings);
    return load;
}

void readImageInfo(RspJob& job, MvxGetFileInfoFn getFileInfo)
{
    for (int i = 0; i < 4; ++i) {
        JobImage& image = job.images[static_cast<std::size_t>(i)];
        if (!image.selected || image.path.empty() || getFileInfo == nullptr)
            continue;
        // The last banks of the MCUs take the job's partial-erase size.
        const bool lastBankRow = i == 1 || i == 2;
        int extendSize = !lastBankRow ? 0 : job.options.extend != 0 ? (job.options.ex_size + 1) * 1024 : -1;
        const auto ask = [&] {
            image.result = getFileInfo(image.path.c_str(), image.format, i, job.mode, job.options.erase, extendSize,
                                       &image.dataLength, &image.programLength, &image.checksum, &image.crc,
                                       nullptr, job.station.Enable_sectorerase_extendbank,
                                       job.station.Sectorerase_bankindex);
        };
        ask();
        if (image.result == MVX_ERR_ERASE_LENGTH && image.dataLength > 0) {
            const int kb = (image.dataLength + 1023) / 1024;
            extendSize = kb * 1024;
            job.options.ex_size = kb - 1;
            ask();
        }
    }
}

Built buildRspRun(const RspJob& job, const JobOverrides& overrides, const std::string& ldFolder)
{
    Built built;
    RunPlan& plan = built.plan;
    IspCall& call = plan.call;
    const tool::ModeOptions& o = job.options;
    const int mode = job.mode;
    const auto fail = [&](int status, std::string message) {
        built.status = status;
        built.error = std::move(message);
        return built;
    };

    const int interface = overrides.interface.value_or(o.interface);
    plan.libraryMode = overrides.libraryMode;
    // The writer board of the 1To4 modes always hangs on the IIC cable.
    call.adapterKind = isOneToFourOperation(mode) ? MVX_ADAPTER_NORVANE_IIC : interface;
    // The library mode follows the job's interface, as the page decides it.
    plan.libraryModeInterface = interface;
    if (overrides.bus) {
        plan.bus = overrides.bus;
        call.adapterKind = MVX_ADAPTER_NORVANE_IIC;
        plan.libraryMode = 1;
    }

    call.operation = mode;
    call.eraseOnly = o.isptype;
    call.slaveSelector = o.ispaddr;
    if (overrides.slaveSelector) {
        call.slaveSelector = *overrides.slaveSelector;
    } else if ((mode == MVX_OP_MCU_5312 || mode == MVX_OP_SERIAL_FLASH) && o.ispaddr != 1) {
        // The job was exported with a typed-in address, which ISP files do
        // not carry; guessing one would address some other device.
        return fail(kStatusBadData, "the job uses its own slave address, which ISP files do not carry: "
                                    "give it with --slave-address");
    }
    call.verifyByChecksum = o.extend != 0 || o.erase != 0 ? o.check : 0;
    call.eraseMode = o.erase;
    call.eraseLength = o.extend != 0 ? (o.ex_size + 1) * 1024 : -1;
    call.flashBrand = o.brand;
    call.reserved = 0;
    call.idReadMode = job.station.Auto_detect;
    call.protect = job.station.protect;
    call.sectorEraseFlag = job.station.Enable_sectorerase_extendbank;
    call.sectorEraseBank = job.station.Sectorerase_bankindex;
    call.options = IspOptions{};
    call.options.checkVGAconn_delay = job.station.checkVGAconn_delay;
    call.options.beforeshowCKSM_delay = job.station.beforeshowCKSM_delay;
    call.options.enable_isprepeattest = 0;
    call.options.isprepeat_counter = 1;

    for (int i = 0; i < 4; ++i) {
        const JobImage& image = job.images[static_cast<std::size_t>(i)];
        if (!image.selected)
            continue;
        std::error_code ignored;
        if (image.path.empty() || std::filesystem::file_size(image.path, ignored) == 0)
            return fail(kStatusBadData, "the job selects image " + std::to_string(i + 1) +
                                            ", but the ISP file holds no data for it");
        if (!setEntry(call.table[static_cast<std::size_t>(i)], 1, image.format, image.path))
            return fail(kStatusUsage, "the path '" + image.path + "' is longer than 259 characters");
        plan.files.push_back({i, image.path, image.format});
    }

    const std::vector<std::string>& ldFiles = overrides.ldFiles;
    if (!ldFiles.empty() && !isOneToFourOperation(mode))
        return fail(kStatusUsage, "--ld names the LD files of a 1To4 job");
    if (isOneToFourOperation(mode)) {
        std::vector<std::string> paths = ldFiles;
        if (paths.empty()) {
            const std::string family(tool::kLdFamilies[static_cast<std::size_t>(mode % 3)]);
            for (int n = 1; n <= 4; ++n)
                paths.push_back(platform::joinPath(ldFolder, family + "file" + std::to_string(n)));
        }
        if (paths.size() != 4)
            return fail(kStatusUsage, "a 1To4 job needs its four LD files: --ld FILE four times");
        const auto entries = ldEntriesOf(mode);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            std::string why;
            if (!readable(paths[i], &why, kMaxHexFileBytes))
                return fail(kStatusNoInput, "LD file " + std::to_string(i + 1) + " '" + paths[i] +
                                                "' cannot be read (" + why + "): give the four LD files with --ld");
            if (!setEntry(call.table[static_cast<std::size_t>(entries[i])], 1, MVX_FORMAT_HEX, paths[i]))
                return fail(kStatusUsage, "the path '" + paths[i] + "' is longer than 259 characters");
        }
    }
    return built;
}

std::vector<std::string> describeJob(const RspJob& job)
{
    const tool::ModeOptions& o = job.options;
    std::vector<std::string> lines;
    std::string file = "ISP file: " + job.path;
    if (const auto date = runlog::fileDateTimeText(job.path))
        file += " (" + *date + ")";
    lines.push_back(file);
    std::string mode = "Mode: " + textOf(kModeTexts, job.mode);
    if (job.mode != job.storedMode)
        mode += " (exported as " + textOf(kModeTexts, job.storedMode) + ")";
    lines.push_back(mode);
    lines.push_back("Interface: " + (isOneToFourOperation(job.mode) ? std::string("IIC") : textOf(kInterfaceTexts, o.interface)) +
                    ", ISP type: " + (o.isptype == 0 ? "Auto" : o.isptype == 1 ? "Erase" : "--") +
                    ", address: " + (o.ispaddr == 1 ? "0x94" : o.ispaddr == 0 ? "own" : "--"));
    std::string erase = o.erase == 0 ? "Mass Erase" : o.erase == 1 ? "Page Erase" : "--";
    if (o.extend != 0 && o.erase == 1)
        erase += " " + std::to_string(o.ex_size + 1) + "k";
    lines.push_back("Brand: " + textOf(kBrandTexts, o.brand) + ", erase: " + erase +
                    ", check: " + (o.check == 0 ? "CRC" : o.check == 1 ? "CheckSum" : "--") +
                    ", files: " + (o.ispfiletype == 0 ? "HEX" : "BIN"));
    for (int i = 0; i < 4; ++i) {
        const JobImage& image = job.images[static_cast<std::size_t>(i)];
        if (!image.selected)
            continue;
        std::string line = "Image " + std::to_string(i + 1) + " " + (image.name.empty() ? "(none)" : image.name);
        if (image.result == MVX_OK)
            line += ": ChkSum " + checksumText(image.checksum) + ", File Len " + std::to_string(image.dataLength) +
                    ", Prom Len " + std::to_string(image.programLength) + ", CRC " + runlog::crcHex(image.crc);
        else if (image.result > 0)
            line += ": error " + std::to_string(image.result) + " (" + mvx::resultName(image.result) + ")";
        lines.push_back(line);
    }
    return lines;
}

}  // namespace mvx::job
