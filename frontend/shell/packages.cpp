#include "shell/packages.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <set>
#include <system_error>
#include <vector>

#include "mvx/platform/atomic_file.hpp"
#include "mvx/platform/ini.hpp"
#include "mvx/platform/paths.hpp"
#include "mvx/platform/regular_file.hpp"
#include "mvxisp_file_limits.hpp"
#include "shell/file_io.hpp"
#include "shell/text.hpp"

namespace mvx::tool {

using platform::joinPath;

namespace {

constexpr std::size_t kEngineIndex = 0;
constexpr std::size_t kSettingsIndex = 1;
constexpr std::size_t kBinaryIndex = 6;
constexpr std::size_t kHdcpKeyIndex = 7;
constexpr std::size_t kFirstJobFileIndex = 2;

// Offset of each size in the trailer: the engine at 4, the settings (two
// bytes) at 8, then four bytes each from 10.
constexpr std::size_t sizeOffset(std::size_t index)
{
    return index == kEngineIndex ? 4 : index == kSettingsIndex ? 8 : 10 + 4 * (index - 2);
}
static_assert(sizeOffset(kPayloadMemberCount - 1) + 4 == kTrailerBytes);

void putLe(std::string& out, std::size_t at, std::uint32_t value, std::size_t bytes)
{
    for (std::size_t i = 0; i < bytes; ++i)
        out[at + i] = static_cast<char>((value >> (8 * i)) & 0xFFu);
}

std::uint32_t getLe(std::string_view in, std::size_t at, std::size_t bytes)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes; ++i)
        value |= static_cast<std::uint32_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    return value;
}

void appendLe(std::string& out, std::uint32_t value, std::size_t bytes)
{
    out.append(bytes, '\0');
    putLe(out, out.size() - bytes, value, bytes);
}

PackageResult failed(std::string message)
{
    return PackageResult{false, std::move(message)};
}

// The executable image of a program file: the whole file, or the part before
// the payload when it carries a valid trailer.
std::string_view executableImage(std::string_view program)
{
    return splitProgram(program).image;
}

// A name an exported file may give one of its members: a plain file name
// that stays inside the ispfile folder and is not its settings file.
bool isPlainMemberName(std::string_view name)
{
    if (name.empty() || name == "." || name == ".." || name.size() > 255)
        return false;
    if (name.find_first_of(std::string_view("/\\\0", 3)) != std::string_view::npos)
        return false;
    return !(name.size() == kSettingsMember.size() && endsWithIgnoringCase(name, kSettingsMember));
}

}  // namespace

std::uint64_t Trailer::total() const
{
    std::uint64_t sum = 0;
    for (std::uint32_t size : sizes)
        sum += size;
    return sum;
}

std::string encodeTrailer(const Trailer& trailer)
{
    std::string out(kTrailerBytes, '\0');
    out.replace(0, kPackageMagic.size(), kPackageMagic);
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i)
        putLe(out, sizeOffset(i), trailer.sizes[i], i == kSettingsIndex ? 2 : 4);
    return out;
}

std::optional<Trailer> decodeTrailer(std::string_view fileBytes)
{
    if (fileBytes.size() < kTrailerBytes)
        return std::nullopt;
    const std::string_view tail = fileBytes.substr(fileBytes.size() - kTrailerBytes);
    if (tail.substr(0, kPackageMagic.size()) != kPackageMagic)
        return std::nullopt;
    Trailer trailer;
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i)
        trailer.sizes[i] = getLe(tail, sizeOffset(i), i == kSettingsIndex ? 2 : 4);
    return trailer;
}

// ---- the self-contained program ----------------------------------------------

ProgramParts splitProgram(std::string_view program)
{
    ProgramParts parts;
    parts.image = program;
    const auto trailer = decodeTrailer(program);
    if (!trailer)
        return parts;
    const std::uint64_t room = program.size() - kTrailerBytes;
    if (trailer->total() > room) {
        parts.error = "The program file is damaged: its package records " + std::to_string(trailer->total()) +
                      " bytes but holds only " + std::to_string(room) + ".";
        return parts;
    }
    parts.packaged = true;
    parts.image = program.substr(0, static_cast<std::size_t>(room - trailer->total()));
    std::size_t at = parts.image.size();
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i) {
        parts.members[i] = program.substr(at, trailer->sizes[i]);
        at += trailer->sizes[i];
    }
    return parts;
}

