// The main window's title: the operator's title followed by the date of the
// program file, " <year>-<month>-<day> " without leading zeros (the file's
// last-write date, local time).
#pragma once

#include <string>
#include <string_view>

namespace mvx::tool {

// " 2024-3-7 ", or empty when the program file cannot be found.
std::string programDateSuffix(const std::string& programPath);
std::string titleWithProgramDate(std::string_view userTitle, const std::string& programPath);

}  // namespace mvx::tool
