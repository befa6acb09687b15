#include "commands.hpp"

#include <signal.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>

#include "arguments.hpp"
#include "buses.hpp"
#include "help.hpp"
#include "interrupts.hpp"
#include "job.hpp"
#include "json.hpp"
#include "run_log/log_texts.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/platform/registry.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp_file_limits.hpp"
#include "mvxisp_result.hpp"
#include "reporter.hpp"
#include "shell/engine_binding.hpp"
#include "shell/engine_library.hpp"
#include "shell/file_io.hpp"
#include "shell/locations.hpp"

#ifndef MVX_VERSION
#define MVX_VERSION "0"
#endif

namespace mvx::cli {
namespace {

using job::describeJob;
using job::loadRspJob;
using job::readImageInfo;
using job::RspLoad;
using tool::EngineLibrary;

// Interrupts (Ctrl-C, SIGTERM, SIGHUP) are held back while the engine runs:
// a run stopped half-way can leave a monitor with half its firmware.  They
// are looked at between runs and taken when the command ends.  With an
// InterruptWatch they are held back by the watch (outside the runs it ends
// the command); without one they are blocked here.  So is SIGPIPE: a reader
// that goes away (`mvxisp program --json | head`) makes writes fail instead
// of ending the run.
class InterruptGuard {
public:
    explicit InterruptGuard(InterruptWatch* watch) : watch_(watch)
    {
        sigemptyset(&set_);
        if (watch_ == nullptr) {
            sigaddset(&set_, SIGINT);
            sigaddset(&set_, SIGTERM);
            sigaddset(&set_, SIGHUP);
        } else {
            watch_->holdBack();
        }
        sigaddset(&set_, SIGPIPE);
        blocked_ = pthread_sigmask(SIG_BLOCK, &set_, &old_) == 0;
    }
    ~InterruptGuard()
    {
        takePending();
        if (blocked_)
            pthread_sigmask(SIG_SETMASK, &old_, nullptr);
        if (watch_ != nullptr)
            watch_->release();
    }
    InterruptGuard(const InterruptGuard&) = delete;
    InterruptGuard& operator=(const InterruptGuard&) = delete;

    // The interrupt waiting to be taken (SIGINT, SIGTERM or SIGHUP), or 0.
    int pending() const
    {
        if (watch_ != nullptr)
            return watch_->heldSignal();
        sigset_t waiting;
        if (!blocked_ || sigpending(&waiting) != 0)
            return 0;
        for (const int interrupt : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&waiting, interrupt) == 1)
                return interrupt;
        return 0;
    }
    // Takes the pending interrupts, so that they do not end the program
    // before it has reported.
    void takePending()
    {
        const timespec none{0, 0};
        while (blocked_ && sigtimedwait(&set_, nullptr, &none) > 0) {
        }
    }

private:
    InterruptWatch* watch_;
    sigset_t set_{};
    sigset_t old_{};
    bool blocked_ = false;
};

// The temporary folder an ISP file is unpacked into, removed with the object
// or, when the command is interrupted, by the watch.
class ScratchFolder {
public:
    explicit ScratchFolder(InterruptWatch* watch) : watch_(watch)
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mvxisp-job-XXXXXX";
        std::unique_lock<std::mutex> work;
        if (watch_ != nullptr)
            work = watch_->fileWork();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
            if (watch_ != nullptr)
                watch_->removeOnInterrupt(path_);
        }
    }
    ~ScratchFolder()
    {
        if (path_.empty())
            return;
        tool::removeFolder(path_);
        if (watch_ != nullptr)
            watch_->keep(path_);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    InterruptWatch* watch_;
    std::string path_;
};

intptr_t sendToReporter(void* context, uint32_t message, uintptr_t wParam, intptr_t lParam)
{
    if (message == WM_ISP_PROGRESS)
        static_cast<Reporter*>(context)->progress(wParam, lParam);
    return 0;
}

