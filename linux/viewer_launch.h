// The indicator command on Linux: the archive opens in Vexa's own viewer. The viewer already
// running for the installation is reused; else one is started in the background (`vexa view
// --no-open`, detached from the terminal) and the browser is pointed at it.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

namespace vexa::linuxhost {

// The first address of a viewer of `archive` that answers, starting one when none does;
// nothing when none could be started.
std::optional<std::string> RunningViewer(const std::filesystem::path& archive);

}  // namespace vexa::linuxhost
