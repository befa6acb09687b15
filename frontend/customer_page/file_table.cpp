#include "customer_page/file_table.hpp"

#include "job/isp_call.hpp"

namespace mvx::customer_page {

RunFiles checkRunFiles(FileRows& rows, const RowOptions& options, const std::array<bool, kLdFiles>& ldLoaded)
{
    const int mode = options.mcuType;
    const int examined = rowCountOf(mode) == kFileRows && mode >= MVX_OP_5310_1TO4 ? kStoredRows : rowCountOf(mode);
    bool anyTicked = false;
    bool allPresent = true;
    std::uint16_t mask = 0;
    for (int r = 0; r < examined; ++r) {
        if (((options.tickedRows >> r) & 1u) == 0)
            continue;
        anyTicked = true;
        if (!rows.presentForRun(r, options)) {
            allPresent = false;
            if (r < kStoredRows)
                mask |= static_cast<std::uint16_t>(1u << r);
        }
    }
    bool enabled = allPresent && anyTicked;
    if (mode >= MVX_OP_5310_1TO4) {
        bool anyOfNine = false;
        for (int r = 0; r < kFileRows; ++r)
            anyOfNine = anyOfNine || ((options.tickedRows >> r) & 1u) != 0;
        bool allLd = true;
        for (int i = 0; i < kLdFiles; ++i) {
            if (!ldLoaded[static_cast<std::size_t>(i)]) {
                allLd = false;
                mask |= static_cast<std::uint16_t>(1u << (4 + i));
            }
        }
        enabled = allLd && allPresent && anyOfNine;
    }
    return {enabled ? std::uint16_t{0} : mask, enabled};
}

BuiltFileTable buildFileTable(const FileRows& rows, const RowOptions& options,
                              const std::array<std::string, kLdFiles>& ldFiles)
{
    BuiltFileTable built;
    built.entries.assign(MVX_FILE_TABLE_SIZE, FileTableEntry{});
    for (int r = 0; r < kFileRows; ++r) {
        const FileRow& row = rows.row(r);
        if (((options.tickedRows >> r) & 1u) == 0)
            continue;
        const int format = options.fileType == kFileTypeBin ? MVX_FORMAT_WHOLE_DEVICE : row.format;
        const std::string file = rows.fileOf(r, options);
        if (!job::setEntry(built.entries[static_cast<std::size_t>(r)], 1, format, file)) {
            built.error = "the path of row " + std::to_string(r) + " is longer than 259 characters: " + file;
            return built;
        }
    }
    const auto entries = job::ldEntriesOf(options.mcuType);
    for (std::size_t i = 0; i < entries.size() && i < ldFiles.size(); ++i) {
        if (ldFiles[i].empty())
            continue;
        if (!job::setEntry(built.entries[static_cast<std::size_t>(entries[i])], 1, MVX_FORMAT_HEX, ldFiles[i])) {
            built.error = "the path of LD file " + std::to_string(i + 1) + " is longer than 259 characters";
            return built;
        }
    }
    return built;
}

}  // namespace mvx::customer_page
