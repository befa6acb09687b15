#include "mvx/platform/registry.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "mvx/platform/paths.hpp"

namespace mvx::platform {
namespace {

std::optional<std::uint32_t> parseDword(std::string_view text)
{
    int base = 10;
    if (text.substr(0, 6) == "dword:") {
        text.remove_prefix(6);
        base = 16;
    }
    if (text.empty())
        return std::nullopt;
    std::uint32_t number = 0;
    const char* end = text.data() + text.size();
    auto [stop, error] = std::from_chars(text.data(), end, number, base);
    if (error != std::errc() || stop != end)
        return std::nullopt;
    return number;
}

}  // namespace

std::string RegistryStore::defaultPath()
{
    if (const char* path = std::getenv("MVX_REGISTRY"); path != nullptr && *path != '\0')
        return path;
    return joinPath(joinPath(configFolder(), "Norvane"), "registry.ini");
}

bool RegistryStore::keyExists(std::string_view key) const
{
    auto doc = loadIni(path_);
    return doc && doc->hasSection(key);
}

std::optional<IniError> RegistryStore::createKey(std::string_view key)
{
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    std::string error;
    if (!folder.empty() && !makeFolders(folder, &error))
        return IniError{error};
    IniDocument doc = loadIni(path_).value_or(IniDocument{});
    if (doc.hasSection(key) && std::filesystem::exists(path_))
        return std::nullopt;
    // An empty section: set then remove a placeholder entry keeps the header.
    doc.set(key, "@", "");
    doc.removeKey(key, "@");
    return saveIni(path_, doc);
}

std::optional<std::string> RegistryStore::readString(std::string_view key,
                                                     std::string_view value) const
{
    auto doc = loadIni(path_);
    if (!doc)
        return std::nullopt;
    return doc->value(key, value);
}

std::optional<std::uint32_t> RegistryStore::readDword(std::string_view key,
                                                      std::string_view value) const
{
    auto text = readString(key, value);
    if (!text)
        return std::nullopt;
    return parseDword(*text);
}

std::optional<IniError> RegistryStore::writeString(std::string_view key, std::string_view value,
                                                   std::string_view text)
{
    std::string stored = "\"";
    stored.append(text);
    stored.push_back('"');
    return write(key, value, stored);
}

std::optional<IniError> RegistryStore::writeDword(std::string_view key, std::string_view value,
                                                  std::uint32_t number)
{
    char stored[16];
    std::snprintf(stored, sizeof stored, "dword:%08x", static_cast<unsigned>(number));
    return write(key, value, stored);
}

std::optional<IniError> RegistryStore::write(std::string_view key, std::string_view value,
                                             std::string_view stored)
{
    const std::string folder = std::filesystem::path(path_).parent_path().string();
    std::string error;
    if (!folder.empty() && !makeFolders(folder, &error))
        return IniError{error};
    return writeProfileString(path_, key, value, stored);
}

}  // namespace mvx::platform
