// The start of a run from the customer page: the checks before the worker
// starts, the mvxISP call built from the page's options, its settings and its
// file rows, and what the page keeps around an HDCP key fire (the checks
// after the Advanced Setting dialog, the key copied into the work folder, the
// per-board log line of an unattended key fire).  No widgets, no engine.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "customer_page/file_table.hpp"
#include "customer_page/page_options.hpp"
#include "job/isp_call.hpp"
#include "shell/option_records.hpp"
#include "shell/settings_store.hpp"

namespace mvx::customer_page {

// The engine file the program looked for and did not find.
std::string missingEngineMessage(std::string_view engineFile);

inline constexpr std::string_view kLdMissingMessage = "LD files are not selected or do not exist. Please check it.";
// The third R5310 LD file has a wording of its own.
inline constexpr std::string_view kLdMissingMessage5310Third =
    "LD files are not be selected or do not exist. Please check it.";

// The slave selector argument: 1 for the default address (0x94), 2 for the
// custom radio with an empty edit, else the typed address read as hex.
int slaveSelectorOf(const PageOptions& options);

// The engine operation of the page's MCU type and board count: the family
// (0 R5310, 1 R5312, 2 serial flash), plus 3 driving four boards; the four-board
// MCU types themselves (3..5) give 0.
int operationOf(const PageOptions& options);

// hdcp_key_file_kind from the key file's extension (from its last "."):
// ".bin" 0, ".txt" 1, in any case; any other extension keeps `current`.
std::int32_t hdcpKeyFileKind(std::string_view keyFile, std::int32_t current);

// The IspOptions record of a run from the page's settings (its two texts
// are the call's: see job::IspCall).
IspOptions ispOptionsOf(const tool::AdvancedSettings& advanced, const PageOptions& options);

// The LD file paths of the MCU type's four LD entries: with saved_ld the
// copies in the work folder ("5310file1" ...), else the paths chosen for the
// family; empty for a type that drives one board.
std::array<std::string, kLdFiles> ldPathsOf(const PageOptions& options, const tool::CustomerSettings& settings,
                                             const std::string& workFolder);
// Whether each of those four files is there to be loaded.
std::array<bool, kLdFiles> ldLoadedOf(const std::array<std::string, kLdFiles>& paths);

// Everything a run is built from.
struct RunInputs {
    PageOptions options;
    const tool::CustomerSettings* settings = nullptr;   // advanced settings, protect, LD paths
    const FileRows* rows = nullptr;
    RowOptions rowOptions;
    std::string workFolder;
    std::string hdcpKeyFile;          // the page's stored key path
    std::uint8_t libraryMode = 0;
    bool engineBound = false;
    std::string engineFile;           // named when the engine is not bound
};

struct RunStart {
    std::optional<job::IspCall> call;   // the call to run
    std::string refusal;                // else the message the page shows
};

// The checks and the call, in the order the page makes them: the engine,
// then the rows' file table, then the LD entries one by one.
RunStart prepareRun(const RunInputs& in);

// ---- HDCP key fire ----------------------------------------------------------

inline constexpr std::string_view kNoHdcpKeyFileMessage = "Please Specify a HDCP Key File first!!";
inline constexpr std::string_view kNoHdcpSaveFolderMessage =
    "Please Specify a directory to save  HDCP Key File first!!";
inline constexpr std::string_view kHdcpKeyCopyName = "hdcpkey.bin";
inline constexpr std::string_view kHdcpLogName = "HDCP_KEY_Fire_Log.log";

// What is missing for a key fire after the Advanced Setting dialog (the page
// shows it and opens the dialog again); nullopt when nothing is.
std::optional<std::string_view> hdcpSettingsProblem(const tool::AdvancedSettings& advanced);

// Copies the key file into the work folder as "hdcpkey.bin" (replacing a
// copy there, read-only or not) and records it under [Saved_hdcpkey] in the
// settings file; the error text when it fails (the old copy is then gone,
// so no stale key is fired).
std::optional<std::string> copyHdcpKey(const std::string& keyFile, const std::string& workFolder,
                                       const std::string& settingsPath);

// The failure number an HDCP log line carries for an engine result (0 for a pass).
int hdcpFailureNumber(int result);
// "0000000N burn hdcp key and check pass|fail \r\n".
std::string hdcpLogLine(int result);
// Appends one line to "HDCP_KEY_Fire_Log.log" in folder with a single write
// to the file opened for appending; the error text when that fails.
std::optional<std::string> appendHdcpLog(const std::string& folder, std::string_view line);

}  // namespace mvx::customer_page
