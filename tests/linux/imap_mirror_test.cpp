// The IMAP mirror against a server kept in memory: which messages are fetched, what is done on
// the server after a pass, and what the highest UID handled becomes when a pass leaves messages
// due or the server refuses a move.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host/host_error.h"
#include "linux/imap_mirror.h"
#include "tests/linux/test_folder.h"

namespace vexa {
namespace {

namespace fs = std::filesystem;

class FakeServer final : public linuxhost::ImapServer {
public:
    struct Message {
        std::string folder = "INBOX";
        bool seen = false;
        std::set<std::string> keywords;
    };
    std::map<std::uint32_t, Message> messages;
    std::uint32_t uidValidity = 7;
    bool keywords = true;
    int refuseMoves = 0;  // how many moves fail, one after another
    std::set<std::uint32_t> goneBeforeFetch;  // expunged between their claim and their fetch

    Inbox SelectInbox() override { return {uidValidity, 100, keywords}; }
    std::vector<std::uint32_t> UidsAbove(std::uint32_t uid, bool includeSeen, const std::string& without) override {
        std::vector<std::uint32_t> uids;
        for (const auto& [id, message] : messages) {
            if (id > uid && message.folder == "INBOX" && (includeSeen || !message.seen) &&
                (without.empty() || !message.keywords.contains(without)))
                uids.push_back(id);
        }
        return uids;
    }
    void FetchToFile(std::uint32_t uid, int fd) override {
        const std::string bytes = "Subject: message " + std::to_string(uid) + "\n\n";
        ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    std::map<std::uint32_t, Header> HeadersOf(const std::vector<std::uint32_t>& uids, const std::vector<std::string>&) override {
        std::map<std::uint32_t, Header> headers;
        for (const auto uid : uids) {
            if (messages.contains(uid) && messages.at(uid).folder == "INBOX")
                headers[uid] = {20, "Subject: message " + std::to_string(uid) + "\n\n"};
        }
        return headers;
    }
    void FetchWhole(const std::vector<std::uint32_t>& uids,
                    const std::function<void(std::uint32_t, std::string_view)>& each) override {
        for (const auto uid : uids) {
            if (!goneBeforeFetch.contains(uid)) each(uid, "Subject: message " + std::to_string(uid) + "\n\n");
        }
    }
    std::map<std::uint32_t, std::vector<std::string>> FlagsOf(const std::vector<std::uint32_t>& uids) override {
        std::map<std::uint32_t, std::vector<std::string>> flags;
        for (const auto uid : uids) {
            const auto found = messages.find(uid);
            if (found == messages.end() || found->second.folder != "INBOX") continue;
            flags[uid] = {found->second.keywords.begin(), found->second.keywords.end()};
            if (found->second.seen) flags[uid].push_back("\\Seen");
        }
        return flags;
    }
    void AddFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) override {
        for (const auto uid : uids) {
            for (const auto& flag : flags) {
                if (flag == "\\Seen") messages.at(uid).seen = true;
                else if (keywords) messages.at(uid).keywords.insert(flag);
            }
        }
    }
    void RemoveFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) override {
        for (const auto uid : uids) {
            for (const auto& flag : flags) messages.at(uid).keywords.erase(flag);
        }
    }
    void MoveToChild(const std::vector<std::uint32_t>& uids, const std::string& name) override {
        if (refuseMoves > 0) {
            --refuseMoves;
            throw HostError(1, "connection cut");
        }
        for (const auto uid : uids) messages.at(uid).folder = name;
    }
    void MoveToTrash(const std::vector<std::uint32_t>& uids) override {
        for (const auto uid : uids) messages.at(uid).folder = "Trash";
    }
    std::vector<std::uint32_t> In(const std::string& folder) const {
        std::vector<std::uint32_t> uids;
        for (const auto& [id, message] : messages) {
            if (message.folder == folder) uids.push_back(id);
        }
        return uids;
    }
    // The messages carrying `keyword`, or a keyword starting with it.
    std::vector<std::uint32_t> With(const std::string& keyword) const {
        std::vector<std::uint32_t> uids;
        for (const auto& [id, message] : messages) {
            for (const auto& k : message.keywords) {
                if (k.starts_with(keyword)) {
                    uids.push_back(id);
                    break;
                }
            }
        }
        return uids;
    }
};

class ImapMirrorTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = test::FreshTestFolder("vexa-mirror-");
        mirror = root / "mirror";
        for (int uid = 1; uid <= 5; ++uid) server.messages[static_cast<std::uint32_t>(uid)] = {};
    }
    void TearDown() override { fs::remove_all(root); }

    // The mirror Inbox's file names, in UID order.
    std::vector<std::string> Fetched() const {
        std::set<std::string> names;
        for (const auto& entry : fs::directory_iterator(mirror / "new")) names.insert(entry.path().filename().string());
        return {names.begin(), names.end()};
    }
    // As the add-in's store does: the message's local copy into the store folder.
    void Archive(const std::string& name) const {
        const fs::path folder = mirror / ".VX2 Messages";
        for (const char* place : {"new", "cur", "tmp"}) fs::create_directories(folder / place);
        fs::rename(mirror / "new" / name, folder / "new" / name);
    }
    // "UIDVALIDITY HIGHEST" as kept.
    std::string State() const {
        std::ifstream in(root / "state");
        std::string validity, highest;
        in >> validity >> highest;
        return validity + " " + highest;
    }

    FakeServer server;
    fs::path root, mirror;
};