int boxToReporter(void* context, const char* text, const char* caption, uint32_t)
{
    static_cast<Reporter*>(context)->messageBox(text != nullptr ? text : "", caption != nullptr ? caption : "");
    return MVX_IDOK;
}

class Session {
public:
    Session(std::string command, const CliEnvironment& environment, Reporter& reporter)
        : command_(std::move(command)), environment_(environment), reporter_(reporter)
    {
    }

    // The first line of a command that may reach a board.
    void start()
    {
        if (const auto* board = virtualBoard())
            reporter_.warning(board->text());
    }

    // A failure of the program itself: one line, and the result object.
    int fail(int status, const std::string& message, bool hint = false)
    {
        std::string line = message;
        if (hint)
            line += " (see 'mvxisp " + command_ + " --help')";
        std::string logError;
        const bool logged = reporter_.closeLogFile("mvxisp: " + lastLine(line), &logError);
        if (!logged) {
            reporter_.error(line);
            line = logError;
            status = kStatusCannotCreate;
        }
        reporter_.error(lastLine(line));
        JsonObject object = resultObject(status, statusMeaning(status));
        object.add("error", message);
        if (!logged)
            object.add("log_error", logError);
        reporter_.json(object);
        return status;
    }

    // The end of a command: the result's meaning in one line and the result
    // object (with details).  A log file that could not be written turns
    // the status into 73, whatever the run did.
    int finish(int status, std::string meaning, const std::function<void(JsonObject&)>& details = {})
    {
        std::string line = "Result " + std::to_string(status) + ": " + meaning;
        std::string logError;
        const bool logged = reporter_.closeLogFile(lastLine(line), &logError);
        if (!logged) {
            reporter_.error(logError + " (the run itself: " + line + ")");
            status = kStatusCannotCreate;
            meaning = statusMeaning(status);
            line = "Result " + std::to_string(status) + ": " + meaning;
        }
        if (virtualBoard())
            reporter_.warning(lastLine(line));
        else
            reporter_.resultLine(line, status != 0);
        JsonObject object = resultObject(status, meaning);
        if (details)
            details(object);
        if (!logged)
            object.add("log_error", logError);
        reporter_.json(object);
        return status;
    }

    JsonObject resultObject(int status, const std::string& meaning) const
    {
        JsonObject object;
        object.add("type", "result")
            .add("command", command_)
            .add("status", status)
            .add("meaning", meaning)
            .add("passed", status == 0);
        if (const auto* board = virtualBoard())
            object.add("virtual_board", board->folder);
        return object;
    }

    // The engine search of both front ends (shell/engine_library.hpp): the
    // library named by --engine or $MVX_ENGINE, else the program's own.
    bool loadEngine(const ParsedArguments& args, EngineLibrary& engine, int* status)
    {
        bool loaded = false;
        if (const auto path = args.value("engine"))
            loaded = engine.open(*path);
        else if (const char* variable = std::getenv("MVX_ENGINE"); variable != nullptr && *variable != '\0')
            loaded = engine.open(variable);
        else
            loaded = engine.openFirst(tool::engineCandidates(environment_.programPath));
        if (!loaded)
            *status = fail(kStatusNoEngine, engine.error());
        return loaded;
    }

    int runPlan(RunPlan& plan, EngineLibrary& engine, const std::vector<std::string>& notes, bool assemblyJob);

    int info(const ParsedArguments& args);
    int runJob(const ParsedArguments& args);
    int buses(const ParsedArguments& args);

    Reporter& reporter() { return reporter_; }

private:
    // The virtual board, when the command can reach one: buses lists and
    // probes the machine's real buses whatever the variables say.
    const tool::VirtualBoardNotice* virtualBoard() const
    {
        if (command_ == "buses" || !environment_.virtualBoard)
            return nullptr;
        return &*environment_.virtualBoard;
    }
    // A last line, followed by the virtual board's notice when there is one.
    std::string lastLine(std::string line) const
    {
        if (const auto* board = virtualBoard())
            line += " [" + board->text() + "]";
        return line;
    }

