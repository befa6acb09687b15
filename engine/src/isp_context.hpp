// The engine's state for one export call.  It is built when the call starts,
// owns the transport and (with MVX_VIRTUAL_BOARD set) the virtual board, and
// is destroyed before the call returns: nothing survives from one call to the
// next.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "bank_image.hpp"
#include "link.hpp"
#include "mvx/adapters/adapter_ops.hpp"
#include "mvx/platform/clock.hpp"
#include "mvxisp.h"
#include "progress.hpp"

namespace mvx::sim {
class Board;
}

namespace mvx::engine {

// The caller's IspOptions, copied; the two texts are owned here.
struct OptionsCopy {
    IspOptions fields{};                 // text pointers cleared; use the strings below
    std::string hdcpKeyFile;
    std::string readBackFolder;

    static OptionsCopy from(const IspOptions* options);
};

// The step a failed run stopped in (operations 0 to 2).
enum class FailureStage : std::uint8_t {
    None = 0,
    NotEntered = 1,
    Erase = 2,
    Program = 3,
    Verify = 4,     // verification failed; after a serial-flash CRC mismatch (20) the chip has been erased again
    HdcpKey = 5,
    Setup = 6,      // serial flash: the set-up after entering (output bytes, IC code, protect pin, protection)
};

struct ErasePlan {
    int chipErase = 0;      // option 48
    int bankMaskFlag = 0;   // option 52
    int bankMask = 0;       // option 56
};

struct IspContext {
    // ---- arguments ----
    int adapterKind = 0;
    int libraryMode = 0;
    int operation = 0;
    int eraseOnly = 0;
    int verifyByChecksum = 0;
    int eraseMode = 0;
    int eraseLength = 32;
    int flashBrand = 0;
    int reserved = 0;
    int idReadMode = 0;
    int sectorEraseFlag = 0;
    int sectorEraseBank = 0;
    const FileTableEntry* fileTable = nullptr;
    FlashProtectSettings protect{};
    OptionsCopy options;

    // ---- images ----
    BankImage image;                      // the bank being programmed, as transfer blocks

    // ---- found on the way ----
    int flashType = 2;
    int detectedBrand = 0;
    std::uint32_t flashSizeBytes = 0;     // the identified part's size; 0 when not known
    int fileDataLength = 0;
    int programLength = 0;
    int bankChecksum = 0;
    std::uint8_t icCode = 0;
    FailureStage failureStage = FailureStage::None;
    ErasePlan erasePlan;
    int eepromMarker = 0;

    // ---- the run's surroundings ----
    ProgressSink progress;
    ProgressPlan plan;
    platform::Clock* clock = nullptr;                 // the board's virtual clock, or the system's
    std::unique_ptr<sim::Board> board;                // with MVX_VIRTUAL_BOARD set
    std::unique_ptr<adapters::AdapterOps> transport;
    bool transportOpen = false;
    std::optional<Link> link;                         // over the transport, at the run's slaves

    std::uint8_t primarySlave = 0x94;
    std::uint8_t secondarySlave = 0x96;

    IspContext();
    ~IspContext();
    IspContext(const IspContext&) = delete;
    IspContext& operator=(const IspContext&) = delete;
};

}  // namespace mvx::engine
