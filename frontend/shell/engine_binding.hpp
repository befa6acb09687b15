// Binding the engine library at run time.  The program never links the
// engine: each page loads it when it opens and frees it when it closes; the
// two entry points of the last successful binding are kept for the process
// (by the one EngineBinding object the program owns) and called by both
// pages.  Where the engine is looked for: shell/engine_library.hpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "mvx/platform/registry.hpp"
#include "mvxisp.h"
#include "shell/engine_library.hpp"
#include "shell/locations.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::tool {

inline constexpr std::string_view kLoadDllFailedMessage = "Load dll failed!";
inline constexpr std::string_view kCopyDllMessage =
    "Please copy MVXISP.dll to the same folder with this program and restart the program.";

struct EngineEntryPoints {
    MvxIspFn isp = nullptr;
    MvxGetFileInfoFn getFileInfo = nullptr;
    bool bound() const { return isp != nullptr && getFileInfo != nullptr; }
};

// A page's handle on the library it loaded; empty when it loaded none.
using EngineHandle = std::unique_ptr<EngineLibrary>;

class EngineBinding {
public:
    EngineBinding(ShellLocations where, ShellUi& ui) : where_(std::move(where)), ui_(ui) {}
    EngineBinding(const EngineBinding&) = delete;
    EngineBinding& operator=(const EngineBinding&) = delete;

    // Loads the library at path and resolves both entry points.  Once the
    // library is loaded the entry points held before are cleared; a library
    // without both exports is freed and counts as none.
    EngineHandle bindEngine(const std::string& path);

    // The page's binding: the engine search from the work-folder copy on;
    // when none gives an engine, "Load dll failed!" is shown and the page
    // goes on without.
    EngineHandle bindForPage();

    // Frees the page's library.  Entry points that came from it are cleared,
    // so nothing can call into a library that is gone.
    void releaseForPage(EngineHandle& handle);

    const EngineEntryPoints& entryPoints() const { return entry_; }

private:
    ShellLocations where_;
    ShellUi& ui_;
    // The entry points of a library that loaded (found) or none.
    EngineHandle adopt(EngineHandle library, bool found);

    EngineEntryPoints entry_;
    const EngineLibrary* source_ = nullptr;   // the library entry_ came from
};

// libraryMode for a run: "FTDi USB" (1) always uses its library transport,
// "CVT IIC" (3) never; the other kinds do when the larger of the two
// "MVXTool Version" values (DebugTool and Customer Tool keys, created when
// missing, a missing value counting as 0) is 100 or more.
std::uint8_t libraryModeFor(int interfaceKind, platform::RegistryStore& registry);

}  // namespace mvx::tool