    std::string command_;
    const CliEnvironment& environment_;
    Reporter& reporter_;
};

std::string describeTarget(const IspCall& call)
{
    // A job file may name an adapter kind the engine refuses; say it as it is.
    const bool knownKind = call.adapterKind >= 0 && call.adapterKind < static_cast<int>(std::size(kInterfaceNames));
    const bool knownOperation = call.operation >= 0 && call.operation < static_cast<int>(std::size(kMcuNames));
    std::string text = "Target: " +
                       (knownOperation ? std::string(kMcuNames[call.operation])
                                       : "operation " + std::to_string(call.operation)) +
                       " over " +
                       (knownKind ? std::string(kInterfaceNames[call.adapterKind])
                                  : "adapter kind " + std::to_string(call.adapterKind)) +
                       ", library mode " + std::to_string(call.libraryMode);
    if (call.eraseOnly == 1)
        text += ", erase only";
    return text;
}

int Session::runPlan(RunPlan& plan, EngineLibrary& engine, const std::vector<std::string>& notes, bool assemblyJob)
{
    IspCall& call = plan.call;
    const int interface = plan.libraryModeInterface >= 0 ? plan.libraryModeInterface : call.adapterKind;
    if (plan.libraryMode) {
        call.libraryMode = *plan.libraryMode;
    } else {
        platform::RegistryStore registry = platform::RegistryStore::openDefault();
        call.libraryMode = tool::libraryModeFor(interface, registry);
    }
    if (plan.bus)
        ::setenv("MVX_I2C_BUS", plan.bus->c_str(), 1);
    if (const char* system = std::getenv("MVX_SYSTEM_DIR"); system == nullptr || *system == '\0') {
        if (const auto folder = tool::adapterFolderBeside(environment_.programPath))
            ::setenv("MVX_SYSTEM_DIR", folder->c_str(), 1);
    }

    for (const std::string& line : notes)
        reporter_.note(line);
    reporter_.note(describeTarget(call));

    InterruptGuard interrupts(environment_.interrupts);
    const MvxWindow window{&reporter_, &sendToReporter, &boxToReporter};
    const IspOptions options = call.optionsForCall();
    int passed = 0;
    int failed = 0;
    int status = 0;
    int done = 0;
    std::optional<std::int32_t> icCode;
    bool interrupted = false;
    int interruptedBy = 0;
    for (int run = 1; run <= plan.runs; ++run) {
        if (plan.runs > 1)
            reporter_.note("Run " + std::to_string(run) + " of " + std::to_string(plan.runs));
        reporter_.beginRun(call.table);
        const int result = engine.isp()(call.adapterKind, call.operation, call.eraseOnly, call.slaveSelector,
                                        call.verifyByChecksum, call.eraseMode, call.eraseLength, call.flashBrand,
                                        call.reserved, call.table.data(), call.libraryMode, call.idReadMode, &window,
                                        &call.protect, call.sectorEraseFlag, call.sectorEraseBank, &options);
        reporter_.endRun();
        ++done;
        if (reporter_.log().icCode())
            icCode = reporter_.log().icCode();
        if (result == MVX_OK) {
            ++passed;
        } else {
            ++failed;
            status = result;
        }
        if (assemblyJob && (result == MVX_ERR_BRIDGE_MISSING || result == MVX_ERR_ISP_MODE ||
                            result == MVX_ERR_TIMEOUT))
            reporter_.note("MCU Link Error!");
        if (const int interrupt = interrupts.pending()) {
            interrupted = run < plan.runs || plan.runs == 1;
            interruptedBy = interrupt;
            break;
        }
    }
    interrupts.takePending();
    if (interrupted && plan.runs > 1)
        reporter_.note("Interrupted: " + std::to_string(done) + " of " + std::to_string(plan.runs) +
                       " runs done (the run in progress was allowed to finish)");
    else if (interrupted)
        reporter_.note("Interrupted: the run in progress was allowed to finish");
    if (plan.runs > 1)
        reporter_.note("Runs: " + std::to_string(done) + ", passed " + std::to_string(passed) + ", failed " +
                       std::to_string(failed));
    if (command_ == "ic-code" && status == MVX_OK && icCode)
        reporter_.product(runlog::icCodeText(*icCode));

    // A repeat test that stopped early did not do what was asked, even when
    // every run it did passed.
    const int engineResult = status;
    const bool cutShort = interrupted && plan.runs > 1;
    const int exitStatus = cutShort ? kStatusInterruptedBase + interruptedBy : status;
    return finish(exitStatus, statusMeaning(exitStatus), [&](JsonObject& object) {
        object.add("engine_result", engineResult);
        if (icCode)
            object.add("ic_code", static_cast<std::int64_t>(*icCode));
        if (plan.runs > 1)
            object.add("runs", done).add("runs_passed", passed).add("runs_failed", failed);
        if (interrupted)
            object.add("interrupted", true);
    });
}

