// Private-profile (INI) files.
//
// A document is kept as its raw lines; every query classifies lines on the fly,
// so a write reproduces each line it does not touch byte for byte.  Names are
// compared ASCII case-insensitively after trimming blanks and tabs.  When a
// section or a key appears more than once, only the first occurrence is seen
// by reads and changed by writes.
#include "mvx/platform/ini.hpp"

#include "mvx/platform/atomic_file.hpp"
#include "mvx/platform/regular_file.hpp"

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <system_error>
#include <unordered_set>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace mvx::platform {
namespace {

// Settings files are a few kilobytes; a file beyond this size is reported as
// unreadable instead of being pulled into memory whole.
constexpr std::uint64_t kMaxFileBytes = 64u * 1024u * 1024u;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Trims blanks and tabs, and the '\r' a CRLF line keeps in a mixed-ending file.
std::string_view trim(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char lowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool sameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i]) != lowerAscii(b[i])) return false;
    }
    return true;
}

std::string lowered(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = lowerAscii(c);
    return out;
}

enum class LineKind { Blank, Comment, Section, Entry, Other };

struct Line {
    LineKind kind = LineKind::Other;
    std::string_view name;    // section or key name, trimmed
    std::string_view value;   // entry value, trimmed, quotes still on
};

// "[name]" (text after the first ']' is ignored; a missing ']' still makes a
// header), "key=value" split at the first '=', ';' or '#' comments, blank
// lines, and anything else, which reads as nothing.
Line classify(std::string_view raw) {
    const std::string_view s = trim(raw);
    if (s.empty()) return {LineKind::Blank, {}, {}};
    if (s.front() == ';' || s.front() == '#') return {LineKind::Comment, {}, {}};
    if (s.front() == '[') {
        const std::string_view inner = s.substr(1);
        return {LineKind::Section, trim(inner.substr(0, inner.find(']'))), {}};
    }
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return {LineKind::Other, {}, {}};
    return {LineKind::Entry, trim(s.substr(0, eq)), trim(s.substr(eq + 1))};
}

// A UTF-8 byte-order mark before the first line is kept but not read as text.
Line lineAt(const std::vector<std::string>& lines, std::size_t i) {
    std::string_view raw = lines[i];
    if (i == 0 && raw.starts_with(kUtf8Bom)) raw.remove_prefix(kUtf8Bom.size());
    return classify(raw);
}

// A section occupies its header line and every line up to the next header.
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> findSection(const std::vector<std::string>& lines,
                                        std::string_view section) {
    section = trim(section);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const Line line = lineAt(lines, i);
        if (line.kind != LineKind::Section || !sameName(line.name, section)) continue;
        std::size_t end = i + 1;
        while (end < lines.size() && lineAt(lines, end).kind != LineKind::Section) ++end;
        return SectionRange{i, end};
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(const std::vector<std::string>& lines, SectionRange range,
                                   std::string_view key) {
    key = trim(key);
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        const Line line = lineAt(lines, i);
        if (line.kind == LineKind::Entry && sameName(line.name, key)) return i;
    }
    return std::nullopt;
}

std::string_view unquote(std::string_view v) {
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
        return v.substr(1, v.size() - 2);
    }
    return v;
}

// Why section/key/value cannot be stored so that it reads back the same, or
// nullopt when it can.  A line break in any of them would split the entry and
// turn the rest into lines of their own (possibly a new section header), so
// such input is refused rather than altered.
std::optional<std::string> entryProblem(std::string_view section, std::string_view key,
                                        std::string_view value) {
    const auto hasBreak = [](std::string_view s) {
        return s.find_first_of("\r\n") != std::string_view::npos;
    };
    if (hasBreak(value)) return "the value contains a line break";
    if (hasBreak(section) || hasBreak(key)) return "the section or key name contains a line break";
    section = trim(section);
    key = trim(key);
    if (section.empty()) return "the section name is empty";
    if (section.find(']') != std::string_view::npos) return "the section name contains ']'";
    if (key.empty()) return "the key name is empty";
    if (key.find('=') != std::string_view::npos) return "the key name contains '='";
    if (key.front() == '[' || key.front() == ';' || key.front() == '#') {
        return "the key name starts with '[', ';' or '#'";
    }
    return std::nullopt;
}

