// What the relay's two sides hand each other: the envelope of one mail as the mail program gave
// it, the credentials it logged in with, and an SMTP reply (the relay's own, or the upstream
// server's passed back as it came, so a 4xx stays a 4xx and the mail program retries).
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vexa::smtp {

struct Reply {
    int code = 250;
    std::string enhanced;  // "2.0.0"; empty when the server gave none
    std::string text;      // one line per '\n', without the code

    bool Positive() const { return code >= 200 && code < 400; }
    bool Transient() const { return code >= 400 && code < 500; }
};

struct Recipient {
    std::string address;     // without the angle brackets
    std::string parameters;  // as the mail program wrote them after the path, e.g. "NOTIFY=NEVER"
};

struct Envelope {
    std::string sender;            // empty: the null reverse-path <>
    std::string senderParameters;  // after the path of MAIL FROM, e.g. "SIZE=123 BODY=8BITMIME"
    std::vector<Recipient> recipients;
};

// Held in memory only: never written to an argument list, the environment, a file or a log.
struct Credentials {
    std::string user;
    std::string password;
};

// One mail program's connection as the relay serves it: the listener makes one per accepted
// connection and calls it from that connection's thread only.
class ConnectionHandler {
public:
    virtual ~ConnectionHandler() = default;
    // AUTH PLAIN or LOGIN: 235 when the upstream takes these credentials, its refusal otherwise.
    virtual Reply Authenticate(const Credentials& credentials) = 0;
    // The end of DATA: `message` as the mail program sent it, dot-stuffing undone, its CRLF line
    // ends kept. 250 only once the mail is relayed (and a fax's row committed).
    virtual Reply Deliver(const Envelope& envelope, std::string message) = 0;
};

class ConnectionHandlerFactory {
public:
    virtual ~ConnectionHandlerFactory() = default;
    // `peer` is the client's address as "host:port", for the log.
    virtual std::unique_ptr<ConnectionHandler> Accept(const std::string& peer) = 0;
};

}  // namespace vexa::smtp
