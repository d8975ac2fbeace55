// An IMAP Inbox handled through the Maildir host: the unseen messages the host has not raised
// before are fetched (BODY.PEEK[], so reading marks nothing seen) into a private Maildir, the
// mirror, where the add-in archives them as it archives a local Inbox; what the add-in then did
// to each message there (moved it into a folder, deleted it into the trash, marked it read) is
// done to the message on the server. The mirror holds only the messages of the pass under way.
//
// Once: what was archived is recorded on the server, so that it holds for every installation
// that reads the mailbox and survives a renumbered Inbox (a new UIDVALIDITY). Where the server keeps
// keywords, a message whose row is committed gets the keyword $VexaArchived before it is moved or
// left in the Inbox, and messages carrying it are never fetched again. Locally, the highest UID
// handled, per UIDVALIDITY, is a shortcut: it never passes a message still due (a store that failed
// for a passing reason, a pass stopped because the archive was out of reach, a message another
// installation holds), which the next pass fetches again. A message moves locally only after its
// row is committed (the mirror's journal covers the moment in between), so a copy in a local
// folder, or one marked read in the local Inbox, is a committed one: its keyword, read state and
// move are done on the server, and what the server refused stays and is tried again at every
// reconcile and start, instead of the fax being archived again.
//
// Sifting: before any body is fetched, the header fields of the new messages are fetched with one
// command per window of them, and the caller's sieve (the add-in's own recognition, on a message
// made of those fields) tells which may be the service's traffic. Only those are claimed and fetched
// whole, several per command; the others are left alone on the server, unseen, and are passed by the
// highest UID handled as a message the add-in left alone would be, so that the next run does not
// look at them again.
//
// Claims: two installations on one mailbox (an office's fax account) must not both archive a
// message. Before fetching, an installation sets its own claim keyword ($VexaClaim.<id>, the id
// random and kept with the highest UID handled) on the messages, then reads their flags back: it
// takes a message only when no other installation's claim is there. Whoever claimed second sees the
// first's claim, so at most one takes it; when both claimed at once both see two claims, let go,
// and the message is tried again by a later pass. A claim is taken off once the message is archived
// or left due. A claim that stays for 30 minutes, as this installation sees it, on a message nobody
// archived belongs to an installation that died with the message in hand: it is removed and the
// message claimed anew. A server without keywords gets neither claims nor the keyword.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace vexa::linuxhost {

// What the mirror needs of the server (the IMAP connection implements it).
class ImapServer {
public:
    virtual ~ImapServer() = default;
    struct Inbox {
        std::uint32_t uidValidity = 0;
        std::uint32_t uidNext = 0;
        bool keywords = false;  // new keywords can be set on its messages
    };
    virtual Inbox SelectInbox() = 0;
    // UIDs of the unseen messages of the Inbox above `uid` (with `includeSeen`, of all of them),
    // but for those carrying `withoutKeyword` when it is not empty; ascending.
    virtual std::vector<std::uint32_t> UidsAbove(std::uint32_t uid, bool includeSeen,
                                                 const std::string& withoutKeyword) = 0;
    // The whole message, into the open file `fd`; the message stays unseen.
    virtual void FetchToFile(std::uint32_t uid, int fd) = 0;
    // What a message's header tells before its body is fetched.
    struct Header {
        std::uint64_t size = 0;  // as the server states it
        std::string fields;      // the fields asked for, as a header block
    };
    // The size and the header fields `fields` of each message, with one command; one gone from
    // the Inbox is missing. The messages stay unseen.
    virtual std::map<std::uint32_t, Header> HeadersOf(const std::vector<std::uint32_t>& uids,
                                                      const std::vector<std::string>& fields) = 0;
    // Several whole messages with one command, each handed to `each` as it was received (the
    // answer is held in memory: the caller bounds their sizes); one gone from the Inbox is not
    // handed over. The messages stay unseen.
    virtual void FetchWhole(const std::vector<std::uint32_t>& uids,
                            const std::function<void(std::uint32_t uid, std::string_view message)>& each) = 0;
    // The flags and keywords of each message; one gone from the Inbox is missing.
    virtual std::map<std::uint32_t, std::vector<std::string>> FlagsOf(const std::vector<std::uint32_t>& uids) = 0;
    virtual void AddFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) = 0;
    virtual void RemoveFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) = 0;
    // Into the Inbox's child `name` (created and subscribed when missing).
    virtual void MoveToChild(const std::vector<std::uint32_t>& uids, const std::string& name) = 0;
    // Into the folder with the \Trash special use, else "Trash".
    virtual void MoveToTrash(const std::vector<std::uint32_t>& uids) = 0;
};

