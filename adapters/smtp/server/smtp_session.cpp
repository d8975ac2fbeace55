#include "adapters/smtp/server/smtp_session.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <utility>

#include "adapters/smtp/server/smtp_reply_text.h"

namespace vexa::smtp {
namespace {

// A client that keeps getting things wrong is a script probing the server, not a mail program.
constexpr int kMaxErrors = 20;
// A mail program greets, resets or checks the line a few times around each message; a connection
// that does nothing else only holds a slot the user's own programs may need.
constexpr int kFreeIdleCommands = 20;
// Each login is tried upstream with the user's account: guesses must stay few.
constexpr int kMaxFailedLogins = 3;

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool StartsWithNoCase(const std::string& text, std::string_view prefix) {
    return text.size() >= prefix.size() && Upper(text.substr(0, prefix.size())) == prefix;
}

struct Path {
    std::string address;
    std::string parameters;
};

// "<local@domain> KEY=VALUE ...": the address without its brackets (and without an old source
// route), and the parameters as written. Nothing when the path is malformed.
std::optional<Path> ParsePath(std::string text) {
    const auto first = text.find_first_not_of(' ');
    if (first == std::string::npos || text[first] != '<') return std::nullopt;
    bool quoted = false;
    std::size_t close = std::string::npos;
    for (std::size_t i = first + 1; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == 0x7F) return std::nullopt;
        if (c == '\\' && quoted) {
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '<') {
            return std::nullopt;
        } else if (!quoted && c == '>') {
            close = i;
            break;
        } else if (!quoted && c == ' ') {
            return std::nullopt;
        }
    }
    if (close == std::string::npos) return std::nullopt;
    Path path;
    path.address = text.substr(first + 1, close - first - 1);
    if (!path.address.empty() && path.address[0] == '@') {
        const auto colon = path.address.find(':');
        if (colon == std::string::npos) return std::nullopt;
        path.address.erase(0, colon + 1);
    }
    std::string rest = text.substr(close + 1);
    if (!rest.empty() && rest[0] != ' ') return std::nullopt;
    const auto start = rest.find_first_not_of(' ');
    const auto end = rest.find_last_not_of(' ');
    if (start != std::string::npos) path.parameters = rest.substr(start, end - start + 1);
    return path;
}

std::vector<std::string> SplitWords(const std::string& text) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto start = text.find_first_not_of(' ', at);
        if (start == std::string::npos) break;
        const auto end = text.find(' ', start);
        words.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        at = end == std::string::npos ? text.size() : end;
    }
    return words;
}

std::string FirstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

}  // namespace

SmtpSession::SmtpSession(SessionOptions options, ConnectionHandler& handler)
    : options_(std::move(options)), handler_(handler) {}

std::string SmtpSession::Greeting() const { return "220 " + options_.serverName + " ESMTP\r\n"; }

std::string SmtpSession::TakeOutput() { return std::exchange(output_, {}); }

void SmtpSession::Receive(std::string_view bytes) {
    if (closed_ || tlsPending_) return;
    input_.append(bytes);
    std::size_t used = 0;
    bool heldSecret = false;
    while (used < input_.size() && !closed_ && !tlsPending_) {
        if (phase_ == Phase::Data) {
            HandleData(input_, used);
            continue;
        }
        const auto lf = input_.find('\n', used);
        if (lf == std::string::npos) {
            if (input_.size() - used > options_.limits.maxCommandBytes) {
                if (!discardingLongLine_) Error(500, "5.5.2", "Line too long");
                discardingLongLine_ = true;
                used = input_.size();
            }
            break;
        }
        std::string line = input_.substr(used, lf - used);
        used = lf + 1;
        if (std::exchange(discardingLongLine_, false)) continue;
        if (line.size() + 1 > options_.limits.maxCommandBytes) {
            Error(500, "5.5.2", "Line too long");
            continue;
        }
        if (!line.empty() && line.back() == '\r') line.pop_back();
        heldSecret = heldSecret || phase_ != Phase::Command || StartsWithNoCase(line, "AUTH");
        HandleLine(std::move(line));
    }
    // A login's base64 stays in this buffer's memory otherwise.
    if (heldSecret) std::fill(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(used), '\0');
    // Whatever was pipelined behind STARTTLS came in the clear, possibly from someone else in the
    // path; it must not be read as if it came over TLS.
    if (closed_ || tlsPending_)
        input_.clear();
    else
        input_.erase(0, used);
}

