// Where the Linux host finds things: the mailbox, the installation, the per-user files. All
// per-user files follow the XDG base directories.
#pragma once

#include <filesystem>
#include <optional>
#include <string>

#include "archive/archive_names.h"  // kArchiveFileName

namespace vexa::linuxhost {

// --maildir DIR, else $MAILDIR, else ~/Maildir.
std::filesystem::path MaildirPath(const std::optional<std::string>& option);

// The default installation folder: $XDG_DATA_HOME/vexa (~/.local/share/vexa).
std::filesystem::path DefaultHome();

// The name of the file whose folder is the installation folder, as the installer records it.
inline constexpr const char* kModuleFileName = "Corvane.dll";
inline constexpr const char* kHelpFileName = "VXHELP.html";
inline constexpr const char* kAppPathsKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\App Paths\\Corvane.dll";

}  // namespace vexa::linuxhost
