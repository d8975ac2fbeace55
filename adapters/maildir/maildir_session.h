// The Maildir host: one running session of the mail host over a Maildir on disk, with its
// application objects, mail-item wrapper and events. The command-line program opens one per run
// and raises ItemAdd and ItemSend; its folders and items reach back to it for events and ".Trash".
//
// Arrivals. The host raises the Inbox's ItemAdd once per message, and so does this one, across
// `vexa scan`, `vexa watch` and restarts (a crash has the window below). A Maildir cannot say by itself which messages
// have had their arrival: Dovecot moves new/ to cur/ as soon as any client opens the Inbox, and
// a message the add-in leaves in the Inbox (no store folder, a failed store) stays unread. So the
// session keeps its own record (InboxRecord, the file "vexa-handled" in the Maildir root) of the
// unique name parts (before ":") of the messages whose arrival it raised and that were still in
// the Inbox afterwards; a message that left the Inbox needs no entry, and one moved back into the
// Inbox arrives again, as it would in the host. The record is pruned to the Inbox at the first
// use in a run (a name goes only when two listings miss it: a mail reader renaming the file can
// hide it from one). An arrival is due for a message in new/ or cur/ that is unread (no S flag)
// and not in the record. The entry is written, and flushed, only after the handler returns, so
// a fax is never lost unarchived. In a group commit the window between the archive's commit and
// the messages leaving the Inbox (or their entries reaching the disk) is covered by the group's
// journal (ArrivalJournal, "vexa-journal"), written before the commit and replayed before the
// next pass: a message whose row was committed is moved or recorded, never archived again. An
// entry that cannot be written stays in the record for the rest of the run, and its message's
// journal entry stays until it can be. Message files are not renamed for the
// arrival: new/ versus cur/ means nothing here, and mail readers keep showing new mail as new.
// A file renamed by a mail reader or by Dovecot between the listing and the reading (new/ to
// cur/, flags changed) is found again by its unique part. With `includeRead` read messages are
// due as well and are presented unread for that one arrival (ReadAsUnread).
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "adapters/maildir/arrival_journal.h"
#include "adapters/maildir/inbox_record.h"
#include "adapters/maildir/maildir_mail.h"
#include "adapters/maildir/maildir_store.h"
#include "adapters/maildir/read_ahead.h"
#include "host/application.h"
#include "recognition/safe_mail_item.h"

namespace vexa::maildir {

class MaildirSession final : public std::enable_shared_from_this<MaildirSession> {
    struct Token {};

public:
    // Fails when `inbox` lacks cur, new or tmp.
    static std::shared_ptr<MaildirSession> Open(const std::filesystem::path& inbox);
    MaildirSession(Token, std::filesystem::path inbox);
    MaildirSession(const MaildirSession&) = delete;
    MaildirSession& operator=(const MaildirSession&) = delete;

    // An application object of this session. There is no explorer window: a process has none.
    std::shared_ptr<Application> NewApplication();
    // Creates application objects that reach this same session.
    ApplicationFactory& Factory();
    SafeMailItemFactory& SafeMailItems();

    // The message files now in the Inbox's new/ and cur/, oldest first by modification time,
    // then by name.
    std::vector<std::filesystem::path> InboxMessages();
    // Raises the Inbox items' ItemAdd with the item for `file`, whether or not it had its
    // arrival; nothing is recorded.
    void RaiseItemAdd(const std::filesystem::path& file);

