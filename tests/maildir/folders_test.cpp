// The Maildir on disk: arrival order, read flags, moves between folders, the trash and the
// creation of folders, checked by the file names and folders left behind, and what Dovecot reads
// beside them: keyword lists, subscriptions and the change times it rescans by.
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/maildir/dovecot_keywords.h"
#include "adapters/maildir/maildir_files.h"
#include "adapters/maildir/subscriptions.h"
#include "host/application.h"
#include "tests/maildir/maildir_fixture.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using test::ItemAddRecorder;
using test::Names;
using test::ReadBytes;
using test::TempMaildir;

std::string Mail(const std::string& subject) {
    return "From: message@inbound.efax.com\nTo: fax@example.com\nSubject: " + subject + "\n\nbody\n";
}

std::vector<std::string> FileNames(const std::vector<fs::path>& paths) {
    std::vector<std::string> names;
    for (const auto& path : paths) names.push_back(path.parent_path().filename().string() + "/" + path.filename().string());
    return names;
}

TEST(MaildirFoldersTest, InboxMessagesAreOldestFirstThenByName) {
    TempMaildir maildir;
    test::SetModified(maildir.Put("new", "c", Mail("third")), 300);
    test::SetModified(maildir.Put("cur", "a:2,S", Mail("first")), 100);
    test::SetModified(maildir.Put("new", "b2", Mail("second, same time")), 200);
    test::SetModified(maildir.Put("cur", "b1:2,", Mail("second")), 200);
    maildir.Put("tmp", "being-delivered", Mail("not yet"));
    maildir.Put("new", ".hidden", Mail("hidden"));

    const auto session = maildir.Session();
    EXPECT_EQ(FileNames(session->InboxMessages()),
              (std::vector<std::string>{"cur/a:2,S", "cur/b1:2,", "new/b2", "new/c"}));

    auto items = session->Inbox()->Items();
    ASSERT_EQ(items->Count(), 4);
    EXPECT_EQ(As<MailItem>(items->Item(1))->Subject(), "first");
    EXPECT_EQ(As<MailItem>(items->Item(4))->Subject(), "third");
    EXPECT_THROW(items->Item(0), HostError);
    EXPECT_THROW(items->Item(5), HostError);
}

TEST(MaildirFoldersTest, ReadStateIsTheSeenFlagOfTheFileName) {
    struct Case {
        const char* place;
        const char* name;
        bool unreadBefore;
        bool setUnread;
        const char* expected;
    };
    const Case cases[] = {
        {"new", "1.A.host", true, false, "cur/1.A.host:2,S"},
        {"cur", "2.B.host:2,FR", true, false, "cur/2.B.host:2,FRS"},
        {"cur", "3.C.host:2,FRS", false, true, "cur/3.C.host:2,FR"},
        {"cur", "4.D.host:2,S", false, false, "cur/4.D.host:2,S"},
        {"new", "5.E.host", true, true, "new/5.E.host"},
        {"cur", "6.F.host", true, false, "cur/6.F.host:2,S"},
        {"cur", "7.G.host:2,T", true, false, "cur/7.G.host:2,ST"},
    };
    TempMaildir maildir;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string bytes = Mail(c.name);
        const auto file = maildir.Put(c.place, c.name, bytes);
        auto item = maildir.Load(file);
        ASSERT_NE(item, nullptr);
        EXPECT_EQ(item->UnRead(), c.unreadBefore);

        item->SetUnRead(c.setUnread);

        const auto expected = maildir.Root() / c.expected;
        EXPECT_EQ(ReadBytes(expected), bytes);
        if (expected != file) {
            EXPECT_FALSE(fs::exists(file));
        }
        EXPECT_EQ(item->File(), expected);
        EXPECT_EQ(item->UnRead(), c.setUnread);
        // The item follows its file: a second change starts from the new name.
        item->SetUnRead(!c.setUnread);
        EXPECT_EQ(item->UnRead(), !c.setUnread);
        EXPECT_TRUE(fs::exists(*item->File()));
    }
}