std::uint16_t wholeFileSum(const std::string& path)
{
    const platform::FileBytes file = platform::readRegularFile(path, kMaxImageFileBytes);
    unsigned sum = 0;
    for (const char byte : file.bytes)
        sum += static_cast<unsigned char>(byte);
    return static_cast<std::uint16_t>(sum);
}

std::string padded(std::string text, std::size_t width, bool right = false)
{
    if (text.size() >= width)
        return text + " ";
    const std::string fill(width - text.size(), ' ');
    return right ? fill + text : text + fill;
}

int Session::info(const ParsedArguments& args)
{
    std::string error;
    int operation = MVX_OP_SERIAL_FLASH;
    if (const auto text = args.value("mcu")) {
        const auto chosen = operationFromName(*text, &error);
        if (!chosen)
            return fail(kStatusUsage, error, true);
        operation = *chosen;
    }
    const EraseChoice erase = eraseChoiceOf(operation, args);
    if (!erase.error.empty())
        return fail(kStatusUsage, erase.error, true);
    int sectorFlag = 0;
    int sectorBank = 0;
    if (const auto text = args.value("sector-erase-bank")) {
        if (!isSerialFlashOperation(operation))
            return fail(kStatusUsage, "--sector-erase-bank applies to the serial flash", true);
        const auto bank = parseNumberIn("sector-erase-bank", *text, 0, 8, &error);
        if (!bank)
            return fail(kStatusUsage, error, true);
        sectorFlag = 1;
        sectorBank = *bank;
    }
    const BankFiles banks = collectBankFiles(operation, args);
    if (banks.status != 0)
        return fail(banks.status, banks.error, banks.status == kStatusUsage);
    if (banks.files.empty())
        return fail(kStatusUsage, "name the firmware files (FILE..., --bank N=FILE or --image FILE)", true);
    EngineLibrary engine;
    int status = 0;
    if (!loadEngine(args, engine, &status))
        return status;

    if (banks.image) {
        const std::uint16_t sum = wholeFileSum(*banks.image);
        reporter_.product("Image " + *banks.image + ": checksum of the whole file 0x" + checksumText(sum));
        reporter_.json(JsonObject().add("type", "image").add("path", *banks.image).add("checksum", sum));
    }
    reporter_.product(padded("Bank", 17) + padded("File", 28) + padded("File Len", 10, true) +
                      padded("Prom Len", 10, true) + padded("ChkSum", 8, true) + "  CRC");
    int firstFailure = 0;
    for (const BankFile& file : banks.files) {
        int dataLength = 0;
        int programLength = 0;
        int checksum = 0;
        int crc = 0;
        const int result = engine.getFileInfo()(file.path.c_str(), file.format, file.bank, operation, erase.mode,
                                                erase.length, &dataLength, &programLength, &checksum, &crc, nullptr,
                                                sectorFlag, sectorBank);
        if (result != MVX_OK && firstFailure == 0)
            firstFailure = result;
        const std::string label = bankLabel(operation, file.bank);
        const std::string name = banks.image ? "(image)" : file.path;
        if (result == MVX_OK)
            reporter_.product(padded(label, 17) + padded(name, 28) + padded(std::to_string(dataLength), 10, true) +
                              padded(std::to_string(programLength), 10, true) +
                              padded(checksumText(checksum), 8, true) + "  " + runlog::crcHex(crc));
        else
            reporter_.product(padded(label, 17) + padded(name, 28) + "error " + std::to_string(result) + ": " +
                              mvx::resultName(result));
        static constexpr std::string_view kFormats[] = {"hex", "bin", "image"};
        JsonObject object;
        object.add("type", "bank")
            .add("bank", file.bank)
            .add("label", label)
            .add("path", file.path)
            .add("format", kFormats[file.format])
            .add("result", result)
            .add("meaning", statusMeaning(result));
        if (result == MVX_OK)
            object.add("data_length", dataLength)
                .add("program_length", programLength)
                .add("checksum", checksum)
                .add("crc", crc);
        reporter_.json(object);
    }
    return finish(firstFailure, statusMeaning(firstFailure));
}

