#include "arguments.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace mvx::cli {
namespace {

const OptionSpec* findLong(std::span<const OptionSpec> specs, std::string_view name)
{
    for (const OptionSpec& spec : specs)
        if (spec.name == name)
            return &spec;
    return nullptr;
}

const OptionSpec* findShort(std::span<const OptionSpec> specs, char name)
{
    for (const OptionSpec& spec : specs)
        if (spec.shortName != 0 && spec.shortName == name)
            return &spec;
    return nullptr;
}

std::string quoted(std::string_view text)
{
    return "'" + std::string(text) + "'";
}

}  // namespace

bool ParsedArguments::has(std::string_view name) const
{
    return std::any_of(options.begin(), options.end(), [&](const auto& option) { return option.first == name; });
}

std::optional<std::string> ParsedArguments::value(std::string_view name) const
{
    for (auto it = options.rbegin(); it != options.rend(); ++it)
        if (it->first == name)
            return it->second;
    return std::nullopt;
}

std::vector<std::string> ParsedArguments::values(std::string_view name) const
{
    std::vector<std::string> found;
    for (const auto& option : options)
        if (option.first == name)
            found.push_back(option.second);
    return found;
}

ParseResult parseArguments(std::span<const std::string> words, std::span<const OptionSpec> specs)
{
    ParseResult result;
    ParsedArguments& parsed = result.arguments;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        if (optionsEnded || word.size() < 2 || word[0] != '-') {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* spec = nullptr;
        std::optional<std::string> attached;
        std::string shown = word;
        if (word[1] == '-') {
            std::string_view name = std::string_view(word).substr(2);
            if (const auto equals = name.find('='); equals != std::string_view::npos) {
                attached = std::string(name.substr(equals + 1));
                name = name.substr(0, equals);
                shown = "--" + std::string(name);
            }
            spec = findLong(specs, name);
        } else if (word.size() == 2) {
            spec = findShort(specs, word[1]);
        }
        if (spec == nullptr) {
            result.error = "unknown option " + quoted(shown);
            return result;
        }
        const std::string name(spec->name);
        if (!spec->repeatable && parsed.has(name)) {
            result.error = "option --" + name + " is given more than once";
            return result;
        }
        if (spec->valueName.empty()) {
            if (attached) {
                result.error = "option --" + name + " takes no value";
                return result;
            }
            parsed.options.emplace_back(name, std::string());
            continue;
        }
        if (!attached) {
            if (i + 1 >= words.size()) {
                result.error = "option --" + name + " needs a value (" + std::string(spec->valueName) + ")";
                return result;
            }
            attached = words[++i];
        }
        parsed.options.emplace_back(name, *attached);
    }
    return result;
}

std::optional<long long> parseNumber(std::string_view text)
{
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty() || (base == 16 && (text[0] == '-' || text[0] == '+')) || text[0] == '+')
        return std::nullopt;
    long long value = 0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value, base);
    if (error != std::errc() || stop != end || value > 0xFFFFFFFFLL || value < -0x80000000LL)
        return std::nullopt;
    return value;
}

std::optional<int> parseNumberIn(std::string_view option, std::string_view text, long long first, long long last,
                                 std::string* error)
{
    const auto number = parseNumber(text);
    if (!number) {
        *error = "--" + std::string(option) + ": " + quoted(text) + " is not a number";
        return std::nullopt;
    }
    if (*number < first || *number > last) {
        *error = "--" + std::string(option) + ": " + std::string(text) + " is outside " + std::to_string(first) +
                 ".." + std::to_string(last);
        return std::nullopt;
    }
    return static_cast<int>(*number);
}

std::optional<int> parseChoice(std::string_view option, std::string_view text,
                               std::span<const std::string_view> names, std::string* error)
{
    for (std::size_t i = 0; i < names.size(); ++i)
        if (equalsIgnoringCase(text, names[i]))
            return static_cast<int>(i);
    std::string list;
    for (std::string_view name : names) {
        if (!name.empty())
            list += (list.empty() ? "" : ", ") + std::string(name);
    }
    *error = "--" + std::string(option) + ": " + quoted(text) + " is not one of " + list;
    return std::nullopt;
}

std::optional<unsigned> parseBankList(std::string_view option, std::string_view text, int first, int last,
                                      std::string* error)
{
    unsigned mask = 0;
    std::string_view rest = text;
    while (true) {
        const auto comma = rest.find(',');
        const std::string_view item = rest.substr(0, comma);
        const auto dash = item.find('-', 1);
        const auto low = parseNumberIn(option, item.substr(0, dash), first, last, error);
        if (!low)
            return std::nullopt;
        int high = *low;
        if (dash != std::string_view::npos) {
            const auto parsedHigh = parseNumberIn(option, item.substr(dash + 1), *low, last, error);
            if (!parsedHigh)
                return std::nullopt;
            high = *parsedHigh;
        }
        for (int bank = *low; bank <= high; ++bank)
            mask |= 1u << bank;
        if (comma == std::string_view::npos)
            break;
        rest = rest.substr(comma + 1);
    }
    return mask;
}

}  // namespace mvx::cli