TEST(MaildirFoldersTest, MoveKeepsNameFlagsAndPlaceAndAnnouncesTheArrival) {
    TempMaildir maildir;
    const auto session = maildir.Session();
    auto archive = session->Inbox()->Folders()->Add("Archive");
    ItemAddRecorder arrivals;
    auto subscription = archive->Items()->Advise(arrivals);

    auto read = maildir.Load(maildir.Put("cur", "1.A.host:2,FS", Mail("read")));
    auto unread = maildir.Load(maildir.Put("new", "2.B.host", Mail("unread")));
    ASSERT_TRUE(read && unread);

    EXPECT_EQ(read->Move(archive), read);
    unread->Move(archive);

    const auto folder = maildir.Root() / ".Archive";
    EXPECT_EQ(Names(folder / "cur"), std::vector<std::string>{"1.A.host:2,FS"});
    EXPECT_EQ(Names(folder / "new"), std::vector<std::string>{"2.B.host"});
    EXPECT_TRUE(Names(maildir.Root() / "cur").empty());
    EXPECT_TRUE(Names(maildir.Root() / "new").empty());
    EXPECT_EQ(read->File(), folder / "cur" / "1.A.host:2,FS");
    ASSERT_EQ(arrivals.added.size(), 2u);
    EXPECT_EQ(arrivals.added[0], read);
    EXPECT_EQ(arrivals.added[1], unread);
    EXPECT_EQ(archive->Items()->Count(), 2);
    EXPECT_EQ(read->Subject(), "read") << "the moved item still reads its message";
}

// The folder's names are not listed again for every move; a name another program put there
// since the last move must still be seen (its change is dated apart from that move's here).
TEST(MaildirFoldersTest, AMoveSeesANameTakenSinceTheLastMoveIntoTheFolder) {
    TempMaildir maildir;
    auto archive = maildir.Session()->Inbox()->Folders()->Add("Archive");
    auto first = maildir.Load(maildir.Put("new", "1.A.host", Mail("first")));
    ASSERT_NE(first, nullptr);
    first->Move(archive);
    const auto takenFile = maildir.Put(".Archive/cur", "2.B.host:2,S", "already there");
    test::SetModified(maildir.Root() / ".Archive" / "cur", 1000);
    auto second = maildir.Load(maildir.Put("new", "2.B.host", Mail("second")));
    ASSERT_NE(second, nullptr);

    second->Move(archive);

    EXPECT_EQ(ReadBytes(takenFile), "already there");
    const auto names = Names(maildir.Root() / ".Archive" / "new");
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "1.A.host");
    EXPECT_NE(names[1], "2.B.host");
    EXPECT_EQ(ReadBytes(*second->File()), Mail("second"));
}

TEST(MaildirFoldersTest, MoveToATakenNameGivesAFreshNameWithTheSameFlags) {
    struct Case {
        const char* place;
        const char* name;
        const char* taken;
        const char* base;
        const char* info;
    };
    const Case cases[] = {
        {"cur", "1.A.host:2,FS", "1.A.host:2,S", "1.A.host", ":2,FS"},
        {"new", "2.B.host", "2.B.host", "2.B.host", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempMaildir maildir;
        auto archive = maildir.Session()->Inbox()->Folders()->Add("Archive");
        const auto takenFile = maildir.Put(std::string(".Archive/") + c.place, c.taken, "already there");
        auto item = maildir.Load(maildir.Put(c.place, c.name, Mail("moved")));
        ASSERT_NE(item, nullptr);

        item->Move(archive);

        EXPECT_EQ(ReadBytes(takenFile), "already there");
        const auto names = Names(maildir.Root() / ".Archive" / c.place);
        ASSERT_EQ(names.size(), 2u);
        const std::string fresh = names[0] == c.taken ? names[1] : names[0];
        EXPECT_EQ(item->File(), maildir.Root() / ".Archive" / c.place / fresh);
        EXPECT_EQ(ReadBytes(*item->File()), Mail("moved"));
        const std::string info = c.info;
        EXPECT_TRUE(fresh.ends_with(info)) << fresh;
        const std::string base = fresh.substr(0, fresh.size() - info.size());
        EXPECT_NE(base, c.base);
        EXPECT_EQ(base.find(':'), std::string::npos) << fresh;
    }
}

TEST(MaildirFoldersTest, MoveOnlyIntoFoldersOfTheSameSession) {
    TempMaildir maildir;
    TempMaildir other;
    auto item = maildir.Load(maildir.Put("cur", "1.A.host:2,S", Mail("x")));
    ASSERT_NE(item, nullptr);
    try {
        item->Move(other.Session()->Inbox());
        FAIL() << "moved into another session's folder";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Number(), error::kTypeMismatch);
    }
    EXPECT_TRUE(fs::exists(maildir.Root() / "cur" / "1.A.host:2,S"));
}