// The UID of the message a mirror file holds ("0000000003.1796749165.imap", whatever its
// UIDVALIDITY), for messages that name it as the user can find it; nothing for any other file.
std::optional<std::uint32_t> MirrorFileUid(const std::string& fileName);

// The keyword of a message whose row is committed.
inline constexpr const char* kArchivedKeyword = "$VexaArchived";

// Which new messages are worth fetching whole, told by their header fields.
struct Sieve {
    std::vector<std::string> fields;  // the fields `wanted` reads ("From", ...)
    // True when the message with these fields (a header block) may be the service's traffic;
    // unset: every message is.
    std::function<bool(const std::string& fields)> wanted;
};

class ImapMirror {
public:
    // `mirror` is a Maildir of this account's own; `stateFile` where the highest handled UID is kept.
    ImapMirror(ImapServer& server, std::filesystem::path mirror, std::filesystem::path stateFile, Sieve sieve = {});

    // Selects the Inbox and finishes what a crash left in the mirror. Throws HostError.
    void Start();
    // Fetches up to `most` new arrivals into the mirror's new/; how many it fetched. With
    // `includeRead` the messages read on another device arrive too (a mailbox whose faxes were
    // read before vexa handled them): where the server keeps keywords, the whole Inbox but for what
    // carries the keyword, else what is above the highest UID handled. Each call goes on
    // above the messages the one before looked at; once it finds nothing (0), the next call starts
    // over above the highest UID handled, so that what was left due or held by another
    // installation is looked at again by the next run, not by every pass of this one.
    std::size_t Fetch(std::size_t most, bool includeRead = false);
    // Does on the server what the add-in did in the mirror, records the highest UID handled and
    // empties the mirror but for what the server refused. Names are the mirror files' names (or
    // their unique part). `stillDue` are the mirror Inbox's files whose arrival is still due (not
    // raised, or left for later): the highest UID handled stays below the first of them.
    // `archived` are the mirror Inbox's files archived and left in the Inbox (no store folder):
    // they get the keyword. Returns what failed, one description each.
    std::vector<std::string> Reconcile(const std::set<std::string>& stillDue = {},
                                       const std::set<std::string>& archived = {});
    // How many new messages (above the highest UID handled when they were looked at) the sieve
    // passed over, left alone without their bodies being fetched.
    std::size_t PassedOver() const noexcept { return passedOver_; }

private:
    // Another installation's claim on a message, and when this one first saw it (seconds since
    // the epoch).
    struct ForeignClaim {
        std::string keyword;
        std::int64_t since = 0;
    };
    struct State {
        std::uint32_t uidValidity = 0;
        std::uint32_t highest = 0;
        std::string claimant;  // this installation's id in its claim keyword
        std::map<std::uint32_t, ForeignClaim> foreign;
    };
    // Reconcile; `advance` false leaves the highest UID handled as it is (a crash's leftovers).
    std::vector<std::string> Reconcile(bool advance, const std::set<std::string>& stillDue,
                                       const std::set<std::string>& archived);
    // Of `uids`, the ones this installation may archive: claimed, and nobody else's claim there.
    std::vector<std::uint32_t> Claim(const std::vector<std::uint32_t>& uids);
    // Fetches the claimed messages `uids` (ascending, with their stated sizes) into the mirror's
    // new/, several per command; a message gone meanwhile is left unresolved and let go.
    void FetchBodies(const std::vector<std::uint32_t>& uids, const std::map<std::uint32_t, ImapServer::Header>& headers);
    void WriteMirrorFile(std::uint32_t uid, const std::function<void(int fd)>& write);
    // The highest UID handled goes up to `uid`, but never up to the run's first unresolved one.
    void Advance(std::uint32_t uid);
    std::string ClaimKeyword() const { return "$VexaClaim." + state_.claimant; }
    State ReadState() const;
    void WriteState() const;
    std::filesystem::path MirrorFileName(std::uint32_t uid) const;
    // The UID of a mirror file of this UIDVALIDITY, from its name.
    std::optional<std::uint32_t> UidOf(const std::string& fileName) const;

    ImapServer& server_;
    Sieve sieve_;
    std::size_t passedOver_ = 0;
    std::filesystem::path mirror_;
    std::filesystem::path stateFile_;
    State state_;
    bool keywords_ = false;
    std::vector<std::uint32_t> fetched_;  // this pass's UIDs, ascending
    bool running_ = false;                // a run is under way (a Fetch found something)
    std::uint32_t cursor_ = 0;            // the run looked at every message up to this UID
    // The lowest UID this run left unresolved (due, or another installation's); 0 when none.
    std::uint32_t unresolved_ = 0;
};

}  // namespace vexa::linuxhost
