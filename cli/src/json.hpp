// One-line JSON objects for --json output: every progress message, bus and
// bank is one object on a line of its own, and every command ends with a
// result object, so scripts read numbers instead of log text.
//
// Strings are escaped as JSON requires ("\"", "\\", control characters as
// \uXXXX); bytes that are not valid UTF-8 (file names may hold any bytes)
// become U+FFFD, so every line is valid JSON text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace mvx::cli {

// s as a quoted JSON string.
std::string jsonString(std::string_view s);

class JsonObject {
public:
    JsonObject& add(std::string_view key, std::string_view value);
    JsonObject& add(std::string_view key, const char* value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, const std::string& value) { return add(key, std::string_view(value)); }
    JsonObject& add(std::string_view key, std::int64_t value);
    JsonObject& add(std::string_view key, int value) { return add(key, static_cast<std::int64_t>(value)); }
    JsonObject& add(std::string_view key, bool value);
    JsonObject& addNull(std::string_view key);
    // A value that is already JSON text (a nested object or array).
    JsonObject& addRaw(std::string_view key, std::string_view json);
    JsonObject& add(std::string_view key, const std::vector<std::string>& values);

    // "{...}" without a line end.
    std::string text() const;

private:
    void key(std::string_view name);
    std::string body_;
};

}  // namespace mvx::cli