TEST(MaildirFoldersTest, DeleteMovesToTrashAndDeletingThereRemovesTheFile) {
    TempMaildir maildir;
    const auto session = maildir.Session();
    auto item = maildir.Load(maildir.Put("cur", "1.A.host:2,RS", Mail("gone")));
    ASSERT_NE(item, nullptr);
    ASSERT_FALSE(fs::exists(maildir.Root() / ".Trash"));

    item->Delete();

    const auto trash = maildir.Root() / ".Trash";
    EXPECT_EQ(Names(trash), (std::vector<std::string>{"cur", "maildirfolder", "new", "tmp"}));
    EXPECT_EQ(Names(trash / "cur"), std::vector<std::string>{"1.A.host:2,RS"});
    EXPECT_TRUE(Names(maildir.Root() / "cur").empty());

    auto deletedItems = session->NewApplication()->GetNamespace("MAPI")->GetDefaultFolder(kOlFolderDeletedItems);
    EXPECT_EQ(deletedItems->Name(), "Trash");
    EXPECT_EQ(deletedItems->Items()->Count(), 1);

    item->Delete();
    EXPECT_TRUE(Names(trash / "cur").empty());
    EXPECT_FALSE(item->File().has_value());
}

TEST(MaildirFoldersTest, AddCreatesAMaildirPlusPlusFolder) {
    TempMaildir maildir;
    auto folders = maildir.Session()->Inbox()->Folders();
    EXPECT_EQ(folders->Count(), 0);

    auto added = folders->Add("Fax Archive");

    EXPECT_EQ(added->Name(), "Fax Archive");
    const auto folder = maildir.Root() / ".Fax Archive";
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"cur", "maildirfolder", "new", "tmp"}));
    EXPECT_EQ(fs::file_size(folder / "maildirfolder"), 0u);
    EXPECT_EQ(folders->Count(), 1);
    EXPECT_EQ(folders->Item("Fax Archive")->Name(), "Fax Archive");
    EXPECT_EQ(added->Items()->Count(), 0);
    try {
        folders->Add("Fax Archive");
        FAIL() << "added a folder twice";
    } catch (const HostError& e) {
        EXPECT_EQ(e.Description(), "The folder \"Fax Archive\" already exists.");
    }
}

// A crash while a folder was made by an older version left the directory without its
// subfolders: neither found nor creatable, it stopped every later move into it.
TEST(MaildirFoldersTest, AddCompletesHalfAFolderAndLeavesNothingInTmp) {
    TempMaildir maildir;
    const auto folder = maildir.Root() / ".Fax Archive";
    fs::create_directories(folder / "cur");
    auto folders = maildir.Session()->Inbox()->Folders();
    EXPECT_EQ(folders->Count(), 0);

    EXPECT_EQ(folders->Add("Fax Archive")->Name(), "Fax Archive");
    EXPECT_EQ(Names(folder), (std::vector<std::string>{"cur", "maildirfolder", "new", "tmp"}));
    EXPECT_EQ(folders->Item("Fax Archive")->Name(), "Fax Archive");
    folders->Add("Second");
    EXPECT_TRUE(Names(maildir.Root() / "tmp").empty());
}

TEST(MaildirFoldersTest, AddRefusesNamesThatAreNoFolderName) {
    TempMaildir maildir;
    auto folders = maildir.Session()->Inbox()->Folders();
    for (const std::string& name : std::vector<std::string>{"", "a/b", ".hidden", "tab\there", std::string("nul\0", 4)}) {
        EXPECT_THROW(folders->Add(name), HostError) << name;
    }
    EXPECT_EQ(Names(maildir.Root()), (std::vector<std::string>{"cur", "new", "tmp"}));
}

TEST(MaildirFoldersTest, ItemOfAnAbsentFolderFails) {
    TempMaildir maildir;
    fs::create_directories(maildir.Root() / ".NotAMaildir");
    auto folders = maildir.Session()->Inbox()->Folders();
    folders->Add("Faxes");
    for (const std::string name : {"Missing", "faxes", "NotAMaildir", "../Maildir"}) {
        try {
            folders->Item(name);
            FAIL() << "found " << name;
        } catch (const HostError& e) {
            EXPECT_EQ(e.Description(), "The folder \"" + name + "\" does not exist.");
        }
    }
    EXPECT_EQ(folders->Count(), 1) << "a dot folder without cur/new/tmp is no folder";
}

