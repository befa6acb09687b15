#include "buses.hpp"

#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

#include "edid.hpp"
#include "json.hpp"

namespace mvx::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::uint8_t kEdidAddress = 0x50;
constexpr std::size_t kEdidBytes = 128;

// "i2c-12" -> 12.
std::optional<int> busNumberOf(std::string_view name)
{
    if (name.substr(0, 4) != "i2c-" || name.size() == 4 || name.size() > 10)
        return std::nullopt;
    int number = 0;
    for (char c : name.substr(4)) {
        if (c < '0' || c > '9')
            return std::nullopt;
        number = number * 10 + (c - '0');
    }
    return number;
}

std::vector<std::string> entriesOf(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

std::string firstLineOf(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' '))
        line.pop_back();
    return line;
}

std::vector<std::uint8_t> bytesOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The name of what a sysfs link points at ("../../i2c-5" -> "i2c-5").
std::string linkTargetName(const std::string& path)
{
    std::error_code error;
    const fs::path target = fs::read_symlink(path, error);
    if (!error)
        return target.filename().string();
    return fs::exists(path, error) ? fs::canonical(path, error).filename().string() : std::string();
}

struct Connector {
    std::string name;
    std::string status;
    std::string enabled;
    std::string folder;
};

// Bus number -> the connector whose DDC (or DisplayPort AUX) bus it is.
std::map<int, Connector> connectorsByBus(const BusRoots& roots)
{
    std::map<int, Connector> found;
    const std::string drm = roots.sysfs + "/class/drm";
    for (const std::string& name : entriesOf(drm)) {
        const std::string folder = drm + "/" + name;
        Connector connector{name, firstLineOf(folder + "/status"), firstLineOf(folder + "/enabled"), folder};
        std::error_code error;
        if (fs::exists(folder + "/ddc", error) || fs::is_symlink(folder + "/ddc", error)) {
            if (const auto number = busNumberOf(linkTargetName(folder + "/ddc")))
                found.emplace(*number, connector);
        }
        for (const std::string& inner : entriesOf(folder))
            if (const auto number = busNumberOf(inner))
                found.emplace(*number, connector);
    }
    return found;
}

// Bus number -> the drivers bound to its clients ("ddcci" at 3-0037).
std::map<int, std::vector<std::pair<std::string, std::string>>> clientDrivers(const BusRoots& roots)
{
    std::map<int, std::vector<std::pair<std::string, std::string>>> found;
    const std::string devices = roots.sysfs + "/bus/i2c/devices";
    for (const std::string& name : entriesOf(devices)) {
        const auto dash = name.find('-');
        if (dash == std::string::npos || dash == 0 || name.substr(0, 4) == "i2c-")
            continue;
        const std::string driver = linkTargetName(devices + "/" + name + "/driver");
        if (driver.empty())
            continue;
        char* end = nullptr;
        const long number = std::strtol(name.c_str(), &end, 10);
        if (end == name.c_str() + dash)
            found[static_cast<int>(number)].emplace_back(name, driver);
    }
    return found;
}

std::string hexByte(unsigned value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
    return text;
}

std::string outcomeName(ProbeOutcome outcome)
{
    switch (outcome) {
    case ProbeOutcome::Answers: return "answers";
    case ProbeOutcome::Silent: return "silent";
    case ProbeOutcome::Failed: return "unknown";
    default: return "not_probed";
    }
}