int Session::runJob(const ParsedArguments& args)
{
    if (args.positional.size() != 1)
        return fail(kStatusUsage, "name one ISP file (JOB.rsp)", true);
    std::string error;
    std::optional<int> targets;
    if (const auto text = args.value("targets")) {
        const auto number = parseNumberIn("targets", *text, 1, 4, &error);
        if (!number || (*number != 1 && *number != 4))
            return fail(kStatusUsage, number ? "--targets: " + *text + " is neither 1 nor 4" : error, true);
        targets = *number;
    }
    std::string settings = platform::joinPath(platform::workFolder(), tool::kSettingsMember);
    if (const auto chosen = args.value("settings")) {
        std::string why;
        if (!readable(*chosen, &why))
            return fail(kStatusNoInput, "cannot read the settings file '" + *chosen + "': " + why);
        settings = *chosen;
    }
    EngineLibrary engine;
    int status = 0;
    if (!loadEngine(args, engine, &status))
        return status;
    ScratchFolder folder(environment_.interrupts);
    if (folder.path().empty())
        return fail(kStatusInternal, "cannot create a temporary folder for the job");
    // An interrupt waits until the unpack is complete, then removes the folder.
    std::unique_lock<std::mutex> unpacking;
    if (environment_.interrupts != nullptr)
        unpacking = environment_.interrupts->fileWork();
    RspLoad load = loadRspJob(args.positional[0], folder.path(), targets, settings);
    if (unpacking.owns_lock())
        unpacking.unlock();
    if (load.status != 0)
        return fail(load.status, load.error);
    readImageInfo(load.job, engine.getFileInfo());
    Built built = buildRspRun(load.job, args, platform::workFolder());
    if (built.status != 0)
        return fail(built.status, built.error, built.status == kStatusUsage);
    return runPlan(built.plan, engine, describeJob(load.job), true);
}

std::optional<int> busNumberFrom(std::string_view text)
{
    const auto node = busNodeFrom(text);
    if (!node)
        return std::nullopt;
    const auto dash = node->rfind("i2c-");
    if (dash == std::string::npos)
        return std::nullopt;
    const auto number = parseNumber(std::string_view(*node).substr(dash + 4));
    if (!number || *number < 0 || *number > 99999)
        return std::nullopt;
    return static_cast<int>(*number);
}

