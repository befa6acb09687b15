// Feeds arbitrary bytes to the exported-ISP-file reader and the program
// file's trailer decoder.  Whatever the input, nothing may be written outside
// the ispfile folder.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "shell/packages.hpp"

namespace {

std::string scratchFolder()
{
    char pattern[] = "/tmp/mvx-fuzz-isp-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        std::abort();
    return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string root = scratchFolder();
    const std::string rsp = root + "/job.rsp";
    const std::string ispfile = root + "/ispfile";
    std::filesystem::create_directories(ispfile);
    if (std::FILE* file = std::fopen(rsp.c_str(), "wb")) {
        std::fwrite(data, 1, size, file);
        std::fclose(file);
    }
    mvx::tool::unpackIspFile(rsp, ispfile);
    mvx::tool::decodeTrailer(std::string_view(reinterpret_cast<const char*>(data), size));

    // Only job.rsp and the ispfile folder may exist in the scratch root.
    for (const auto& entry : std::filesystem::directory_iterator(root)) {
        const std::string name = entry.path().filename().string();
        if (name != "job.rsp" && name != "ispfile")
            std::abort();
    }
    std::filesystem::remove_all(ispfile);
    return 0;
}