    // One Inbox message whose arrival is due, read and ready to be raised.
    struct Arrival {
        std::filesystem::path file;  // where the message was found
        std::string unique;          // the unique part of its name
        ItemPtr item;
    };
    // The Inbox messages whose arrival is due, oldest first (see the header's comment), as bare
    // file names for TakeArrival.
    std::vector<std::filesystem::path> DueArrivals(bool includeRead);
    // A due message's place in that order: its modification time, then its name.
    struct DuePlace {
        timespec mtime{};
        std::string name;
    };
    // One piece of that list, so that a large Inbox is raised in pieces of a bounded size: the
    // oldest `limit` due messages after `after` (from the start without it), where the piece
    // ends, and how many due messages there are after `after`, this piece's included.
    struct DuePiece {
        std::vector<std::filesystem::path> names;
        std::optional<DuePlace> last;
        std::size_t remaining = 0;
    };
    DuePiece DueArrivals(bool includeRead, const std::optional<DuePlace>& after, std::size_t limit);
    // The arrival of the message at `file` (a bare name: the Inbox's message of that name), or of
    // the Inbox message with the same unique part when `file` was renamed meanwhile; nothing when its arrival was raised already, it left the
    // Inbox, or it is read (and `includeRead` is off).
    std::optional<Arrival> TakeArrival(const std::filesystem::path& file, bool includeRead);
    // Reads the messages `names` (from DueArrivals) on a second thread, a few ahead of the
    // TakeArrival calls that take them in that order, decoding their first attachments into
    // `stagingFolder` (the folder they are likely saved in) when given; EndReadAhead stops it.
    void ReadAheadOf(std::shared_ptr<const std::vector<std::filesystem::path>> names,
                     std::optional<std::filesystem::path> stagingFolder);
    void EndReadAhead() noexcept;
    // A message an item is done with, freed by the thread that reads ahead while there is one.
    void Retire(std::shared_ptr<MimeMessage> message) noexcept;
    // Raises the Inbox items' ItemAdd with the arrival's item, then records the arrival when the
    // message is still in the Inbox. Throws HostError when the record cannot be written.
    void RaiseArrival(const Arrival& arrival);
    // Takes the arrival of `unique` back: the message is due again (its store could not reach
    // the archive, so it was not handled).
    void ForgetArrival(const std::string& unique);
    // The mail item for a file anywhere; a file that is not a mail message, or that cannot be
    // read, gives an item of class 0 instead.
    ItemPtr LoadItem(const std::filesystem::path& file);
    // A mail item for a message that is in no folder (read from standard input): Move and
    // Delete fail, and without a Received: field its received time is now.
    std::shared_ptr<MaildirMailItem> ParseMessage(std::string bytes);
    // Raises ItemSend; true when the send goes ahead (no subscriber set Cancel).
    bool RaiseItemSend(const ItemPtr& item);

    std::shared_ptr<MAPIFolder> Inbox();

    // Group commit. From BeginGroup on, an Inbox message that a handler moves or deletes stays
    // in the Inbox until FinishGroup, which the command calls once the archive has made the
    // group's rows durable: a message leaves the Inbox only after its row. The record's entries of
    // the group are written with one flush. A message whose move is held does not arrive again.
    void BeginGroup();
    // Performs the held moves and writes the held entries. Returns what failed, one description
    // each; a message whose move failed stays in the Inbox, recorded as handled.
    std::vector<std::string> FinishGroup();
    // Forgets the held moves (their rows were not committed: those messages are due again) and
    // writes the held entries; returns what failed as FinishGroup does.
    std::vector<std::string> AbortGroup();
    // The group's journal, written and synced before the archive commits: for each message of
    // the open group whose row the commit makes, its unique name part and its stored file's
    // name. Throws HostError when it cannot be written; the group must not be committed then.
    struct StoredArrival {
        std::string unique;
        std::string fileId;
    };
    void JournalGroup(const std::vector<StoredArrival>& stored);
    // One message's entry, written and synced at once: its store's commit has an unknown outcome
    // (an archive server lost during it). Its message is not due until a replay resolves it;
    // `target` is the folder (".Name") its clean-up would have moved it to. Throws HostError.
    void JournalArrival(const StoredArrival& arrival, const std::string& target);
    // The commit's outcome is unknown (it failed with an I/O error, say): the held moves are
    // forgotten, the group's journal entries stay for the next start's replay, and the group's
    // messages do not arrive again in this run. Returns what failed as FinishGroup does.
    std::vector<std::string> LeaveGroup();
    // Replays the journal an earlier group left (a crash, a failed move or record): the message
    // of each entry whose row `committed` confirms (it answers for a list of stored file names)
    // is moved as the group meant to, or recorded as handled; the others are due again. Call it
    // before the first pass. Returns what failed (those entries stay, and their messages are not
    // due). Throws HostError when the journal cannot be read or rewritten, or `committed` fails:
    // then nothing may be archived until a replay succeeds.
    using CommittedQuery = std::function<std::vector<bool>(const std::vector<std::string>&)>;
    std::vector<std::string> ReplayJournal(const CommittedQuery& committed);
    // Holds the move of `item` into `target` when a group is open and the item is in the Inbox;
    // false when the move is to happen now.
    bool HoldMove(const std::shared_ptr<MaildirMailItem>& item, const std::shared_ptr<MaildirFolder>& target);

