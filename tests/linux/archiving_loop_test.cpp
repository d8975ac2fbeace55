// The archiving loop of scan and watch on a real installation in a temporary home: the order the
// faxes arrive in, what a failure that may pass leaves (the mail still due, the pause before the
// next try growing to its cap) against one that will not (the mail recorded as failed), and the
// group journal a crash left, replayed so that a committed fax is never archived twice.
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "adapters/posix/record_registry.h"
#include "adapters/sqlite/sqlite_archive.h"
#include "adapters/sqlite/sqlite_queries.h"
#include "host/retry_schedule.h"
#include "linux/archiving_loop.h"
#include "linux/environment.h"
#include "tests/linux/test_folder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using linuxhost::ArchivingLoop;
using linuxhost::HandledArrival;
using linuxhost::MailboxKind;
using linuxhost::Runtime;

// No dialog is answered: a loop that needed one would stall a watcher.
class NoDialogs final : public DialogToolkit {
public:
    void ShowModal(DialogForm&) override {}
};

std::string Mail(const std::string& from, const std::string& subject) {
    return "From: " + from + "\nTo: ann@example.org\nDate: Tue, 14 Mar 2023 08:15:37 +0000\nSubject: " + subject +
           "\nMIME-Version: 1.0\nContent-Type: multipart/mixed; boundary=\"b\"\n\n--b\nContent-Type: text/plain\n\n"
           "* The reference number for this fax is " + subject + ".\n\n--b\nContent-Type: image/tiff; name=\"fax.tif\"\n"
           "Content-Transfer-Encoding: base64\nContent-Disposition: attachment; filename=\"fax.tif\"\n\n"
           "SUkqAAgAAAD//g==\n--b--\n";
}
std::string Fax(const std::string& subject) { return Mail("eFax <message@inbound.efax.com>", subject); }
std::string Letter(const std::string& subject) { return Mail("Bob <bob@example.net>", subject); }

// What keeps a store failing until it is let go of.
using Hold = std::shared_ptr<void>;

// Another process writing to the archive for longer than a store waits for it: busy, which passes.
Hold LockTheArchive(const fs::path& home) {
    sqlite3* db = nullptr;
    EXPECT_EQ(sqlite3_open((home / kArchiveFileName).c_str(), &db), SQLITE_OK);
    EXPECT_EQ(sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    return Hold(db, [](void* held) { sqlite3_close_v2(static_cast<sqlite3*>(held)); });
}

// A file where the Attach folder should be: no fax can be stored, and waiting mends nothing.
Hold BlockTheAttachFolder(const fs::path& home) {
    fs::remove_all(home / "Attach");
    std::ofstream(home / "Attach") << "in the way";
    return Hold(nullptr, [home](void*) {
        fs::remove(home / "Attach");
        fs::create_directory(home / "Attach");
    });
}

// An installation (archive, Attach, record) and a Maildir under a home of the test's own.
class ArchivingLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::FreshTestFolder("vexa-loop-");
        for (const char* variable : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"}) {
            ::setenv(variable, (root / variable).c_str(), 1);
        }
        home = root / "vexa";
        fs::create_directories(home / "Attach");
        sqlite::CreateSqliteArchive((home / kArchiveFileName).string());
        posix::RecordRegistry(posix::DefaultRecordPath())
            .SetDefaultValue(kHkeyLocalMachine, linuxhost::kAppPathsKey, (home / linuxhost::kModuleFileName).string());
        inbox = root / "Maildir";
        for (const char* sub : {"cur", "new", "tmp"}) fs::create_directories(inbox / sub);
    }
    void TearDown() override { fs::remove_all(root); }

    // Delivered in this order: each one a second older than the next.
    void Deliver(const std::vector<std::string>& mails) {
        const auto now = fs::file_time_type::clock::now();
        for (std::size_t i = 0; i < mails.size(); ++i) {
            // Named against the order, so that only the delivery time can put them in it.
            const fs::path file = inbox / "new" / (std::to_string(100 - i) + ".host");
            std::ofstream(file) << mails[i];
            fs::last_write_time(file, now - std::chrono::seconds(mails.size() - i));
        }
    }
    std::vector<std::string> InboxNames() const {
        std::vector<std::string> names;
        for (const char* sub : {"new", "cur"}) {
            for (const auto& entry : fs::directory_iterator(inbox / sub)) names.push_back(entry.path().filename().string());
        }
        return names;
    }
    std::int64_t ArchivedFaxes() {
        return sqlite::SqliteArchiveQueries((home / kArchiveFileName).string()).Count(ListQuery{});
    }

    // One scan pass in a runtime of its own; the subjects of the archived faxes, in order.
    struct Pass {
        linuxhost::ScanTally tally;
        bool stopped = false;
        std::vector<std::string> archived;
    };
    // `more` goes on with the loop after its pass.
    Pass Scan(const std::function<void(ArchivingLoop&)>& more = {}) {
        Pass pass;
        NoDialogs dialogs;
        Runtime runtime({inbox.string()}, dialogs);
        EXPECT_TRUE(runtime.Connect());
        ArchivingLoop loop(runtime, MailboxKind::Maildir, [&](const HandledArrival& handled) {
            if (handled.result == linuxhost::ArrivalResult::Incoming) pass.archived.push_back(handled.subject);
        });
        loop.Pass(false);
        if (more) more(loop);
        pass.tally = loop.Tally();
        pass.stopped = loop.Stopped();
        return pass;
    }

    fs::path root, home, inbox;
};

