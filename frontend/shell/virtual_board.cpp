#include "shell/virtual_board.hpp"

#include <cctype>
#include <cstdlib>
#include <string_view>

namespace mvx::tool {
namespace {

// The IIC library reads its variable with surrounding blanks removed.
std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

}  // namespace

std::string VirtualBoardNotice::text() const
{
    if (iicLibraryOnly)
        return "VIRTUAL BOARD " + folder + ": no hardware is touched through the IIC library (--bus)";
    return "VIRTUAL BOARD " + folder + ": no hardware is touched";
}

std::string VirtualBoardNotice::titleSuffix() const
{
    return " [VIRTUAL BOARD " + folder + "]";
}

std::optional<VirtualBoardNotice> virtualBoardNotice(const char* virtualBoard, const char* iicLibraryBoard)
{
    if (virtualBoard != nullptr && *virtualBoard != '\0')
        return VirtualBoardNotice{virtualBoard, false};
    if (iicLibraryBoard != nullptr && !trimmed(iicLibraryBoard).empty())
        return VirtualBoardNotice{std::string(trimmed(iicLibraryBoard)), true};
    return std::nullopt;
}

std::optional<VirtualBoardNotice> virtualBoardNotice()
{
    return virtualBoardNotice(std::getenv("MVX_VIRTUAL_BOARD"), std::getenv("MVX_I2CDEV_VIRTUAL_BOARD"));
}

}  // namespace mvx::tool
