// The upstream client against a scripted server: what reaches the server (the envelope, the
// message's bytes) and which reply the mail program would get back when the server refuses,
// hangs up, or cannot be reached at all.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "adapters/smtp/upstream/upstream_client.h"
#include "adapters/smtp/upstream/upstream_reply.h"

namespace vexa::smtp {
namespace {

// Answers each command by the script: the reply to send (CRLF added), "" to hang up. The data
// after 354 is kept whole, up to and with its closing dot.
class ScriptedServer {
public:
    using Script = std::function<std::string(const std::string& command)>;

    explicit ScriptedServer(Script script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), size);
        ::listen(listener_, 4);
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~ScriptedServer() {
        ::shutdown(listener_, SHUT_RDWR);
        thread_.join();
        ::close(listener_);
    }
    std::string Url() const { return "smtp://127.0.0.1:" + std::to_string(port_); }
    // Every command and every data block, in order (read once the client is done).
    std::vector<std::string> seen;

private:
    void Serve() {
        const int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) return;
        std::string buffer;
        bool inData = false;
        const auto send = [&](const std::string& reply) { return ::write(fd, (reply + "\r\n").data(), reply.size() + 2) > 0; };
        if (!send("220 scripted ESMTP")) return;
        char chunk[4096];
        for (;;) {
            const std::size_t end = buffer.find(inData ? "\r\n.\r\n" : "\r\n");
            if (end == std::string::npos) {
                const ssize_t n = ::read(fd, chunk, sizeof chunk);
                if (n <= 0) break;
                buffer.append(chunk, static_cast<std::size_t>(n));
                continue;
            }
            const std::size_t length = end + (inData ? 5 : 2);
            std::string item = buffer.substr(0, inData ? length : end);
            buffer.erase(0, length);
            seen.push_back(item);
            const std::string reply = inData ? script_("<data>") : script_(item);
            inData = reply.starts_with("354");
            if (reply.empty() || !send(reply) || item == "QUIT") break;
        }
        ::close(fd);
    }

    Script script_;
    int listener_ = -1;
    int port_ = 0;
    std::thread thread_;
};

// A server that takes everything, with the exceptions given by the command's first word.
ScriptedServer::Script Taking(std::map<std::string, std::string> exceptions = {}) {
    return [exceptions](const std::string& command) -> std::string {
        const std::string verb = command.substr(0, command.find_first_of(" :"));
        if (const auto found = exceptions.find(verb); found != exceptions.end()) return found->second;
        if (verb == "EHLO") return "250-scripted\r\n250-SIZE 1000000\r\n250 AUTH PLAIN";
        if (verb == "AUTH") return "235 2.7.0 Welcome";
        if (verb == "DATA") return "354 Go on";
        if (verb == "<data>") return "250 2.0.0 Ok: queued as 42";
        if (verb == "QUIT") return "221 2.0.0 Bye";
        return "250 2.1.0 Ok";
    };
}

UpstreamOptions Plain(const std::string& url) {
    UpstreamOptions options{url, true, std::nullopt, std::chrono::seconds(5)};
    return options;
}

const Envelope kEnvelope{"me@example.org", "", {{"fax@efaxsend.com", ""}, {"you@example.net", ""}}};

TEST(UpstreamClient, HandsOnTheEnvelopeAndTheExactBytesOverOneConnection) {
    ScriptedServer server(Taking());
    const std::string message = "Subject: x\r\n\r\n.hidden dot\r\nbare\nLF kept\r\n";
    {
        UpstreamClient client(Plain(server.Url()), Credentials{"me", "secret"});
        const UpstreamClient::Relayed relayed = client.Send(kEnvelope, message);
        EXPECT_EQ(relayed.reply.code, 250);
        EXPECT_EQ(relayed.reply.enhanced, "2.0.0");
        EXPECT_EQ(relayed.reply.text, "Ok: queued as 42");
        EXPECT_FALSE(relayed.outcomeUnknown);
        // The next mail goes over the same connection: the server takes only one.
        EXPECT_EQ(client.Send(kEnvelope, "Subject: y\r\n\r\n").reply.code, 250);
    }
    const auto& seen = server.seen;
    EXPECT_NE(std::find(seen.begin(), seen.end(), "MAIL FROM:<me@example.org> SIZE=" + std::to_string(message.size())), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "RCPT TO:<fax@efaxsend.com>"), seen.end());
    EXPECT_NE(std::find(seen.begin(), seen.end(), "RCPT TO:<you@example.net>"), seen.end());
    // Dot-stuffed on the wire, every other byte as given.
    EXPECT_NE(std::find(seen.begin(), seen.end(), "Subject: x\r\n\r\n..hidden dot\r\nbare\nLF kept\r\n.\r\n"), seen.end());
}

struct Fault {
    const char* name;
    std::map<std::string, std::string> script;
    int code;
    const char* enhanced;
    bool outcomeUnknown;
};

class UpstreamFaults : public testing::TestWithParam<Fault> {};