std::string clip(std::string_view s) { return std::string(s.substr(0, kIniMaxValueChars)); }

// Optional blanks, optional sign, then leading decimal digits; no digits gives
// 0.  Values beyond the int range saturate at INT_MIN / INT_MAX instead of
// wrapping, so a huge setting stays at the far end it was meant for.
int parseLeadingInt(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
    const long long limit = negative ? -static_cast<long long>(INT_MIN) : INT_MAX;
    long long magnitude = 0;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
        magnitude = magnitude * 10 + (s[i] - '0');
        if (magnitude > limit) magnitude = limit;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

IniError failure(std::string_view what, const std::string& path, int err) {
    return IniError{std::string(what) + " '" + path + "': " +
                    std::generic_category().message(err)};
}

struct FileText {
    std::string text;
    int error = 0;   // 0 when read, ENOENT when missing, else why it could not be read
};

FileText readWholeFile(const std::string& path) {
    FileText result;
    FileBytes file = readRegularFile(path, kMaxFileBytes);
    switch (file.problem.fault) {
    case FileFault::None: result.text = std::move(file.bytes); break;
    case FileFault::Missing:
    case FileFault::Unreadable: result.error = file.problem.systemError; break;
    case FileFault::NotRegular: result.error = S_ISDIR(file.problem.mode) ? EISDIR : EINVAL; break;
    case FileFault::TooLarge: result.error = EFBIG; break;
    }
    return result;
}

// Writes text through the atomic replace; the error names the settings file.
std::optional<IniError> replaceFile(const std::string& path, const std::string& text) {
    if (auto error = replaceFileAtomically(path, text, "settings file")) return IniError{*error};
    return std::nullopt;
}

}  // namespace

// ---------------------------------------------------------------------------
// IniDocument

IniDocument IniDocument::parse(std::string_view text) {
    IniDocument doc;
    bool anyTerminator = false;
    bool allCrlf = true;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos) {
            doc.lines_.emplace_back(text.substr(pos));
            doc.finalEol_ = false;
            break;
        }
        anyTerminator = true;
        if (nl == pos || text[nl - 1] != '\r') allCrlf = false;
        doc.lines_.emplace_back(text.substr(pos, nl - pos));
        pos = nl + 1;
    }
    // Only a file that ends every line with CRLF is treated as a CRLF file.  In
    // a mixed file each '\r' stays part of its line, so the bytes still come
    // back unchanged and new lines get a plain "\n".
    if (anyTerminator && allCrlf) {
        doc.eol_ = "\r\n";
        const std::size_t terminated = doc.finalEol_ ? doc.lines_.size() : doc.lines_.size() - 1;
        for (std::size_t i = 0; i < terminated; ++i) doc.lines_[i].pop_back();
    }
    return doc;
}

std::optional<std::string> IniDocument::value(std::string_view section,
                                              std::string_view key) const {
    const auto range = findSection(lines_, section);
    if (!range) return std::nullopt;
    const auto at = findKey(lines_, *range, key);
    if (!at) return std::nullopt;
    return std::string(unquote(lineAt(lines_, *at).value));
}

bool IniDocument::hasSection(std::string_view section) const {
    return findSection(lines_, section).has_value();
}

std::vector<std::string> IniDocument::sectionNames() const {
    std::vector<std::string> names;
    std::unordered_set<std::string> seen;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Line line = lineAt(lines_, i);
        if (line.kind == LineKind::Section && seen.insert(lowered(line.name)).second) {
            names.emplace_back(line.name);
        }
    }
    return names;
}

std::vector<std::string> IniDocument::keyNames(std::string_view section) const {
    std::vector<std::string> names;
    const auto range = findSection(lines_, section);
    if (!range) return names;
    std::unordered_set<std::string> seen;
    for (std::size_t i = range->header + 1; i < range->end; ++i) {
        const Line line = lineAt(lines_, i);
        if (line.kind == LineKind::Entry && seen.insert(lowered(line.name)).second) {
            names.emplace_back(line.name);
        }
    }
    return names;
}