TEST(MaildirFoldersTest, KeywordLettersAreTranslatedByName) {
    using maildir::KeywordNames;
    struct Case {
        const char* flags;
        KeywordNames from;
        KeywordNames to;
        const char* expected;
        KeywordNames toAfter;
    };
    const std::string lots = "abcdefghijklmnopqrstuvwxyz";
    KeywordNames full;
    for (const char c : lots) full.push_back(std::string("K") + c);
    const Case cases[] = {
        {"FS", {"Work"}, {}, "FS", {}},
        {"Sa", {"Work"}, {"Work"}, "Sa", {"Work"}},
        {"Sa", {"Work"}, {"Private", "Work"}, "Sb", {"Private", "Work"}},
        {"ab", {"Work", "Private"}, {"Private"}, "ab", {"Private", "Work"}},
        {"Sc", {"", "", "Urgent"}, {"Other"}, "Sb", {"Other", "Urgent"}},
        {"a", {"Work"}, {"Other", ""}, "b", {"Other", "Work"}},
        {"b", {}, {}, "b", {}},
        {"b", {}, {"x", "Taken"}, "", {"x", "Taken"}},
        {"ab", {"", "Work"}, {}, "a", {"Work"}},
        {"Sa", {"New"}, full, "S", full},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.flags);
        KeywordNames to = c.to;
        EXPECT_EQ(maildir::TranslateKeywords(c.flags, c.from, to), c.expected);
        EXPECT_EQ(to, c.toAfter);
    }
    EXPECT_EQ(maildir::ParseKeywords("0 Work\n2 $Label1\nbad\n30 Far\n1 \n"), (KeywordNames{"Work", "", "$Label1"}));
    EXPECT_EQ(maildir::FormatKeywords({"Work", "", "$Label1"}), "0 Work\n2 $Label1\n");
}

TEST(MaildirFoldersTest, MovedMessagesKeepTheirKeywordNames) {
    TempMaildir maildir;
    test::WriteBytes(maildir.Root() / "dovecot-keywords", "0 Work\n1 Private\n2 Urgent\n");
    auto archive = maildir.Session()->Inbox()->Folders()->Add("Archive");
    const auto folder = maildir.Root() / ".Archive";
    test::WriteBytes(folder / "dovecot-keywords", "0 Urgent\n");
    auto item = maildir.Load(maildir.Put("cur", "1.A.host:2,Sac", Mail("tagged")));
    auto plain = maildir.Load(maildir.Put("new", "2.B.host", Mail("plain")));
    ASSERT_TRUE(item && plain);

    item->Move(archive);
    plain->Move(archive);

    EXPECT_EQ(Names(folder / "cur"), std::vector<std::string>{"1.A.host:2,Sab"});
    EXPECT_EQ(test::ReadBytes(folder / "dovecot-keywords"), "0 Urgent\n1 Work\n");
    EXPECT_EQ(Names(folder / "new"), std::vector<std::string>{"2.B.host"});
    EXPECT_EQ(test::ReadBytes(maildir.Root() / "dovecot-keywords"), "0 Work\n1 Private\n2 Urgent\n");
    EXPECT_FALSE(fs::exists(folder / "dovecot-keywords.lock"));
}

