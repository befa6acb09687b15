#include "mvx/platform/paths.hpp"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#ifndef MVX_INSTALL_PREFIX
#define MVX_INSTALL_PREFIX "/usr/local"
#endif

namespace mvx::platform {
namespace {

std::string environment(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

}  // namespace

std::string joinPath(std::string_view folder, std::string_view name)
{
    if (folder.empty())
        return std::string(name);
    std::string joined(folder);
    if (joined.back() != '/')
        joined.push_back('/');
    while (!name.empty() && name.front() == '/')
        name.remove_prefix(1);
    joined.append(name);
    return joined;
}

std::string homeFolder()
{
    std::string home = environment("HOME");
    if (!home.empty())
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr && entry->pw_dir != nullptr)
        return entry->pw_dir;
    return "/tmp";
}

std::string adapterLibraryFolder()
{
    std::string folder = environment("MVX_SYSTEM_DIR");
    if (!folder.empty())
        return folder;
    return joinPath(MVX_INSTALL_PREFIX, "lib/mvxisp");
}

std::string adapterLibraryPath(std::string_view libraryName)
{
    std::string file(libraryName);
    file += ".so";
    return joinPath(adapterLibraryFolder(), file);
}

std::string programFilesFolder()
{
    std::string folder = environment("MVX_PROGRAM_FILES");
    if (!folder.empty())
        return folder;
    folder = environment("XDG_DATA_HOME");
    if (!folder.empty())
        return folder;
    return joinPath(homeFolder(), ".local/share");
}

std::string makerFolder()
{
    return joinPath(programFilesFolder(), "Norvane");
}

std::string workFolder()
{
    return joinPath(makerFolder(), "ISP Tool");
}

std::string ispfileFolder()
{
    return joinPath(workFolder(), "ispfile");
}

std::string configFolder()
{
    std::string folder = environment("XDG_CONFIG_HOME");
    if (!folder.empty())
        return folder;
    return joinPath(homeFolder(), ".config");
}

std::string runtimeFolder()
{
    std::string folder = environment("MVX_RUNTIME_DIR");
    if (!folder.empty())
        return folder;
    folder = environment("XDG_RUNTIME_DIR");
    if (!folder.empty())
        return folder;
    return "/tmp";
}

std::string currentProgramPath()
{
    std::error_code error;
    auto path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

bool makeFolders(const std::string& path, std::string* error)
{
    std::error_code code;
    std::filesystem::create_directories(path, code);
    if (std::filesystem::is_directory(path, code))
        return true;
    if (error != nullptr)
        *error = "cannot create folder " + path + (code ? ": " + code.message() : std::string());
    return false;
}

}  // namespace mvx::platform
