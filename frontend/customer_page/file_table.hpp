// What a run needs from the file rows: whether every ticked row has its file
// (the missing-files mask and the action-button rule), and the 256-entry
// FileTable handed to mvxISP.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "customer_page/file_rows.hpp"
#include "mvxisp.h"

namespace mvx::customer_page {

inline constexpr int kLdFiles = 4;

struct RunFiles {
    // Bits 0..3: a ticked row among the first four of the MCU type's rows
    // whose file is missing; bits 4..7: LD file 1..4 not loaded (1To4).
    std::uint16_t missingMask = 0;
    bool actionEnabled = false;   // the ISP and Read IC Code buttons
};

// Recomputed after every row change and refresh.  The rows looked at and
// what enables the action buttons follow the MCU type (0..5, the 1To4 types
// also need their four LD files).  A row whose file has gone from the disk
// since it was read counts as missing.
RunFiles checkRunFiles(FileRows& rows, const RowOptions& options, const std::array<bool, kLdFiles>& ldLoaded = {});

struct BuiltFileTable {
    std::vector<FileTableEntry> entries;   // MVX_FILE_TABLE_SIZE entries when ok
    std::string error;                     // a file whose path does not fit an entry
    bool ok() const { return error.empty(); }
};

// Entry r of every ticked row r holds the row's file and format (in Bin
// mode the whole image, format 2, for every ticked bank); a 1To4 type's LD
// files go to its four LD entries.
BuiltFileTable buildFileTable(const FileRows& rows, const RowOptions& options,
                              const std::array<std::string, kLdFiles>& ldFiles = {});

}  // namespace mvx::customer_page