TEST(MaildirFoldersTest, CreatedFoldersAreSubscribedOnce) {
    struct Case {
        const char* before;
        const char* name;
        std::optional<std::string> after;
    };
    const Case cases[] = {
        {"", "VX2 Messages", "V\t2\n\nVX2 Messages\n"},
        {"V\t2\n\nA\tB\n", "Faxes.Old", "V\t2\n\nA\tB\nFaxes\tOld\n"},
        {"V\t2\n\nVX2 Messages\n", "VX2 Messages", std::nullopt},
        {"V\t2\n\nA\tB", "A.B", std::nullopt},
        {"Sent\nA.B\n", "VX2 Messages", "Sent\nA.B\nVX2 Messages\n"},
        {"Sent", "Sent", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(maildir::WithSubscription(c.before, c.name), c.after);
    }

    TempMaildir maildir;
    auto folders = maildir.Session()->Inbox()->Folders();
    folders->Add("VX2 Messages");
    fs::remove_all(maildir.Root() / ".VX2 Messages");
    folders->Add("VX2 Messages");
    maildir.Session()->Trash();
    EXPECT_EQ(test::ReadBytes(maildir.Root() / "subscriptions"), "V\t2\n\nVX2 Messages\nTrash\n");
    EXPECT_FALSE(fs::exists(maildir.Root() / "subscriptions.lock"));
}

// A process killed while subscribing leaves its lock; the store folder is made all the same.
TEST(MaildirFoldersTest, ALeftoverSubscriptionLockDoesNotStopTheFolder) {
    TempMaildir maildir;
    test::WriteBytes(maildir.Root() / "subscriptions.lock", "");
    maildir.Session()->Inbox()->Folders()->Add("VX2 Messages");
    EXPECT_TRUE(fs::is_directory(maildir.Root() / ".VX2 Messages" / "cur"));
}

// A lock left for minutes by a dead process is taken over, and nothing of it stays behind.
TEST(MaildirFoldersTest, AStaleSubscriptionLockIsTakenOver) {
    TempMaildir maildir;
    const auto lock = maildir.Root() / "subscriptions.lock";
    test::WriteBytes(lock, "");
    test::SetModified(lock, std::time(nullptr) - 3600);
    maildir.Session()->Inbox()->Folders()->Add("VX2 Messages");
    EXPECT_EQ(ReadBytes(maildir.Root() / "subscriptions"), "V\t2\n\nVX2 Messages\n");
    EXPECT_EQ(Names(maildir.Root()), (std::vector<std::string>{".VX2 Messages", "cur", "new", "subscriptions", "tmp"}));
}

// Dovecot rescans a folder when its cur/ changes; a message renamed out of new/ alone stayed on
// the screen of a client idling on the Inbox.
TEST(MaildirFoldersTest, MovingOutTouchesTheSourceFolderForDovecot) {
    TempMaildir maildir;
    auto archive = maildir.Session()->Inbox()->Folders()->Add("Archive");
    auto item = maildir.Load(maildir.Put("new", "1.A.host", Mail("fax")));
    ASSERT_NE(item, nullptr);
    test::SetModified(maildir.Root() / "cur", 1000);

    item->Move(archive);

    EXPECT_GT(fs::last_write_time(maildir.Root() / "cur").time_since_epoch(),
              fs::file_time_type::clock::now().time_since_epoch() - std::chrono::hours(1));

    // The announcement a moment later changes cur/ again and leaves nothing in it.
    test::SetModified(maildir.Root() / "cur", 1000);
    maildir::AnnounceRemovals(maildir.Root());
    EXPECT_GT(fs::last_write_time(maildir.Root() / "cur").time_since_epoch(),
              fs::file_time_type::clock::now().time_since_epoch() - std::chrono::hours(1));
    EXPECT_TRUE(fs::is_empty(maildir.Root() / "cur"));
}

// Dovecot moves new mail to cur/ (":2," added) the moment a client idles on the Inbox, which can
// be just while the message is handled: the item must still move, go to the trash or be marked.
TEST(MaildirFoldersTest, AMessageRenamedSinceItWasLoadedIsFoundAgain) {
    struct Case {
        const char* action;
        const char* from;      // where the item was loaded
        const char* renamed;   // where Dovecot put it meanwhile
        const char* expected;  // where the message ends up
    };
    const Case cases[] = {
        {"move", "new/1.A.host", "cur/1.A.host:2,", ".Archive/cur/1.A.host:2,"},
        {"delete", "new/2.B.host", "cur/2.B.host:2,", ".Trash/cur/2.B.host:2,"},
        {"read", "new/3.C.host", "cur/3.C.host:2,", "cur/3.C.host:2,S"},
        {"read", "cur/4.D.host:2,", "cur/4.D.host:2,F", "cur/4.D.host:2,FS"},
        {"delete", ".Trash/cur/5.E.host:2,", ".Trash/cur/5.E.host:2,S", ""},
    };
    TempMaildir maildir;
    auto archive = maildir.Session()->Inbox()->Folders()->Add("Archive");
    maildir.Session()->Trash();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.from);
        auto item = maildir.Load(maildir.Put("", c.from, Mail(c.from)));
        ASSERT_NE(item, nullptr);
        fs::rename(maildir.Root() / c.from, maildir.Root() / c.renamed);

        const std::string action = c.action;
        if (action == "move") item->Move(archive);
        if (action == "delete") item->Delete();
        if (action == "read") item->SetUnRead(false);

        EXPECT_FALSE(fs::exists(maildir.Root() / c.renamed));
        if (*c.expected == '\0') {
            EXPECT_FALSE(item->File().has_value());
            continue;
        }
        EXPECT_EQ(ReadBytes(maildir.Root() / c.expected), Mail(c.from));
        EXPECT_EQ(item->File(), maildir.Root() / c.expected);
    }
    EXPECT_TRUE(Names(maildir.Root() / "new").empty());
    EXPECT_EQ(Names(maildir.Root() / "cur"), (std::vector<std::string>{"3.C.host:2,S", "4.D.host:2,FS"}));

    // A message that is gone for good still fails.
    auto gone = maildir.Load(maildir.Put("new", "6.F.host", Mail("gone")));
    fs::remove(maildir.Root() / "new" / "6.F.host");
    EXPECT_THROW(gone->Move(archive), HostError);
}

}  // namespace
}  // namespace vexa
