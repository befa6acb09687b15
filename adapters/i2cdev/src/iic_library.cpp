#include "mvx/i2cdev/iic_library.hpp"

#include <utility>

#include "mvx/i2cdev/board_layer.hpp"
#include "mvx/i2cdev/bus_choice.hpp"
#include "mvx/platform/debug_output.hpp"
#include "mvx/platform/registry.hpp"
#include "mvx/sim/board.hpp"

namespace mvx::i2cdev {
namespace {

void report(const std::string& text)
{
    platform::debugOutput("MVXIICDLL: " + text);
}

// The [i2cdev] section of the board's board.ini.
bool driverFromBoard(const sim::BoardConfig& config, Driver& driver, std::string* problem)
{
    std::string error;
    const auto refuseCombined = config.number("i2cdev", "refuse_combined", &error);
    const auto refuseZeroLength = config.number("i2cdev", "refuse_zero_length", &error);
    const auto maxLength = config.number("i2cdev", "max_length", &error);
    if (!error.empty() || (maxLength && (*maxLength < 1 || *maxLength > static_cast<long long>(kMaxMessageBytes)))) {
        *problem = "board.ini section [i2cdev]: " + (error.empty() ? "max_length must be 1..8192" : error);
        return false;
    }
    driver.refuseCombined = refuseCombined.value_or(0) != 0;
    driver.refuseZeroLength = refuseZeroLength.value_or(0) != 0;
    if (maxLength)
        driver.maxLength = static_cast<std::size_t>(*maxLength);
    return true;
}

}  // namespace

Session::~Session()
{
    master.reset();
    layer.reset();
    if (board) {
        std::string error;
        if (!board->finishCall(&error))
            report("virtual board not saved: " + error);
    }
}

std::unique_ptr<Session> openConfiguredSession(std::string* problem)
{
    const BusChoice choice = chooseBus(platform::RegistryStore::openDefault());
    if (choice.kind == BusChoice::Kind::None) {
        *problem = choice.problem;
        return nullptr;
    }
    auto session = std::make_unique<Session>();
    session->probeAddress = choice.probeAddress;
    if (choice.kind == BusChoice::Kind::Device) {
        // A node that cannot be opened to lock it is reported by the master.
        session->busLock = platform::BusLock::onPath(choice.path);
        if (session->busLock.outcome() == platform::BusLock::Outcome::Busy) {
            *problem = session->busLock.error() + "; wait for that run to end";
            return nullptr;
        }
        session->layer = makeLinuxLayer();
        session->master = std::make_unique<I2cDevMaster>(*session->layer, platform::systemClock(), choice.path);
        return session;
    }
    std::string error;
    session->board = sim::Board::open(choice.path, &error);
    if (!session->board) {
        *problem = "virtual board " + choice.path + ": " + error;
        return nullptr;
    }
    Driver driver;
    if (!driverFromBoard(session->board->config(), driver, problem))
        return nullptr;
    // The caller sleeps on the real clock: the board's time follows it.
    session->layer =
        std::make_unique<BoardLayer>(session->board->bus(), choice.path, driver, &platform::systemClock());
    session->master = std::make_unique<I2cDevMaster>(*session->layer, session->board->clock(), choice.path);
    return session;
}

IicLibrary::IicLibrary(SessionFactory factory) : factory_(std::move(factory)) {}

IicLibrary::~IicLibrary()
{
    endSession();
}

void IicLibrary::endSession()
{
    session_.reset();
}

void IicLibrary::applySettings()
{
    if (!session_)
        return;
    session_->master->setRetries(polling_);
    session_->master->setIdleGap(static_cast<std::uint64_t>(workDelay_) * kWorkDelayUnitMicros);
}

I2cDevMaster* IicLibrary::master()
{
    if (!session_) {
        std::string problem;
        if (factory_)
            session_ = factory_(&problem);
        if (!session_ || !session_->master) {
            session_.reset();
            report(problem.empty() ? "no I2C bus" : problem);
            return nullptr;
        }
        applySettings();
    }
    return session_->master.get();
}

int IicLibrary::initialize()
{
    std::lock_guard lock(mutex_);
    endSession();
    polling_ = 0;
    workDelay_ = 0;
    I2cDevMaster* bus = master();
    if (bus == nullptr)
        return 0;
    if (!bus->open()) {
        report(bus->lastError());
        return 0;
    }
    return 1;
}

int IicLibrary::debugRead(int address, int subAddress, unsigned char* buffer, int count, int, int)
{
    std::lock_guard lock(mutex_);
    I2cDevMaster* bus = master();
    if (bus == nullptr)
        return 0;
    if (!bus->readRegister(address, subAddress, buffer, count)) {
        report(bus->lastError());
        return 0;
    }
    return 1;
}

int IicLibrary::debugWrite(int address, int subAddress, const unsigned char* data, int count, int, int)
{
    std::lock_guard lock(mutex_);
    I2cDevMaster* bus = master();
    if (bus == nullptr)
        return 0;
    if (!bus->writeRegister(address, subAddress, data, count)) {
        report(bus->lastError());
        return 0;
    }
    return 1;
}

int IicLibrary::setPolling(int polling)
{
    std::lock_guard lock(mutex_);
    if (polling < 0 || polling > kMaxRetries) {
        report("_SetPolling(" + std::to_string(polling) + ") refused: the retry count must be 0.." +
               std::to_string(kMaxRetries));
        return 0;
    }
    polling_ = polling;
    applySettings();
    return 1;
}

int IicLibrary::setWorkDelay(int delay)
{
    std::lock_guard lock(mutex_);
    if (delay < 0 || delay > kMaxWorkDelay) {
        report("_SetWorkDelay(" + std::to_string(delay) + ") refused: the work delay must be 0.." +
               std::to_string(kMaxWorkDelay));
        return 0;
    }
    workDelay_ = delay;
    applySettings();
    return 1;
}

int IicLibrary::targetBoardTest()
{
    std::lock_guard lock(mutex_);
    I2cDevMaster* bus = master();
    if (bus == nullptr)
        return 0;
    if (!bus->probe(session_->probeAddress)) {
        report(bus->lastError());
        return 0;
    }
    return 1;
}

}  // namespace mvx::i2cdev