// Input that could not be read back as written (see entryProblem) is ignored
// here; writeProfileString reports it to the caller instead.
void IniDocument::set(std::string_view section, std::string_view key, std::string_view value) {
    if (entryProblem(section, key, value)) return;
    section = trim(section);
    key = trim(key);
    const std::string entry = std::string(key) + "=" + std::string(value);

    const auto range = findSection(lines_, section);
    if (!range) {
        // A new section goes at the end, after one separating blank line.
        if (!lines_.empty() && lineAt(lines_, lines_.size() - 1).kind != LineKind::Blank) {
            lines_.emplace_back();
        }
        lines_.push_back("[" + std::string(section) + "]");
        lines_.push_back(entry);
        return;
    }
    if (const auto at = findKey(lines_, *range, key)) {
        // Keep the spelling the file already uses for the key.
        lines_[*at] = std::string(lineAt(lines_, *at).name) + "=" + std::string(value);
        return;
    }
    // After the section's last non-blank line, so the blank lines that set it
    // apart from the next section stay below the new entry.
    std::size_t insertAt = range->header + 1;
    for (std::size_t i = range->end; i > range->header + 1; --i) {
        if (lineAt(lines_, i - 1).kind != LineKind::Blank) {
            insertAt = i;
            break;
        }
    }
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(insertAt), entry);
}

void IniDocument::removeKey(std::string_view section, std::string_view key) {
    const auto range = findSection(lines_, section);
    if (!range) return;
    key = trim(key);
    // Every copy of the key in the section goes, so a later duplicate does not
    // surface as the value once the first one is removed.
    for (std::size_t i = range->end; i > range->header + 1; --i) {
        const Line line = lineAt(lines_, i - 1);
        if (line.kind == LineKind::Entry && sameName(line.name, key)) {
            lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i - 1));
        }
    }
}

void IniDocument::removeSection(std::string_view section) {
    // Repeated sections are all removed, for the same reason as in removeKey.
    while (const auto range = findSection(lines_, section)) {
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(range->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(range->end));
    }
    if (lines_.empty()) finalEol_ = true;
}

std::string IniDocument::text() const {
    std::size_t size = 0;
    for (const auto& line : lines_) size += line.size() + eol_.size();
    std::string out;
    out.reserve(size);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        out += lines_[i];
        if (i + 1 < lines_.size() || finalEol_) out += eol_;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Files

std::optional<IniDocument> loadIni(const std::string& path) {
    FileText file = readWholeFile(path);
    if (file.error != 0) return std::nullopt;
    return IniDocument::parse(file.text);
}

std::optional<IniError> saveIni(const std::string& path, const IniDocument& doc) {
    return replaceFile(path, doc.text());
}

int readProfileInt(const std::string& path, std::string_view section, std::string_view key,
                   int defaultValue) {
    const auto doc = loadIni(path);
    if (!doc) return defaultValue;
    const auto value = doc->value(section, key);
    if (!value || value->empty()) return defaultValue;
    return parseLeadingInt(*value);
}

std::string readProfileString(const std::string& path, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    const auto doc = loadIni(path);
    if (!doc) return clip(defaultValue);
    const auto value = doc->value(section, key);
    return value ? clip(*value) : clip(defaultValue);
}

std::optional<IniError> writeProfileInt(const std::string& path, std::string_view section,
                                        std::string_view key, int value) {
    return writeProfileString(path, section, key, std::to_string(value));
}

std::optional<IniError> writeProfileString(const std::string& path, std::string_view section,
                                           std::string_view key, std::string_view value) {
    if (const auto problem = entryProblem(section, key, value)) {
        return IniError{"cannot write [" + std::string(section) + "] " + std::string(key) +
                        " to '" + path + "': " + *problem};
    }
    // Only a missing file starts out empty; a file that exists but cannot be
    // read is never overwritten, since its contents would be lost.
    const FileText file = readWholeFile(path);
    if (file.error != 0 && file.error != ENOENT) {
        return failure("cannot read settings file", path, file.error);
    }
    IniDocument doc = IniDocument::parse(file.text);
    doc.set(section, key, value);
    return saveIni(path, doc);
}

}  // namespace mvx::platform
