// An IMAP Inbox handled through the Maildir host: the unseen messages the host has not raised
// before are fetched (BODY.PEEK[], so reading marks nothing seen) into a private Maildir, the
// mirror, where the add-in archives them as it archives a local Inbox; what the add-in then did
// to each message there (moved it into a folder, deleted it into the trash, marked it read) is
// done to the message on the server. The mirror holds only the messages of the pass under way.
//
// Once: the highest UID handled, per UIDVALIDITY, is kept in the installation, so restarts and
// reconnects never raise a message twice nor skip one. A message moves locally only after its row
// is committed, so a copy left in a local folder by a crash is a committed one: the next start
// finishes its move on the server instead of archiving it again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace vexa::cli {

// What the mirror needs of the server (the IMAP connection implements it).
class ImapServer {
public:
    virtual ~ImapServer() = default;
    struct Inbox {
        std::uint32_t uidValidity = 0;
        std::uint32_t uidNext = 0;
    };
    virtual Inbox SelectInbox() = 0;
    // UIDs of the unseen messages of the Inbox above `uid`, ascending.
    virtual std::vector<std::uint32_t> UnseenUidsAbove(std::uint32_t uid) = 0;
    // The whole message, into the open file `fd`; the message stays unseen.
    virtual void FetchToFile(std::uint32_t uid, int fd) = 0;
    virtual void MarkSeen(std::uint32_t uid) = 0;
    // Into the Inbox's child `name` (created and subscribed when missing).
    virtual void MoveToChild(const std::vector<std::uint32_t>& uids, const std::string& name) = 0;
    // Into the folder with the \Trash special use, else "Trash".
    virtual void MoveToTrash(const std::vector<std::uint32_t>& uids) = 0;
};

class ImapMirror {
public:
    // `mirror` is a Maildir of this account's own; `stateFile` where the highest handled UID is kept.
    ImapMirror(ImapServer& server, std::filesystem::path mirror, std::filesystem::path stateFile);

    // Selects the Inbox and finishes what a crash left in the mirror. Throws HostError.
    void Start();
    // Fetches up to `most` new arrivals into the mirror's new/; how many it fetched.
    std::size_t Fetch(std::size_t most);
    // Does on the server what the add-in did in the mirror, records the highest UID handled and
    // empties the mirror. Returns what failed, one description each (those messages stay where
    // they are on the server, and are not raised again).
    std::vector<std::string> Reconcile();

private:
    struct State {
        std::uint32_t uidValidity = 0;
        std::uint32_t highest = 0;
    };
    // Reconcile; `advance` false leaves the highest UID handled as it is (a crash's leftovers).
    std::vector<std::string> Reconcile(bool advance);
    State ReadState() const;
    void WriteState() const;
    std::filesystem::path MirrorFileName(std::uint32_t uid) const;
    // The UID of a mirror file of this UIDVALIDITY, from its name.
    std::optional<std::uint32_t> UidOf(const std::string& fileName) const;

    ImapServer& server_;
    std::filesystem::path mirror_;
    std::filesystem::path stateFile_;
    State state_;
    std::vector<std::uint32_t> fetched_;  // this pass's UIDs, ascending
};

}  // namespace vexa::cli
