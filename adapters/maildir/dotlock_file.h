// Rewriting a small shared file of the mail server (Dovecot's keyword list, its subscriptions)
// the way the server itself does: under a "NAME.lock" dot lock, with the new text written into
// the lock file and renamed over the old one, so a reader sees the old file or the new one whole
// and two writers never lose each other's change.
#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace vexa::maildir {

// The text of `file`, "" when there is none; fails with HostError when it cannot be read.
std::string ReadSmallFile(const std::filesystem::path& file);

// Takes the lock of `file` (waiting a few seconds for another holder; a lock left for minutes by
// a dead process is taken over), calls `rewrite` with the current text, and when it returns a
// text, puts that in place of the file. Returns what `rewrite` returned. HostError on failure.
std::optional<std::string> RewriteLocked(const std::filesystem::path& file,
                                         const std::function<std::optional<std::string>(const std::string&)>& rewrite);

}  // namespace vexa::maildir