class OpenBus {
public:
    OpenBus(const std::string& node, std::string* why) : fd_(::open(node.c_str(), O_RDWR | O_CLOEXEC))
    {
        if (fd_ < 0)
            *why = errno == EACCES ? "no permission on " + node + " (see the udev rule for the i2c group)"
                                   : "cannot open " + node + ": " + std::strerror(errno);
    }
    ~OpenBus()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    OpenBus(const OpenBus&) = delete;
    OpenBus& operator=(const OpenBus&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

int transfer(int fd, i2c_msg* messages, std::uint32_t count)
{
    i2c_rdwr_ioctl_data data{messages, count};
    int rc = 0;
    do {
        rc = ::ioctl(fd, I2C_RDWR, &data);
    } while (rc < 0 && errno == EINTR);
    return rc;
}

bool noAcknowledge(int error)
{
    return error == ENXIO || error == EREMOTEIO || error == EIO || error == ETIMEDOUT || error == EAGAIN;
}

}  // namespace

BusRoots BusRoots::fromEnvironment()
{
    BusRoots roots;
    if (const char* sysfs = std::getenv("MVX_SYSFS_ROOT"); sysfs != nullptr && *sysfs != '\0')
        roots.sysfs = sysfs;
    if (const char* dev = std::getenv("MVX_DEV_ROOT"); dev != nullptr && *dev != '\0')
        roots.dev = dev;
    return roots;
}

std::optional<std::vector<std::uint8_t>> LinuxBusAccess::readEdid(const std::string& node, std::string* why)
{
    OpenBus bus(node, why);
    if (bus.fd() < 0)
        return std::nullopt;
    std::uint8_t offset = 0;
    std::vector<std::uint8_t> block(kEdidBytes, 0);
    i2c_msg messages[2] = {{kEdidAddress, 0, 1, &offset},
                           {kEdidAddress, I2C_M_RD, static_cast<std::uint16_t>(block.size()), block.data()}};
    if (transfer(bus.fd(), messages, 2) != 2) {
        *why = noAcknowledge(errno) ? "no EDID at 0x50" : std::string("EDID read failed: ") + std::strerror(errno);
        return std::nullopt;
    }
    return block;
}

ProbeOutcome LinuxBusAccess::probe(const std::string& node, std::uint8_t address7, std::string* why)
{
    OpenBus bus(node, why);
    if (bus.fd() < 0)
        return ProbeOutcome::Failed;
    i2c_msg quickWrite{address7, 0, 0, nullptr};
    if (transfer(bus.fd(), &quickWrite, 1) == 1)
        return ProbeOutcome::Answers;
    if (noAcknowledge(errno))
        return ProbeOutcome::Silent;
    // Adapters that cannot send a zero-length message: read one byte instead.
    std::uint8_t byte = 0;
    i2c_msg readByte{address7, I2C_M_RD, 1, &byte};
    if (transfer(bus.fd(), &readByte, 1) == 1)
        return ProbeOutcome::Answers;
    if (noAcknowledge(errno))
        return ProbeOutcome::Silent;
    *why = std::strerror(errno);
    return ProbeOutcome::Failed;
}

std::vector<BusReport> discoverBuses(const BusRoots& roots, BusAccess& access, const BusQuery& query)
{
    std::set<int> numbers;
    for (const std::string& folder : {roots.sysfs + "/bus/i2c/devices", roots.sysfs + "/class/i2c-dev", roots.dev})
        for (const std::string& name : entriesOf(folder))
            if (const auto number = busNumberOf(name))
                numbers.insert(*number);
    for (int number : query.only)
        numbers.insert(number);

    const auto connectors = connectorsByBus(roots);
    const auto drivers = clientDrivers(roots);
    const unsigned ispClient = query.ispAddress >> 1;
    std::vector<BusReport> reports;
    for (int number : numbers) {
        const bool named = std::find(query.only.begin(), query.only.end(), number) != query.only.end();
        if (!query.only.empty() && !named)
            continue;
        BusReport bus;
        bus.number = number;
        const std::string name = "i2c-" + std::to_string(number);
        bus.node = roots.dev + "/" + name;
        std::error_code error;
        bus.nodeExists = fs::exists(bus.node, error);
        bus.adapter = firstLineOf(roots.sysfs + "/bus/i2c/devices/" + name + "/name");
        if (bus.adapter.empty())
            bus.adapter = firstLineOf(roots.sysfs + "/class/i2c-dev/" + name + "/name");

        const auto connector = connectors.find(number);
        if (connector != connectors.end()) {
            bus.connector = connector->second.name;
            bus.connectorStatus = connector->second.status;
            bus.connectorEnabled = connector->second.enabled;
            const auto edid = bytesOf(connector->second.folder + "/edid");
            if (const auto summary = parseEdid(edid)) {
                bus.monitor = monitorText(*summary);
                bus.monitorSource = "sysfs EDID";
            }
            if (bus.connectorStatus == "connected" && bus.connectorEnabled == "enabled")
                bus.warnings.push_back("connector " + bus.connector +
                                       " drives an active display: the graphics driver uses this bus too; program a "
                                       "monitor the desktop does not show, or switch this output off first");
        }
        if (const auto clients = drivers.find(number); clients != drivers.end()) {
            for (const auto& [client, driver] : clients->second) {
                if (driver.substr(0, 5) == "ddcci")
                    bus.warnings.push_back("the " + driver + " driver holds this bus (client " + client +
                                           "): unload it before programming (sudo rmmod ddcci_backlight ddcci)");
                const auto dash = client.find('-');
                if (std::strtoul(client.c_str() + dash + 1, nullptr, 16) == ispClient && driver.substr(0, 5) != "ddcci")
                    bus.warnings.push_back("the " + driver + " driver claims the ISP address " +
                                           hexByte(query.ispAddress) + " on this bus");
            }
        }

        if (!bus.nodeExists) {
            bus.probeNote = "no " + bus.node + " (load i2c-dev: sudo modprobe i2c-dev)";
        } else if (!(query.probeAll || named || !bus.connector.empty())) {
            bus.probeNote = "not probed: no display connector (name the bus or use --probe-all)";
        } else {
            if (!bus.monitor) {
                std::string why;
                if (const auto edid = access.readEdid(bus.node, &why)) {
                    if (const auto summary = parseEdid(*edid)) {
                        bus.monitor = monitorText(*summary);
                        bus.monitorSource = "EDID at 0x50";
                    }
                }
            }
            bus.ispPort = access.probe(bus.node, static_cast<std::uint8_t>(ispClient), &bus.probeNote);
        }
        reports.push_back(std::move(bus));
    }
    return reports;
}

std::vector<std::string> busLines(const BusReport& bus, std::uint8_t ispAddress)
{
    std::vector<std::string> lines;
    lines.push_back("i2c-" + std::to_string(bus.number) + "  " + bus.node +
                    (bus.adapter.empty() ? std::string() : "  \"" + bus.adapter + "\""));
    if (!bus.connector.empty()) {
        std::string state = bus.connectorStatus;
        if (!bus.connectorEnabled.empty())
            state += (state.empty() ? "" : ", ") + bus.connectorEnabled;
        lines.push_back("    connector  " + bus.connector + (state.empty() ? "" : " (" + state + ")"));
    }
    if (bus.monitor)
        lines.push_back("    monitor    " + *bus.monitor + " (" + bus.monitorSource + ")");
    std::string port = "    ISP port   " + hexByte(ispAddress) + ": ";
    switch (bus.ispPort) {
    case ProbeOutcome::Answers: port += "answers"; break;
    case ProbeOutcome::Silent: port += "no answer"; break;
    case ProbeOutcome::Failed: port += "unknown (" + bus.probeNote + ")"; break;
    default: port += bus.probeNote; break;
    }
    lines.push_back(port);
    for (const std::string& warning : bus.warnings)
        lines.push_back("    warning    " + warning);
    return lines;
}

std::string busJson(const BusReport& bus, std::uint8_t ispAddress)
{
    JsonObject object;
    object.add("type", "bus").add("number", bus.number).add("node", bus.node).add("node_exists", bus.nodeExists)
        .add("adapter", bus.adapter);
    if (bus.connector.empty())
        object.addNull("connector");
    else
        object.add("connector", bus.connector)
            .add("connector_status", bus.connectorStatus)
            .add("connector_enabled", bus.connectorEnabled);
    if (bus.monitor)
        object.add("monitor", *bus.monitor).add("monitor_source", bus.monitorSource);
    else
        object.addNull("monitor");
    object.add("isp_address", static_cast<int>(ispAddress))
        .add("isp_port", outcomeName(bus.ispPort))
        .add("probe_note", bus.probeNote)
        .add("warnings", bus.warnings);
    return object.text();
}

}  // namespace mvx::cli
