#include "adapters/maildir/maildir_session.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <ctime>
#include <limits>
#include <set>
#include <system_error>
#include <tuple>

#include "adapters/maildir/maildir_files.h"
#include "adapters/maildir/mime_message.h"
#include "adapters/maildir/read_as_unread.h"
#include "host/host_error.h"

namespace vexa::maildir {
namespace fs = std::filesystem;
namespace {

constexpr const char* kTrashName = "Trash";
constexpr const char* kRecordName = "vexa-handled";
constexpr const char* kJournalName = "vexa-journal";

bool IsReadName(const std::string& name) { return SplitMessageName(name).flags.find('S') != std::string::npos; }

bool IsRead(const fs::path& file) { return IsReadName(file.filename().string()); }

HostError NotAMaildir(const fs::path& folder) {
    return HostError(ENOTDIR, folder.string() + " is not a Maildir (it needs cur, new and tmp)");
}

class MaildirApplication final : public Application {
public:
    explicit MaildirApplication(std::shared_ptr<MaildirSession> session) : session_(std::move(session)) {}

    Subscription Advise(ApplicationEvents& sink) override { return session_->ItemSendEvents().Advise(sink); }
    NameSpacePtr GetNamespace(const std::string& type) override {
        if (type != "MAPI") throw HostError(static_cast<std::int32_t>(0x80070057u), "The parameter is incorrect.");
        return session_->NameSpaceObject();
    }
    ExplorerPtr ActiveExplorer() override { return nullptr; }
    NameSpacePtr Session() override { return session_->NameSpaceObject(); }

private:
    std::shared_ptr<MaildirSession> session_;
};

class FixedAddress final : public SafeAddress {
public:
    explicit FixedAddress(std::string address) : address_(std::move(address)) {}
    std::string Address() override { return address_; }

private:
    std::string address_;
};

class FixedRecipients final : public SafeRecipients {
public:
    explicit FixedRecipients(const std::vector<MailAddress>& addresses) {
        for (const auto& address : addresses) items_.push_back(std::make_shared<FixedAddress>(address.address));
    }
    std::int32_t Count() override { return static_cast<std::int32_t>(items_.size()); }
    std::shared_ptr<SafeAddress> Item(std::int16_t index) override {
        if (index < 1 || index > Count()) throw IndexOutOfBounds();
        return items_[static_cast<std::size_t>(index - 1)];
    }

private:
    std::vector<std::shared_ptr<SafeAddress>> items_;
};

// The wrapper reads addresses straight from the message: a file has no security prompt to avoid.
class MaildirSafeMailItem final : public SafeMailItem {
public:
    void SetItem(const MailItemPtr& item) override {
        auto mail = std::dynamic_pointer_cast<MaildirMail>(item);
        if (!mail) throw error::TypeMismatch();
        item_ = std::move(mail);
    }
    std::shared_ptr<SafeAddress> Sender() override {
        const auto senders = Deref(item_).SenderAddresses();
        if (senders.empty()) return nullptr;
        return std::make_shared<FixedAddress>(senders.front().address);
    }
    std::shared_ptr<SafeRecipients> Recipients() override {
        return std::make_shared<FixedRecipients>(Deref(item_).RecipientAddresses());
    }

private:
    std::shared_ptr<MaildirMail> item_;
};

bool SameProgId(const std::string& a, const std::string& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

// The factory lives inside the session it serves, so it refers to it without owning it.
class MaildirSession::Applications final : public ApplicationFactory {
public:
    explicit Applications(MaildirSession& session) : session_(session) {}
    ApplicationPtr CreateApplication() override { return session_.NewApplication(); }

private:
    MaildirSession& session_;
};

class MaildirSession::SafeItems final : public SafeMailItemFactory {
public:
    std::shared_ptr<SafeMailItem> Create(const std::string& progId) override {
        // ProgIDs are looked up without regard to letter case.
        if (!SameProgId(progId, kSafeMailItemProgId)) {
            throw HostError(static_cast<std::int32_t>(0x800401F3u), "Invalid class string");
        }
        return std::make_shared<MaildirSafeMailItem>();
    }
};

std::shared_ptr<MaildirSession> MaildirSession::Open(const fs::path& inbox) {
    if (!IsMaildir(inbox)) throw NotAMaildir(inbox);
    EnsureGMime();
    std::error_code ec;
    fs::path path = fs::absolute(inbox, ec);
    if (ec) path = inbox;
    path = path.lexically_normal();
    // "Maildir/" and "Maildir" must name the same folder when paths are compared.
    if (!path.has_filename() && path.has_parent_path()) path = path.parent_path();
    return std::make_shared<MaildirSession>(Token{}, std::move(path));
}

MaildirSession::MaildirSession(Token, fs::path inbox)
    : inbox_(std::move(inbox)),
      journal_(inbox_ / kJournalName),
      factory_(std::make_unique<Applications>(*this)),
      safeItems_(std::make_unique<SafeItems>()) {}

std::shared_ptr<Application> MaildirSession::NewApplication() {
    return std::make_shared<MaildirApplication>(shared_from_this());
}

ApplicationFactory& MaildirSession::Factory() { return *factory_; }

SafeMailItemFactory& MaildirSession::SafeMailItems() { return *safeItems_; }

std::vector<fs::path> MaildirSession::InboxMessages() { return ListMessages(inbox_); }

void MaildirSession::RaiseItemAdd(const fs::path& file) { InboxFolder()->RaiseItemAdd(LoadItem(file)); }

std::vector<fs::path> MaildirSession::DueArrivals(bool includeRead) {
    return DueArrivals(includeRead, std::nullopt, std::numeric_limits<std::size_t>::max()).names;
}

MaildirSession::DuePiece MaildirSession::DueArrivals(bool includeRead, const std::optional<DuePlace>& after, std::size_t limit) {
    const InboxRecord& record = Record();
    const auto before = [](const DuePlace& a, const DuePlace& b) {
        return std::tie(a.mtime.tv_sec, a.mtime.tv_nsec, a.name) < std::tie(b.mtime.tv_sec, b.mtime.tv_nsec, b.name);
    };
    // A heap of the oldest `limit` seen so far, the newest of them on top: the memory of a scan
    // stays the same however many messages the Inbox holds. Names only: full paths, each split
    // into its parts, cost several times as much.
    std::vector<DuePlace> oldest;
    DuePiece piece;
    for (const char* place : {"new", "cur"}) {
        const fs::path dir = inbox_ / place;
        std::error_code ec;
        fs::directory_iterator it(dir, ec);
        for (const fs::directory_iterator end{}; !ec && it != end; it.increment(ec)) {
            std::string name = it->path().filename().string();
            if (name.starts_with('.')) continue;
            if (!includeRead && IsReadName(name)) continue;
            if (const std::string unique = UniqueNamePart(name); record.Contains(unique) || journaled_.contains(unique)) continue;
            struct stat info {};
            // A message taken by another reader between listing and stat is simply not there.
            if (::stat(it->path().c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
            DuePlace entry{info.st_mtim, std::move(name)};
            if (after && !before(*after, entry)) continue;
            ++piece.remaining;
            if (oldest.size() == limit) {
                if (limit == 0 || !before(entry, oldest.front())) continue;
                std::pop_heap(oldest.begin(), oldest.end(), before);
                oldest.back() = std::move(entry);
            } else {
                oldest.push_back(std::move(entry));
            }
            std::push_heap(oldest.begin(), oldest.end(), before);
        }
        if (ec) throw ErrnoError("Can't read " + dir.string(), ec.value());
    }
    std::sort_heap(oldest.begin(), oldest.end(), before);
    if (!oldest.empty()) piece.last = oldest.back();
    piece.names.reserve(oldest.size());
    // Bare names: a path of one part keeps the name's own buffer, where one of two parts holds
    // it twice and costs a list of its parts besides.
    for (auto& entry : oldest) piece.names.emplace_back(std::move(entry.name));
    return piece;
}

std::optional<MaildirSession::Arrival> MaildirSession::TakeArrival(const fs::path& file, bool includeRead) {
    std::optional<ReadAhead::Read> readAhead;
    if (readAhead_ && !file.has_parent_path()) readAhead = readAhead_->Take(file);
    const fs::path place = file.parent_path().filename();
    if (file.has_parent_path() && place != "new" && place != "cur") return std::nullopt;
    std::string unique = UniqueNamePart(file.filename().string());
    if (Record().Contains(unique) || IsHeld(unique) || journaled_.contains(unique)) return std::nullopt;
    if (readAhead && !readAhead->file.empty()) {
        // Read on the second thread; still under that name (not renamed or replaced since)?
        struct stat now {};
        if (::stat(readAhead->file.c_str(), &now) == 0 && now.st_ino == readAhead->info.st_ino &&
            now.st_dev == readAhead->info.st_dev) {
            const bool read = IsRead(readAhead->file);
            if (read && !includeRead) return std::nullopt;
            ItemPtr item = ItemOf(readAhead->file, readAhead->info, std::move(readAhead->message));
            if (auto mail = std::dynamic_pointer_cast<MaildirMailItem>(item); mail && readAhead->staged) {
                mail->SetStagedContent(std::move(readAhead->staged));
            }
            if (read) {
                if (auto mail = std::dynamic_pointer_cast<MaildirMailItem>(item)) item = std::make_shared<ReadAsUnread>(mail);
            }
            return Arrival{std::move(readAhead->file), std::move(unique), std::move(item)};
        }
    }
    // Spelled as the session spells the Inbox, so the item's moves can be told from staying. A
    // bare name (from DueArrivals) is looked for where its name says first: one with an info
    // part (":2,") in cur/, one without in new/.
    std::vector<fs::path> candidates;
    if (file.has_parent_path()) {
        candidates.push_back(inbox_ / place / file.filename());
    } else {
        const bool hasInfo = file.native().find(':') != std::string::npos;
        candidates.push_back(inbox_ / (hasInfo ? "cur" : "new") / file);
        candidates.push_back(inbox_ / (hasInfo ? "new" : "cur") / file);
    }
    std::optional<fs::path> found;
    for (auto& candidate : candidates) {
        struct stat info {};
        if (::stat(candidate.c_str(), &info) == 0) {
            found = std::move(candidate);
            break;
        }
    }
    // A mail reader or Dovecot renamed it since it was listed (new/ to cur/, other flags).
    if (!found) found = FindInInbox(unique);
    if (!found) return std::nullopt;
    fs::path path = std::move(*found);
    const bool read = IsRead(path);
    if (read && !includeRead) return std::nullopt;
    ItemPtr item = LoadItem(path);
    if (read) {
        if (auto mail = std::dynamic_pointer_cast<MaildirMailItem>(item)) item = std::make_shared<ReadAsUnread>(mail);
    }
    return Arrival{std::move(path), std::move(unique), std::move(item)};
}

void MaildirSession::RaiseArrival(const Arrival& arrival) {
    InboxFolder()->RaiseItemAdd(arrival.item);
    if (group_) {
        // Its move waits for the group's commit; until then the message is not handled twice.
        if (IsHeld(arrival.unique)) return;
    }
    // The item follows its file: a message the handler moved or deleted has left the Inbox and
    // needs no entry. A file that is no mail stays where it is.
    std::shared_ptr<MaildirMailItem> mail = std::dynamic_pointer_cast<MaildirMailItem>(arrival.item);
    if (const auto view = std::dynamic_pointer_cast<ReadAsUnread>(arrival.item)) mail = view->Mail();
    if (mail) {
        const auto& file = mail->File();
        if (!file) return;
        const fs::path place = file->parent_path();
        if (place != inbox_ / "new" && place != inbox_ / "cur") return;
    }
    if (group_) {
        Record().Hold(arrival.unique);
    } else {
        Record().Add(arrival.unique);
    }
}

void MaildirSession::ForgetArrival(const std::string& unique) { Record().Forget(unique); }

void MaildirSession::BeginGroup() { group_.emplace(); }

bool MaildirSession::HoldMove(const std::shared_ptr<MaildirMailItem>& item, const std::shared_ptr<MaildirFolder>& target) {
    if (!group_ || !item->File()) return false;
    const fs::path place = item->File()->parent_path();
    if (place != inbox_ / "new" && place != inbox_ / "cur") return false;
    group_->moves.push_back({*item->File(), target, UniqueNamePart(item->File()->filename().string())});
    return true;
}

void MaildirSession::MoveHeld(const HeldMove& move) {
    const auto moveFile = [&](const fs::path& file) {
        return MoveMessageFile(file, move.target->Path(), file.parent_path().filename().string(),
                               SplitMessageName(file.filename().string()));
    };
    fs::path moved;
    try {
        moved = moveFile(move.file);
    } catch (const HostError& e) {
        if (e.Number() != ENOENT) throw;
        const auto renamed = FindInInbox(move.unique);
        if (!renamed) throw;
        moved = moveFile(*renamed);
    }
    if (ItemAddEvents(move.target->Path()).SubscriberCount() > 0) move.target->RaiseItemAdd(LoadItem(moved));
}

bool MaildirSession::IsHeld(const std::string& unique) const {
    return group_ && std::ranges::any_of(group_->moves, [&](const HeldMove& move) { return move.unique == unique; });
}

std::vector<std::string> MaildirSession::FinishGroup() {
    std::vector<std::string> failures;
    if (!group_) return failures;
    const Group group = std::move(*group_);
    group_.reset();
    for (const auto& move : group.moves) {
        try {
            MoveHeld(move);
        } catch (...) {
            failures.push_back(CurrentErrorDescription());
            // Still in the Inbox after its arrival: as after any arrival that left it there.
            Record().Hold(move.unique);
        }
    }
    if (std::string failure = WriteHeldEntries(); !failure.empty()) failures.push_back(std::move(failure));
    if (failures.empty()) {
        // Every message of the group is where its row says: its entries have done their work.
        if (!group.journaled.empty()) {
            try {
                journal_.Rewrite(unresolved_);
            } catch (...) {
                // Left in the journal, they are found done by the next replay.
            }
        }
    } else {
        // The replay before the next pass finishes what is unfinished; until then these messages
        // are recorded here already and do not arrive again.
        KeepUnresolved(group.journaled);
    }
    return failures;
}

std::vector<std::string> MaildirSession::AbortGroup() {
    std::vector<std::string> failures;
    if (!group_) return failures;
    const Group group = std::move(*group_);
    group_.reset();
    if (!group.journaled.empty()) {
        // Not committed: the entries name rows that do not exist, and their messages are due.
        try {
            journal_.Rewrite(unresolved_);
        } catch (...) {
            failures.push_back(CurrentErrorDescription());
            KeepUnresolved(group.journaled);
        }
    }
    if (std::string failure = WriteHeldEntries(); !failure.empty()) failures.push_back(std::move(failure));
    return failures;
}

std::vector<std::string> MaildirSession::LeaveGroup() {
    std::vector<std::string> failures;
    if (!group_) return failures;
    const Group group = std::move(*group_);
    group_.reset();
    KeepUnresolved(group.journaled);
    if (std::string failure = WriteHeldEntries(); !failure.empty()) failures.push_back(std::move(failure));
    return failures;
}

void MaildirSession::JournalGroup(const std::vector<StoredArrival>& stored) {
    if (!group_) return;
    std::vector<JournalEntry> entries;
    for (const StoredArrival& arrival : stored) {
        std::string target;
        for (const HeldMove& move : group_->moves) {
            if (move.unique == arrival.unique) target = move.target->Path().filename().string();
        }
        entries.push_back({arrival.fileId, arrival.unique, std::move(target)});
    }
    journal_.Append(entries);
    group_->journaled = std::move(entries);
}

void MaildirSession::JournalArrival(const StoredArrival& arrival, const std::string& target) {
    const JournalEntry entry{arrival.fileId, arrival.unique, target};
    journal_.Append({entry});
    KeepUnresolved({entry});
}

void MaildirSession::KeepUnresolved(const std::vector<JournalEntry>& entries) {
    for (const JournalEntry& entry : entries) {
        unresolved_.push_back(entry);
        journaled_.insert(entry.unique);
    }
}

std::vector<std::string> MaildirSession::ReplayJournal(const CommittedQuery& committed) {
    std::vector<std::string> failures;
    std::vector<JournalEntry> entries = journal_.Read();
    // Until the replay has resolved them, none of these messages is due.
    unresolved_.clear();
    journaled_.clear();
    KeepUnresolved(entries);
    if (entries.empty()) return failures;
    // An entry whose message left the Inbox has nothing left to do.
    std::erase_if(entries, [&](const JournalEntry& entry) { return !FindInInbox(entry.unique); });
    std::vector<std::string> fileIds;
    for (const JournalEntry& entry : entries) fileIds.push_back(entry.fileId);
    const std::vector<bool> rows = fileIds.empty() ? std::vector<bool>{} : committed(fileIds);
    std::vector<JournalEntry> kept;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const JournalEntry& entry = entries[i];
        if (i >= rows.size() || !rows[i]) {
            // A row never committed: the message was not archived and is due again, also when
            // its arrival was recorded meanwhile.
            try {
                Record().Forget(entry.unique);
            } catch (...) {
                failures.push_back(CurrentErrorDescription());
                kept.push_back(entry);
            }
            continue;
        }
        try {
            const auto target = FolderOfEntry(entry.target);
            if (!target) {
                Record().Add(entry.unique);
                continue;
            }
            const auto file = FindInInbox(entry.unique);
            if (file) MoveHeld({*file, target, entry.unique});
        } catch (...) {
            failures.push_back(CurrentErrorDescription());
            // Archived all the same: kept in the Inbox and recorded, or left for the next replay.
            try {
                Record().Add(entry.unique);
            } catch (...) {
                kept.push_back(entry);
            }
        }
    }
    // Before anything is archived the journal must hold exactly what is unresolved: a stale
    // entry could name a row number that a later commit hands out again.
    journal_.Rewrite(kept);
    unresolved_.clear();
    journaled_.clear();
    KeepUnresolved(kept);
    return failures;
}

std::shared_ptr<MaildirFolder> MaildirSession::FolderOfEntry(const std::string& target) {
    // Only a folder right under the Maildir root, as the store procedures make them.
    if (!target.starts_with('.')) return nullptr;
    return FindSubfolder(target.substr(1));
}

std::string MaildirSession::WriteHeldEntries() {
    try {
        Record().WriteHeld();
        return "";
    } catch (...) {
        return CurrentErrorDescription();
    }
}

InboxRecord& MaildirSession::Record() {
    if (!record_) {
        const auto listing = [this] {
            std::set<std::string> present;
            for (const auto& file : InboxMessages()) present.insert(UniqueNamePart(file.filename().string()));
            return present;
        };
        InboxRecord record(inbox_ / kRecordName);
        // An empty or missing record has nothing to prune: a large Inbox is not listed for it.
        struct stat info {};
        if (::stat((inbox_ / kRecordName).c_str(), &info) != 0 || info.st_size == 0) {
            record.Load({}, [] { return std::set<std::string>{}; });
        } else {
            record.Load(listing(), listing);
        }
        record_.emplace(std::move(record));
    }
    return *record_;
}

std::optional<fs::path> MaildirSession::FindInInbox(const std::string& unique) const { return FindMessage(inbox_, unique); }

ItemPtr MaildirSession::LoadItem(const fs::path& file) {
    struct stat info {};
    if (::stat(file.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return std::make_shared<NotMailItem>();
    try {
        return ItemOf(file, info, MimeMessage::Parse(MimeMessage::OpenFile(file)));
    } catch (const HostError&) {
        // Unreadable is reported like any other file that is not a message.
        return std::make_shared<NotMailItem>();
    }
}

ItemPtr MaildirSession::ItemOf(const fs::path& file, const struct stat& info, std::shared_ptr<MimeMessage> message) {
    if (!message) return std::make_shared<NotMailItem>();
    std::error_code ec;
    fs::path path = fs::absolute(file, ec);
    if (ec) path = file;
    return std::make_shared<MaildirMailItem>(shared_from_this(), std::move(message), std::move(path), info.st_mtim.tv_sec);
}

void MaildirSession::ReadAheadOf(std::shared_ptr<const std::vector<fs::path>> names, std::optional<fs::path> stagingFolder) {
    readAhead_.reset();
    readAhead_ = std::make_unique<ReadAhead>(inbox_, std::move(names), std::move(stagingFolder));
}

void MaildirSession::EndReadAhead() noexcept { readAhead_.reset(); }

void MaildirSession::Retire(std::shared_ptr<MimeMessage> message) noexcept {
    if (readAhead_) readAhead_->Retire(std::move(message));
}

std::shared_ptr<MaildirMailItem> MaildirSession::ParseMessage(std::string bytes) {
    auto message = MimeMessage::Parse(MimeMessage::FromBytes(bytes));
    if (!message) {
        throw HostError(EINVAL, "The message read is not a mail message (it has no From, To, Subject or Date field).");
    }
    return std::make_shared<MaildirMailItem>(shared_from_this(), std::move(message), std::nullopt, std::time(nullptr));
}

bool MaildirSession::RaiseItemSend(const ItemPtr& item) {
    bool cancel = false;
    itemSend_.Raise([&](ApplicationEvents& sink) { sink.ItemSend(item, cancel); });
    return !cancel;
}

std::shared_ptr<MAPIFolder> MaildirSession::Inbox() { return InboxFolder(); }

std::shared_ptr<MaildirFolder> MaildirSession::InboxFolder() {
    return std::make_shared<MaildirFolder>(shared_from_this(), "Inbox", inbox_, true);
}

std::shared_ptr<MaildirFolder> MaildirSession::Trash() {
    const fs::path path = inbox_ / (std::string(".") + kTrashName);
    if (!IsMaildir(path)) {
        // Created on first use; when another process won the race the folder is there now.
        CreateMaildirFolder(path);
        if (!IsMaildir(path)) throw NotAMaildir(path);
    }
    return std::make_shared<MaildirFolder>(shared_from_this(), kTrashName, path, false);
}

std::shared_ptr<MaildirFolder> MaildirSession::FindSubfolder(const std::string& name) {
    if (!IsValidFolderName(name)) return nullptr;
    fs::path path = inbox_ / ("." + name);
    if (!IsMaildir(path)) return nullptr;
    return std::make_shared<MaildirFolder>(shared_from_this(), name, std::move(path), false);
}

std::shared_ptr<MaildirFolder> MaildirSession::AddSubfolder(const std::string& name) {
    if (!IsValidFolderName(name)) {
        throw HostError(EINVAL, "Cannot create the folder \"" + name +
                                    "\": a folder name must not be empty, contain \"/\" or control characters, "
                                    "or start with \".\".");
    }
    fs::path path = inbox_ / ("." + name);
    if (!CreateMaildirFolder(path)) throw HostError(EEXIST, "The folder \"" + name + "\" already exists.");
    return std::make_shared<MaildirFolder>(shared_from_this(), name, std::move(path), false);
}

int MaildirSession::CountSubfolders() {
    int count = 0;
    std::error_code ec;
    fs::directory_iterator it(inbox_, ec);
    for (const fs::directory_iterator end{}; !ec && it != end; it.increment(ec)) {
        const std::string entry = it->path().filename().string();
        if (entry.size() > 1 && entry[0] == '.' && IsValidFolderName(entry.substr(1)) && IsMaildir(it->path())) ++count;
    }
    if (ec) throw ErrnoError("Can't read " + inbox_.string(), ec.value());
    return count;
}

NameSpacePtr MaildirSession::NameSpaceObject() { return std::make_shared<MaildirNameSpace>(shared_from_this()); }

EventSource<ItemsEvents>& MaildirSession::ItemAddEvents(const fs::path& path) {
    auto& events = itemAdd_[path];
    if (!events) events = std::make_unique<EventSource<ItemsEvents>>();
    return *events;
}

}  // namespace vexa::maildir
