// The submission server mail programs send through (RFC 6409): listens on one address, speaks
// ESMTP with each connection on a thread of its own, and hands every authenticated login and
// every finished message to the connection's handler. A listener on anything but loopback
// offers STARTTLS and takes no mail before AUTH.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

struct ServerLimits {
    std::size_t maxMessageBytes = 50u * 1024 * 1024;  // advertised as SIZE
    std::size_t maxLineBytes = 1000;                   // a line of the message, CRLF included
    std::size_t maxCommandBytes = 4096;                // a command line (AUTH carries base64)
    std::size_t maxRecipients = 100;
    std::size_t maxConnections = 50;                   // half at most for peers that must log in
    std::chrono::seconds idleTimeout{300};
};

struct ListenerOptions {
    std::string host = "127.0.0.1";
    std::string port = "1587";  // "0": any free port (tests); Address() tells which
    // STARTTLS is offered when both are given; required (with AUTH) unless the host is loopback.
    std::optional<std::filesystem::path> certificate;
    std::optional<std::filesystem::path> key;
    std::string serverName = "localhost";  // the greeting's and EHLO's name
    ServerLimits limits;
    // One line per connection and per transaction (peer, sender, size, reply; never a password),
    // called from the connections' threads one at a time.
    std::function<void(const std::string&)> log;
};

class SmtpListener {
public:
    // Binds and listens. Throws HostError when it cannot (the port taken, a LAN address without
    // a certificate and key, a certificate that does not load). `handlers` must outlive the
    // listener; its Accept is called on the new connection's thread, one connection at a time.
    SmtpListener(ListenerOptions options, ConnectionHandlerFactory& handlers);
    ~SmtpListener();
    SmtpListener(const SmtpListener&) = delete;
    SmtpListener& operator=(const SmtpListener&) = delete;

    // "HOST:PORT" as bound.
    std::string Address() const;
    // Serves until Stop: returns once every connection's transaction in progress has ended.
    void Run();
    // From any thread (the signal thread): stop accepting, let each message being received or
    // relayed finish, answer 421 to anything after it, close idle connections, and let Run return.
    void Stop() noexcept;

private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace vexa::smtp
