// Where the running tool keeps its job: the work folder "ISP Tool" inside
// "Norvane" of the program-files folder, its "ispfile" folder, the member
// names of the job inside it, and where the engine library is looked for.
//
// The member names are those the package format uses, whatever the platform:
// "ISP__PSI.dll" holds the engine's shared library and "ISP__PSI.exe" is a
// copy of the program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/virtual_board.hpp"

namespace mvx::tool {

inline constexpr std::string_view kProgramMember = "ISP__PSI.exe";
inline constexpr std::string_view kEngineMember = "ISP__PSI.dll";
inline constexpr std::string_view kSettingsMember = "ISP__PSI.ini";
inline constexpr std::string_view kIspfileFolderName = "ispfile";

// The engine library as the build and the installation name it.
inline constexpr std::string_view kEngineLibraryName = "libMVXISP.so";

struct ShellLocations {
    std::string programPath;    // the running program file
    std::string makerFolder;    // <program files>/Norvane
    std::string workFolder;     // <program files>/Norvane/ISP Tool
    std::string ispfileFolder;  // <work folder>/ispfile
    std::string registryPath;   // the registry store
    std::optional<VirtualBoardNotice> virtualBoard;   // set: no hardware is touched

    // The running process's locations (platform paths, registry store and
    // virtual board).
    static ShellLocations fromSystem();
    // The locations of a program at programPath whose program-files folder
    // is programFiles (tests build scratch installations with this).
    static ShellLocations forFolders(std::string programPath, std::string_view programFiles,
                                     std::string registryPath);

    std::string programFolder() const;
    std::string workFile(std::string_view member) const;
    std::string settingsPath() const { return workFile(kSettingsMember); }
    std::string ispfileSettingsPath() const;

    // The engine library that belongs to the program, in the order of the
    // engine search (shell/engine_library.hpp).
    std::vector<std::string> engineBesideProgram() const;
};

// The folder of a file path ("." for a bare name).
std::string folderOf(const std::string& path);

// "libMVXISP.so" in "../lib" beside the program's folder, then in the folder
// itself: the engine that belongs to the program at programPath.
std::vector<std::string> enginesBesideProgram(const std::string& programPath);

}  // namespace mvx::tool
