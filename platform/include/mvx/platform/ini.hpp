// Private-profile (INI) files with the semantics the tool relies on.
//
// Reading never fails: a missing or unreadable file, section or key gives the
// caller's default.  Section and key names match without regard to case.
// Writing keeps every other line, comment and their order, creates the file,
// section and key when missing, and replaces the file atomically (a temporary
// file in the same folder, flushed, then renamed over the original), so a
// crash never leaves a half-written settings file behind.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::platform {

// Strings read back at most this many characters (a 260-byte buffer).
inline constexpr std::size_t kIniMaxValueChars = 259;

struct IniError {
    std::string message;   // what failed, with the path and the system's reason
};

// One parsed INI text, kept line by line so that a write can reproduce every
// line it does not touch.
class IniDocument {
public:
    IniDocument() = default;
    static IniDocument parse(std::string_view text);

    // The value of key in section, trimmed and with one pair of enclosing
    // quotes removed; nullopt when the section or the key is missing.
    // Not truncated: the profile functions below apply the 259-character limit.
    std::optional<std::string> value(std::string_view section, std::string_view key) const;
    bool hasSection(std::string_view section) const;
    std::vector<std::string> sectionNames() const;
    std::vector<std::string> keyNames(std::string_view section) const;

    // Sets key=value, adding the section at the end and the key after the
    // section's last entry when missing.
    void set(std::string_view section, std::string_view key, std::string_view value);
    // Removes the key (no-op when missing).
    void removeKey(std::string_view section, std::string_view key);
    // Removes the section header and all of its lines (no-op when missing).
    void removeSection(std::string_view section);

    std::string text() const;

private:
    std::vector<std::string> lines_;   // without line terminators
    std::string eol_ = "\n";          // "\r\n" when the parsed text used it
    bool finalEol_ = true;
};

// Reads the file; nullopt when it is missing or cannot be read.
std::optional<IniDocument> loadIni(const std::string& path);
// Writes the document atomically (temp file + rename).
std::optional<IniError> saveIni(const std::string& path, const IniDocument& doc);

// Windows-style profile calls.
// The integer read takes an optional sign and leading decimal digits ("12abc"
// is 12, "abc" is 0); an empty value gives the default.
int readProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int defaultValue);
// At most kIniMaxValueChars characters are returned (the default too).
std::string readProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue);
// Integers are written as "%d".
std::optional<IniError> writeProfileInt(const std::string& path, std::string_view section,
                                        std::string_view key, int value);
std::optional<IniError> writeProfileString(const std::string& path, std::string_view section,
                                           std::string_view key, std::string_view value);

}  // namespace mvx::platform
