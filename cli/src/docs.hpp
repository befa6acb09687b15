// The manual page mvxisp(1) and the bash completion script, both written
// from the command and option tables behind --help, so that neither can name
// an option the parser does not take or miss one it does.  The build writes
// them with mvxisp-docs and installs them.
#pragma once

#include <string>
#include <string_view>

namespace mvx::cli {

// mvxisp(1) in the man macros; version goes into the footer.
std::string manPage(std::string_view version);

// A bash script defining the completion of mvxisp: its commands, each
// command's options, the values of options that take names (--mcu sf ...),
// folders after --save-key, and file names elsewhere.
std::string bashCompletion();

}  // namespace mvx::cli
