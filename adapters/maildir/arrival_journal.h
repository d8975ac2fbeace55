// The Maildir host's journal of a group commit: what each message of a group is about to become
// once the archive commits the group's rows. The rows are committed first and the messages leave
// the Inbox after; a crash, a full disk or a failed rename in between would leave an archived fax
// in the Inbox, unrecorded, and the next pass would archive it again. So before the commit each
// archived message's entry (its stored file's name, its unique name part, the folder it moves
// to) is written and synced to the file "vexa-journal" in the Maildir root; once the moves and
// the record are on disk the journal is emptied. Whatever is left in it is replayed before the
// next pass: the archive says whether the row of each entry was committed, and a committed one's
// message is moved (or recorded as handled), never archived again; an uncommitted one is simply
// due again.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vexa::maildir {

struct JournalEntry {
    std::string fileId;  // the stored file's name, which identifies the row
    std::string unique;  // the message's unique name part
    std::string target;  // the Maildir++ folder (".Name") the message moves to; "" to stay
    bool operator==(const JournalEntry&) const = default;
};

class ArrivalJournal {
public:
    explicit ArrivalJournal(std::filesystem::path file) : file_(std::move(file)) {}

    // The entries on disk, in the order written; none when the file is missing. Lines that are
    // not whole (a crash in the middle of a write) are skipped. Throws HostError when it cannot
    // be read.
    std::vector<JournalEntry> Read() const;
    // Adds `entries` and syncs them to disk before returning (the file is made, owner-only, when
    // missing). Throws HostError when they cannot be written.
    void Append(const std::vector<JournalEntry>& entries);
    // Replaces the journal's entries with `entries` (atomically); none empties the file. Throws
    // HostError when it cannot.
    void Rewrite(const std::vector<JournalEntry>& entries);

private:
    std::filesystem::path file_;
};

}  // namespace vexa::maildir
