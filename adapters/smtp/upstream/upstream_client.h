// The user's real submission server, which the relay hands each mail on to: libcurl's SMTP
// client, over implicit TLS (smtps://) or STARTTLS (smtp://, required unless insecure), with the
// server's certificate checked as the IMAP host checks its server's. One client per mail
// program's connection keeps one upstream connection for that connection's mails.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

struct UpstreamOptions {
    std::string url;                    // smtps://host[:465] or smtp://host[:587]
    bool insecure = false;              // smtp:// without STARTTLS; certificates unchecked
    std::optional<std::string> caFile;  // trust only this CA instead of the system's
    std::chrono::seconds timeout{120};  // connecting, and each reply
};

class UpstreamClient {
public:
    // `login`: the credentials the mail program gave (AUTH) or those of the settings' password
    // command; none: the upstream is sent to without AUTH.
    UpstreamClient(UpstreamOptions options, std::optional<Credentials> login);
    ~UpstreamClient();
    UpstreamClient(const UpstreamClient&) = delete;
    UpstreamClient& operator=(const UpstreamClient&) = delete;

    // Logs in to the upstream with `login` and nothing more: 235, or the upstream's refusal
    // (535 and the like), or 454 4.7.0 when it cannot be reached.
    Reply CheckLogin(const Credentials& login);
    struct Relayed {
        Reply reply;
        // The connection broke after the whole message was sent and before the upstream's reply
        // to it: the mail may have left. A fax's row then stays, since nothing may leave unrecorded.
        bool outcomeUnknown = false;
    };
    // Relays one mail. 250 once the upstream took it after DATA; otherwise the upstream's own
    // reply to whichever command it refused (every recipient must be taken, or nothing is sent);
    // 451 4.4.x when the upstream cannot be reached or the connection broke, and 554 5.7.x when
    // its certificate is not to be trusted.
    Relayed Send(const Envelope& envelope, const std::string& message);

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vexa::smtp