int Session::buses(const ParsedArguments& args)
{
    BusQuery query;
    std::string error;
    if (const auto text = args.value("address")) {
        const auto address = parseNumberIn("address", *text, 2, 0xFC, &error);
        if (!address)
            return fail(kStatusUsage, error, true);
        if (*address % 2 != 0)
            return fail(kStatusUsage, "--address: " + *text + " is not an 8-bit write address (such as 0x94)", true);
        query.ispAddress = static_cast<std::uint8_t>(*address);
    }
    query.probeAll = args.has("probe-all");
    for (const std::string& name : args.positional) {
        const auto number = busNumberFrom(name);
        if (!number)
            return fail(kStatusUsage, "'" + name + "' is not a bus (N, i2c-N or /dev/i2c-N)", true);
        query.only.push_back(*number);
    }
    LinuxBusAccess access;
    const auto reports = discoverBuses(BusRoots::fromEnvironment(), access, query);
    if (reports.empty())
        reporter_.product("no I2C buses found (is the i2c-dev module loaded? sudo modprobe i2c-dev)");
    for (const BusReport& bus : reports) {
        for (const std::string& line : busLines(bus, query.ispAddress))
            reporter_.product(line);
        reporter_.jsonLine(busJson(bus, query.ispAddress));
    }
    JsonObject object = resultObject(0, statusMeaning(0));
    object.add("buses", static_cast<int>(reports.size()));
    reporter_.json(object);
    return 0;
}

}  // namespace

int runCli(std::span<const std::string> args, const CliEnvironment& environment)
{
    std::ostream& out = *environment.out;
    std::ostream& err = *environment.err;
    if (args.empty()) {
        err << "usage: mvxisp COMMAND [OPTIONS] ... (see 'mvxisp --help')\n";
        return kStatusUsage;
    }
    const std::string& first = args[0];
    if (first == "--help" || first == "-h" || first == "help") {
        const CommandInfo* topic = args.size() > 1 ? findCommand(args[1]) : nullptr;
        out << (topic != nullptr ? commandHelp(*topic) : programHelp());
        return 0;
    }
    if (first == "--version") {
        out << "mvxisp " << MVX_VERSION << "\n";
        return 0;
    }
    const CommandInfo* command = findCommand(first);
    const bool wantsJson = std::find(args.begin(), args.end(), "--json") != args.end();
    ReporterSettings settings;
    settings.json = wantsJson;
    settings.terminal = environment.stderrIsTerminal;
    settings.terminalColumns = environment.terminalColumns;
    if (command == nullptr) {
        Reporter reporter(settings, out, err);
        std::string names;
        for (const CommandInfo& known : commands())
            names += (names.empty() ? "" : ", ") + std::string(known.name);
        Session session(first, environment, reporter);
        session.start();
        return session.fail(kStatusUsage, "unknown command '" + first + "' (commands: " + names + ")");
    }

    const std::vector<OptionSpec> specs = optionsOf(*command);
    const ParseResult parsed = parseArguments(args.subspan(1), specs);
    if (parsed.ok() && parsed.arguments.has("help")) {
        out << commandHelp(*command);
        return 0;
    }
    if (parsed.ok()) {
        settings.quiet = parsed.arguments.has("quiet");
        settings.json = parsed.arguments.has("json");
    }
    Reporter reporter(settings, out, err);
    Session session(std::string(command->name), environment, reporter);
    if (!parsed.ok()) {
        session.start();
        return session.fail(kStatusUsage, parsed.error, true);
    }
    const ParsedArguments& arguments = parsed.arguments;
    std::string logError;
    if (const auto log = arguments.value("log"); log && !reporter.openLogFile(*log, &logError)) {
        session.start();
        return session.fail(kStatusCannotCreate, logError);
    }
    session.start();

    const std::string name(command->name);
    if (name == "info")
        return session.info(arguments);
    if (name == "run")
        return session.runJob(arguments);
    if (name == "buses")
        return session.buses(arguments);

    Built built = buildRun(name, arguments);
    if (built.status != 0)
        return session.fail(built.status, built.error, built.status == kStatusUsage);
    EngineLibrary engine;
    int status = 0;
    if (!session.loadEngine(arguments, engine, &status))
        return status;
    return session.runPlan(built.plan, engine, {}, false);
}

}  // namespace mvx::cli
