// Feeds arbitrary bytes to the bank loader's parser as a HEX, raw binary or
// whole-device file, under every operation's rules, straight from memory.
// The loader must never read or write out of bounds, and what it reports
// must stay consistent.  Seeds up to 64 KB (scripts/fuzz makes them from the
// sample firmware) let it explore full-size banks.
#include <cstdint>
#include <cstdlib>
#include <span>

#include "file_reader.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first two bytes choose the format and the rules; the rest is the file.
    const int operation = data[0] % 6;
    const int format = data[0] / 6 % 3;
    const std::uint8_t bankCode = data[1];
    const std::span<const std::uint8_t> file(data + 2, size - 2);
    const mvx::engine::LoadRules rules{operation, bankCode & 1, (bankCode & 2) != 0 ? -1 : 20480,
                                       (bankCode >> 2) & 1, bankCode % 9};
    {
        const mvx::engine::LoadedBank bank = mvx::engine::loadBankFromBytes(file, format, bankCode, rules);
        if (bank.buffer.size() != mvx::engine::kLoadBufferSize)
            std::abort();
        if (bank.result == MVX_OK &&
            (bank.programLength < 0 || bank.programLength > 65536 || bank.summedLength < 0 ||
             bank.summedLength > 65536 || bank.checksum < 0 || bank.checksum > 0xFFFF || bank.dataLength < 0))
            std::abort();
        // A raw binary bank holds the file's bytes from offset 0.
        if (format == MVX_FORMAT_BINARY && bank.result == MVX_OK &&
            (bank.dataLength != static_cast<int>(file.size()) ||
             !std::equal(file.begin(), file.end(), bank.buffer.begin())))
            std::abort();
    }
    return 0;
}
