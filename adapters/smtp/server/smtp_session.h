// The submission protocol of one connection, without a socket: the listener feeds it the bytes
// the mail program sent and writes back what it answers. It calls the connection's handler for
// AUTH and at the end of DATA, on the caller's thread. Everything the wire may carry that would
// let a message be read two ways (bare CR or LF, plaintext pipelined behind STARTTLS) is refused
// or dropped here, so the handler only ever sees one reading.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "adapters/smtp/server/smtp_listener.h"
#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

struct SessionOptions {
    std::string serverName = "localhost";
    ServerLimits limits;
    bool tlsAvailable = false;    // STARTTLS can be offered (a certificate is loaded)
    bool clearAuthAllowed = false;  // AUTH before TLS: only for a loopback peer on a loopback listener
    bool mustAuth = true;         // MAIL only after AUTH: anyone but the relay's own user on loopback
    std::function<void(const std::string&)> log;  // one line per transaction; no secret ever
};

class SmtpSession {
public:
    SmtpSession(SessionOptions options, ConnectionHandler& handler);

    // "220 NAME ESMTP".
    std::string Greeting() const;
    // Takes what arrived and answers every complete command in it (delivering a finished
    // message), in order. Ignored once Closed() or while a TLS handshake is due.
    void Receive(std::string_view bytes);
    // The replies not yet written, in order; empties them.
    std::string TakeOutput();

    // The connection is to be closed once TakeOutput's text is written.
    bool Closed() const noexcept { return closed_; }
    // STARTTLS was answered 220: write TakeOutput, do the handshake, then call TlsStarted. The
    // bytes that came after the command in the clear were dropped.
    bool TlsPending() const noexcept { return tlsPending_; }
    // After the handshake: the session starts over (EHLO again, no login), now over TLS.
    void TlsStarted();
    bool TlsActive() const noexcept { return tlsActive_; }

    // A message is being received: the listener lets it finish before it stops.
    bool InMessage() const noexcept { return phase_ == Phase::Data; }
    // The server stops: 421 now, or right after the message being received has been answered.
    void Shutdown();
    // Nothing came for the idle time: 421 and close.
    void IdleTimeout();

private:
    enum class Phase { Command, Data, AuthPlain, AuthLoginUser, AuthLoginPassword };

    void HandleLine(std::string line);
    void HandleData(std::string_view bytes, std::size_t& used);
    void FinishData();
    void Command(const std::string& verb, const std::string& args);
    void Ehlo(const std::string& args, bool extended);
    void Mail(const std::string& args);
    void Rcpt(const std::string& args);
    void Data(const std::string& args);
    void Auth(const std::string& args);
    void StartTls(const std::string& args);
    void AuthResponse(std::string line);
    void Authenticate(Credentials credentials);
    void ResetTransaction();
    void Answer(int code, const std::string& enhanced, const std::string& text);
    // A refusal the client brought on itself: counted, and enough of them end the connection.
    void Error(int code, const std::string& enhanced, const std::string& text);
    void CountError();
    // A command that moves no mail along: past a few of them without a message, each is an error.
    void CountIdleCommand();
    void Log(const std::string& line) const;

    SessionOptions options_;
    ConnectionHandler& handler_;
    std::string input_;
    std::string output_;
    Phase phase_ = Phase::Command;
    bool closed_ = false;
    bool tlsPending_ = false;
    bool tlsActive_ = false;
    bool stopping_ = false;
    bool greeted_ = false;
    bool authenticated_ = false;
    bool discardingLongLine_ = false;
    int errors_ = 0;
    int idleCommands_ = 0;  // since the connection began or the last message ended
    int failedLogins_ = 0;
    std::string authUser_;

    bool inTransaction_ = false;
    Envelope envelope_;

    // The message being received, line by line: a line is judged whole once its LF arrives.
    std::string message_;
    std::string line_;
    std::size_t lineBytes_ = 0;
    bool lastWasCr_ = false;
    bool lineStartsAfterCrlf_ = true;
    bool tooBig_ = false;
    bool tooLongLine_ = false;
    bool bareLineEnd_ = false;
};

}  // namespace vexa::smtp
