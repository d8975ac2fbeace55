// Whole-file reads and crash-safe whole-file replacement for the small text files the Linux
// adapters own (the settings INI file, the registry file). Both stores call only these two.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace vexa {

// The file's bytes, or nullopt when nothing exists at `path`.
// Throws HostError when the file exists but cannot be read.
std::optional<std::string> ReadFileIfPresent(const std::filesystem::path& path);

// Replaces `target` with `contents` so that at every moment the file holds either the old or
// the new bytes in full, even across a crash or power loss. Creates missing folders. An
// existing file keeps its permission bits; a new one gets the umask's. Throws HostError on
// failure and then leaves the old file untouched.
void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);

}  // namespace vexa
