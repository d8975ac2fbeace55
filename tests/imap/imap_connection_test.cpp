// The IMAP connection against the Dovecot servers run-with-dovecot.sh starts: who gets in and why
// not, and what the commands leave on the server (messages, flags, folders, subscriptions).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "adapters/imap/imap_connection.h"
#include "adapters/imap/imap_error.h"
#include "adapters/imap/tcp_connect.h"

namespace vexa::imap {
namespace {

namespace fs = std::filesystem;

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) throw std::runtime_error(std::string(name) + " is not set: run through run-with-dovecot.sh");
    return value;
}

std::string Password() { return Env("IMAP_TEST_PASSWORD"); }
fs::path World() { return Env("IMAP_TEST_WORLD"); }

ImapConnectOptions Options(const std::string& url, std::optional<fs::path> ca = fs::path(Env("IMAP_TEST_CA"))) {
    ImapConnectOptions options;
    options.url = ParseImapUrl(url);
    options.secret = Password();
    options.caFile = std::move(ca);
    options.timeoutSeconds = 20;
    return options;
}

std::string Url(const char* scheme, const std::string& host, const char* portVariable) {
    return std::string(scheme) + "://" + Env("IMAP_TEST_USER") + "@" + host + ":" + Env(portVariable);
}
std::string Imaps() { return Url("imaps", "localhost", "IMAP_TEST_IMAPS_PORT"); }
std::string Plain() { return Url("imap", "localhost", "IMAP_TEST_PLAIN_PORT"); }

std::unique_ptr<ImapConnection> OpenFull() { return ImapConnection::Open(Options(Imaps())); }
std::unique_ptr<ImapConnection> OpenPlain() {
    ImapConnectOptions options = Options(Plain(), std::nullopt);
    options.insecure = true;
    return ImapConnection::Open(options);
}

// A message of about `size` bytes with CRLF line ends, as IMAP servers hand messages out.
std::string MakeMessage(const std::string& subject, std::size_t size) {
    std::string text = "From: Fax Service <fax@example.net>\r\nTo: office@example.com\r\nSubject: " + subject +
                       "\r\nMessage-ID: <" + subject + "@example.net>\r\n\r\n";
    for (std::size_t line = 0; text.size() < size; ++line)
        text += "Line " + std::to_string(line) + " of " + subject + " ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789\r\n";
    return text;
}

