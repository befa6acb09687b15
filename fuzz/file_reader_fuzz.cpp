// Feeds arbitrary bytes to the bank loader as a HEX, raw binary and
// whole-device file, under every operation's rules.  The loader must never
// read or write out of bounds, and what it reports must stay consistent.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "file_reader.hpp"

namespace {

std::string scratchFile()
{
    char pattern[] = "/tmp/mvx-fuzz-reader-XXXXXX";
    const int fd = ::mkstemp(pattern);
    if (fd >= 0)
        ::close(fd);
    return pattern;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const std::string path = scratchFile();   // one file per fuzzing process
    if (size < 2)
        return 0;
    // The first two bytes choose the rules; the rest is the file.
    const int operation = data[0] % 6;
    const auto bankCode = data[1];
    if (std::FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data + 2, 1, size - 2, file);
        std::fclose(file);
    }
    FileTableEntry entry{};
    entry.inUse = 1;
    std::strncpy(entry.path, path.c_str(), sizeof entry.path - 1);
    for (int format = 0; format < 3; ++format) {
        entry.format = format;
        const mvx::engine::LoadRules rules{operation, bankCode & 1, (bankCode & 2) ? -1 : 20480,
                                           (bankCode >> 2) & 1, bankCode % 9};
        const mvx::engine::LoadedBank bank = mvx::engine::loadBank(&entry, bankCode, rules);
        if (bank.result == 0 && (bank.programLength < 0 || bank.programLength > 65536 ||
                                 bank.checksum < 0 || bank.checksum > 0xFFFF))
            std::abort();
    }
    return 0;
}