void SmtpSession::HandleLine(std::string line) {
    if (phase_ != Phase::Command) {
        AuthResponse(std::move(line));
        return;
    }
    if (stopping_) {
        Shutdown();
        return;
    }
    const auto space = line.find(' ');
    const std::string verb = Upper(line.substr(0, space));
    const std::string args = space == std::string::npos ? std::string() : line.substr(space + 1);
    Command(verb, args);
    if (verb == "EHLO" || verb == "HELO" || verb == "RSET" || verb == "NOOP" || verb == "VRFY" || verb == "HELP")
        CountIdleCommand();
}

void SmtpSession::Command(const std::string& verb, const std::string& args) {
    using Member = void (SmtpSession::*)(const std::string&);
    struct Entry {
        std::string_view verb;
        Member member;
    };
    static const std::array<Entry, 5> kCommands{{
        {"MAIL", &SmtpSession::Mail},
        {"RCPT", &SmtpSession::Rcpt},
        {"DATA", &SmtpSession::Data},
        {"AUTH", &SmtpSession::Auth},
        {"STARTTLS", &SmtpSession::StartTls},
    }};
    if (verb == "EHLO" || verb == "HELO") return Ehlo(args, verb == "EHLO");
    for (const auto& entry : kCommands)
        if (entry.verb == verb) return (this->*entry.member)(args);
    if (verb == "RSET") {
        ResetTransaction();
        return Answer(250, "2.0.0", "OK");
    }
    if (verb == "NOOP") return Answer(250, "2.0.0", "OK");
    if (verb == "QUIT") {
        Answer(221, "2.0.0", options_.serverName + " closing connection");
        closed_ = true;
        return;
    }
    if (verb == "VRFY") return Answer(252, "2.5.0", "Cannot VRFY user, but will accept message and attempt delivery");
    if (verb == "HELP")
        return Answer(214, "2.0.0", "Commands: EHLO HELO STARTTLS AUTH MAIL RCPT DATA RSET NOOP VRFY HELP QUIT");
    if (verb == "EXPN" || verb == "TURN" || verb == "ETRN" || verb == "BDAT")
        return Error(502, "5.5.1", "Command not implemented");
    Error(500, "5.5.2", "Command unrecognized");
}

void SmtpSession::Ehlo(const std::string& args, bool extended) {
    if (args.find_first_not_of(' ') == std::string::npos)
        return Error(501, "5.5.4", std::string("Syntax: ") + (extended ? "EHLO" : "HELO") + " hostname");
    ResetTransaction();
    greeted_ = true;
    // RFC 2034: the replies to EHLO and HELO carry no enhanced code.
    if (!extended) {
        output_ += "250 " + options_.serverName + "\r\n";
        return;
    }
    std::vector<std::string> lines{options_.serverName,
                                   "PIPELINING",
                                   "SIZE " + std::to_string(options_.limits.maxMessageBytes),
                                   "8BITMIME",
                                   "SMTPUTF8",
                                   "ENHANCEDSTATUSCODES"};
    if (options_.tlsAvailable && !tlsActive_) lines.push_back("STARTTLS");
    if (!authenticated_ && (tlsActive_ || options_.clearAuthAllowed)) lines.push_back("AUTH PLAIN LOGIN");
    lines.push_back("HELP");
    for (std::size_t i = 0; i < lines.size(); ++i)
        output_ += (i + 1 < lines.size() ? "250-" : "250 ") + lines[i] + "\r\n";
}

