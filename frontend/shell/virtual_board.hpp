// The notice every front end shows while a virtual board stands in for the
// hardware, so that a station that inherited the variable by mistake never
// takes a simulated pass for a real one: the command line prints it first and
// in its last line, the desktop program in its window title and a banner.
//
// Two variables select a virtual board:
//   MVX_VIRTUAL_BOARD         the engine runs every transport against the
//                             board in that folder (no hardware at all);
//   MVX_I2CDEV_VIRTUAL_BOARD  only the IIC library (MVXIICDLL.so, --bus) talks
//                             to the board in that folder instead of an
//                             i2c-dev node.  It cannot be the same variable:
//                             with MVX_VIRTUAL_BOARD set the engine simulates
//                             the maker library itself and never loads the
//                             real one, so the library's own i2c-dev path
//                             could not be run end to end.
// MVX_VIRTUAL_BOARD wins when both are set.
#pragma once

#include <optional>
#include <string>

namespace mvx::tool {

struct VirtualBoardNotice {
    std::string folder;
    bool iicLibraryOnly = false;   // from MVX_I2CDEV_VIRTUAL_BOARD

    // "VIRTUAL BOARD <folder>: no hardware is touched"
    std::string text() const;
    // " [VIRTUAL BOARD <folder>]", for a window title.
    std::string titleSuffix() const;
};

// The notice for the two variables' values (null or empty: not set).
std::optional<VirtualBoardNotice> virtualBoardNotice(const char* virtualBoard, const char* iicLibraryBoard);
// The notice for the running process's environment.
std::optional<VirtualBoardNotice> virtualBoardNotice();

}  // namespace mvx::tool
