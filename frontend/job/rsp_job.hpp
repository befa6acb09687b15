// An exported ISP file run as the Assembly ISP page runs it (and as
// "mvxisp run JOB.rsp" does).  The job (mode, options and images) comes from the file; the
// station's own settings (flash protect pin, sector erase, flash auto-detect,
// the 1To4 delays) from the work folder's settings file, as on the page.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "job/isp_call.hpp"
#include "mvxisp.h"
#include "shell/settings_store.hpp"

namespace mvx::job {

// One of the four bank images of a job.
struct JobImage {
    std::string name;          // as the job names it
    std::string path;          // the unpacked file; empty when the job holds none
    bool selected = false;     // its filecheck bit
    int format = MVX_FORMAT_HEX;
    // mvxGetFileInfo's numbers, when asked
    int result = -1;
    int dataLength = 0;
    int programLength = 0;
    int checksum = 0;
    int crc = 0;
};

struct RspJob {
    std::string path;                 // the ISP file
    int storedMode = 0;               // "mcu" as the file has it
    int mode = 0;                     // after --targets
    tool::ModeOptions options;        // the job's options, with the defaults of mode's column
    std::array<JobImage, 4> images;
    tool::AssemblySettings station;   // from the work folder's settings file
};

struct RspLoad {
    RspJob job;
    int status = 0;
    std::string error;    // one line naming the file
    std::string reason;   // why, without the file
};

// Unpacks path into folder (which must exist and is emptied first) and reads
// the job.  targets (--targets 1 or 4) turns the job into its one-target or
// 1To4 form; without it the job runs in the mode it was exported in.
// stationSettings is the settings file the station options come from.
RspLoad loadRspJob(const std::string& path, const std::string& folder, std::optional<int> targets,
                   const std::string& stationSettings);

// Asks the engine for each selected image's lengths, checksum and CRC, as
// the page does when it loads a job; a partial-erase length that does not
// fit (result 9) raises the job's erase size to the image, once.
void readImageInfo(RspJob& job, MvxGetFileInfoFn getFileInfo);

// What the station changes about a job before it runs (mvxisp's options):
// each override left empty keeps the job's own choice.
struct JobOverrides {
    std::optional<int> interface;       // the adapter kind instead of the job's
    std::optional<int> libraryMode;     // 0 or 1; empty: from the interface
    std::optional<std::string> bus;     // an i2c-dev bus node: the IIC library on it
    std::optional<int> slaveSelector;   // 1: the default address; else an 8-bit write address
    std::vector<std::string> ldFiles;   // the four LD files of a 1To4 job
};

// The mvxISP call of the job: the page's 17 arguments with the overrides.
// ldFolder holds the station's stored LD copies ("5310file1" ...), used for a
// 1To4 job when no LD files are given.
Built buildRspRun(const RspJob& job, const JobOverrides& overrides, const std::string& ldFolder);

// The job as the page's read-only fields show it, one line each.
std::vector<std::string> describeJob(const RspJob& job);

}  // namespace mvx::job
