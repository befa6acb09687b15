#include "mvx/sim/board_config.hpp"

#include <cerrno>
#include <cstdlib>

namespace mvx::sim {
namespace {

std::optional<long long> parseNumber(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0')
        return std::nullopt;
    return value;
}

void fail(std::string* error, const std::string& message)
{
    if (error != nullptr && error->empty())
        *error = "board.ini: " + message;
}

}  // namespace

const char* targetName(BoardTarget target)
{
    switch (target) {
    case BoardTarget::SerialFlash: return "serialflash";
    case BoardTarget::Mcu5310: return "5310";
    case BoardTarget::Mcu5312: return "5312";
    case BoardTarget::OneToFour: return "1to4";
    }
    return "?";
}

std::optional<long long> BoardConfig::number(std::string_view section, std::string_view key,
                                             std::string* error) const
{
    auto text = ini.value(section, key);
    if (!text)
        return std::nullopt;
    auto value = parseNumber(*text);
    if (!value)
        fail(error, "[" + std::string(section) + "] " + std::string(key) + " is not a number: " + *text);
    return value;
}

BoardConfig BoardConfig::parse(const platform::IniDocument& ini, std::string* error)
{
    BoardConfig config;
    config.ini = ini;
    if (auto target = ini.value("board", "target")) {
        if (*target == "serialflash") config.target = BoardTarget::SerialFlash;
        else if (*target == "5310") config.target = BoardTarget::Mcu5310;
        else if (*target == "5312") config.target = BoardTarget::Mcu5312;
        else if (*target == "1to4") config.target = BoardTarget::OneToFour;
        else fail(error, "unknown target " + *target);
    }
    if (auto flash = ini.value("board", "flash"); flash && !flash->empty())
        config.flashPart = *flash;
    auto byteKey = [&](std::string_view section, std::string_view key, std::uint8_t& into) {
        if (auto value = config.number(section, key, error)) {
            if (*value < 0 || *value > 0xFF)
                fail(error, std::string(key) + " must lie in 0..255");
            else
                into = static_cast<std::uint8_t>(*value);
        }
    };
    byteKey("board", "ic_code", config.icCode);
    byteKey("board", "scaler_address", config.scalerAddress);
    if (config.scalerAddress & 1u)
        fail(error, "scaler_address must be an even (write-form) address");
    if (auto value = config.number("board", "write_protect", error))
        config.writeProtect = *value != 0;
    if (auto link = ini.value("board", "link"))
        config.linkDead = *link == "dead";
    if (auto value = config.number("board", "bus_khz", error)) {
        if (*value < 1 || *value > 100000)
            fail(error, "bus_khz must lie in 1..100000");
        else
            config.busKhz = static_cast<unsigned>(*value);
    }
    if (auto value = config.number("board", "hold_ms", error)) {
        if (*value < 0 || *value > 600000)
            fail(error, "hold_ms must lie in 0..600000");
        else
            config.holdMillis = static_cast<unsigned>(*value);
    }
    if (auto value = config.number("faults", "stuck_busy", error))
        config.faults.stuckBusy = *value != 0;
    if (auto value = config.number("faults", "crc_mismatch_once", error))
        config.faults.crcMismatchOnce = *value != 0;
    if (auto value = config.number("faults", "bad_byte", error)) {
        if (*value < 0 || *value > 0xFFFFFFFFll)
            fail(error, "bad_byte must be a flash offset");
        else
            config.faults.badByte = static_cast<std::uint32_t>(*value);
    }
    if (auto value = config.number("faults", "nack_after", error)) {
        if (*value < 0)
            fail(error, "nack_after must not be negative");
        else
            config.faults.nackAfter = static_cast<std::uint64_t>(*value);
    }
    return config;
}

BoardConfig BoardConfig::load(const std::string& path, std::string* error)
{
    auto ini = platform::loadIni(path);
    return parse(ini.value_or(platform::IniDocument{}), error);
}

}  // namespace mvx::sim
