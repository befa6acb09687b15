#include "shell/window_title.hpp"

#include <sys/stat.h>

#include <ctime>

namespace mvx::tool {

std::string programDateSuffix(const std::string& programPath)
{
    struct stat st {};
    if (::stat(programPath.c_str(), &st) != 0)
        return {};
    std::tm local {};
    const std::time_t written = st.st_mtime;
    if (::localtime_r(&written, &local) == nullptr)
        return {};
    return " " + std::to_string(local.tm_year + 1900) + "-" + std::to_string(local.tm_mon + 1) + "-" +
           std::to_string(local.tm_mday) + " ";
}

std::string titleWithProgramDate(std::string_view userTitle, const std::string& programPath)
{
    return std::string(userTitle) + programDateSuffix(programPath);
}

}  // namespace mvx::tool