void SmtpSession::Mail(const std::string& args) {
    if (!greeted_) return Error(503, "5.5.1", "Send EHLO first");
    if (options_.mustAuth && !authenticated_) return Error(530, "5.7.0", "Authentication required");
    if (inTransaction_) return Error(503, "5.5.1", "Sender already given");
    if (!StartsWithNoCase(args, "FROM:")) return Error(501, "5.5.4", "Syntax: MAIL FROM:<address>");
    const auto path = ParsePath(args.substr(5));
    if (!path) return Error(501, "5.1.7", "Bad sender address syntax");
    for (const auto& word : SplitWords(path->parameters)) {
        const auto eq = word.find('=');
        const std::string key = Upper(word.substr(0, eq));
        const std::string value = eq == std::string::npos ? std::string() : word.substr(eq + 1);
        if (key == "SIZE" && eq != std::string::npos) {
            if (value.empty() || value.size() > 19 || value.find_first_not_of("0123456789") != std::string::npos)
                return Error(501, "5.5.4", "Bad SIZE parameter");
            if (std::stoull(value) > options_.limits.maxMessageBytes)
                return Error(552, "5.3.4", "Message size exceeds fixed limit");
        } else if (key == "BODY" && eq != std::string::npos) {
            const std::string body = Upper(value);
            if (body != "7BIT" && body != "8BITMIME") return Error(501, "5.5.4", "Unsupported BODY type");
        } else if (key == "SMTPUTF8" && eq == std::string::npos) {
        } else if (key == "AUTH" && eq != std::string::npos) {
        } else {
            return Error(555, "5.5.4", "Unsupported MAIL parameter " + key.substr(0, 40));
        }
    }
    envelope_ = Envelope{path->address, path->parameters, {}};
    inTransaction_ = true;
    Answer(250, "2.1.0", "Sender OK");
}

void SmtpSession::Rcpt(const std::string& args) {
    if (!inTransaction_) return Error(503, "5.5.1", "Need MAIL command");
    if (!StartsWithNoCase(args, "TO:")) return Error(501, "5.5.4", "Syntax: RCPT TO:<address>");
    const auto path = ParsePath(args.substr(3));
    if (!path || path->address.empty()) return Error(501, "5.1.3", "Bad recipient address syntax");
    // Nothing could carry them on upstream (DSN is not offered).
    if (!path->parameters.empty()) return Error(555, "5.5.4", "RCPT parameters not supported");
    if (envelope_.recipients.size() >= options_.limits.maxRecipients)
        return Answer(452, "4.5.3", "Too many recipients");
    envelope_.recipients.push_back(Recipient{path->address, {}});
    Answer(250, "2.1.5", "Recipient OK");
}

void SmtpSession::Data(const std::string& args) {
    if (!args.empty()) return Error(501, "5.5.4", "Syntax: DATA");
    if (!inTransaction_) return Error(503, "5.5.1", "Need MAIL command");
    if (envelope_.recipients.empty()) return Error(503, "5.5.1", "Need RCPT command");
    output_ += "354 End data with <CR><LF>.<CR><LF>\r\n";
    phase_ = Phase::Data;
    message_.clear();
    line_.clear();
    lineBytes_ = 0;
    lastWasCr_ = false;
    lineStartsAfterCrlf_ = true;
    tooBig_ = tooLongLine_ = bareLineEnd_ = false;
}