TEST(RetryScheduleTest, PausesDoubleToTheLongestAndStartOverOnceATryWentThrough) {
    struct Row {
        const char* what;
        RetrySchedule schedule;
        std::vector<std::chrono::milliseconds> pauses;
    };
    const std::vector<Row> rows = {
        {"an IMAP server", RetrySchedule(1s, 5min), {1s, 2s, 4s, 8s, 16s, 32s, 64s, 128s, 256s, 300s}},
        {"a busy archive server", RetrySchedule(50ms, 2s), {50ms, 100ms, 200ms, 400ms, 800ms, 1600ms, 2s, 2s}},
    };
    for (const Row& row : rows) {
        RetrySchedule schedule = row.schedule;
        for (std::size_t attempt = 0; attempt < row.pauses.size(); ++attempt) {
            EXPECT_EQ(schedule.PauseAfter(static_cast<int>(attempt)), row.pauses[attempt]) << row.what << " " << attempt;
            EXPECT_EQ(schedule.Next(), row.pauses[attempt]) << row.what << " " << attempt;
        }
        schedule.Reset();
        EXPECT_EQ(schedule.Next(), row.pauses.front()) << row.what;
    }
}

// What a pass does with the Inbox while `hold` keeps the stores failing; then what a second pass
// does once it let go.
TEST_F(ArchivingLoopTest, FaxesArriveInOrderAndOnlyAPassingFailureLeavesThemDue) {
    struct Row {
        const char* what;
        std::function<Hold(const fs::path& home)> hold;
        std::vector<std::string> archivedFirst;
        int failedFirst;
        bool stoppedFirst;
        std::vector<std::string> archivedAfter;
    };
    const std::vector<Row> rows = {
        {"oldest first, letters left alone", {}, {"FI-1", "FI-2", "FI-3"}, 0, false, {}},
        {"a busy archive: the first fails, all stay due", LockTheArchive, {}, 1, true, {"FI-1", "FI-2", "FI-3"}},
        {"no folder to store in: recorded as failed, not tried again", BlockTheAttachFolder, {}, 3, false, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        TearDown();
        SetUp();
        Deliver({Fax("FI-1"), Letter("lunch"), Fax("FI-2"), Fax("FI-3")});
        Hold held = row.hold ? row.hold(home) : nullptr;
        const Pass first = Scan();
        EXPECT_EQ(first.archived, row.archivedFirst);
        EXPECT_EQ(first.tally.failed, row.failedFirst);
        EXPECT_EQ(first.stopped, row.stoppedFirst);
        held.reset();
        EXPECT_EQ(Scan().archived, row.archivedAfter);
        EXPECT_EQ(ArchivedFaxes(), static_cast<std::int64_t>(row.archivedFirst.size() + row.archivedAfter.size()));
    }
}

// The loop's own schedule, a watched Maildir's.
TEST_F(ArchivingLoopTest, EachStopWaitsLongerUntilTheArchiveAnswersAgain) {
    Scan([](ArchivingLoop& loop) {
        const auto pause = [&] {
            loop.StopForNow();
            const auto left = std::chrono::ceil<std::chrono::seconds>(*loop.RetryAt() - ArchivingLoop::Clock::now());
            loop.Resume();
            return left;
        };
        for (const auto expected : {5s, 10s, 20s, 40s, 80s, 160s, 300s, 300s}) EXPECT_EQ(pause(), expected);
        loop.Answered();
        EXPECT_EQ(pause(), 5s);
    });
}

// A crash between the group's commit and its moves: the fax's row is there, the mail still in
// the Inbox, the journal standing for the move.
TEST_F(ArchivingLoopTest, TheJournalOfAGroupCutShortMovesTheCommittedFaxesWithoutArchivingThemAgain) {
    Deliver({Fax("FI-1"), Letter("lunch")});
    {
        NoDialogs dialogs;
        Runtime runtime({inbox.string()}, dialogs);
        ASSERT_TRUE(runtime.Connect());
        runtime.Archive().BeginGroup();
        runtime.Files().BeginGroup();
        runtime.Session().BeginGroup();
        const auto due = runtime.Session().DueArrivals(false);
        ASSERT_EQ(due.size(), 2u);
        const HandledArrival handled = linuxhost::HandleArrival(runtime, due.front(), false);
        ASSERT_EQ(handled.result, linuxhost::ArrivalResult::Incoming);
        runtime.Files().SyncGroup();
        runtime.Session().JournalGroup({{handled.unique, handled.detail}});
        runtime.Archive().CommitGroup();
        // The process ends here: no moves, no shutdown.
        runtime.Files().LeaveGroup();
        static_cast<void>(runtime.Session().LeaveGroup());
    }
    EXPECT_EQ(ArchivedFaxes(), 1);
    const Pass replayed = Scan();
    EXPECT_TRUE(replayed.archived.empty());
    EXPECT_EQ(replayed.tally.leftAlone, 1);
    EXPECT_EQ(ArchivedFaxes(), 1);
    EXPECT_EQ(InboxNames().size(), 1u);  // the letter
}

}  // namespace
}  // namespace vexa
