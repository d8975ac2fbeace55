// Text with the blanks and line ends around it taken away, as the settings file and the files of
// an installation are read.
#pragma once

#include <string>
#include <string_view>

namespace vexa::linuxhost {

inline std::string Trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) return "";
    return std::string(text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1));
}

}  // namespace vexa::linuxhost
