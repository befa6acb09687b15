#include "mvx/sim/board.hpp"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

#include "mvx/platform/atomic_file.hpp"
#include "mvx/platform/ini.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/sim/ftdi_device.hpp"
#include "mvx/sim/maker_libraries.hpp"
#include "mvx/sim/mcu.hpp"
#include "mvx/sim/port_io.hpp"
#include "mvx/sim/scaler.hpp"
#include "mvx/sim/spi_flash.hpp"
#include "mvx/sim/usb_bridge.hpp"
#include "mvx/sim/writer_board.hpp"

namespace mvx::sim {
namespace {

void setError(std::string* error, const std::string& message)
{
    if (error != nullptr)
        *error = message;
}

}  // namespace

Board::Board(const BoardConfig& config) : config_(config), bus_(clock_, config.busKhz)
{
}

Board::~Board() = default;

std::unique_ptr<Board> Board::create(const BoardConfig& config, std::string* error)
{
    std::unique_ptr<Board> board(new Board(config));
    if (!board->build(error))
        return nullptr;
    return board;
}

bool Board::build(std::string* error)
{
    bus_.setDead(config_.linkDead);
    bus_.setNackAfter(config_.faults.nackAfter);
    switch (config_.target) {
    case BoardTarget::SerialFlash: {
        const FlashPart* part = findFlashPart(config_.flashPart);
        if (part == nullptr) {
            setError(error, "board.ini: unknown flash part " + config_.flashPart);
            return false;
        }
        flash_ = std::make_unique<SpiFlash>(*part, clock_, config_);
        scaler_ = std::make_unique<ScalerIsp>(*flash_, clock_, config_);
        scaler_->attach(bus_);
        break;
    }
    case BoardTarget::Mcu5310:
    case BoardTarget::Mcu5312: {
        std::string settingsError;
        McuSettings::read(config_, &settingsError);
        if (!settingsError.empty()) {
            setError(error, settingsError);
            return false;
        }
        const McuType type = config_.target == BoardTarget::Mcu5310 ? McuType::M5310 : McuType::M5312;
        mcu_ = std::make_unique<Mcu>(type, clock_, config_);
        mcu_->attach(bus_, config_.scalerAddress);
        break;
    }
    case BoardTarget::OneToFour:
        writers_ = std::make_unique<WriterBoard>(clock_, config_);
        writers_->attach(bus_);
        break;
    }
    cvtPort_ = std::make_unique<VirtualParallelPort>(bus_, ParallelWiring::Cvt);
    norvanePort_ = std::make_unique<VirtualParallelPort>(bus_, ParallelWiring::Norvane);
    ftdi_ = std::make_unique<VirtualFtdiDevice>(bus_, clock_);
    usbBridge_ = std::make_unique<VirtualUsbBridge>(bus_, clock_);
    makerUsb_ = std::make_unique<VirtualMakerUsbLibrary>(bus_, clock_);
    makerIic_ = std::make_unique<VirtualMakerIicLibrary>(bus_, config_.scalerAddress);
    return true;
}

std::unique_ptr<Board> Board::open(const std::string& folder, std::string* error, long* busy,
                                   const platform::BusLockWait& wait)
{
    std::string failure;
    if (!platform::makeFolders(folder, &failure)) {
        setError(error, "virtual board: " + failure);
        return nullptr;
    }
    platform::BusLock lock = platform::BusLock::onPath(folder, wait);
    if (!lock.held()) {
        setError(error, "virtual board " + lock.error());
        if (busy != nullptr && lock.outcome() == platform::BusLock::Outcome::Busy)
            *busy = lock.holderPid() > 0 ? lock.holderPid() : -1;
        return nullptr;
    }
    const BoardConfig config = BoardConfig::load(platform::joinPath(folder, "board.ini"), &failure);
    if (!failure.empty()) {
        setError(error, "virtual board " + folder + ": " + failure);
        return nullptr;
    }
    std::unique_ptr<Board> board = create(config, &failure);
    if (!board) {
        setError(error, "virtual board " + folder + ": " + failure);
        return nullptr;
    }
    board->folder_ = folder;
    board->lock_ = std::move(lock);
    board->openedAtMicros_ = platform::systemClock().nowMicros();
    if (!board->loadState(&failure)) {
        setError(error, "virtual board " + folder + ": " + failure);
        return nullptr;
    }
    return board;
}

std::unique_ptr<Board> Board::openFromEnvironment(std::string* error, long* busy,
                                                  const platform::BusLockWait& wait)
{
    const char* folder = std::getenv("MVX_VIRTUAL_BOARD");
    if (folder == nullptr || *folder == '\0')
        return nullptr;
    return open(folder, error, busy, wait);
}

VirtualParallelPort& Board::parallelPort(ParallelWiring wiring)
{
    return wiring == ParallelWiring::Cvt ? *cvtPort_ : *norvanePort_;
}

VirtualFtdiDevice& Board::ftdi() { return *ftdi_; }
VirtualUsbBridge& Board::usbBridge() { return *usbBridge_; }
VirtualMakerUsbLibrary& Board::makerUsbLibrary() { return *makerUsb_; }
VirtualMakerIicLibrary& Board::makerIicLibrary() { return *makerIic_; }

std::vector<Board::StateFile> Board::stateFiles() const
{
    std::vector<StateFile> files;
    if (flash_)
        files.push_back({"flash.bin", &flash_->array()});
    if (mcu_)
        files.push_back({"mcu.bin", &mcu_->flash()});
    if (writers_) {
        files.push_back({"writer_m1.bin", &writers_->m1()});
        files.push_back({"writer_m2.bin", &writers_->m2()});
    }
    return files;
}

bool Board::loadState(std::string* error)
{
    for (const StateFile& file : stateFiles()) {
        const std::string path = platform::joinPath(folder_, file.name);
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            // A new board: the memory starts erased, and so does its file.
            std::fill(file.memory->begin(), file.memory->end(), std::uint8_t{0xFF});
            const std::string_view bytes(reinterpret_cast<const char*>(file.memory->data()),
                                         file.memory->size());
            if (auto failure = platform::replaceFileAtomically(path, bytes, "state file")) {
                setError(error, *failure);
                return false;
            }
            continue;
        }
        std::vector<std::uint8_t> contents((std::istreambuf_iterator<char>(in)),
                                           std::istreambuf_iterator<char>());
        if (contents.size() != file.memory->size()) {
            setError(error, std::string(file.name) + " holds " + std::to_string(contents.size()) +
                                " bytes but the device has " + std::to_string(file.memory->size()) +
                                "; remove it to start with an erased device");
            return false;
        }
        *file.memory = std::move(contents);
    }
    return true;
}

