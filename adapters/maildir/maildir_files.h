// The file operations of a Maildir++ tree: recognising and creating folders, listing messages
// in arrival order and moving message files between folders without ever overwriting one.
// The session, the folder objects and the mail items call them; failures come out as HostError.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "adapters/maildir/maildir_names.h"
#include "host/host_error.h"

namespace vexa::maildir {

// `context` says what was attempted ("Can't move /a to /b"); the system's text for `err` follows.
HostError ErrnoError(const std::string& context, int err);

// A folder with cur/, new/ and tmp/ directories.
bool IsMaildir(const std::filesystem::path& folder);

// The message files in new/ and cur/ (not tmp/, not dot files), oldest first by modification
// time, then by name.
std::vector<std::filesystem::path> ListMessages(const std::filesystem::path& folder);

// The message file of `folder` (in new/ or cur/) whose unique part, the name before ":", is `base`:
// where a message is now after a mail reader or Dovecot renamed it (new/ to cur/, other flags).
std::optional<std::filesystem::path> FindMessage(const std::filesystem::path& folder, const std::string& base);

// Creates a Maildir++ folder (the directory, cur/, new/, tmp/ and the maildirfolder marker).
// The folder is made complete under a temporary name in the parent's tmp/ and renamed into
// place, so a crash never leaves half a folder. A directory of that name that is no Maildir
// (half a folder left by an older crash) is completed. Returns false, changing nothing, when a
// Maildir folder of that name already exists. A ".Name" folder of a Maildir is also subscribed
// in the Maildir's Dovecot subscriptions.
bool CreateMaildirFolder(const std::filesystem::path& folder);

// Tells a mail server that indexes `folder` (Dovecot) that messages left it, in a way its index
// cannot miss: a hidden file made and removed in cur/ changes cur/ and wakes its watchers. A
// delivery that Dovecot indexes within about a second of a move can record cur/ as seen without
// rereading it, and the moved message then lingers in clients idling on the folder; a second
// announcement a moment later, once that second is over, makes it reread. Never fails.
void AnnounceRemovals(const std::filesystem::path& folder) noexcept;

// Renames without replacing: returns 0, or the errno (EEXIST when `to` is taken).
int RenameNoReplace(const std::filesystem::path& from, const std::filesystem::path& to);

// Moves `file` into `folder`/`place` (new or cur) as `name`; when that base name is already in
// the folder (in new/ or cur/, under any flags), under a fresh base with the same info. Works
// across file systems by copying through the folder's tmp/. Keyword letters are translated to the
// target folder's Dovecot keyword list, and the source folder's cur/ is touched so that Dovecot
// shows the message gone at once. Returns the new path.
std::filesystem::path MoveMessageFile(const std::filesystem::path& file, const std::filesystem::path& folder,
                                      const std::string& place, MessageName name);

}  // namespace vexa::maildir