void SmtpSession::HandleData(std::string_view bytes, std::size_t& used) {
    const std::size_t maxLine = options_.limits.maxLineBytes;
    while (used < bytes.size()) {
        const char c = bytes[used++];
        const bool afterCr = lastWasCr_;
        if (afterCr && c != '\n') bareLineEnd_ = true;
        lastWasCr_ = c == '\r';
        ++lineBytes_;
        if (line_.size() <= maxLine) line_ += c;
        if (c != '\n') continue;
        const bool crlf = afterCr;
        // The end is CRLF "." CRLF and nothing else: a dot after a bare LF is part of the text,
        // and the message is refused for that LF, so no server behind us can read it as an end.
        if (crlf && lineStartsAfterCrlf_ && line_ == ".\r\n") {
            FinishData();
            return;
        }
        if (!crlf) bareLineEnd_ = true;
        // The limit counts the line as written, not the dot doubled for transparency.
        if (lineBytes_ > maxLine + (line_.front() == '.' ? 1 : 0)) tooLongLine_ = true;
        if (!tooBig_ && !tooLongLine_ && !bareLineEnd_) {
            message_.append(line_, line_.front() == '.' ? 1 : 0);
            if (message_.size() > options_.limits.maxMessageBytes) tooBig_ = true;
        }
        if (tooBig_ || tooLongLine_ || bareLineEnd_) message_.clear();
        lineStartsAfterCrlf_ = crlf;
        line_.clear();
        lineBytes_ = 0;
    }
}

void SmtpSession::FinishData() {
    phase_ = Phase::Command;
    idleCommands_ = 0;
    const auto refuse = [this](int code, const std::string& enhanced, const std::string& text) {
        Answer(code, enhanced, text);
        Log("refused message from <" + LogText(envelope_.sender) + ">: " + std::to_string(code) + " " + text);
    };
    if (tooBig_) {
        refuse(552, "5.3.4", "Message size exceeds fixed limit");
    } else if (bareLineEnd_) {
        refuse(554, "5.6.0", "Message refused: a line ends in a bare CR or LF (lines must end in CRLF)");
    } else if (tooLongLine_) {
        refuse(554, "5.6.0",
               "Message refused: a line is longer than " + std::to_string(options_.limits.maxLineBytes) + " bytes");
    } else {
        const std::size_t size = message_.size();
        Reply reply;
        try {
            reply = handler_.Deliver(envelope_, std::exchange(message_, {}));
        } catch (...) {
            reply = Reply{451, "4.3.0", "Local error in processing"};
        }
        output_ += FormatReply(reply);
        Log("message from <" + LogText(envelope_.sender) + "> to " + std::to_string(envelope_.recipients.size()) +
            " recipient(s), " + std::to_string(size) + " bytes: " + std::to_string(reply.code) + " " +
            LogText(FirstLine(reply.text)));
    }
    message_.clear();
    line_.clear();
    ResetTransaction();
    if (stopping_) Shutdown();
}

void SmtpSession::Auth(const std::string& args) {
    if (!greeted_) return Error(503, "5.5.1", "Send EHLO first");
    if (authenticated_) return Error(503, "5.5.1", "Already authenticated");
    if (inTransaction_) return Error(503, "5.5.1", "AUTH not permitted during a mail transaction");
    if (!tlsActive_ && !options_.clearAuthAllowed) return Error(530, "5.7.0", "Must issue a STARTTLS command first");
    const auto words = SplitWords(args);
    const std::string mechanism = words.empty() ? std::string() : Upper(words[0]);
    if (words.size() > 2 || (mechanism != "PLAIN" && mechanism != "LOGIN"))
        return Error(504, "5.5.4", "Unrecognized authentication type");
    if (words.size() == 1) {
        phase_ = mechanism == "PLAIN" ? Phase::AuthPlain : Phase::AuthLoginUser;
        output_ += mechanism == "PLAIN" ? "334 \r\n" : "334 VXNlcm5hbWU6\r\n";  // "Username:"
        return;
    }
    std::string initial = words[1];
    phase_ = mechanism == "PLAIN" ? Phase::AuthPlain : Phase::AuthLoginUser;
    // RFC 4954: "=" is an initial response that is empty.
    AuthResponse(initial == "=" ? std::string() : std::move(initial));
    Scrub(initial);
}

