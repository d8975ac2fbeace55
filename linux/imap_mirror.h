// An IMAP Inbox handled through the Maildir host: the unseen messages the host has not raised
// before are fetched (BODY.PEEK[], so reading marks nothing seen) into a private Maildir, the
// mirror, where the add-in archives them as it archives a local Inbox; what the add-in then did
// to each message there (moved it into a folder, deleted it into the trash, marked it read) is
// done to the message on the server. The mirror holds only the messages of the pass under way.
//
// Once: the highest UID handled, per UIDVALIDITY, is kept in the installation, so restarts and
// reconnects never raise a message twice nor skip one. It never passes a message still due (a
// store that failed for a passing reason, a pass stopped because the archive was out of reach):
// that one is fetched again by the next pass. A message moves locally only after its row is
// committed (the mirror's journal covers the moment in between), so a copy in a local folder is a
// committed one: its move is done on the server, and a move the server refused stays there and
// is tried again at every reconcile and start, instead of the fax being archived again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace vexa::linuxhost {

// What the mirror needs of the server (the IMAP connection implements it).
class ImapServer {
public:
    virtual ~ImapServer() = default;
    struct Inbox {
        std::uint32_t uidValidity = 0;
        std::uint32_t uidNext = 0;
    };
    virtual Inbox SelectInbox() = 0;
    // UIDs of the unseen messages of the Inbox above `uid` (with `includeSeen`, of all of them),
    // ascending.
    virtual std::vector<std::uint32_t> UidsAbove(std::uint32_t uid, bool includeSeen) = 0;
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
    // Fetches up to `most` new arrivals into the mirror's new/; how many it fetched. With
    // `includeRead` the messages read on another device arrive too (a mailbox whose faxes were
    // read before vexa handled them); on the first run that is the whole Inbox.
    std::size_t Fetch(std::size_t most, bool includeRead = false);
    // Does on the server what the add-in did in the mirror, records the highest UID handled and
    // empties the mirror but for the moves the server refused. `stillDue` names the mirror Inbox's
    // files whose arrival is still due (not raised, or left for later): the highest UID handled
    // stays below the first of them. Returns what failed, one description each.
    std::vector<std::string> Reconcile(const std::set<std::string>& stillDue = {});

private:
    struct State {
        std::uint32_t uidValidity = 0;
        std::uint32_t highest = 0;
    };
    // Reconcile; `advance` false leaves the highest UID handled as it is (a crash's leftovers).
    std::vector<std::string> Reconcile(bool advance, const std::set<std::string>& stillDue);
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

}  // namespace vexa::linuxhost
