// Whole-file reads and crash-safe whole-file replacement for the small text files the Linux
// adapters own (the settings INI file, the installation record). Both stores call only these two.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vexa::posix {

// The file's bytes, or nullopt when nothing exists at `path`.
// Throws HostError when the file exists but cannot be read.
std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& path);

// Who may read the file once written: Inherited keeps an existing file's permission bits and
// gives a new one the umask's; Private makes it readable and writable by its owner only (0600),
// whatever the umask, for the files of an installation that sit beside the archive.
enum class FileAccess { Inherited, Private };

// Replaces `target` with `contents` so that at every moment the file holds either the old or
// the new bytes in full, even across a crash or power loss. Creates missing folders. The
// permissions follow `access`. Throws HostError on failure and then leaves the old file
// untouched.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents,
                         FileAccess access = FileAccess::Inherited);

}  // namespace vexa::posix
