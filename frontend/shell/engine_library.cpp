#include "shell/engine_library.hpp"

#include <filesystem>

#include "mvx/platform/paths.hpp"
#include "shell/locations.hpp"

namespace mvx::tool {

std::vector<std::string> engineCandidates(const std::string& programPath, const std::string& workCopy)
{
    std::vector<std::string> candidates;
    if (!workCopy.empty())
        candidates.push_back(workCopy);
    for (std::string& beside : enginesBesideProgram(programPath))
        candidates.push_back(std::move(beside));
    candidates.emplace_back(kEngineLibraryName);
    return candidates;
}

bool EngineLibrary::open(const std::string& path)
{
    isp_ = nullptr;
    getFileInfo_ = nullptr;
    error_.clear();
    lacksExport_ = false;
    if (!library_.open(path)) {
        error_ = "cannot load the engine library '" + path + "': " + library_.error();
        return false;
    }
    isp_ = library_.function<MvxIspFn>("mvxISP");
    getFileInfo_ = library_.function<MvxGetFileInfoFn>("mvxGetFileInfo");
    if (isp_ == nullptr || getFileInfo_ == nullptr) {
        error_ = "'" + path + "' is not the engine library: it lacks mvxISP or mvxGetFileInfo";
        lacksExport_ = true;
        isp_ = nullptr;
        getFileInfo_ = nullptr;
        library_.close();
        return false;
    }
    return true;
}

bool EngineLibrary::openFirst(const std::vector<std::string>& candidates)
{
    std::string firstError;
    bool anyLacksExport = false;
    for (const std::string& candidate : candidates) {
        std::error_code ignored;
        if (candidate.find('/') != std::string::npos && !std::filesystem::exists(candidate, ignored))
            continue;
        if (open(candidate))
            return true;
        anyLacksExport = anyLacksExport || lacksExport_;
        if (firstError.empty())
            firstError = error_;
    }
    error_ = firstError.empty() ? "no engine library to load" : firstError;
    lacksExport_ = anyLacksExport;
    return false;
}

std::optional<std::string> adapterFolderBeside(const std::string& programPath)
{
    const std::string folder = platform::joinPath(folderOf(programPath), "../lib/mvxisp");
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored))
        return std::nullopt;
    return std::filesystem::weakly_canonical(folder, ignored).string();
}

}  // namespace mvx::tool
