#include "engine_library.hpp"

#include <filesystem>

#include "shell/locations.hpp"

namespace mvx::cli {
namespace {

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

std::vector<std::string> defaultEngineCandidates(const std::string& programPath)
{
    const std::string folder = folderOf(programPath);
    const std::string name(tool::kEngineLibraryName);
    return {folder + "/../lib/" + name, folder + "/" + name, name};
}

bool EngineLibrary::open(const std::string& path)
{
    isp_ = nullptr;
    getFileInfo_ = nullptr;
    error_.clear();
    if (!library_.open(path)) {
        error_ = "cannot load the engine library '" + path + "': " + library_.error();
        return false;
    }
    isp_ = library_.function<MvxIspFn>("mvxISP");
    getFileInfo_ = library_.function<MvxGetFileInfoFn>("mvxGetFileInfo");
    if (isp_ == nullptr || getFileInfo_ == nullptr) {
        error_ = "'" + path + "' is not the engine library: it lacks mvxISP or mvxGetFileInfo";
        isp_ = nullptr;
        getFileInfo_ = nullptr;
        library_.close();
        return false;
    }
    return true;
}

bool EngineLibrary::openDefault(const std::string& programPath)
{
    const auto candidates = defaultEngineCandidates(programPath);
    for (const std::string& candidate : candidates) {
        std::error_code ignored;
        if (candidate.find('/') != std::string::npos && !std::filesystem::exists(candidate, ignored))
            continue;
        return open(candidate);
    }
    return open(candidates.back());
}

std::optional<std::string> adapterFolderBeside(const std::string& programPath)
{
    const std::string folder = folderOf(programPath) + "/../lib/mvxisp";
    std::error_code ignored;
    if (!std::filesystem::is_directory(folder, ignored))
        return std::nullopt;
    return std::filesystem::weakly_canonical(folder, ignored).string();
}

}  // namespace mvx::cli