    // For the folder and item objects of this session.
    std::shared_ptr<MaildirFolder> InboxFolder();
    // ".Trash", created when missing.
    std::shared_ptr<MaildirFolder> Trash();
    // The subfolder ".name" when it exists as a Maildir, else null.
    std::shared_ptr<MaildirFolder> FindSubfolder(const std::string& name);
    std::shared_ptr<MaildirFolder> AddSubfolder(const std::string& name);
    int CountSubfolders();
    NameSpacePtr NameSpaceObject();
    // ItemAdd subscribers of the folder at `path`, shared by every object of that folder.
    EventSource<ItemsEvents>& ItemAddEvents(const std::filesystem::path& path);
    EventSource<ApplicationEvents>& ItemSendEvents() noexcept { return itemSend_; }

private:
    class Applications;
    class SafeItems;

    // The record, read and pruned on first use.
    InboxRecord& Record();
    // The Inbox file whose unique part is `unique`, in new/ or cur/.
    std::optional<std::filesystem::path> FindInInbox(const std::string& unique) const;

    // A held move keeps the file's name, not the item: a group's messages are not kept in memory.
    struct HeldMove {
        std::filesystem::path file;
        std::shared_ptr<MaildirFolder> target;
        std::string unique;
    };
    // Moves a held message's file, found again by its unique part when a mail reader renamed it
    // meanwhile; raises the target's ItemAdd when anyone listens.
    void MoveHeld(const HeldMove& move);
    struct Group {
        std::vector<HeldMove> moves;
        std::vector<JournalEntry> journaled;  // written before the commit
    };
    bool IsHeld(const std::string& unique) const;
    // The item for the message file `file` of status `info`, parsed into `message` (null: no mail).
    ItemPtr ItemOf(const std::filesystem::path& file, const struct stat& info, std::shared_ptr<MimeMessage> message);
    // Writes the record's held entries; the failure's description, or "".
    std::string WriteHeldEntries();
    // Journal entries whose messages wait for the next replay; not due until then.
    void KeepUnresolved(const std::vector<JournalEntry>& entries);
    // The folder a journal entry's message moves to (".Name" under the root); null: it stays.
    std::shared_ptr<MaildirFolder> FolderOfEntry(const std::string& target);

    std::filesystem::path inbox_;
    std::optional<InboxRecord> record_;
    std::optional<Group> group_;
    ArrivalJournal journal_;
    // The journal's entries left by earlier groups and not resolved yet, and their messages,
    // which are not due until they are.
    std::vector<JournalEntry> unresolved_;
    std::set<std::string> journaled_;
    std::unique_ptr<ReadAhead> readAhead_;
    EventSource<ApplicationEvents> itemSend_;
    std::map<std::filesystem::path, std::unique_ptr<EventSource<ItemsEvents>>> itemAdd_;
    std::unique_ptr<ApplicationFactory> factory_;
    std::unique_ptr<SafeMailItemFactory> safeItems_;
};

}  // namespace vexa::maildir