TEST_P(UpstreamFaults, GiveTheRightReply) {
    const Fault& fault = GetParam();
    ScriptedServer server(Taking(fault.script));
    UpstreamClient client(Plain(server.Url()), std::nullopt);
    const UpstreamClient::Relayed relayed = client.Send(kEnvelope, "Subject: x\r\n\r\nbody\r\n");
    EXPECT_EQ(relayed.reply.code, fault.code) << relayed.reply.text;
    EXPECT_EQ(relayed.reply.enhanced, fault.enhanced) << relayed.reply.text;
    EXPECT_EQ(relayed.outcomeUnknown, fault.outcomeUnknown);
}

INSTANTIATE_TEST_SUITE_P(
    Refusals, UpstreamFaults,
    testing::Values(Fault{"SenderRefused", {{"MAIL", "553 5.7.1 Not your address"}}, 553, "5.7.1", false},
                    Fault{"OneRecipientRefused", {{"RCPT", "550 5.1.1 No such user"}}, 550, "5.1.1", false},
                    Fault{"GreylistedRecipient", {{"RCPT", "450 4.2.0 Try later"}}, 450, "4.2.0", false},
                    Fault{"MessageRefused", {{"<data>", "554 5.6.0 Content refused"}}, 554, "5.6.0", false},
                    Fault{"ShutDownMidway", {{"MAIL", "421 4.3.2 Shutting down"}}, 421, "4.3.2", false},
                    Fault{"HungUpBeforeData", {{"DATA", ""}}, 451, "4.4.2", false},
                    Fault{"HungUpAfterTheMessage", {{"<data>", ""}}, 451, "4.4.2", true}),
    [](const testing::TestParamInfo<Fault>& info) { return std::string(info.param.name); });

TEST(UpstreamClient, NobodyListeningIsTransient) {
    int port = 0;
    {
        ScriptedServer gone(Taking());
        port = std::stoi(gone.Url().substr(gone.Url().rfind(':') + 1));
        UpstreamClient wake(Plain(gone.Url()), std::nullopt);  // let the server's thread end
        (void)wake.CheckLogin({"a", "b"});
    }
    UpstreamClient client(Plain("smtp://127.0.0.1:" + std::to_string(port)), std::nullopt);
    const UpstreamClient::Relayed relayed = client.Send(kEnvelope, "Subject: x\r\n\r\n");
    EXPECT_EQ(relayed.reply.code, 451);
    EXPECT_EQ(relayed.reply.enhanced, "4.4.1");
    EXPECT_FALSE(relayed.outcomeUnknown);
    EXPECT_EQ(client.CheckLogin({"a", "b"}).code, 454);
}

TEST(UpstreamClient, NoStartTlsNoMail) {
    ScriptedServer server(Taking());
    {
        UpstreamOptions options = Plain(server.Url());
        options.insecure = false;
        UpstreamClient client(options, Credentials{"me", "secret"});
        const UpstreamClient::Relayed relayed = client.Send(kEnvelope, "Subject: x\r\n\r\n");
        EXPECT_EQ(relayed.reply.code, 554);
        EXPECT_EQ(relayed.reply.enhanced, "5.7.0");
    }
    for (const std::string& command : server.seen) EXPECT_FALSE(command.starts_with("AUTH") || command.starts_with("MAIL")) << command;
}

TEST(UpstreamClient, CheckLoginPassesTheServersAnswerBack) {
    for (const auto& [answer, code] : std::vector<std::pair<std::string, int>>{{"235 2.7.0 Welcome", 235}, {"535 5.7.8 Bad credentials", 535}}) {
        ScriptedServer server(Taking({{"AUTH", answer}}));
        UpstreamClient client(Plain(server.Url()), std::nullopt);
        EXPECT_EQ(client.CheckLogin({"me", "secret"}).code, code) << answer;
    }
    // A server that offers no login cannot vouch for anyone.
    ScriptedServer noAuth(Taking({{"EHLO", "250 scripted"}}));
    UpstreamClient client(Plain(noAuth.Url()), std::nullopt);
    EXPECT_EQ(client.CheckLogin({"me", "secret"}).code, 535);
}

TEST(ReplyTranscript, ReadsMultilineRepliesAndEnhancedCodes) {
    ReplyTranscript transcript;
    transcript.Received("250-first\r\n250-SIZE 10\r\n");
    EXPECT_FALSE(transcript.Last());
    transcript.Received("250 last\r\n");
    ASSERT_TRUE(transcript.Last());
    EXPECT_EQ(transcript.Last()->text, "first\nSIZE 10\nlast");
    EXPECT_EQ(transcript.Last()->enhanced, "");
    transcript.Sent();
    EXPECT_FALSE(transcript.Answered());
    transcript.Received("550-5.1.1 No such\r\n550 5.1.1 user here\r\n");
    EXPECT_TRUE(transcript.Answered());
    EXPECT_EQ(transcript.Last()->code, 550);
    EXPECT_EQ(transcript.Last()->enhanced, "5.1.1");
    EXPECT_EQ(transcript.Last()->text, "No such\nuser here");
}

}  // namespace
}  // namespace vexa::smtp
