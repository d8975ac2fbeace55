// The upstream server's own replies, read out of libcurl's transcript of the conversation, and
// the reply the relay gives its mail program when libcurl gave up: the server's refusal as it
// came (so a 4xx stays a 4xx), else a reply of the relay's own that says what went wrong.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

class ReplyTranscript {
public:
    // Lines the server sent (libcurl's CURLINFO_HEADER_IN), one or more, CRLF or LF ended.
    void Received(std::string_view lines);
    // A command (its start, CURLINFO_HEADER_OUT) or message data (CURLINFO_DATA_OUT) went out.
    // The QUIT libcurl sends after a refusal, and its answer, leave the refusal the last reply.
    void Sent(std::string_view command = {});
    void Clear() { *this = ReplyTranscript(); }

    // The last complete reply, when any came.
    const std::optional<Reply>& Last() const { return last_; }
    // Whether the last reply came after everything sent: it answers the last command.
    bool Answered() const { return answered_; }
    bool Saw(int code) const;

private:
    void Line(std::string_view line);

    std::optional<Reply> last_;
    Reply building_;
    bool inReply_ = false;
    bool answered_ = false;
    bool saw235_ = false;
    bool saw354_ = false;
    bool quitting_ = false;
};

// Why libcurl gave up, as far as the reply to the mail program goes.
enum class UpstreamFailure {
    Unreachable,  // no connection (resolve, connect, the TLS handshake, a timeout before it)
    Broken,       // the connection broke or stopped answering
    Certificate,  // the server's certificate is not to be trusted
    NoTls,        // STARTTLS required and not offered
    LoginDenied,  // the login was refused
    Refused,      // a command was refused (MAIL, RCPT, DATA, the message)
};

// The reply for `failure`: the server's last reply when it answered the last command with a
// refusal, else one of our own; `detail` is libcurl's words, for the text.
Reply FailureReply(UpstreamFailure failure, const ReplyTranscript& transcript, const std::string& detail);

}  // namespace vexa::smtp
