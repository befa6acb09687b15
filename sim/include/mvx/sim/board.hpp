// The assembled virtual board in its folder (MVX_VIRTUAL_BOARD).
//
// The folder holds board.ini (what the board is, see board_config.hpp), the
// state files that carry the devices' memories from one engine call to the
// next (flash.bin, mcu.bin, writer_m1.bin, writer_m2.bin: 0xFF-filled when
// created), and run.ini, rewritten at the end of every call with what the
// call cost on the board: virtual time, bus transactions and bytes, USB
// transfers and sleeps.
//
// Which devices sit on the bus follows the target: the scaler with its serial
// flash, a 5310 or 5312 MCU, or the 1To4 writer board.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "mvx/platform/bus_lock.hpp"
#include "mvx/sim/board_config.hpp"
#include "mvx/sim/i2c.hpp"
#include "mvx/sim/virtual_clock.hpp"

namespace mvx::sim {

class SpiFlash;
class ScalerIsp;
class Mcu;
class WriterBoard;
class VirtualParallelPort;
enum class ParallelWiring;
class VirtualFtdiDevice;
class VirtualUsbBridge;
class VirtualMakerUsbLibrary;
class VirtualMakerIicLibrary;

struct RunStats {
    std::uint64_t virtualMicros = 0;
    std::uint64_t transactions = 0;
    std::uint64_t busBytes = 0;
    std::uint64_t usbTransfers = 0;
    std::uint64_t sleeps = 0;
    std::uint64_t sleptMicros = 0;
};

class Board {
public:
    // A board in memory only, with fresh (0xFF) memories.  Fails (nullptr and
    // *error) when the configuration names an unknown flash part.
    static std::unique_ptr<Board> create(const BoardConfig& config, std::string* error);
    // The board in folder, created when missing: board.ini read, the state
    // files loaded (created 0xFF-filled when missing).  A state file whose
    // size does not match its device is refused rather than truncated.
    //
    // With a virtual board every transport talks to it, so the board is the
    // bus: the folder is locked (bus_lock.hpp) before anything in it is read,
    // and stays locked until the Board object goes, after finishCall has
    // saved the state.  A folder that another run holds past wait's bound
    // fails the open with *busy set to the holder's PID (-1 when it cannot
    // be found); *busy is left alone on any other outcome.
    static std::unique_ptr<Board> open(const std::string& folder, std::string* error, long* busy = nullptr,
                                       const platform::BusLockWait& wait = {});
    // The board named by MVX_VIRTUAL_BOARD, or nullptr without an error when
    // the variable is not set.
    static std::unique_ptr<Board> openFromEnvironment(std::string* error, long* busy = nullptr,
                                                      const platform::BusLockWait& wait = {});

    ~Board();
    Board(const Board&) = delete;
    Board& operator=(const Board&) = delete;

    const BoardConfig& config() const { return config_; }
    const std::string& folder() const { return folder_; }
    VirtualClock& clock() { return clock_; }
    I2cBus& bus() { return bus_; }

    // The devices; nullptr when the target has none of that kind.
    SpiFlash* flash() { return flash_.get(); }
    ScalerIsp* scaler() { return scaler_.get(); }
    Mcu* mcu() { return mcu_.get(); }
    WriterBoard* writers() { return writers_.get(); }

    // The lowest layer of each transport, bound to this board's bus.
    VirtualParallelPort& parallelPort(ParallelWiring wiring);
    VirtualFtdiDevice& ftdi();
    VirtualUsbBridge& usbBridge();
    VirtualMakerUsbLibrary& makerUsbLibrary();
    VirtualMakerIicLibrary& makerIicLibrary();

    RunStats stats();

    // The end of an engine call: the devices do what they do when the call
    // lets go of them, the state files are saved (atomically) and run.ini is
    // written.  For a board without a folder only the devices are told.  A
    // board.ini hold_ms first waits until the call has kept the board that
    // long in real time.
    bool finishCall(std::string* error);

private:
    explicit Board(const BoardConfig& config);
    bool build(std::string* error);
    bool loadState(std::string* error);
    bool saveState(std::string* error);
    struct StateFile {
        const char* name;
        std::vector<std::uint8_t>* memory;
    };
    std::vector<StateFile> stateFiles() const;

    platform::BusLock lock_;                 // the folder's; released last
    std::uint64_t openedAtMicros_ = 0;       // real time, for hold_ms
    BoardConfig config_;
    std::string folder_;
    VirtualClock clock_;
    I2cBus bus_;
    std::unique_ptr<SpiFlash> flash_;
    std::unique_ptr<ScalerIsp> scaler_;
    std::unique_ptr<Mcu> mcu_;
    std::unique_ptr<WriterBoard> writers_;
    std::unique_ptr<VirtualParallelPort> cvtPort_;
    std::unique_ptr<VirtualParallelPort> norvanePort_;
    std::unique_ptr<VirtualFtdiDevice> ftdi_;
    std::unique_ptr<VirtualUsbBridge> usbBridge_;
    std::unique_ptr<VirtualMakerUsbLibrary> makerUsb_;
    std::unique_ptr<VirtualMakerIicLibrary> makerIic_;
};

}  // namespace mvx::sim