void SmtpSession::AuthResponse(std::string line) {
    const Phase phase = std::exchange(phase_, Phase::Command);
    if (line == "*") return Error(501, "5.7.0", "Authentication cancelled");
    auto decoded = DecodeBase64(line);
    Scrub(line);
    if (!decoded) return Error(501, "5.5.2", "Invalid base64 data");
    switch (phase) {
        case Phase::AuthPlain: {
            // authorization identity \0 user \0 password; we only ever act as the user.
            const auto first = decoded->find('\0');
            const auto second = first == std::string::npos ? first : decoded->find('\0', first + 1);
            if (second == std::string::npos || decoded->find('\0', second + 1) != std::string::npos) {
                Scrub(*decoded);
                return Error(501, "5.5.2", "Invalid PLAIN response");
            }
            Credentials credentials{decoded->substr(first + 1, second - first - 1), decoded->substr(second + 1)};
            Scrub(*decoded);
            return Authenticate(std::move(credentials));
        }
        case Phase::AuthLoginUser:
            authUser_ = std::move(*decoded);
            phase_ = Phase::AuthLoginPassword;
            output_ += "334 UGFzc3dvcmQ6\r\n";  // "Password:"
            return;
        case Phase::AuthLoginPassword:
            return Authenticate(Credentials{std::exchange(authUser_, {}), std::move(*decoded)});
        default:
            return;
    }
}

void SmtpSession::Authenticate(Credentials credentials) {
    Reply reply;
    try {
        reply = handler_.Authenticate(credentials);
    } catch (...) {
        reply = Reply{454, "4.7.0", "Temporary authentication failure"};
    }
    Scrub(credentials.password);
    output_ += FormatReply(reply);
    Log("login as " + LogText(credentials.user) + ": " + std::to_string(reply.code));
    if (reply.code == 235) {
        authenticated_ = true;
    } else if (++failedLogins_ >= kMaxFailedLogins && !closed_) {
        Answer(421, "4.7.0", options_.serverName + " Too many failed logins, closing connection");
        closed_ = true;
    } else {
        CountError();
    }
}

void SmtpSession::StartTls(const std::string& args) {
    if (!args.empty()) return Error(501, "5.5.4", "Syntax: STARTTLS");
    if (!options_.tlsAvailable) return Error(502, "5.5.1", "STARTTLS not available");
    if (tlsActive_) return Error(503, "5.5.1", "TLS already active");
    Answer(220, "2.0.0", "Ready to start TLS");
    tlsPending_ = true;
}

void SmtpSession::TlsStarted() {
    tlsPending_ = false;
    tlsActive_ = true;
    greeted_ = false;
    authenticated_ = false;
    input_.clear();
    ResetTransaction();
}

void SmtpSession::Shutdown() {
    stopping_ = true;
    if (phase_ == Phase::Data || closed_) return;
    Answer(421, "4.3.2", options_.serverName + " Service shutting down, closing connection");
    closed_ = true;
}

void SmtpSession::IdleTimeout() {
    if (closed_) return;
    Answer(421, "4.4.2", options_.serverName + " Idle timeout, closing connection");
    closed_ = true;
}

void SmtpSession::ResetTransaction() {
    inTransaction_ = false;
    envelope_ = Envelope{};
}

void SmtpSession::Answer(int code, const std::string& enhanced, const std::string& text) {
    output_ += FormatReply(Reply{code, enhanced, text});
}

void SmtpSession::Error(int code, const std::string& enhanced, const std::string& text) {
    Answer(code, enhanced, text);
    CountError();
}

void SmtpSession::CountError() {
    if (++errors_ >= kMaxErrors && !closed_) {
        Answer(421, "4.7.0", options_.serverName + " Too many errors, closing connection");
        closed_ = true;
    }
}

void SmtpSession::CountIdleCommand() {
    if (++idleCommands_ > kFreeIdleCommands) CountError();
}

void SmtpSession::Log(const std::string& line) const {
    if (options_.log) options_.log(line);
}

}  // namespace vexa::smtp
