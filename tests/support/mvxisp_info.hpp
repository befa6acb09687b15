// What `mvxisp info` prints for firmware files, for tests that compare the
// numbers another front end shows with the command line's.
#pragma once

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace mvx::test {

// The lines a shell command prints, without their line ends.
inline std::vector<std::string> commandLines(const std::string& command)
{
    std::vector<std::string> lines;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return lines;
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) {
        std::string line(buffer);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
            line.pop_back();
        lines.push_back(line);
    }
    ::pclose(pipe);
    return lines;
}

// The columns of each bank line: File Len, Prom Len, ChkSum.  `program` is
// the mvxisp binary, `arguments` what follows "info".
inline std::vector<std::array<std::string, 3>> mvxispInfoColumns(const std::string& program,
                                                                 const std::string& arguments)
{
    std::vector<std::array<std::string, 3>> banks;
    for (const std::string& line : commandLines(program + " info " + arguments + " 2>/dev/null")) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.size() == 7 && words[0].rfind("Bank", 0) == 0)
            banks.push_back({words[3], words[4], words[5]});
    }
    return banks;
}

}  // namespace mvx::test
