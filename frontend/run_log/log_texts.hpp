// The fixed texts of the run log: one function per kind of line, so that the
// customer page, the command-line front end and the page's own CRC lines all
// word things the same way.  Every function returns the line without its line
// end; the log adds "\r\n" (or whatever end its reader wants).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

#include "mvxisp.h"

namespace mvx::runlog {

// ---- numbers ----

// A CRC as the log shows it: "0x" and lower-case hex digits, at least two of
// them ("0x0a", "0x1a", "0x1234").  Negative values never come from a device;
// they show their 32-bit pattern ("0xfffffff6").
std::string crcHex(std::int32_t value);

// A checksum as the log shows it: lower-case hex digits without a prefix or
// padding ("1a2b", "5"); negative values show their 32-bit pattern.
std::string checksumHex(std::int32_t value);

// ---- erase, program and verify ----

// "Page Erasing 50%".
std::string pageErasingLine(std::int32_t percent);
// The part of a page-erase progress line that stays the same while the
// percentage grows: "Page Erasing".
std::string pageErasingPrefix();

// The erase outcome of message code 1 ("Bank Erase OK", "Mass Erase Failed",
// ...); nothing for a value outside 0..5 that names no outcome.
std::optional<std::string> eraseResultLine(std::int32_t outcome);

// The programming progress line of a bank code, e.g. "Program Bank3 40%",
// "Program SF 1To4 M2 Bank1 100%" (1To4 slots show their bank within the
// writer: code 26 is bank 1 of M2).
std::string programLine(int bankCode, std::int32_t percent);
// The same line up to and including the bank number: "Program Bank3",
// "Program SF 1To4 M2 Bank1".
std::string programPrefix(int bankCode);

// "Calculate CRC Bank 2 0x3c" and "Read CRC Bank 2 0x3c".
std::string calculatedCrcLine(int bank, std::int32_t crc);
std::string readCrcLine(int bank, std::int32_t crc);
// "Bank 2 CRC OK" for a match (1), "Bank 2 CRC failed" for anything else.
std::string crcResultLine(int bank, std::int32_t match);

// "Calculate CkSum  1a2b" and "Read CkSum  1a2b" (two blanks).
std::string calculatedChecksumLine(std::int32_t sum);
std::string readChecksumLine(std::int32_t sum);
// "Bank 1 CkSum OK" / "Bank 1 CkSum Failed"; a 1To4 serial-flash result
// (bank code 22 and up) names no bank: "CkSum OK" / "CkSum Failed".  Any
// nonzero value is a match.
std::string checksumResultLine(int bank, std::int32_t match);

// "Bank 4 Load Fail".
std::string loadFailLine(int bank);

// "Bank 2 lies beyond the end of the 128 KB flash": the run was refused
// before it wrote a bank the identified flash does not have.
std::string beyondFlashLine(int bank, std::int32_t flashKb);

// ---- run end ----

// The failure line of a result code: "Error Code: 13 MCU link error!", and
// plain "Error Code: 21" for the codes without an explanation.
std::string errorLine(std::int32_t result);

// "Only p-flash supports flash to eeprom!!"
std::string flashToEepromLine();

// ---- flash chip report ----

// The report of an identified flash: brand 0..5 with the type index within
// the brand, or -1 when only the brand is known ("Current Chip is W25X40A.",
// "Current Chip is EON-flash but no more detail infor."); brand 255 is "Current
// Chip is an unknown type chip." whatever the type.  Any other combination
// has no report.
std::optional<std::string> chipReport(int brand, std::int32_t typeIndex);

// ---- IC code ----

// The IC-code text shown beside the log: "IC Code: 0x" and upper-case hex
// digits, at least two ("IC Code: 0x0A", "IC Code: 0x5B").
std::string icCodeText(std::int32_t icCode);

// ---- file dates ----

// "File Date Time: ", the heading of a file date (note the trailing blank).
std::string fileDateHeading();

// A time as local "%Y-%m-%d %H:%M:%S"; nullopt when the time cannot be
// converted.
std::optional<std::string> dateTimeText(std::time_t time);

// The modification time of a file as dateTimeText shows it; nullopt when the
// file cannot be found or its time not read.
std::optional<std::string> fileDateTimeText(const std::filesystem::path& file);

// What a file date line shows when the file's time is not known.
std::string unknownFileDateText();

// The path of FileTable entry `index`: empty for an index outside the table
// or an empty entry.  The path is read up to its terminator but never beyond
// the entry's 260 bytes.
std::string fileTablePath(std::span<const FileTableEntry> table, std::int32_t index);

}  // namespace mvx::runlog