// A pass that stops (the archive out of reach, a store that failed for a passing reason) leaves
// messages due: the highest UID handled stays below the first of them, so they are fetched again.
TEST_F(ImapMirrorTest, MessagesLeftDueAreFetchedAgainByTheNextPass) {
    linuxhost::ImapMirror first(server, mirror, root / "state");
    first.Start();
    ASSERT_EQ(first.Fetch(10), 5u);
    const auto names = Fetched();
    Archive(names[0]);
    Archive(names[1]);
    // 3 failed for a passing reason, 4 and 5 were never raised.
    EXPECT_EQ(first.Reconcile({names[2], names[3], names[4]}), std::vector<std::string>{});
    EXPECT_EQ(State(), "7 2");
    EXPECT_EQ(server.In("VX2 Messages"), (std::vector<std::uint32_t>{1, 2}));

    linuxhost::ImapMirror next(server, mirror, root / "state");
    next.Start();
    ASSERT_EQ(next.Fetch(10), 3u);
    for (const auto& name : Fetched()) Archive(name);
    EXPECT_EQ(next.Reconcile(), std::vector<std::string>{});
    EXPECT_EQ(State(), "7 5");
    EXPECT_EQ(server.In("VX2 Messages"), (std::vector<std::uint32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(next.Fetch(10), 0u);
}

// Faxes read on another device before vexa saw them arrive with --include-read only: the whole
// Inbox but for what carries the keyword, below the highest UID handled too; without keywords,
// everything above it (on a first run, the whole Inbox).
TEST_F(ImapMirrorTest, ReadMessagesArriveWhenAskedFor) {
    server.messages[2].seen = server.messages[4].seen = true;
    for (const bool keywords : {true, false}) {
        SCOPED_TRACE(keywords ? "a server with keywords" : "a server without");
        fs::remove_all(root);
        server.keywords = keywords;
        for (auto& [uid, message] : server.messages) message.keywords.clear();
        linuxhost::ImapMirror mirrorNow(server, mirror, root / "state");
        mirrorNow.Start();
        EXPECT_EQ(mirrorNow.Fetch(10), 3u);
        EXPECT_EQ(mirrorNow.Reconcile({}, {Fetched()[0], Fetched()[1], Fetched()[2]}), std::vector<std::string>{});
        EXPECT_EQ(mirrorNow.Fetch(10), 0u);
        EXPECT_EQ(State(), "7 5");
        EXPECT_EQ(mirrorNow.Fetch(10, true), keywords ? 2u : 0u);
        EXPECT_EQ(mirrorNow.Reconcile(), std::vector<std::string>{});
        EXPECT_EQ(State(), "7 5");
    }
}

// A move the server refuses (the connection cut at UID MOVE) keeps the local copies: the next
// reconcile, or the next start, moves them; the message is never fetched and archived again.
TEST_F(ImapMirrorTest, AMoveTheServerRefusedIsTriedAgainNotArchivedAgain) {
    for (const bool restart : {false, true}) {
        SCOPED_TRACE(restart ? "tried again at the next start" : "tried again at the next reconcile");
        fs::remove_all(root);
        server.messages.clear();
        server.messages[1] = {};
        server.refuseMoves = 1;
        linuxhost::ImapMirror first(server, mirror, root / "state");
        first.Start();
        ASSERT_EQ(first.Fetch(10), 1u);
        Archive(Fetched()[0]);
        EXPECT_EQ(first.Reconcile().size(), 1u) << "the refusal is reported";
        EXPECT_EQ(server.In("INBOX"), std::vector<std::uint32_t>{1});
        EXPECT_EQ(State(), "7 1") << "handled: archived, its move pending";

        server.messages[2] = {};
        linuxhost::ImapMirror again(server, mirror, root / "state");
        linuxhost::ImapMirror& mirrorNow = restart ? again : first;
        if (restart) mirrorNow.Start();
        ASSERT_EQ(mirrorNow.Fetch(10), 1u) << "only the new message";
        Archive(Fetched()[0]);
        EXPECT_EQ(mirrorNow.Reconcile(), std::vector<std::string>{});
        EXPECT_EQ(server.In("VX2 Messages"), (std::vector<std::uint32_t>{1, 2}));
        EXPECT_EQ(server.In("INBOX"), std::vector<std::uint32_t>{});
    }
}

// Faxes kept in the Inbox (no store folder) carry the keyword once archived: a renumbered Inbox
// (new UIDVALIDITY), or another installation, fetches only what was never archived. A copy a crash
// left marked read in the mirror's Inbox was committed: the next start marks it on the server.
TEST_F(ImapMirrorTest, ArchivedMessagesCarryTheKeywordAndAreNeverFetchedAgain) {
    linuxhost::ImapMirror first(server, mirror, root / "state");
    first.Start();
    ASSERT_EQ(first.Fetch(10), 5u);
    const auto names = Fetched();
    // 1 and 2 archived and kept, 3 left alone (not a fax), 4 crashed after its commit, marked read.
    fs::rename(mirror / "new" / names[3], mirror / "cur" / (names[3] + ":2,S"));
    fs::remove(mirror / "new" / names[4]);
    first.Reconcile({}, {names[0], names[1]});
    server.messages[4].seen = false;
    server.messages[5].folder = "elsewhere";
    linuxhost::ImapMirror crashed(server, mirror, root / "state");
    for (const auto& name : Fetched()) fs::remove(mirror / "new" / name);
    fs::create_directories(mirror / "cur");
    std::ofstream(mirror / "cur" / (names[3] + ":2,S")) << "Subject: message 4\n\n";
    crashed.Start();
    EXPECT_EQ(server.With(linuxhost::kArchivedKeyword), (std::vector<std::uint32_t>{1, 2, 4}));
    EXPECT_TRUE(server.messages[4].seen);
    EXPECT_EQ(server.With("$VexaClaim."), std::vector<std::uint32_t>{}) << "no claim stays behind";

    server.uidValidity = 8;
    linuxhost::ImapMirror renumbered(server, mirror, root / "state");
    renumbered.Start();
    EXPECT_EQ(renumbered.Fetch(10), 1u) << "only the message never archived";
    EXPECT_EQ(Fetched(), std::vector<std::string>{"0000000003.8.imap"});
}

// Two installations on one mailbox: a message one of them holds is not taken by the other, and the
// watermark of the other stays below it; a claim left by an installation that died with the
// message in hand is taken over once it is old.
TEST_F(ImapMirrorTest, TwoInstallationsNeverBothTakeAMessage) {
    const fs::path otherMirror = root / "other";
    linuxhost::ImapMirror mine(server, mirror, root / "state");
    linuxhost::ImapMirror other(server, otherMirror, root / "other-state");
    mine.Start();
    other.Start();
    ASSERT_EQ(mine.Fetch(3), 3u);
    EXPECT_EQ(other.Fetch(10), 2u) << "the two nobody holds";
    EXPECT_EQ(other.Reconcile(), std::vector<std::string>{});
    EXPECT_EQ(other.Fetch(10), 0u);
    for (const auto& name : Fetched()) Archive(name);
    EXPECT_EQ(mine.Reconcile(), std::vector<std::string>{});
    EXPECT_EQ(server.In("VX2 Messages"), (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_EQ(server.In("INBOX"), (std::vector<std::uint32_t>{4, 5})) << "left alone by the other, unarchived";

    // Mine dies holding message 6 (and 4 and 5, new to it): the other waits, then takes them over.
    server.messages[6] = {};
    ASSERT_EQ(mine.Fetch(10), 3u);
    EXPECT_EQ(other.Fetch(10), 0u);
    std::string state;
    {
        std::ifstream in(root / "other-state");
        std::getline(in, state, '\0');
    }
    ASSERT_NE(state.find("claim 6 $VexaClaim."), std::string::npos) << state;
    std::ofstream(root / "other-state") << std::regex_replace(state, std::regex("(claim \\S+ \\S+) [0-9]+"), "$1 0");  // seen long ago
    linuxhost::ImapMirror restarted(server, otherMirror, root / "other-state");
    restarted.Start();
    EXPECT_EQ(restarted.Fetch(10), 3u) << "6, and 4 and 5 to be left alone again";
    EXPECT_EQ(server.messages[6].keywords.size(), 1u) << "only the new claim";
}

// What the sieve does not want stays on the server, unseen and unclaimed, and is passed by the
// highest UID handled, also by a run that fetched nothing. A message gone between its claim and
// its fetch is let go and looked at again by the next run.
TEST_F(ImapMirrorTest, OnlyWhatTheSieveWantsIsClaimedAndFetched) {
    server.goneBeforeFetch = {4};
    linuxhost::ImapMirror sifted(server, mirror, root / "state", {{"Subject"}, [](const std::string& fields) {
                                     return (fields[std::string("Subject: message ").size()] - '0') % 2 == 0;
                                 }});
    sifted.Start();
    ASSERT_EQ(sifted.Fetch(10), 1u);
    EXPECT_EQ(Fetched(), std::vector<std::string>{"0000000002.7.imap"});
    EXPECT_EQ(sifted.PassedOver(), 3u);
    EXPECT_EQ(server.With("$VexaClaim."), std::vector<std::uint32_t>{2}) << "4 let go, the rest never claimed";
    Archive(Fetched()[0]);
    EXPECT_EQ(sifted.Reconcile(), std::vector<std::string>{});
    EXPECT_EQ(sifted.Fetch(10), 0u);
    EXPECT_EQ(State(), "7 3") << "below the message that went missing";

    server.goneBeforeFetch.clear();
    ASSERT_EQ(sifted.Fetch(10), 1u);
    Archive(Fetched()[0]);
    EXPECT_EQ(sifted.Reconcile(), std::vector<std::string>{});
    server.messages[7] = {};
    EXPECT_EQ(sifted.Fetch(10), 0u);
    EXPECT_EQ(State(), "7 7");
    EXPECT_EQ(server.In("INBOX"), (std::vector<std::uint32_t>{1, 3, 5, 7}));
    for (const std::uint32_t uid : server.In("INBOX")) {
        EXPECT_FALSE(server.messages[uid].seen) << uid;
        EXPECT_EQ(server.messages[uid].keywords, std::set<std::string>{}) << uid;
    }
}

}  // namespace
}  // namespace vexa
