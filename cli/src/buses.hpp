// "mvxisp buses": which Linux I2C bus leads to which monitor.
//
// For every bus (/dev/i2c-N, and the adapters sysfs knows): the adapter's
// name, the display connector whose DDC lines it is (/sys/class/drm/*/ddc),
// the monitor on it (the connector's EDID in sysfs, else read at 0x50), and
// whether something answers at the scaler's ISP address.  It warns when the
// ddcci driver holds the bus and when the connector drives an active display.
//
// Only the DDC buses of display connectors are probed, and the buses named on
// the command line: other buses (SMBus, sensors) are left alone unless
// --probe-all asks for them.
//
// $MVX_SYSFS_ROOT and $MVX_DEV_ROOT stand in for /sys and /dev (tests give a
// fake tree).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace mvx::cli {

struct BusRoots {
    std::string sysfs = "/sys";
    std::string dev = "/dev";
    static BusRoots fromEnvironment();
};

enum class ProbeOutcome { NotProbed, Answers, Silent, Failed };

// The two bus transactions the listing makes, behind an interface.
class BusAccess {
public:
    virtual ~BusAccess() = default;
    // The 128-byte EDID base block at address 0x50; nullopt with *why.
    virtual std::optional<std::vector<std::uint8_t>> readEdid(const std::string& node, std::string* why) = 0;
    // Whether a device acknowledges the 7-bit address (a zero-length write,
    // or a one-byte read where the adapter refuses those).
    virtual ProbeOutcome probe(const std::string& node, std::uint8_t address7, std::string* why) = 0;
};

// i2c-dev ioctls on the machine's bus nodes.
class LinuxBusAccess final : public BusAccess {
public:
    std::optional<std::vector<std::uint8_t>> readEdid(const std::string& node, std::string* why) override;
    ProbeOutcome probe(const std::string& node, std::uint8_t address7, std::string* why) override;
};

struct BusQuery {
    std::uint8_t ispAddress = 0x94;   // 8-bit write form
    bool probeAll = false;
    std::vector<int> only;            // bus numbers asked for; empty: all
};

struct BusReport {
    int number = 0;
    std::string node;                 // /dev/i2c-N
    bool nodeExists = false;
    std::string adapter;              // the adapter's name
    std::string connector;            // "card0-HDMI-A-1"; empty when none
    std::string connectorStatus;      // "connected", "disconnected"
    std::string connectorEnabled;     // "enabled", "disabled"
    std::optional<std::string> monitor;
    std::string monitorSource;        // "sysfs EDID", "EDID at 0x50"
    ProbeOutcome ispPort = ProbeOutcome::NotProbed;
    std::string probeNote;            // why not probed or why it failed
    std::vector<std::string> warnings;
};

std::vector<BusReport> discoverBuses(const BusRoots& roots, BusAccess& access, const BusQuery& query);

// The report as indented text lines, and as one JSON object.
std::vector<std::string> busLines(const BusReport& bus, std::uint8_t ispAddress);
std::string busJson(const BusReport& bus, std::uint8_t ispAddress);

}  // namespace mvx::cli
