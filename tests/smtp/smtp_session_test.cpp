// The submission dialogue without a socket: what a mail program (or someone probing the server)
// sends, the reply codes it gets back, and what reached the relay's handler.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "adapters/smtp/server/smtp_reply_text.h"
#include "adapters/smtp/server/smtp_session.h"

namespace vexa::smtp {
namespace {

class FakeHandler : public ConnectionHandler {
public:
    Reply Authenticate(const Credentials& credentials) override {
        logins.push_back(credentials.user);
        if (credentials.password == "secret") return {235, "2.7.0", "Authentication successful"};
        return {535, "5.7.8", "Authentication credentials invalid"};
    }
    Reply Deliver(const Envelope& envelope, std::string message) override {
        senders.push_back(envelope.sender);
        messages.push_back(std::move(message));
        return deliverReply;
    }
    Reply deliverReply{250, "2.0.0", "Relayed"};
    std::vector<std::string> logins;
    std::vector<std::string> senders;
    std::vector<std::string> messages;
};

// The code of every final reply line ("250 ...", not "250-...").
std::vector<int> Codes(const std::string& output) {
    std::vector<int> codes;
    std::size_t at = 0;
    while (at + 4 <= output.size()) {
        if (output[at + 3] == ' ') codes.push_back(std::stoi(output.substr(at, 3)));
        at = output.find("\r\n", at) + 2;
    }
    return codes;
}

std::string Plain(const std::string& user, const std::string& password) {
    return EncodeBase64(std::string("\0", 1) + user + std::string("\0", 1) + password);
}

const std::string kHello = "EHLO client.example\r\n";
const std::string kEnvelope = kHello + "MAIL FROM:<a@example.org>\r\nRCPT TO:<fax@example.net>\r\nDATA\r\n";

// Steps: bytes as the client sent them; "<TLS>" the handshake done, "<STOP>" the server stopping,
// "<IDLE>" the idle time passing.
struct DialogueCase {
    const char* name;
    std::vector<std::string> steps;
    std::vector<int> codes;
    std::vector<std::string> delivered;
    std::vector<std::string> logins = {};
    bool closed = false;
    SessionOptions options = {.mustAuth = false};
    bool byteByByte = false;
    std::string outputHas = {};
};

ServerLimits Small() {
    ServerLimits limits;
    limits.maxMessageBytes = 1000;
    limits.maxLineBytes = 100;
    limits.maxCommandBytes = 64;
    limits.maxRecipients = 2;
    return limits;
}

TEST(SmtpSession, Dialogues) {
    const std::string body = "Subject: fax\r\n\r\n..starts with a dot\r\nend\r\n";
    const std::string delivered = "Subject: fax\r\n\r\n.starts with a dot\r\nend\r\n";
    const std::string message = kEnvelope + body + ".\r\n";
    const SessionOptions loopbackAuth{.clearAuthAllowed = true, .mustAuth = true};
    const SessionOptions small{.limits = Small(), .mustAuth = false};
    const SessionOptions lan{.tlsAvailable = true, .mustAuth = true};
    const std::string bigBody = [] {
        std::string text;
        for (int i = 0; i < 30; ++i) text += std::string(48, 'x') + "\r\n";
        return text;
    }();
    const DialogueCase cases[] = {
        {"a message, all pipelined", {message + "QUIT\r\n"}, {250, 250, 250, 354, 250, 221}, {delivered}, {}, true},
        {"the same a byte at a time", {message + "QUIT\r\n"}, {250, 250, 250, 354, 250, 221}, {delivered}, {}, true,
         {.mustAuth = false}, true},
        {"HELO without extensions", {"HELO c\r\n"}, {250}, {}},
        {"the upstream's multi-line reply passed on", {message}, {250, 250, 250, 354, 451}, {delivered}, {}, false,
         {.mustAuth = false}, false, "451-4.7.1 greylisted\r\n451 4.7.1 try later\r\n"},
        {"MAIL before EHLO", {"MAIL FROM:<a@b>\r\n"}, {503}, {}},
        {"DATA without MAIL", {kHello + "DATA\r\n"}, {250, 503}, {}},
        {"DATA without a recipient", {kHello + "MAIL FROM:<>\r\nDATA\r\n"}, {250, 250, 503}, {}},
        {"RCPT before MAIL", {kHello + "RCPT TO:<a@b>\r\n"}, {250, 503}, {}},
        {"a bad sender path", {kHello + "MAIL FROM:a@b\r\n"}, {250, 501}, {}},
        {"a bare LF smuggling a second message",
         {kEnvelope + "Subject: x\r\n\r\nhi\n.\r\nMAIL FROM:<evil@x>\r\nRCPT TO:<v@y>\r\nDATA\r\nforged\r\n.\r\n"},
         {250, 250, 250, 354, 554}, {}},
        {"a bare CR", {kEnvelope + "Subject: x\r\n\r\nhi\r.\r\n.\r\nNOOP\r\n"}, {250, 250, 250, 354, 554, 250}, {}},
        {"a line over the limit", {kEnvelope + std::string(200, 'x') + "\r\n.\r\n"}, {250, 250, 250, 354, 554}, {},
         {}, false, small},
        {"a line at the limit behind a doubled dot", {kEnvelope + "." + std::string(98, '.') + "\r\n.\r\n"},
         {250, 250, 250, 354, 250}, {std::string(98, '.') + "\r\n"}, {}, false, small},
        {"a message over the limit", {kEnvelope + bigBody + ".\r\n"}, {250, 250, 250, 354, 552}, {}, {}, false, small},
        {"SIZE over the limit", {kHello + "MAIL FROM:<a@b> SIZE=5000\r\n"}, {250, 552}, {}, {}, false, small},
        {"the parameters mail programs send",
         {kHello + "MAIL FROM:<a@b> SIZE=10 BODY=8BITMIME SMTPUTF8 AUTH=<>\r\n"}, {250, 250}, {}},
        {"a DSN parameter on MAIL", {kHello + "MAIL FROM:<a@b> RET=HDRS\r\n"}, {250, 555}, {}},
        {"a DSN parameter on RCPT", {kHello + "MAIL FROM:<a@b>\r\nRCPT TO:<c@d> NOTIFY=NEVER\r\n"}, {250, 250, 555}, {}},
        {"too many recipients", {kHello + "MAIL FROM:<a@b>\r\nRCPT TO:<c@d>\r\nRCPT TO:<e@f>\r\nRCPT TO:<g@h>\r\n"},
         {250, 250, 250, 250, 452}, {}, {}, false, small},
        {"a command over the limit", {kHello + "NOOP " + std::string(100, 'x') + "\r\nNOOP\r\n"}, {250, 500, 250}, {},
         {}, false, small},
        {"an unknown command", {"FOO\r\nVRFY a\r\nHELP\r\n"}, {500, 252, 214}, {}},
        {"errors end the connection", {[] {
             std::string text;
             for (int i = 0; i < 25; ++i) text += "FOO\r\n";
             return text;
         }()},
         [] {
             std::vector<int> codes(20, 500);
             codes.push_back(421);
             return codes;
         }(),
         {}, {}, true},
        {"idling on NOOP ends the connection", {kHello + [] {
             std::string text;
             for (int i = 0; i < 45; ++i) text += i % 2 ? "NOOP\r\n" : "RSET\r\n";
             return text;
         }()},
         [] {
             std::vector<int> codes(40, 250);
             codes.push_back(421);
             return codes;
         }(),
         {}, {}, true},
        {"a message sent starts the count of idle commands again", {kHello + [&] {
             std::string text;
             for (int i = 0; i < 25; ++i) text += "NOOP\r\n";
             text += message.substr(kHello.size());
             for (int i = 0; i < 30; ++i) text += "NOOP\r\n";
             return text;
         }()},
         [] {
             std::vector<int> codes(26, 250);
             for (int code : {250, 250, 354, 250}) codes.push_back(code);
             codes.insert(codes.end(), 30, 250);
             return codes;
         }(),
         {delivered}},
        {"three failed logins end the connection",
         {kHello + "AUTH PLAIN " + Plain("u", "a") + "\r\nAUTH PLAIN " + Plain("u", "b") + "\r\nAUTH PLAIN " +
          Plain("u", "c") + "\r\nAUTH PLAIN " + Plain("u", "secret") + "\r\n"},
         {250, 535, 535, 535, 421}, {}, {"u", "u", "u"}, true, loopbackAuth},
        {"no mail from a stranger before AUTH", {kHello + "MAIL FROM:<a@b>\r\n"}, {250, 530}, {}, {}, false, loopbackAuth},
        {"AUTH PLAIN with the response", {kHello + "AUTH PLAIN " + Plain("u", "secret") + "\r\nMAIL FROM:<a@b>\r\n"},
         {250, 235, 250}, {}, {"u"}, false, loopbackAuth},
        {"AUTH PLAIN after a challenge", {kHello + "AUTH PLAIN\r\n" + Plain("u", "secret") + "\r\n"}, {250, 334, 235},
         {}, {"u"}, false, loopbackAuth},
        {"AUTH LOGIN", {kHello + "AUTH LOGIN\r\n" + EncodeBase64("u") + "\r\n" + EncodeBase64("secret") + "\r\n"},
         {250, 334, 334, 235}, {}, {"u"}, false, loopbackAuth},
        {"AUTH cancelled", {kHello + "AUTH LOGIN\r\n*\r\n"}, {250, 334, 501}, {}, {}, false, loopbackAuth},
        {"AUTH with bad base64", {kHello + "AUTH PLAIN ***\r\n"}, {250, 501}, {}, {}, false, loopbackAuth},
        {"a wrong password", {kHello + "AUTH PLAIN " + Plain("u", "guess") + "\r\nMAIL FROM:<a@b>\r\n"},
         {250, 535, 530}, {}, {"u"}, false, loopbackAuth},
        {"AUTH twice", {kHello + "AUTH PLAIN " + Plain("u", "secret") + "\r\nAUTH PLAIN " + Plain("u", "secret") + "\r\n"},
         {250, 235, 503}, {}, {"u"}, false, loopbackAuth},
        {"AUTH in the clear off loopback", {kHello + "AUTH PLAIN " + Plain("u", "secret") + "\r\n"}, {250, 530}, {}, {},
         false, lan},
        {"input pipelined behind STARTTLS is dropped",
         {kHello + "STARTTLS\r\nAUTH PLAIN " + Plain("u", "secret") + "\r\n", "<TLS>", "MAIL FROM:<a@b>\r\n"},
         {250, 220, 503}, {}, {}, false, lan},
        {"after STARTTLS: EHLO again, then AUTH",
         {kHello + "STARTTLS\r\n", "<TLS>", kHello + "AUTH PLAIN " + Plain("u", "secret") + "\r\n"}, {250, 220, 250, 235},
         {}, {"u"}, false, lan},
        {"stopping mid-message: the message is answered, then 421",
         {kEnvelope + "Subject: x\r\n", "<STOP>", "\r\nbody\r\n.\r\nNOOP\r\n"}, {250, 250, 250, 354, 250, 421},
         {"Subject: x\r\n\r\nbody\r\n"}, {}, true},
        {"stopping between messages", {kHello, "<STOP>"}, {250, 421}, {}, {}, true},
        {"silent for the idle time mid-message", {kEnvelope + "Subject: x\r\n", "<IDLE>", ".\r\n"},
         {250, 250, 250, 354, 421}, {}, {}, true},
    };
    for (const DialogueCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeHandler handler;
        if (std::string(c.name).find("multi-line") != std::string::npos)
            handler.deliverReply = {451, "4.7.1", "greylisted\ntry later"};
        SmtpSession session(c.options, handler);
        std::string output;
        for (const std::string& step : c.steps) {
            if (step == "<TLS>") {
                EXPECT_TRUE(session.TlsPending());
                session.TlsStarted();
            } else if (step == "<STOP>") {
                session.Shutdown();
            } else if (step == "<IDLE>") {
                session.IdleTimeout();
            } else if (c.byteByByte) {
                for (char ch : step) session.Receive(std::string(1, ch));
            } else {
                session.Receive(step);
            }
            output += session.TakeOutput();
        }
        EXPECT_EQ(c.codes, Codes(output)) << output;
        EXPECT_EQ(c.delivered, handler.messages);
        EXPECT_EQ(c.logins, handler.logins);
        EXPECT_EQ(c.closed, session.Closed());
        if (!c.outputHas.empty()) {
            EXPECT_NE(output.find(c.outputHas), std::string::npos) << output;
        }
    }
}

TEST(SmtpSession, EhloOffersWhatTheConnectionMayUse) {
    struct Offer {
        SessionOptions options;
        bool startTls;
        bool auth;
    };
    const Offer offers[] = {
        {{.clearAuthAllowed = true, .mustAuth = false}, false, true},
        {{.tlsAvailable = true, .mustAuth = true}, true, false},
        {{.tlsAvailable = false, .mustAuth = false}, false, false},
    };
    for (const Offer& o : offers) {
        FakeHandler handler;
        SmtpSession session(o.options, handler);
        session.Receive(kHello);
        const std::string output = session.TakeOutput();
        EXPECT_NE(output.find("250-SIZE 52428800\r\n"), std::string::npos) << output;
        EXPECT_NE(output.find("250-PIPELINING\r\n250-SIZE"), std::string::npos) << output;
        EXPECT_EQ(o.startTls, output.find("STARTTLS") != std::string::npos) << output;
        EXPECT_EQ(o.auth, output.find("AUTH PLAIN LOGIN") != std::string::npos) << output;
        EXPECT_EQ(std::string::npos, output.find("DSN")) << output;
        EXPECT_NE(output.find("250 HELP\r\n"), std::string::npos) << output;
    }
}

TEST(SmtpSession, LogLinesCarryTheClientsTextPrintable) {
    std::vector<std::string> lines;
    SessionOptions options{.clearAuthAllowed = true, .mustAuth = true};
    options.log = [&lines](const std::string& line) { lines.push_back(line); };
    FakeHandler handler;
    SmtpSession session(options, handler);
    session.Receive(kHello + "AUTH LOGIN\r\n" + EncodeBase64("ann\nvexa relay: x: relayed\x1b[2J\x7f" + std::string(300, 'u')) +
                    "\r\n" + EncodeBase64("secret") + "\r\nMAIL FROM:<\"a\\\rb\"@c>\r\nRCPT TO:<d@e>\r\nDATA\r\n" +
                    std::string(2000, 'x') + "\r\n.\r\n");
    ASSERT_EQ(2u, lines.size());
    EXPECT_EQ("login as ann\\x0avexa relay: x: relayed\\x1b[2J\\x7f" + std::string(169, 'u') + "...: 235", lines[0]);
    EXPECT_EQ(0u, lines[1].find("refused message from <\"a\\\\x0db\"@c>: 554")) << lines[1];
}

TEST(SmtpReplyText, EveryLineCarriesCodeAndEnhancedCode) {
    struct Row {
        Reply reply;
        const char* wire;
    };
    const Row rows[] = {
        {{250, "2.0.0", "OK"}, "250 2.0.0 OK\r\n"},
        {{550, "", "no such user\nreally"}, "550-5.0.0 no such user\r\n550 5.0.0 really\r\n"},
        {{451, "4.3.0", "a\r\nb"}, "451-4.3.0 a \r\n451 4.3.0 b\r\n"},
    };
    for (const Row& r : rows) EXPECT_EQ(r.wire, FormatReply(r.reply));
}

}  // namespace
}  // namespace vexa::smtp
