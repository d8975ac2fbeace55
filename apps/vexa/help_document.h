// The help document that vexa init installs and vexa manual opens; built into the program.
#pragma once

#include <string_view>

namespace vexa::cli {

std::string_view HelpDocument();

}  // namespace vexa::cli
