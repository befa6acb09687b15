// Running the built mvxisp as a process: a clean environment (only PATH,
// HOME and TMPDIR of the test's own, plus what a test sets), stdout and stderr
// captured, the exit status; and the firmware and board files the tests use.
#pragma once

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "temp_folder.hpp"

namespace mvx::test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;

    // The lines of stderr, without line ends.
    std::vector<std::string> errLines() const { return linesOf(err); }
    std::vector<std::string> outLines() const { return linesOf(out); }

    static std::vector<std::string> linesOf(const std::string& text)
    {
        std::vector<std::string> lines;
        std::size_t start = 0;
        while (start < text.size()) {
            const auto end = text.find('\n', start);
            lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
        return lines;
    }
};

using Environment = std::map<std::string, std::string>;

// A started mvxisp; its stdout and stderr go to files of the scratch folder.
struct Started {
    pid_t pid = -1;
    std::string outPath;
    std::string errPath;
};

// Starts mvxisp with args in the scratch folder.
inline Started startMvxisp(const std::vector<std::string>& args, const Environment& extra, const TempFolder& scratch)
{
    Environment env;
    for (const char* name : {"PATH", "HOME", "TMPDIR", "ASAN_OPTIONS", "UBSAN_OPTIONS"})
        if (const char* value = std::getenv(name))
            env[name] = value;
    // The registry store and the work folder stay inside the scratch folder.
    env["MVX_REGISTRY"] = scratch.file("registry.ini");
    env["MVX_PROGRAM_FILES"] = scratch.file("program-files");
    env["XDG_CONFIG_HOME"] = scratch.file("config");
    for (const auto& [name, value] : extra)
        env[name] = value;
    std::vector<std::string> envText;
    for (const auto& [name, value] : env)
        envText.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (std::string& text : envText)
        envp.push_back(text.data());
    envp.push_back(nullptr);

    std::vector<std::string> argText{MVXISP_PROGRAM};
    argText.insert(argText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : argText)
        argv.push_back(text.data());
    argv.push_back(nullptr);

    const std::string outPath = scratch.file(".stdout");
    const std::string errPath = scratch.file(".stderr");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addchdir_np(&actions, scratch.path().c_str());
    Started started{-1, outPath, errPath};
    const int spawned = posix_spawn(&started.pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        ADD_FAILURE() << "cannot start " << argv[0];
        started.pid = -1;
    }
    return started;
}

// Waits for a started mvxisp to end.
inline Outcome finishMvxisp(const Started& started)
{
    Outcome outcome;
    if (started.pid < 0)
        return outcome;
    int status = 0;
    while (waitpid(started.pid, &status, 0) < 0) {
    }
    outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    outcome.out = readWholeFile(started.outPath);
    outcome.err = readWholeFile(started.errPath);
    return outcome;
}

// Runs mvxisp with args in the scratch folder.
inline Outcome runMvxisp(const std::vector<std::string>& args, const Environment& extra, const TempFolder& scratch)
{
    return finishMvxisp(startMvxisp(args, extra, scratch));
}

// ---- firmware and boards ----------------------------------------------------

// Reproducible bytes, different for each seed.
inline std::string patternBytes(std::size_t size, unsigned seed)
{
    std::string bytes(size, '\0');
    std::uint32_t state = 0x9E3779B9u * (seed + 1);
    for (char& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<char>(state >> 24);
    }
    return bytes;
}

// The bytes as Intel HEX records of 16 bytes from address 0, with an end record.
inline std::string hexText(const std::string& bytes)
{
    std::string text;
    char record[64];
    for (std::size_t at = 0; at < bytes.size(); at += 16) {
        const std::size_t count = std::min<std::size_t>(16, bytes.size() - at);
        unsigned sum = static_cast<unsigned>(count + (at >> 8) + (at & 0xFF));
        std::snprintf(record, sizeof record, ":%02X%04X00", static_cast<unsigned>(count), static_cast<unsigned>(at));
        text += record;
        for (std::size_t i = 0; i < count; ++i) {
            const auto byte = static_cast<unsigned char>(bytes[at + i]);
            std::snprintf(record, sizeof record, "%02X", byte);
            text += record;
            sum += byte;
        }
        std::snprintf(record, sizeof record, "%02X\r\n", (256 - sum % 256) % 256);
        text += record;
    }
    return text + ":00000001FF\r\n";
}

inline constexpr std::size_t kBank = 65536;
inline constexpr std::size_t kFlashBytes = 512 * 1024;   // the board's default W25X40A

// A virtual board folder with board.ini and, when given, a flash.bin.
struct BoardFolder {
    explicit BoardFolder(const std::string& ini = "", const std::string& flash = "")
    {
        writeWholeFile(folder.file("board.ini"), ini);
        if (!flash.empty())
            writeWholeFile(folder.file("flash.bin"), flash);
    }
    std::string flash() const { return readWholeFile(folder.file("flash.bin")); }
    std::string mcu() const { return readWholeFile(folder.file("mcu.bin")); }
    Environment env() const { return {{"MVX_VIRTUAL_BOARD", folder.path()}}; }
    // What mvxisp prints first on this board, and its last line for a result.
    std::string notice() const { return "VIRTUAL BOARD " + folder.path() + ": no hardware is touched"; }
    std::string lastLine(const std::string& result) const { return result + " [" + notice() + "]"; }
    TempFolder folder;
};

// Environment for the recording engine, writing into record.txt of scratch.
inline Environment recordingEnv(const TempFolder& scratch, int result = 0)
{
    return {{"MVX_ENGINE", MVX_RECORDING_ENGINE},
            {"MVX_RECORD_FILE", scratch.file("record.txt")},
            {"MVX_RECORD_RESULT", std::to_string(result)}};
}

// The recorded "name=value" lines of the recording engine, by name (the last
// call's value wins).
inline std::map<std::string, std::string> recorded(const TempFolder& scratch)
{
    std::map<std::string, std::string> values;
    for (const std::string& line : Outcome::linesOf(readWholeFile(scratch.file("record.txt")))) {
        const auto equals = line.find('=');
        if (equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    }
    return values;
}

inline int countOf(const std::string& text, const std::string& piece)
{
    int count = 0;
    for (auto at = text.find(piece); at != std::string::npos; at = text.find(piece, at + piece.size()))
        ++count;
    return count;
}

}  // namespace mvx::test
