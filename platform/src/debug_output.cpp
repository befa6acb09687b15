#include "mvx/platform/debug_output.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace mvx::platform {

bool debugOutputEnabled()
{
    const char* value = std::getenv("MVX_DEBUG");
    return value != nullptr && std::strcmp(value, "1") == 0;
}

void debugOutput(std::string_view text)
{
    if (!debugOutputEnabled())
        return;
    // One write per line so lines from different threads do not interleave.
    std::string line = "[mvx] ";
    line.append(text);
    if (line.empty() || line.back() != '\n')
        line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

}  // namespace mvx::platform
