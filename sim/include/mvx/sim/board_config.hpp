// What the virtual board is, from its folder's board.ini.
//
//   [board]   target = serialflash | 5310 | 5312 | 1to4    (serialflash)
//             flash = a part name of the chip list, or unknown (W25X40A)
//             ic_code (2), scaler_address (0x94), write_protect (0),
//             link = dead, bus_khz (100),
//             hold_ms (0): an engine call keeps the board (and its folder's
//             lock) for at least this many milliseconds of real time
//   [faults]  stuck_busy, crc_mismatch_once, bad_byte=<flash offset>,
//             nack_after=<transactions>
//
// Numbers may be written in decimal or with a 0x prefix.  Models that need
// further keys read them from `ini`.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "mvx/platform/ini.hpp"

namespace mvx::sim {

enum class BoardTarget { SerialFlash, Mcu5310, Mcu5312, OneToFour };

struct BoardFaults {
    bool stuckBusy = false;                  // program and erase busy bits never clear
    bool crcMismatchOnce = false;            // first device CRC after programming is wrong
    std::optional<std::uint32_t> badByte;    // this flash offset is always stored wrongly
    std::optional<std::uint64_t> nackAfter;  // nothing acknowledges after n transactions
};

struct BoardConfig {
    BoardTarget target = BoardTarget::SerialFlash;
    std::string flashPart = "W25X40A";
    std::uint8_t icCode = 2;
    std::uint8_t scalerAddress = 0x94;
    bool writeProtect = false;               // the flash ignores status writes, stays protected
    bool linkDead = false;                   // nothing acknowledges
    unsigned busKhz = 100;
    unsigned holdMillis = 0;                 // real time one call keeps the board at least
    BoardFaults faults;
    platform::IniDocument ini;               // the whole file, for model-specific keys

    // Reads board.ini; a missing file gives the defaults.  A value that cannot
    // be understood (an unknown target, a bad number) is an error.
    static BoardConfig load(const std::string& path, std::string* error);
    static BoardConfig parse(const platform::IniDocument& ini, std::string* error);

    // A number key of the file (decimal or 0x hex), or nullopt when missing;
    // sets *error when present but not a number.
    std::optional<long long> number(std::string_view section, std::string_view key,
                                    std::string* error) const;
};

const char* targetName(BoardTarget target);

}  // namespace mvx::sim