void Deliver(const char* server, const std::string& message) {
    static int counter = 0;
    const fs::path file = World() / ("message-" + std::to_string(++counter) + ".eml");
    std::ofstream(file, std::ios::binary) << message;
    const std::string command = Env("IMAP_TEST_DELIVER") + " " + server + " " + file.string();
    ASSERT_EQ(0, std::system(command.c_str())) << command;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

// --- Who gets in, and the failure each refusal is ---------------------------------------------

struct OpenCase {
    const char* name;
    std::string url;
    std::optional<fs::path> ca;
    std::string password;
    bool insecure;
    std::optional<ImapFailure> failure;  // none: logs in
    const char* says;
};

TEST(ImapOpen, LogsInOnlyOverTrustedChannelsAndNamesEachFailure) {
    const fs::path ca = Env("IMAP_TEST_CA");
    const std::string wrong = "Wrong-Pass-7731";
    const OpenCase cases[] = {
        {"imaps with the CA file", Imaps(), ca, Password(), false, std::nullopt, ""},
        {"STARTTLS with the CA file", Url("imap", "localhost", "IMAP_TEST_STARTTLS_PORT"), ca, Password(), false,
         std::nullopt, ""},
        {"self-signed without the CA file", Imaps(), std::nullopt, Password(), false, ImapFailure::Certificate,
         "is not trusted"},
        {"STARTTLS, self-signed without the CA file", Url("imap", "localhost", "IMAP_TEST_STARTTLS_PORT"),
         std::nullopt, Password(), false, ImapFailure::Certificate, "is not trusted"},
        {"a CA that did not sign it", Imaps(), fs::path(Env("IMAP_TEST_OTHER_CA")), Password(), false,
         ImapFailure::Certificate, "is not trusted"},
        {"a certificate for another name", Url("imaps", "127.0.0.1", "IMAP_TEST_IMAPS_PORT"), ca, Password(), false,
         ImapFailure::Certificate, "is not trusted"},
        {"wrong password", Imaps(), ca, wrong, false, ImapFailure::Login, "refused the login of"},
        {"no STARTTLS on offer", Plain(), std::nullopt, Password(), false, ImapFailure::Certificate,
         "offers no STARTTLS"},
        {"no STARTTLS, insecure allowed", Plain(), std::nullopt, Password(), true, std::nullopt, ""},
        {"imaps on a port without TLS", Url("imaps", "localhost", "IMAP_TEST_PLAIN_PORT"), ca, Password(), false,
         ImapFailure::Certificate, "No TLS connection"},
        {"nothing listening", Url("imaps", "127.0.0.1", "IMAP_TEST_CLOSED_PORT"), ca, Password(), false,
         ImapFailure::Unreachable, "Can't reach the mail server 127.0.0.1"},
        {"unknown host", "imaps://fax@no-such-host.invalid", ca, Password(), false, ImapFailure::UnknownHost,
         "no-such-host.invalid is unknown"},
    };
    for (const OpenCase& c : cases) {
        SCOPED_TRACE(c.name);
        ImapConnectOptions options = Options(c.url, c.ca);
        options.secret = c.password;
        options.insecure = c.insecure;
        try {
            auto connection = ImapConnection::Open(options);
            EXPECT_FALSE(c.failure.has_value()) << "logged in";
            EXPECT_TRUE(connection->Has("IDLE"));
            EXPECT_GT(connection->Select("INBOX").uidValidity, 0u);
        } catch (const ImapError& e) {
            ASSERT_TRUE(c.failure.has_value()) << e.Description();
            EXPECT_EQ(*c.failure, e.Failure()) << e.Description();
            EXPECT_NE(std::string::npos, e.Description().find(c.says)) << e.Description();
            EXPECT_EQ(std::string::npos, e.Description().find(c.password)) << e.Description();
        }
    }
}

// --- Reading: the exact bytes, and the message stays unread -----------------------------------

TEST(ImapMail, FetchesTheExactBytesInChunksAndLeavesThemUnseen) {
    const std::size_t sizes[] = {300, ImapConnection::kFetchChunk, 2 * ImapConnection::kFetchChunk + 4321};
    auto connection = OpenFull();
    const MailboxStatus before = connection->Select("INBOX");
    std::vector<std::string> messages;
    for (std::size_t size : sizes) {
        messages.push_back(MakeMessage("fetch-" + std::to_string(size), size));
        Deliver("full", messages.back());
    }
    const MailboxStatus status = connection->Select("INBOX");
    EXPECT_EQ(before.exists + 3, status.exists);
    EXPECT_EQ(before.uidValidity, status.uidValidity);
    const std::vector<std::uint32_t> uids = connection->UnseenUidsAbove(before.uidNext - 1);
    ASSERT_EQ(3u, uids.size());
    EXPECT_EQ(status.uidNext - 1, uids.back());
    EXPECT_TRUE(connection->UnseenUidsAbove(uids.back()).empty()) << "UID n+1:* must not bring back the last";

    for (std::size_t i = 0; i < uids.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        const fs::path file = World() / ("fetched-" + std::to_string(i));
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ASSERT_GE(fd, 0);
        const std::vector<std::string> flags = connection->FetchToFile(uids[i], fd);
        ::close(fd);
        EXPECT_FALSE(Contains(flags, "\\Seen"));
        const std::string fetched = ReadFile(file);
        EXPECT_EQ(messages[i].size(), fetched.size());
        EXPECT_TRUE(messages[i] == fetched) << "the fetched bytes differ";
    }
    auto other = OpenFull();
    other->Select("INBOX");
    for (std::uint32_t uid : uids) EXPECT_FALSE(Contains(other->Flags(uid), "\\Seen")) << uid;
    EXPECT_EQ(uids, other->UnseenUidsAbove(before.uidNext - 1));
}

TEST(ImapMail, FlagsAreStoredAndRemoved) {
    auto connection = OpenFull();
    const MailboxStatus before = connection->Select("INBOX");
    Deliver("full", MakeMessage("flags", 200));
    connection->Select("INBOX");
    const std::uint32_t uid = connection->UnseenUidsAbove(before.uidNext - 1).at(0);
    connection->AddFlags(uid, {"\\Seen", "Work", "$Label2"});
    auto other = OpenFull();
    other->Select("INBOX");
    const std::vector<std::string> flags = other->Flags(uid);
    EXPECT_TRUE(Contains(flags, "\\Seen") && Contains(flags, "Work") && Contains(flags, "$Label2"));
    EXPECT_TRUE(other->UnseenUidsAbove(before.uidNext - 1).empty());
    connection->RemoveFlags(uid, {"Work"});
    const std::vector<std::string> after = other->Flags(uid);
    EXPECT_FALSE(Contains(after, "Work"));
    EXPECT_TRUE(Contains(after, "\\Seen") && Contains(after, "$Label2"));
}

// --- Folders and moving, with MOVE and without ------------------------------------------------

struct MoveCase {
    const char* server;
    bool hasMove;
};

TEST(ImapMail, CreatesASubscribedChildOfInboxAndMovesMessagesIntoIt) {
    for (const MoveCase c : {MoveCase{"full", true}, MoveCase{"plain", false}}) {
        SCOPED_TRACE(c.server);
        auto connection = std::string(c.server) == "full" ? OpenFull() : OpenPlain();
        EXPECT_EQ(c.hasMove, connection->Has("MOVE"));
        EXPECT_TRUE(connection->Has("UIDPLUS"));
        const char delimiter = connection->Delimiter();
        EXPECT_EQ('.', delimiter);
        const std::string store = std::string("INBOX") + delimiter + "VX2 Messages";
        EXPECT_TRUE(connection->List(store).empty());
        connection->Create(store);
        connection->Subscribe(store);
        const std::vector<FolderEntry> listed = connection->List(store);
        ASSERT_EQ(1u, listed.size());
        EXPECT_EQ(store, listed[0].name);
        EXPECT_EQ('.', listed[0].delimiter);
        EXPECT_NE(std::string::npos, ReadFile(World() / c.server / "mail" / "subscriptions").find("VX2 Messages"));

        const std::vector<FolderEntry> all = connection->List("*");
        const auto trash = std::find_if(all.begin(), all.end(), [](const FolderEntry& f) { return f.name == "Trash"; });
        ASSERT_NE(all.end(), trash);
        EXPECT_TRUE(Contains(trash->flags, "\\Trash"));

        const MailboxStatus before = connection->Select("INBOX");
        Deliver(c.server, MakeMessage(std::string("keep-") + c.server, 200));
        Deliver(c.server, MakeMessage(std::string("fax-") + c.server, 200));
        connection->Select("INBOX");
        const std::vector<std::uint32_t> uids = connection->UnseenUidsAbove(before.uidNext - 1);
        ASSERT_EQ(2u, uids.size());
        // The user's own message marked deleted, which the move must not expunge with its own.
        connection->AddFlags(uids[0], {"\\Deleted"});
        connection->AddFlags(uids[1], {"Work"});
        connection->Move(uids[1], store);

        const MailboxStatus inbox = connection->Select("INBOX");
        EXPECT_EQ(before.exists + 1, inbox.exists);
        EXPECT_TRUE(Contains(connection->Flags(uids[0]), "\\Deleted"));
        const MailboxStatus moved = connection->Select(store);
        EXPECT_EQ(1u, moved.exists);
        const std::vector<std::uint32_t> inStore = connection->UnseenUidsAbove(0);
        ASSERT_EQ(1u, inStore.size());
        const std::vector<std::string> flags = connection->Flags(inStore[0]);
        EXPECT_TRUE(Contains(flags, "Work"));
        EXPECT_FALSE(Contains(flags, "\\Deleted"));
    }
}

// A folder named outside ASCII is created, listed and selected under the name the user wrote;
// NAMESPACE tells where the user's own folders live.
TEST(ImapMail, FolderNamesOutsideAsciiAndThePersonalNamespace) {
    for (const auto& [port, prefix] : {std::pair{"IMAP_TEST_PLAIN_PORT", ""}, std::pair{"IMAP_TEST_PREFIXED_PORT", "INBOX."}}) {
        SCOPED_TRACE(port);
        ImapConnectOptions options = Options(Url("imap", "localhost", port), std::nullopt);
        options.insecure = true;
        auto connection = ImapConnection::Open(options);
        const PersonalNamespace personal = connection->Namespace();
        EXPECT_EQ(prefix, personal.prefix);
        EXPECT_EQ('.', personal.delimiter);
        const std::string folder = "INBOX.Faxe Büro & 😀";
        connection->Create(folder);
        const std::vector<FolderEntry> listed = connection->List("INBOX.Faxe*");
        ASSERT_EQ(1u, listed.size());
        EXPECT_EQ(folder, listed[0].name);
        EXPECT_EQ(0u, connection->Select(folder).exists);
    }
}

// --- Watching ---------------------------------------------------------------------------------

TEST(ImapWatch, IdleWakesOnADeliveryAndTimesOutWithoutOne) {
    for (const char* server : {"full", "plain"}) {
        SCOPED_TRACE(server);
        auto connection = std::string(server) == "full" ? OpenFull() : OpenPlain();
        const MailboxStatus before = connection->Select("INBOX");
        EXPECT_FALSE(connection->Idle(1));
        EXPECT_FALSE(connection->Noop());
        // The delivery comes once the session idles; a bounded wait for it.
        std::thread deliverer([server] {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            Deliver(server, MakeMessage(std::string("idle-") + server, 200));
        });
        const bool woke = connection->Idle(30);
        deliverer.join();
        EXPECT_TRUE(woke);
        EXPECT_EQ(1u, connection->UnseenUidsAbove(before.uidNext - 1).size());
        // Still a sound session after IDLE.
        EXPECT_EQ(before.exists + 1, connection->Select("INBOX").exists);
        Deliver(server, MakeMessage(std::string("noop-") + server, 200));
        EXPECT_TRUE(connection->Noop());
    }
}

// The kernel drops a peer gone silent within about a minute (30 s, then 3 probes 10 s apart):
// on loopback nothing can go silent, so the socket's settings are what can be seen.
TEST(ImapWatch, TheSocketProbesAPeerGoneSilent) {
    const SocketFd socket = ConnectTcp("127.0.0.1", std::stoi(Env("IMAP_TEST_IMAPS_PORT")), 5);
    const auto option = [&](int level, int name) {
        int value = -1;
        socklen_t length = sizeof value;
        EXPECT_EQ(0, getsockopt(socket.Get(), level, name, &value, &length));
        return value;
    };
    EXPECT_EQ(1, option(SOL_SOCKET, SO_KEEPALIVE));
    EXPECT_EQ(30, option(IPPROTO_TCP, TCP_KEEPIDLE));
    EXPECT_EQ(10, option(IPPROTO_TCP, TCP_KEEPINTVL));
    EXPECT_EQ(3, option(IPPROTO_TCP, TCP_KEEPCNT));
}

}  // namespace
}  // namespace vexa::imap
