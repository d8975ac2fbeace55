// registry.reg, where `vexa init` recorded the installation folder before the record became an
// INI file (record_registry.h). The first start that finds no record but this file writes the
// record from it; the old file is left where it is, so an older vexa still finds the installation.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace vexa::posix {

// The record's text for the registry file `path` holding `contents`, as `vexa init` wrote it:
// the line "Windows Registry Editor Version 5.00", then keys in brackets, each with @="..." or
// "Path"="..." (regedit escapes '\' and '"' with a backslash); blank lines and ';' comments.
// Throws HostError, naming `path` and the line, for anything else.
std::string RecordTextFromRegistryFile(const std::filesystem::path& path, std::string_view contents);

// When nothing exists at `record` and the registry file `legacy` does, writes the record from it.
// Throws HostError when either file cannot be read, the old one is damaged, or the record
// cannot be written.
void ImportRegistryFile(const std::filesystem::path& legacy, const std::filesystem::path& record);

// $XDG_CONFIG_HOME/vexa/registry.reg (with the XDG fallback to ~/.config).
std::filesystem::path LegacyRegistryPath();

}  // namespace vexa::posix
