// The engine library, loaded at run time as every caller does: the two
// exports resolved from libMVXISP.so, never linked.
//
// Which library: --engine PATH, else $MVX_ENGINE, else "libMVXISP.so" in
// "../lib" beside the program (the build puts mvxisp in build/bin and the
// engine in build/lib; an installation uses bin/ and lib/ the same way), else
// beside the program, else by plain name through the normal library search.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "mvx/platform/dynamic_library.hpp"
#include "mvxisp.h"

namespace mvx::cli {

// The places tried, in order, when neither --engine nor $MVX_ENGINE names
// one: the two beside programPath, then the plain name.
std::vector<std::string> defaultEngineCandidates(const std::string& programPath);

class EngineLibrary {
public:
    // Loads the library at path and resolves both exports; false with
    // error() when it cannot be loaded or lacks one of them.
    bool open(const std::string& path);
    // The first of the default candidates that exists (the plain name when
    // none does), then open().
    bool openDefault(const std::string& programPath);

    MvxIspFn isp() const { return isp_; }
    MvxGetFileInfoFn getFileInfo() const { return getFileInfo_; }
    const std::string& path() const { return library_.path(); }
    const std::string& error() const { return error_; }

private:
    platform::DynamicLibrary library_;
    MvxIspFn isp_ = nullptr;
    MvxGetFileInfoFn getFileInfo_ = nullptr;
    std::string error_;
};

// The folder of the maker adapter libraries that belong to this program
// ("../lib/mvxisp" beside it, where the build puts MVXIICDLL.so), when it
// exists; used when $MVX_SYSTEM_DIR is not set.
std::optional<std::string> adapterFolderBeside(const std::string& programPath);

}  // namespace mvx::cli
