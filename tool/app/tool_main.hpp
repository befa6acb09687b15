// The program: the start-up sequence of the shell with Qt dialogs, the
// stand-in pages, the window raiser and real process starts.
#pragma once

namespace mvx::tool {

// Runs the program with an existing QApplication; answers the exit status.
int runTool(int argc, const char* const* argv);

}  // namespace mvx::tool
