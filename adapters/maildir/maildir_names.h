// The naming rules of Maildir and Maildir++: message file names with their ":2,FLAGS" info,
// unique names for delivered or moved messages, and which folder names may be created.
// Used by the mail items (flags, moves) and by the folder collections (Add).
#pragma once

#include <string>

namespace vexa::maildir {

// A message file name split at its info. `hasInfo` is false for a fresh delivery in new/,
// whose name carries no flags at all.
struct MessageName {
    std::string base;
    bool hasInfo = false;
    std::string flags;
};

MessageName SplitMessageName(const std::string& fileName);
std::string JoinMessageName(const MessageName& name);

// `flags` with `flag` set or cleared, in ASCII order and without repeats, as readers expect
// (some only compare the info textually).
std::string WithFlag(const std::string& flags, char flag, bool set);

// A base name no other delivery uses: time, microseconds, pid, a per-process counter and the host
// name, with "/" and ":" of the host name escaped as the Maildir convention asks.
std::string NewUniqueBase();

// Names that make a folder a sibling-proof ".Name" directory: not empty, no "/", no leading "."
// (that would be "..Name" or a hidden entry) and no control characters.
bool IsValidFolderName(const std::string& name);

}  // namespace vexa::maildir
