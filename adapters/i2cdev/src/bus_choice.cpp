#include "mvx/i2cdev/bus_choice.hpp"

#include <cctype>
#include <charconv>
#include <cstdlib>

namespace mvx::i2cdev {
namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

std::optional<unsigned> numberFrom(std::string_view text, int base)
{
    if (text.empty())
        return std::nullopt;
    unsigned number = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number, base);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return number;
}

std::optional<std::string> environment(const char* name)
{
    const char* value = std::getenv(name);
    if (value == nullptr || trimmed(value).empty())
        return std::nullopt;
    return std::string(trimmed(value));
}

const char* const kNoBusFix =
    "set MVX_I2C_BUS to the monitor's DDC bus (a number as i2cdetect -l lists it, or a path such as "
    "/dev/i2c-3), or the registry value \"bus\" of key \"MVX I2C Bus\"";

}  // namespace

std::optional<std::string> busPathFrom(std::string_view text)
{
    text = trimmed(text);
    if (text.empty())
        return std::nullopt;
    if (text.front() == '/')
        return std::string(text);
    if (text.substr(0, 4) == "i2c-" && numberFrom(text.substr(4), 10))
        return "/dev/" + std::string(text);
    if (const auto number = numberFrom(text, 10))
        return "/dev/i2c-" + std::to_string(*number);
    return std::nullopt;
}

std::optional<std::uint8_t> addressFrom(std::string_view text)
{
    text = trimmed(text);
    std::optional<unsigned> number;
    if (text.substr(0, 2) == "0x" || text.substr(0, 2) == "0X")
        number = numberFrom(text.substr(2), 16);
    else
        number = numberFrom(text, 10);
    if (!number || *number > 0xFF)
        return std::nullopt;
    return static_cast<std::uint8_t>(*number);
}

BusChoice chooseBus(const platform::RegistryStore& registry)
{
    BusChoice choice;

    if (const auto target = environment("MVX_I2C_TARGET")) {
        const auto address = addressFrom(*target);
        if (!address) {
            choice.problem = "MVX_I2C_TARGET \"" + *target + "\" is not an 8-bit address (such as 0x94)";
            return choice;
        }
        choice.probeAddress = *address;
    } else if (const auto stored = registry.readString(kRegistryKey, kTargetValue)) {
        const auto number = registry.readDword(kRegistryKey, kTargetValue);
        const auto address = number ? (*number <= 0xFF ? std::optional<std::uint8_t>(static_cast<std::uint8_t>(*number))
                                                        : std::nullopt)
                                    : addressFrom(*stored);
        if (!address) {
            choice.problem = "registry value \"target\" \"" + *stored + "\" is not an 8-bit address (such as 0x94)";
            return choice;
        }
        choice.probeAddress = *address;
    }

    if (const auto folder = environment("MVX_I2CDEV_VIRTUAL_BOARD")) {
        choice.kind = BusChoice::Kind::VirtualBoard;
        choice.path = *folder;
        return choice;
    }
    if (const auto bus = environment("MVX_I2C_BUS")) {
        const auto path = busPathFrom(*bus);
        if (!path) {
            choice.problem = "MVX_I2C_BUS \"" + *bus + "\" is neither a bus number nor a path: " + kNoBusFix;
            return choice;
        }
        choice.kind = BusChoice::Kind::Device;
        choice.path = *path;
        return choice;
    }
    if (const auto stored = registry.readString(kRegistryKey, kBusValue)) {
        std::optional<std::string> path;
        if (const auto number = registry.readDword(kRegistryKey, kBusValue))
            path = "/dev/i2c-" + std::to_string(*number);
        else
            path = busPathFrom(*stored);
        if (!path) {
            choice.problem = "registry value \"bus\" \"" + *stored + "\" is neither a bus number nor a path: " +
                             kNoBusFix;
            return choice;
        }
        choice.kind = BusChoice::Kind::Device;
        choice.path = *path;
        return choice;
    }
    choice.problem = std::string("no I2C bus chosen: ") + kNoBusFix;
    return choice;
}

}  // namespace mvx::i2cdev
