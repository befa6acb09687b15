#include "json.hpp"

#include <array>

namespace mvx::cli {
namespace {

// The length of the valid UTF-8 sequence at s[i], or 0 when the bytes there
// are not one (overlong forms, surrogates and values above U+10FFFF count as
// invalid).
std::size_t utf8SequenceLength(std::string_view s, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    std::uint32_t value = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        value = lead & 0x1Fu;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        value = lead & 0x0Fu;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        value = lead & 0x07u;
    } else {
        return 0;
    }
    if (s.size() - i < length)
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0u) != 0x80u)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3Fu);
    }
    static constexpr std::array<std::uint32_t, 5> kSmallest{0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    return length;
}

}  // namespace

std::string jsonString(std::string_view s)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out;
    out.reserve(s.size() + 2);
    out += '"';
    for (std::size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
            ++i;
        } else if (c == '\n') {
            out += "\\n";
            ++i;
        } else if (c == '\r') {
            out += "\\r";
            ++i;
        } else if (c == '\t') {
            out += "\\t";
            ++i;
        } else if (c < 0x20 || c == 0x7F) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
            ++i;
        } else if (c < 0x80) {
            out += static_cast<char>(c);
            ++i;
        } else if (const std::size_t length = utf8SequenceLength(s, i); length != 0) {
            out.append(s.substr(i, length));
            i += length;
        } else {
            out += "\\ufffd";
            ++i;
        }
    }
    out += '"';
    return out;
}

void JsonObject::key(std::string_view name)
{
    if (!body_.empty())
        body_ += ',';
    body_ += jsonString(name);
    body_ += ':';
}

JsonObject& JsonObject::add(std::string_view name, std::string_view value)
{
    key(name);
    body_ += jsonString(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, std::int64_t value)
{
    key(name);
    body_ += std::to_string(value);
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, bool value)
{
    key(name);
    body_ += value ? "true" : "false";
    return *this;
}

JsonObject& JsonObject::addNull(std::string_view name)
{
    key(name);
    body_ += "null";
    return *this;
}

JsonObject& JsonObject::addRaw(std::string_view name, std::string_view json)
{
    key(name);
    body_ += json;
    return *this;
}

JsonObject& JsonObject::add(std::string_view name, const std::vector<std::string>& values)
{
    key(name);
    body_ += '[';
    for (std::size_t i = 0; i < values.size(); ++i) {
        if (i != 0)
            body_ += ',';
        body_ += jsonString(values[i]);
    }
    body_ += ']';
    return *this;
}

std::string JsonObject::text() const
{
    return "{" + body_ + "}";
}

}  // namespace mvx::cli
