// The errors of the IMAP host: HostError, tagged with what went wrong so that a command can turn
// it into its exit status without reading the text. A message never carries the password or the
// OAuth2 token: the texts are built from the URL, the server's own words and the system's.
#pragma once

#include <string>

#include "host/host_error.h"

namespace vexa::imap {

enum class ImapFailure {
    Usage,        // a malformed imap:// or imaps:// address, an unreadable CA file: a usage error
    UnknownHost,  // the host name does not resolve: start-up failure
    Certificate,  // no trustworthy TLS: certificate refused, handshake failed, or no STARTTLS
                  // where TLS was asked for: start-up failure
    Login,        // the server refused the user name and password (or token): start-up failure
    Unreachable,  // nothing answers at the address, or the name service is down: try again later
    Dropped,      // the connection broke or timed out after it was made: try again later
    Protocol,     // the server refused a command or answered what we cannot use
};

class ImapError : public HostError {
public:
    ImapError(ImapFailure failure, std::string description);
    ImapFailure Failure() const noexcept { return failure_; }

private:
    ImapFailure failure_;
};

// True for the failures that retrying later cannot mend (the exit status of a failed start-up).
bool IsStartupFailure(ImapFailure failure) noexcept;

}  // namespace vexa::imap
