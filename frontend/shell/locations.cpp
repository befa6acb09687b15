#include "shell/locations.hpp"

#include "mvx/platform/paths.hpp"
#include "mvx/platform/registry.hpp"

namespace mvx::tool {

using platform::joinPath;

ShellLocations ShellLocations::fromSystem()
{
    ShellLocations where;
    where.programPath = platform::currentProgramPath();
    where.makerFolder = platform::makerFolder();
    where.workFolder = platform::workFolder();
    where.ispfileFolder = platform::ispfileFolder();
    where.registryPath = platform::RegistryStore::defaultPath();
    where.virtualBoard = virtualBoardNotice();
    return where;
}

ShellLocations ShellLocations::forFolders(std::string programPath, std::string_view programFiles,
                                          std::string registryPath)
{
    ShellLocations where;
    where.programPath = std::move(programPath);
    where.makerFolder = joinPath(programFiles, "Norvane");
    where.workFolder = joinPath(where.makerFolder, "ISP Tool");
    where.ispfileFolder = joinPath(where.workFolder, kIspfileFolderName);
    where.registryPath = std::move(registryPath);
    return where;
}

std::string ShellLocations::programFolder() const
{
    return folderOf(programPath);
}

std::string ShellLocations::workFile(std::string_view member) const
{
    return joinPath(workFolder, member);
}

std::string ShellLocations::ispfileSettingsPath() const
{
    return joinPath(ispfileFolder, kSettingsMember);
}

std::vector<std::string> ShellLocations::engineBesideProgram() const
{
    return enginesBesideProgram(programPath);
}

std::string folderOf(const std::string& path)
{
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::vector<std::string> enginesBesideProgram(const std::string& programPath)
{
    const std::string folder = folderOf(programPath);
    return {joinPath(joinPath(folder, "../lib"), kEngineLibraryName), joinPath(folder, kEngineLibraryName)};
}

}  // namespace mvx::tool
