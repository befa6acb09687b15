#include <spawn.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "mvx/platform/debug_output.hpp"
#include "shell/shell_ui.hpp"

extern char** environ;

namespace mvx::tool {

// The tool's service runs have no window of their own, so hidden needs no
// action here.
bool SpawnProcessStarter::start(const std::string& program, const std::string& commandLine,
                                bool /*hidden*/)
{
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    if (!commandLine.empty())
        argv.push_back(const_cast<char*>(commandLine.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    const int error = ::posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (error != 0) {
        platform::debugOutput("cannot start " + program + ": " + std::strerror(error));
        return false;
    }
    return true;
}

}  // namespace mvx::tool
