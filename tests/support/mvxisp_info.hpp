// What `mvxisp info` prints for firmware files, for tests that compare the
// numbers another front end shows with the command line's.
#pragma once

#include <array>
#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace mvx::test {

// The columns of each bank line: File Len, Prom Len, ChkSum.  `program` is
// the mvxisp binary, `arguments` what follows "info".
inline std::vector<std::array<std::string, 3>> mvxispInfoColumns(const std::string& program,
                                                                 const std::string& arguments)
{
    const std::string command = program + " info " + arguments + " 2>/dev/null";
    std::vector<std::array<std::string, 3>> banks;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return banks;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::istringstream in(line);
        std::vector<std::string> words;
        for (std::string word; in >> word;)
            words.push_back(word);
        if (words.size() == 7 && words[0].rfind("Bank", 0) == 0)
            banks.push_back({words[3], words[4], words[5]});
    }
    ::pclose(pipe);
    return banks;
}

}  // namespace mvx::test
