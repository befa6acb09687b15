// Where things live on this system.
//
//   adapter-library folder  $MVX_SYSTEM_DIR, else <install prefix>/lib/mvxisp
//   program-files folder    $MVX_PROGRAM_FILES, else $XDG_DATA_HOME, else ~/.local/share
//   work folder             <program-files>/Norvane/ISP Tool, with "ispfile" inside
//   configuration folder    $XDG_CONFIG_HOME, else ~/.config
//   runtime folder          $MVX_RUNTIME_DIR, else $XDG_RUNTIME_DIR, else /tmp
#pragma once

#include <string>
#include <string_view>

namespace mvx::platform {

std::string joinPath(std::string_view folder, std::string_view name);

std::string homeFolder();
std::string adapterLibraryFolder();
// The file of an adapter library in that folder: "MVXUSBDLL" -> ".../MVXUSBDLL.so".
std::string adapterLibraryPath(std::string_view libraryName);

std::string programFilesFolder();
std::string makerFolder();      // <program-files>/Norvane
std::string workFolder();       // <program-files>/Norvane/ISP Tool
std::string ispfileFolder();    // <work folder>/ispfile

std::string configFolder();
std::string runtimeFolder();

// The absolute path of the running program (from /proc/self/exe), or empty.
std::string currentProgramPath();

// Creates the folder and its missing parents; true when it exists afterwards.
bool makeFolders(const std::string& path, std::string* error = nullptr);

}  // namespace mvx::platform
