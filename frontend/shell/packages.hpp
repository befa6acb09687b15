// The two package formats, both marked by the magic "MVXF", integers
// unsigned little-endian:
//
// Self-contained program: the executable image, then the payload members in
// the order of kPayloadMembers, each stored whole (a member of size 0 takes no
// bytes), then an 82-byte trailer: "MVXF", the engine size (4 bytes), the
// settings size (2 bytes), and the 18 other sizes (4 bytes each).  An ELF
// program runs unchanged with the payload appended behind its image.
//
// Exported ISP file (".rsp"): "MVXF"; the settings chunk (2-byte length, INI
// text); the image chunks (hex job: four, binary job: one; 4-byte length then
// the bytes, an absent image has length 0); "MVXF".
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "shell/locations.hpp"
#include "shell/settings_store.hpp"
#include "shell/shell_ui.hpp"

namespace mvx::tool {

inline constexpr std::string_view kPackageMagic = "MVXF";
inline constexpr std::size_t kTrailerBytes = 82;
inline constexpr std::size_t kPayloadMemberCount = 20;
inline constexpr std::uint32_t kMaxPackedSettingsBytes = 65535;

// Work-folder names of the payload members, in payload and trailer order.
inline constexpr std::array<std::string_view, kPayloadMemberCount> kPayloadMembers{
    "ISP__PSI.dll", "ISP__PSI.ini",
    "hexfile1", "hexfile2", "hexfile3", "hexfile4",
    "binfile.bin", "hdcpkey.bin",
    "5310file1", "5310file2", "5310file3", "5310file4",
    "5312file1", "5312file2", "5312file3", "5312file4",
    "SFfile1", "SFfile2", "SFfile3", "SFfile4"};

// Operator messages of this module.
inline constexpr std::string_view kNoDllMessage = "There is no dll file!";
inline constexpr std::string_view kExeMissingMessage = "exe file do not exist";
inline constexpr std::string_view kDllMissingMessage = "dll file do not exist";
inline constexpr std::string_view kOverwriteQuestion =
    "The file you selected is exist. Do you want to overwrite it?";
inline constexpr std::string_view kConfirmCaption = "Confirm";
inline constexpr std::string_view kExportSuccessMessage = "Export isp file success!";
inline constexpr std::string_view kIspFileExtension = "rsp";

struct Trailer {
    std::array<std::uint32_t, kPayloadMemberCount> sizes{};
    std::uint64_t total() const;
    bool operator==(const Trailer&) const = default;
};

// The 82 trailer bytes; the settings size must fit its two bytes.
std::string encodeTrailer(const Trailer& trailer);
// The trailer at the end of a file, or nullopt when its last 82 bytes do not
// begin with the magic.
std::optional<Trailer> decodeTrailer(std::string_view fileBytes);

// A program file cut into its executable image and payload members (views
// into the file's bytes).  A file without a trailer is all image; a trailer
// whose sizes exceed the file gives `error` and no members.
struct ProgramParts {
    bool packaged = false;          // it carries a trailer
    std::string_view image;
    std::array<std::string_view, kPayloadMemberCount> members{};
    std::string error;
};
ProgramParts splitProgram(std::string_view program);

// ok, or the text to show the operator (empty when the failure is silent).
struct PackageResult {
    bool ok = false;
    std::string message;
};

// Unpacks the running program into the work folder.  A self-contained
// program gives its members (the engine, settings, binary image and HDCP key
// even when empty) and its executable image as "ISP__PSI.exe".  A plain
// program copies the engine beside it as "ISP__PSI.dll" (an existing copy is
// kept) and itself as "ISP__PSI.exe".  A trailer whose sizes exceed the file
// is refused and nothing is written.
PackageResult unpackSelf(const ShellLocations& where);

// Writes a self-contained program to target from runningProgram and the
// members in runningProgram's folder: the engine (required), the settings
// (at most 65,535 bytes) and, withFiles, the job's files.  The new program is
// written beside target and renamed over it only when complete, so a failure
// leaves target as it was.  A running program that is itself self-contained
// contributes only its executable image.
PackageResult repackTo(const std::string& runningProgram, const std::string& target, bool withFiles);

// ---- exported ISP files ------------------------------------------------------

// What an export writes: the current mode, its options and the job's names.
struct IspJob {
    int mcu = 0;
    ModeOptions options;
    SavedFileNames names;
};

// chosen with ".rsp" appended unless it already ends in ".rsp".
std::string withIspFileExtension(std::string_view chosen);

// Writes the export keys into the ispfile folder's "ISP__PSI.ini" and the
// exported file at path (replaced only when complete): the settings chunk and
// the image chunks from the work folder, by the mode's filecheck bits.
PackageResult writeIspFile(const std::string& path, const IspJob& job, const ShellLocations& where);

struct UnpackedIspFile {
    bool ok = false;
    std::string error;   // why a file was refused
    int mcu = 0;
    int ispfiletype = 0;
    // The job's images in chunk order (four for a hex job, one for a binary
    // job): the file the unpack wrote into the ispfile folder, or empty when
    // the chunk is empty and the image is absent.  These are the only image
    // files a job may use; its names are never joined to a folder again.
    std::vector<std::string> images;
};

// Empties the ispfile folder and unpacks the exported file into it: the
// settings as "ISP__PSI.ini" and each image under the name its settings give.
// Image names must be plain file names (no folder, no "..", not the settings
// file), also those of empty chunks, and the written ones must not repeat; a
// malformed, truncated or hostile file is refused and the ispfile folder is
// left empty.
UnpackedIspFile unpackIspFile(const std::string& path, const std::string& ispfileFolder);

// The Export ISP File command: asks for the file (confirming an overwrite:
// Yes goes on, No asks again, Cancel ends), lets the page store its options
// and describe the job (prepareJob), writes the file and reports the result.
// True when a file was written.
bool exportIspFile(ShellUi& ui, const ShellLocations& where, const std::function<IspJob()>& prepareJob);

}  // namespace mvx::tool
