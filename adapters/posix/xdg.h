// Base folders of the XDG Base Directory rules, shared by every Linux adapter that keeps a file
// per user (the settings file, the installation record, the archive database).
#pragma once

#include <filesystem>

namespace vexa::posix {

// $XDG_CONFIG_HOME, or $HOME/.config when that is unset, empty or relative.
// Throws HostError when no home folder can be found either.
std::filesystem::path XdgConfigHome();

// $XDG_DATA_HOME, or $HOME/.local/share when that is unset, empty or relative.
// Throws HostError when no home folder can be found either.
std::filesystem::path XdgDataHome();

}  // namespace vexa::posix