PackageResult unpackSelf(const ShellLocations& where)
{
    std::string error;
    const auto program = readFileBytes(where.programPath, &error);
    if (!program)
        return failed("Cannot read the program file: " + error);
    const std::string exePath = where.workFile(kProgramMember);
    const ProgramParts parts = splitProgram(*program);
    if (!parts.error.empty())
        return failed(parts.error);
    const std::string_view image = parts.image;

    if (parts.packaged) {
        for (std::size_t i = 0; i < kPayloadMemberCount; ++i) {
            const bool alwaysWritten = i == kEngineIndex || i == kSettingsIndex ||
                                       i == kBinaryIndex || i == kHdcpKeyIndex;
            if (!parts.members[i].empty() || alwaysWritten) {
                if (!writeFileBytes(where.workFile(kPayloadMembers[i]), parts.members[i], &error))
                    return failed("Cannot unpack the program: " + error);
            }
        }
    } else {
        const std::string engineCopy = where.workFile(kEngineMember);
        if (!fileExists(engineCopy)) {
            std::optional<std::string> engine;
            for (const std::string& candidate : where.engineBesideProgram()) {
                if (fileExists(candidate) && (engine = readFileBytes(candidate, &error)))
                    break;
            }
            if (!engine)
                return failed(std::string(kNoDllMessage));
            if (!writeFileBytes(engineCopy, *engine, &error))
                return failed("Cannot unpack the program: " + error);
        }
    }
    if (!writeFileBytes(exePath, image, &error) || !makeExecutable(exePath, &error))
        return failed("Cannot unpack the program: " + error);
    return PackageResult{true, {}};
}

PackageResult repackTo(const std::string& runningProgram, const std::string& target, bool withFiles)
{
    if (target.empty())
        return failed({});
    const auto program = readFileBytes(runningProgram);
    if (!program)
        return failed(std::string(kExeMissingMessage));
    const std::string folder = folderOf(runningProgram);

    Trailer trailer;
    std::string payload;
    const auto engine = readFileBytes(joinPath(folder, kEngineMember));
    if (!engine)
        return failed(std::string(kDllMissingMessage));
    for (std::size_t i = 0; i < kPayloadMemberCount; ++i) {
        std::optional<std::string> member;
        if (i == kEngineIndex) {
            member = engine;
        } else if (i == kSettingsIndex || withFiles) {
            const std::string path = joinPath(folder, kPayloadMembers[i]);
            std::string error;
            if (fileExists(path) && !(member = readFileBytes(path, &error)))
                return failed("Cannot pack the program: " + error);
        }
        if (!member)
            continue;
        const std::uint64_t limit = i == kSettingsIndex ? kMaxPackedSettingsBytes : 0xFFFFFFFFu;
        if (member->size() > limit) {
            return failed("Cannot pack the program: " + std::string(kPayloadMembers[i]) + " is " +
                          std::to_string(member->size()) + " bytes, more than the " +
                          std::to_string(limit) + " bytes its size field can record.");
        }
        trailer.sizes[i] = static_cast<std::uint32_t>(member->size());
        payload += *member;
    }

    const std::string_view image = executableImage(*program);
    std::string bytes;
    bytes.reserve(image.size() + payload.size() + kTrailerBytes);
    bytes.append(image).append(payload).append(encodeTrailer(trailer));

    const bool existed = fileExists(target);
    if (auto error = platform::replaceFileAtomically(target, bytes, "program file"))
        return failed("Cannot pack the program: " + *error);
    if (!existed)
        makeExecutable(target);
    return PackageResult{true, {}};
}

// ---- exported ISP files ----------------------------------------------------------

std::string withIspFileExtension(std::string_view chosen)
{
    std::string path(chosen);
    if (!endsWithIgnoringCase(path, ".rsp"))
        path.append(".").append(kIspFileExtension);
    return path;
}

