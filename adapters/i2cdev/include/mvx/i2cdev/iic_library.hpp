// The six calls of MVXIICDLL (see maker_library_abi.h) over one i2c-dev bus.
//
//   _Initialize       ends what an earlier opening left (a virtual board is
//                     saved), forgets polling and work delay, chooses the
//                     bus again (bus_choice.hpp) and opens it: 1 when it
//                     opened, 0 (with the reason) when not.  An opening
//                     locks the bus node (bus_lock.hpp) for as long as it
//                     lasts; a node another process keeps locked past the
//                     wait is not opened, and the reason names that process.  The calls below
//                     work without it: each opens the bus when it is not open.
//   _DebugRead        register read (i2c_dev_master.hpp); 1 done, 0 failed
//   _DebugWrite       register write; 1 done, 0 failed
//   _SetPolling(n)    n = 0..kMaxRetries: a failed transaction is tried again
//                     up to n more times when the failure may pass (no
//                     acknowledge, busy, time-out).  0 (none) until set.
//   _SetWorkDelay(n)  n = 0..255: at least n * 100 us pass between the end of
//                     one transaction and the start of the next (5, the
//                     serial-flash setting, gives 0.5 ms).  0 until set.
//   _TargetBoardTest  1 when a device acknowledges the probe address, 0 when
//                     none does or there is no bus
//
// The two pass-through values of the register calls are accepted and unused.
// Out-of-range arguments answer 0 and change nothing.  Every failure writes
// one line, "MVXIICDLL: <what and the fix>", to the debug output: the ABI has
// no other way to tell the caller why.
//
// The virtual board (MVX_I2CDEV_VIRTUAL_BOARD) is opened by the first call
// that needs the bus and saved (Board::finishCall: state files and run.ini)
// when the library object ends (the library is unloaded) or _Initialize
// starts over.  Its folder's board.ini may describe a more limited bus driver
// in section [i2cdev]: refuse_combined=1, refuse_zero_length=1,
// max_length=<bytes>.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "mvx/i2cdev/i2c_dev_layer.hpp"
#include "mvx/i2cdev/i2c_dev_master.hpp"
#include "mvx/platform/bus_lock.hpp"
#include "mvx/platform/clock.hpp"

namespace mvx::sim {
class Board;
}

namespace mvx::i2cdev {

inline constexpr std::uint64_t kWorkDelayUnitMicros = 100;
inline constexpr int kMaxWorkDelay = 255;

// What one opening of the bus runs on.  Members end in reverse order: the
// master (closing the node) before the layer, both before the board, and
// the bus node's lock last.
struct Session {
    Session() = default;
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    platform::BusLock busLock;                // the bus node's (a board locks its folder)
    std::unique_ptr<sim::Board> board;        // the virtual board, or null
    std::unique_ptr<I2cDevLayer> layer;
    std::unique_ptr<I2cDevMaster> master;
    std::uint8_t probeAddress = 0x94;
};

// A session from the environment and the registry store; nullptr and
// *problem when there is no bus to talk to.
std::unique_ptr<Session> openConfiguredSession(std::string* problem);

class IicLibrary {
public:
    using SessionFactory = std::function<std::unique_ptr<Session>(std::string* problem)>;

    explicit IicLibrary(SessionFactory factory = openConfiguredSession);
    ~IicLibrary();
    IicLibrary(const IicLibrary&) = delete;
    IicLibrary& operator=(const IicLibrary&) = delete;

    int initialize();
    int debugRead(int address, int subAddress, unsigned char* buffer, int count, int a, int b);
    int debugWrite(int address, int subAddress, const unsigned char* data, int count, int a, int b);
    int setPolling(int polling);
    int setWorkDelay(int delay);
    int targetBoardTest();

    int polling() const { return polling_; }
    int workDelay() const { return workDelay_; }
    // The current session, or nullptr (for tests).
    Session* session() { return session_.get(); }

private:
    I2cDevMaster* master();
    void endSession();
    void applySettings();

    std::mutex mutex_;
    SessionFactory factory_;
    std::unique_ptr<Session> session_;
    int polling_ = 0;
    int workDelay_ = 0;
};

}  // namespace mvx::i2cdev
