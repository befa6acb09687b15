// Which I2C bus MVXIICDLL talks to, and which address its target-board test
// probes.  First match wins:
//
//   MVX_I2CDEV_VIRTUAL_BOARD=<folder>  development aid: the virtual board in
//                                      that folder instead of a bus node
//                                      (not MVX_VIRTUAL_BOARD: with that set
//                                      the engine simulates this library and
//                                      never loads it, so the library's own
//                                      path to i2c-dev could not be tested;
//                                      mvxisp and the desktop program name
//                                      either variable's board as they run)
//   MVX_I2C_BUS=<bus>                  environment
//   registry key "MVX I2C Bus", value "bus"
//
// <bus> is a bus number N (/dev/i2c-N, as i2cdetect -l lists them), a name
// "i2c-N", or the path of a bus node.  A stored number may be a dword.
//
// The probe address is the 8-bit write-form address (decimal or 0x hex) in
// MVX_I2C_TARGET, else the registry value "target" of the same key, else
// 0x94 (the scaler's ISP port, and the first writer MCU of a 1To4 board).
//
// Empty environment values count as unset.  A value that cannot be
// understood is a problem to report, not a reason to guess.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mvx/platform/registry.hpp"

namespace mvx::i2cdev {

inline constexpr std::string_view kRegistryKey = "MVX I2C Bus";
inline constexpr std::string_view kBusValue = "bus";
inline constexpr std::string_view kTargetValue = "target";
inline constexpr std::uint8_t kDefaultProbeAddress = 0x94;

struct BusChoice {
    enum class Kind { None, Device, VirtualBoard };
    Kind kind = Kind::None;
    std::string path;                    // the bus node, or the board folder
    std::uint8_t probeAddress = kDefaultProbeAddress;
    std::string problem;                 // Kind::None: why there is no bus
};

// "3" and "i2c-3" give "/dev/i2c-3", a path stays itself; nullopt otherwise.
std::optional<std::string> busPathFrom(std::string_view text);
// An 8-bit address, decimal or 0x hex; nullopt otherwise.
std::optional<std::uint8_t> addressFrom(std::string_view text);

// From the environment and the store.
BusChoice chooseBus(const platform::RegistryStore& registry);

}  // namespace mvx::i2cdev
