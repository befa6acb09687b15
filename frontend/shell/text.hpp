// Small text helpers shared by the front ends.
#pragma once

#include <string_view>

namespace mvx::tool {

// ASCII letters compared without regard to case.
bool equalsIgnoringCase(std::string_view a, std::string_view b);
bool endsWithIgnoringCase(std::string_view text, std::string_view suffix);

}  // namespace mvx::tool
