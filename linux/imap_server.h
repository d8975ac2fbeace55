// The IMAP account's server as the mirror uses it, over the IMAP client connection: opening it
// with the account's secret and certificate rules, and what a failure to open it means for the
// command (a start-up failure, or a server that cannot be reached now).
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "linux/imap_account.h"
#include "linux/imap_mirror.h"

namespace vexa::linuxhost {

// Why the account's server could not be opened: a refused login, an unknown host or an untrusted
// certificate is for the user to mend (`temporary` false); a server that does not answer now
// may answer later (`temporary` true). The reason never holds the secret.
class ImapOpenFailure : public std::runtime_error {
public:
    ImapOpenFailure(const std::string& reason, bool temporary) : std::runtime_error(reason), temporary_(temporary) {}
    bool Temporary() const noexcept { return temporary_; }

private:
    bool temporary_;
};

// A server that can also wait for news: IDLE where the server has it, else a NOOP poll.
class WatchedImapServer : public linuxhost::ImapServer {
public:
    // Waits up to `seconds` for the Inbox to change, or for `wakeFd` to become readable (a
    // signal); true when the Inbox may have changed. Throws HostError when the connection drops,
    // or when it stays silent at the end of the wait (a connection that died without a word).
    virtual bool WaitForNews(int seconds, int wakeFd) = 0;
};

// Throws ImapOpenFailure.
std::unique_ptr<WatchedImapServer> OpenImapServer(const ImapAccount& account);

}  // namespace vexa::linuxhost
