// One message of an IMAP account's Inbox as a private file, for `vexa convert` to archive by hand
// as it archives a message file: the IMAP user's way to archive a message the scan left in the
// Inbox. The copy lives in the account's mirror (private to its owner) and goes when it is
// dropped; the message on the server stays where it is, unseen, and once archived it carries the
// keyword that keeps every scan of the account from archiving it again.
#pragma once

#include <cstdint>
#include <filesystem>

#include "linux/imap_account.h"
#include "linux/imap_mirror.h"

namespace vexa::linuxhost {

class ImapMessageCopy {
public:
    // Fetches the Inbox's message `uid`. Throws HostError when there is none, or the server fails.
    ImapMessageCopy(ImapServer& server, const ImapAccount& account, std::uint32_t uid);
    ~ImapMessageCopy();
    ImapMessageCopy(const ImapMessageCopy&) = delete;
    ImapMessageCopy& operator=(const ImapMessageCopy&) = delete;

    const std::filesystem::path& File() const noexcept { return file_; }
    // Records on the server that the message is archived, where it keeps keywords.
    void MarkArchived();

private:
    ImapServer& server_;
    std::uint32_t uid_;
    bool keywords_ = false;
    std::filesystem::path file_;
};

}  // namespace vexa::linuxhost