PackageResult writeIspFile(const std::string& path, const IspJob& job, const ShellLocations& where)
{
    std::string error;
    if (!platform::makeFolders(where.ispfileFolder, &error))
        return failed("Export isp file failed: " + error);
    const std::string iniPath = where.ispfileSettingsPath();
    platform::IniDocument doc;
    if (auto loaded = platform::loadIni(iniPath)) {
        doc = std::move(*loaded);
    } else if (fileExists(iniPath)) {
        return failed("Export isp file failed: cannot read '" + iniPath + "'");
    }

    const bool hexJob = job.options.ispfiletype == 0;
    const auto selected = [&](int image) { return (job.options.filecheck >> image & 1) != 0; };
    setUnprefixedModeOptions(doc, job.mcu, job.options);
    if (hexJob) {
        for (int i = 0; i < kPackedHexImages; ++i) {
            doc.set(kSavedHexSection, "hexfile" + std::to_string(i + 1),
                    selected(i) ? job.names.hex[static_cast<std::size_t>(i)] : std::string());
        }
    } else {
        doc.set(kSavedBinSection, "binfile.bin", selected(0) ? job.names.bin : std::string());
    }
    for (std::size_t family = 0; family < kLdFamilies.size(); ++family) {
        for (int n = 1; n <= kLdFilesPerFamily; ++n) {
            doc.set(kSavedHexSection, std::string(kLdFamilies[family]) + "file" + std::to_string(n),
                    job.names.ld[family][static_cast<std::size_t>(n - 1)]);
        }
    }
    const std::string settings = doc.text();
    if (settings.size() > kMaxPackedSettingsBytes) {
        return failed("Export isp file failed: the settings are " + std::to_string(settings.size()) +
                      " bytes, more than the 65535 an ISP file can hold.");
    }
    if (auto saveError = platform::saveIni(iniPath, doc))
        return failed("Export isp file failed: " + saveError->message);

    std::string bytes(kPackageMagic);
    appendLe(bytes, static_cast<std::uint32_t>(settings.size()), 2);
    bytes += settings;
    const auto appendImage = [&](std::string_view member, bool wanted) -> bool {
        std::string image;
        const std::string memberPath = where.workFile(member);
        if (wanted && fileExists(memberPath)) {
            auto read = readFileBytes(memberPath, &error);
            if (!read || read->size() > 0xFFFFFFFFu)
                return false;
            image = std::move(*read);
        }
        appendLe(bytes, static_cast<std::uint32_t>(image.size()), 4);
        bytes += image;
        return true;
    };
    if (hexJob) {
        for (int i = 0; i < kPackedHexImages; ++i) {
            if (!appendImage(kPayloadMembers[kFirstJobFileIndex + static_cast<std::size_t>(i)], selected(i)))
                return failed("Export isp file failed: " + error);
        }
    } else if (!appendImage(kPayloadMembers[kBinaryIndex], selected(0))) {
        return failed("Export isp file failed: " + error);
    }
    bytes += kPackageMagic;

    if (auto writeError = platform::replaceFileAtomically(path, bytes, "ISP file"))
        return failed("Export isp file failed: " + *writeError);
    return PackageResult{true, std::string(kExportSuccessMessage)};
}

