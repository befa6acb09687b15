// Diagnostics of the adapter code ("InitFTDI open suc", "debug write fail"):
// one line on stderr when the environment variable MVX_DEBUG is "1", nothing
// otherwise.
#pragma once

#include <string_view>

namespace mvx::platform {

bool debugOutputEnabled();
void debugOutput(std::string_view text);

}  // namespace mvx::platform