bool Board::saveState(std::string* error)
{
    for (const StateFile& file : stateFiles()) {
        const std::string_view bytes(reinterpret_cast<const char*>(file.memory->data()),
                                     file.memory->size());
        if (auto failure = platform::replaceFileAtomically(platform::joinPath(folder_, file.name),
                                                           bytes, "state file")) {
            setError(error, *failure);
            return false;
        }
    }
    const RunStats run = stats();
    char text[512];
    std::snprintf(text, sizeof text,
                  "; what the last engine call cost on the virtual board\n"
                  "[run]\n"
                  "target=%s\n"
                  "virtual_us=%llu\n"
                  "virtual_ms=%llu\n"
                  "transactions=%llu\n"
                  "bus_bytes=%llu\n"
                  "usb_transfers=%llu\n"
                  "sleeps=%llu\n"
                  "slept_us=%llu\n",
                  targetName(config_.target), static_cast<unsigned long long>(run.virtualMicros),
                  static_cast<unsigned long long>(run.virtualMicros / 1000),
                  static_cast<unsigned long long>(run.transactions),
                  static_cast<unsigned long long>(run.busBytes),
                  static_cast<unsigned long long>(run.usbTransfers),
                  static_cast<unsigned long long>(run.sleeps),
                  static_cast<unsigned long long>(run.sleptMicros));
    if (auto failure = platform::replaceFileAtomically(platform::joinPath(folder_, "run.ini"), text,
                                                       "run file")) {
        setError(error, *failure);
        return false;
    }
    return true;
}

RunStats Board::stats()
{
    RunStats run;
    run.virtualMicros = clock_.nowMicros();
    run.transactions = bus_.stats().transactions;
    run.busBytes = bus_.stats().bytes;
    run.usbTransfers = ftdi_->usbTransfers() + usbBridge_->usbTransfers() + makerUsb_->usbTransfers();
    run.sleeps = clock_.sleeps();
    run.sleptMicros = clock_.sleptMicros();
    return run;
}

bool Board::finishCall(std::string* error)
{
    if (mcu_)
        mcu_->endOfCall();
    if (writers_)
        writers_->endOfCall();
    if (folder_.empty())
        return true;
    if (config_.holdMillis != 0) {
        platform::Clock& real = platform::systemClock();
        const std::uint64_t until = openedAtMicros_ + std::uint64_t{config_.holdMillis} * 1000u;
        if (const std::uint64_t now = real.nowMicros(); now < until)
            real.sleepMicros(until - now);
    }
    return saveState(error);
}

}  // namespace mvx::sim
