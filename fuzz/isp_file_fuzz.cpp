// Feeds arbitrary bytes to what a user hands mvxisp and the tool as whole
// files: an exported ISP file, unpacked and turned into the job of
// `mvxisp run` (job reading, image information, the mvxISP argument set),
// and a program file cut into its image and payload by the self-unpack
// reader.  Whatever the input, nothing may be written outside the job
// folder, the job may use no file outside it, and the payload members must
// tile the program file.  Every input gets its own temporary folder, removed
// before the next one.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "arguments.hpp"
#include "help.hpp"
#include "job.hpp"
#include "job/rsp_job.hpp"
#include "shell/packages.hpp"

namespace {

// A folder for one input, removed with everything in it.
class InputFolder {
public:
    InputFolder()
    {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/mvx-fuzz-isp-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr)
            std::abort();
        path_ = pattern;
    }
    ~InputFolder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    InputFolder(const InputFolder&) = delete;
    InputFolder& operator=(const InputFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// The engine's file information, as a stand-in: a last bank whose length
// does not fit the job's partial erase once, so the retry is taken too.
int fileInfo(const char*, int, int bank, int, int eraseMode, int eraseLength, int* dataLength, int* programLength,
             int* checksum, int* crc, const MvxWindow*, int, int)
{
    *dataLength = 20000 + bank;
    *programLength = *dataLength;
    *checksum = 0x1234;
    *crc = 0x56;
    return eraseMode != 0 && eraseLength >= 0 && eraseLength < *dataLength ? MVX_ERR_ERASE_LENGTH : MVX_OK;
}

// Command-line overrides of `mvxisp run`, chosen by the input's length.
const std::vector<std::vector<std::string>> kOverrides = {
    {},
    {"--interface", "ftdi"},
    {"--library-mode", "1"},
    {"--bus", "3"},
    {"--slave-address", "0x96"},
    {"--ld", "a.hex", "--ld", "b.hex", "--ld", "c.hex", "--ld", "d.hex"},
};

bool insideFolder(const std::string& path, const std::string& folder)
{
    if (path.size() <= folder.size() + 1 || path.compare(0, folder.size(), folder) != 0 || path[folder.size()] != '/')
        return false;
    const std::string name = path.substr(folder.size() + 1);
    return name.find('/') == std::string::npos && name != "." && name != "..";
}

void runJob(const std::string& rsp, const InputFolder& root, std::size_t size)
{
    const std::string folder = root.path() + "/job";
    const std::string ldFolder = root.path() + "/ld";
    std::filesystem::create_directory(folder);
    const std::optional<int> targets = size % 3 == 0 ? std::nullopt : std::optional<int>(size % 3 == 1 ? 1 : 4);
    mvx::job::RspLoad load = mvx::job::loadRspJob(rsp, folder, targets, "");
    if (load.status != 0)
        return;
    mvx::job::readImageInfo(load.job, &fileInfo);

    const std::vector<std::string>& words = kOverrides[size % kOverrides.size()];
    const auto specs = mvx::cli::optionsOf(*mvx::cli::findCommand("run"));
    const mvx::cli::ParseResult parsed = mvx::cli::parseArguments(words, specs);
    if (!parsed.ok())
        std::abort();
    const mvx::job::Built built = mvx::cli::buildRspRun(load.job, parsed.arguments, ldFolder);
    if (built.status != 0)
        return;
    // Every image the run would program is a file of the job folder; LD
    // files come from the station's folder or the command line.
    for (const FileTableEntry& entry : built.plan.call.table) {
        if (entry.inUse != 1)
            continue;
        const std::string path = entry.path;
        const bool ldFromCommandLine = path.size() == 5 && path.substr(1) == ".hex";
        if (!insideFolder(path, folder) && !insideFolder(path, ldFolder) && !ldFromCommandLine)
            std::abort();
    }
}

void splitProgram(std::string_view bytes)
{
    const mvx::tool::ProgramParts parts = mvx::tool::splitProgram(bytes);
    if (!parts.packaged) {
        if (parts.error.empty() && parts.image.size() != bytes.size())
            std::abort();
        return;
    }
    // The image, the members in order and the trailer tile the file.
    std::size_t at = parts.image.size();
    if (parts.image.data() != bytes.data())
        std::abort();
    for (const std::string_view member : parts.members) {
        if (!member.empty() && member.data() != bytes.data() + at)
            std::abort();
        at += member.size();
    }
    if (at + mvx::tool::kTrailerBytes != bytes.size())
        std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    splitProgram(bytes);

    const InputFolder root;
    const std::string rsp = root.path() + "/job.rsp";
    if (std::FILE* file = std::fopen(rsp.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    runJob(rsp, root, size);

    // Only job.rsp and the job folder may exist in the input's folder.
    for (const auto& entry : std::filesystem::directory_iterator(root.path())) {
        const std::string name = entry.path().filename().string();
        if (name != "job.rsp" && name != "job")
            std::abort();
    }
    return 0;
}
