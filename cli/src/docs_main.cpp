// mvxisp-docs: writes what the build installs beside mvxisp from its option
// table.
//
//   mvxisp-docs man VERSION FILE      the manual page mvxisp(1)
//   mvxisp-docs completion FILE       the bash completion script
#include <iostream>
#include <string>

#include "docs.hpp"
#include "mvx/platform/atomic_file.hpp"

int main(int argc, char** argv)
{
    const std::string what = argc > 1 ? argv[1] : "";
    std::string text;
    std::string path;
    if (what == "man" && argc == 4) {
        text = mvx::cli::manPage(argv[2]);
        path = argv[3];
    } else if (what == "completion" && argc == 3) {
        text = mvx::cli::bashCompletion();
        path = argv[2];
    } else {
        std::cerr << "usage: mvxisp-docs man VERSION FILE | completion FILE\n";
        return 64;
    }
    if (const auto error = mvx::platform::replaceFileAtomically(path, text)) {
        std::cerr << "mvxisp-docs: " << *error << "\n";
        return 73;
    }
    return 0;
}
