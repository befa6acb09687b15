// The engine library, loaded at run time as every caller does: the two
// exports resolved from libMVXISP.so, never linked.  Both front ends find it
// the same way.
//
// The search order, the first library that loads with both exports winning:
//   1. the library the user names (mvxisp: --engine, else $MVX_ENGINE): when
//      one is named, nothing else is tried;
//   2. "ISP__PSI.dll" in the work folder, the engine copy the desktop program
//      unpacks from its own file (the desktop program only; mvxisp keeps no
//      work folder);
//   3. "libMVXISP.so" in "../lib" beside the program's folder (the build puts
//      the programs in build/bin and the engine in build/lib, and an
//      installation uses bin/ and lib/ the same way);
//   4. "libMVXISP.so" in the program's own folder;
//   5. "libMVXISP.so" by plain name, through the normal library search.
// A candidate file that does not exist is passed over, and so is one that
// cannot be loaded or lacks an export.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp.h"

namespace mvx::tool {

// Places 2 to 5 of the search order, for the program at programPath; the
// work-folder copy only when workCopy is not empty.
std::vector<std::string> engineCandidates(const std::string& programPath, const std::string& workCopy = {});

class EngineLibrary {
public:
    // Loads the library at path and resolves both exports; false with
    // error() when it cannot be loaded or lacks one of them (lacksExport()).
    bool open(const std::string& path);
    // The first candidate that exists (a plain name always counts) and loads
    // with both exports; otherwise false with the error of the first one
    // tried.  lacksExport() then says whether any of them loaded without both
    // exports.
    bool openFirst(const std::vector<std::string>& candidates);

    MvxIspFn isp() const { return isp_; }
    MvxGetFileInfoFn getFileInfo() const { return getFileInfo_; }
    const std::string& path() const { return library_.path(); }
    const std::string& error() const { return error_; }
    bool lacksExport() const { return lacksExport_; }

private:
    platform::DynamicLibrary library_;
    MvxIspFn isp_ = nullptr;
    MvxGetFileInfoFn getFileInfo_ = nullptr;
    std::string error_;
    bool lacksExport_ = false;
};

// The folder of the maker adapter libraries that belong to the program
// ("../lib/mvxisp" beside it, where the build puts MVXIICDLL.so), when it
// exists; used when $MVX_SYSTEM_DIR is not set.
std::optional<std::string> adapterFolderBeside(const std::string& programPath);

}  // namespace mvx::tool