UnpackedIspFile unpackIspFile(const std::string& path, const std::string& ispfileFolder)
{
    UnpackedIspFile result;
    const auto refuse = [&](std::string why) {
        emptyFolder(ispfileFolder);
        result = UnpackedIspFile{};
        result.error = std::move(why);
        return result;
    };
    std::string error;
    if (!(isFolder(ispfileFolder) ? emptyFolder(ispfileFolder, &error)
                                  : platform::makeFolders(ispfileFolder, &error)))
        return refuse(error);
    if (!fileExists(path))
        return refuse("the ISP file '" + path + "' does not exist");
    const platform::FileBytes file = platform::readRegularFile(path, kMaxIspFileBytes);
    if (!file.ok())
        return refuse("the ISP file '" + path + "' " + file.problem.message());
    const std::string_view bytes = file.bytes;
    if (bytes.size() < 2 * kPackageMagic.size() || bytes.substr(0, 4) != kPackageMagic ||
        bytes.substr(bytes.size() - 4) != kPackageMagic)
        return refuse("not an ISP file: the magic MVXF is missing at its start or end");

    // The chunks lie between the two magics and must fill that space exactly.
    const std::size_t end = bytes.size() - kPackageMagic.size();
    std::size_t at = kPackageMagic.size();
    const auto take = [&](std::size_t lengthBytes) -> std::optional<std::string_view> {
        if (end - at < lengthBytes)
            return std::nullopt;
        const std::size_t length = getLe(bytes, at, lengthBytes);
        at += lengthBytes;
        if (end - at < length)
            return std::nullopt;
        const std::string_view chunk = bytes.substr(at, length);
        at += length;
        return chunk;
    };
    const auto settings = take(2);
    if (!settings)
        return refuse("the ISP file is truncated: its settings run past its end");
    const std::string iniPath = joinPath(ispfileFolder, kSettingsMember);
    if (!writeFileBytes(iniPath, *settings, &error))
        return refuse(error);
    result.mcu = platform::readProfileInt(iniPath, kSettingSection, "mcu", 0);
    result.ispfiletype = platform::readProfileInt(iniPath, kSettingSection, "ispfiletype", 0);
    if (result.mcu < 0 || result.mcu >= kModeCount)
        return refuse("the ISP file names an unknown mode " + std::to_string(result.mcu));
    if (result.ispfiletype != 0 && result.ispfiletype != 1)
        return refuse("the ISP file names an unknown file type " + std::to_string(result.ispfiletype));

    struct Member {
        std::string name;
        std::string_view data;
        bool writeWhenEmpty;
        bool written = false;
    };
    std::vector<Member> members;
    const bool hexJob = result.ispfiletype == 0;
    for (int i = 0; i < (hexJob ? kPackedHexImages : 1); ++i) {
        const auto chunk = take(4);
        if (!chunk)
            return refuse("the ISP file is truncated: image " + std::to_string(i + 1) + " runs past its end");
        const std::string name =
            hexJob ? platform::readProfileString(iniPath, kSavedHexSection, "hexfile" + std::to_string(i + 1), "")
                   : platform::readProfileString(iniPath, kSavedBinSection, "binfile.bin", "");
        members.push_back(Member{name, *chunk, !hexJob});
    }
    if (at != end)
        return refuse("the ISP file is malformed: " + std::to_string(end - at) +
                      " bytes follow its last image");

    std::set<std::string> names;
    for (Member& member : members) {
        // A hostile name is refused even when its chunk is empty: a reader
        // that joined it to a folder would open a file outside the job.
        if (!member.name.empty() && !isPlainMemberName(member.name))
            return refuse("the ISP file names an image '" + member.name +
                          "', which is not a plain file name (no folder, no '..', not " +
                          std::string(kSettingsMember) + ")");
        if (member.data.empty() && (!member.writeWhenEmpty || member.name.empty()))
            continue;
        member.written = true;
        if (!isPlainMemberName(member.name))
            return refuse("the ISP file holds image data without a file name");
        if (!names.insert(member.name).second)
            return refuse("the ISP file names the image '" + member.name + "' twice");
    }
    for (const Member& member : members) {
        const std::string memberPath = joinPath(ispfileFolder, member.name);
        if (member.written && !writeFileBytes(memberPath, member.data, &error))
            return refuse(error);
        result.images.push_back(member.data.empty() ? std::string() : memberPath);
    }
    result.ok = true;
    return result;
}

bool exportIspFile(ShellUi& ui, const ShellLocations& where, const std::function<IspJob()>& prepareJob)
{
    const FileFilter filter{std::string(kIspFileExtension) + " Files", std::string(kIspFileExtension)};
    std::string path;
    for (;;) {
        const auto chosen = ui.chooseSaveFile(filter);
        if (!chosen)
            return false;
        path = withIspFileExtension(*chosen);
        if (!fileExists(path))
            break;
        const Answer answer = ui.ask(kOverwriteQuestion, kConfirmCaption, Buttons::YesNoCancel);
        if (answer == Answer::Cancel)
            return false;
        if (answer == Answer::Yes)
            break;
    }
    const IspJob job = prepareJob();
    const PackageResult written = writeIspFile(path, job, where);
    ui.showMessage(written.message, kToolCaption);
    return written.ok;
}

}  // namespace mvx::tool
