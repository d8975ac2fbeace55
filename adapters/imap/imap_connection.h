// One logged-in IMAP session with the user's mail server, over libetpan: the few commands the
// IMAP host needs, each answering in plain C++ values or throwing ImapError. Not thread-safe; one
// command at a time, as IMAP itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "adapters/imap/imap_url.h"

struct mailimap;
struct mailimap_fetch_att;

namespace vexa::imap {

struct ImapConnectOptions {
    ImapUrl url;
    std::string secret;  // the password, or the OAuth2 access token when `oauth2`; never shown
    bool oauth2 = false;  // AUTHENTICATE XOAUTH2 instead of LOGIN
    // imap:// only: go on in plain text when the server offers no STARTTLS. A certificate is
    // checked whenever TLS is used, insecure or not.
    bool insecure = false;
    // Trust only this CA (PEM) instead of the system's, for a server with a private CA.
    std::optional<std::filesystem::path> caFile;
    int timeoutSeconds = 60;  // for connecting, and for each wait on the server's answer
};

struct MailboxStatus {
    std::uint32_t uidValidity = 0;
    std::uint32_t uidNext = 0;
    std::uint32_t exists = 0;
    // New keywords can be set on its messages (PERMANENTFLAGS holds \*).
    bool keywords = false;
};

// What a message's header tells before its body is fetched.
struct HeaderSummary {
    std::uint64_t size = 0;  // RFC822.SIZE, as the server states it
    std::string fields;      // the fields asked for, as a header block (ending in an empty line)
};

struct FolderEntry {
    std::string name;                // UTF-8, decoded from the server's modified UTF-7
    char delimiter = '\0';           // '\0' for a flat name space
    std::vector<std::string> flags;  // with the backslash: \Noselect, \HasChildren, \Trash, ...
};

// Where the user's own folders live (NAMESPACE, RFC 2342): "INBOX." on Courier and Cyrus, "" on
// most others.
struct PersonalNamespace {
    std::string prefix;      // UTF-8
    char delimiter = '\0';  // '\0' for a flat name space
};

// Folder names below are UTF-8: each command encodes them for the wire, and List decodes them.
class ImapConnection {
public:
    // Connects, secures (imaps: TLS at once; imap: STARTTLS), checks the certificate, logs in.
    // Throws ImapError; see ImapFailure for what each failure means to the caller.
    static std::unique_ptr<ImapConnection> Open(const ImapConnectOptions& options);
    ~ImapConnection();  // LOGOUT when the session is still sound; never throws
    ImapConnection(const ImapConnection&) = delete;
    ImapConnection& operator=(const ImapConnection&) = delete;

    // The capabilities after login, upper-case, e.g. "MOVE", "UIDPLUS", "AUTH=PLAIN".
    const std::vector<std::string>& Capabilities() const noexcept { return capabilities_; }
    bool Has(std::string_view capability) const noexcept;  // any letter case

    char Delimiter();  // INBOX's hierarchy delimiter ('\0' when the server has none)
    // The first personal namespace; a server without NAMESPACE has its folders at the top, with
    // INBOX's delimiter.
    PersonalNamespace Namespace();
    MailboxStatus Select(const std::string& folder);
    // UID SEARCH UNSEEN UID uid+1:*, ascending, every one above `uid`; with `includeSeen`, the
    // seen messages too (UID SEARCH UID uid+1:*). With `withoutKeyword`, the messages that carry
    // that keyword are left out (looked for in their flags).
    std::vector<std::uint32_t> UnseenUidsAbove(std::uint32_t uid, bool includeSeen = false,
                                               const std::string& withoutKeyword = {});
    // Writes the whole message, byte for byte, to `fd` with BODY.PEEK[] in chunks (it stays unseen
    // and is never held whole in memory); returns its flags. Throws Protocol when it is gone.
    std::vector<std::string> FetchToFile(std::uint32_t uid, int fd);
    // The size and the header fields `fields` ("From", "Subject", ...) of several messages with
    // one UID FETCH of BODY.PEEK[HEADER.FIELDS (...)]: they stay unseen, and a mail that turns out
    // to be none of the caller's business costs its few header lines, not its body. A message gone
    // from the server is missing.
    std::map<std::uint32_t, HeaderSummary> HeaderFields(const std::vector<std::uint32_t>& uids,
                                                        const std::vector<std::string>& fields);
    // Several whole messages with one UID FETCH of BODY.PEEK[], one round trip for them all, each
    // handed to `each` (in UID order, the bytes valid during the call). The answer is held in
    // memory: for messages small together (the caller bounds their sum by their sizes, and
    // fetches a large one with FetchToFile). A message gone is not handed over.
    void FetchWhole(const std::vector<std::uint32_t>& uids,
                    const std::function<void(std::uint32_t uid, std::string_view message)>& each);
    std::vector<std::string> Flags(std::uint32_t uid);
    // The flags of several messages with one command; a message gone from the server is missing.
    std::map<std::uint32_t, std::vector<std::string>> Flags(const std::vector<std::uint32_t>& uids);
    // Flags are "\Seen", "\Deleted", ... or keywords ("$Label1", "Work").
    void AddFlags(std::uint32_t uid, const std::vector<std::string>& flags);
    void RemoveFlags(std::uint32_t uid, const std::vector<std::string>& flags);
    // The same for several messages at once, with one command.
    void AddFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags);
    void RemoveFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags);
    // UID MOVE where the server has MOVE, else UID COPY, \Deleted and UID EXPUNGE of that message
    // alone (UIDPLUS); a server with neither is refused rather than expunging other messages.
    void Move(std::uint32_t uid, const std::string& target);
    // The same for several messages at once, with one command.
    void Move(const std::vector<std::uint32_t>& uids, const std::string& target);
    std::vector<FolderEntry> List(const std::string& pattern);  // LIST "" pattern
    void Create(const std::string& folder);
    void Subscribe(const std::string& folder);
    // IDLE on the selected folder for at most `maxSeconds`: true as soon as the server reports a
    // change (EXISTS, RECENT, EXPUNGE, FETCH), false when the time ran out without one, a signal
    // interrupted the wait, or `wakeFd` (when not -1: a signalfd, say) became readable. Each IDLE
    // is renewed before 29 minutes. An IDLE that heard nothing ends with DONE and a NOOP, which
    // must be answered within `maxSeconds` (15 s at most): else it throws Dropped, so that a
    // connection that died silently is noticed at the latest then.
    bool Idle(int maxSeconds, int wakeFd = -1);
    // NOOP: true when the server reported a change since the last command (the poll without IDLE).
    bool Noop();

    // The chunk FetchToFile asks for at a time (BODY.PEEK[]<offset.length>).
    static constexpr std::uint32_t kFetchChunk = 4u << 20;

private:
    struct Key {
        explicit Key() = default;
    };

public:
    ImapConnection(Key, std::string host);  // through Open only

private:
    void Check(int result, const char* command);  // throws on a libetpan error code
    void LoadCapabilities();
    void StoreFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags, bool add);
    // UID FETCH of `items` (taken over, freed in any case) for the one message `uid`; fails when
    // it is gone from the server.
    struct Fetched;
    Fetched FetchOne(std::uint32_t uid, std::vector<mailimap_fetch_att*> items);
    // UID FETCH of `items` (taken over, freed in any case) for all of `uids`, the answer whole.
    struct Answer;
    Answer FetchMany(const std::vector<std::uint32_t>& uids, std::vector<mailimap_fetch_att*> items);
    bool ServerReportedChange() const noexcept;

    struct SessionFree {
        void operator()(mailimap* session) const noexcept;
    };
    std::unique_ptr<mailimap, SessionFree> session_;
    std::string host_;
    std::vector<std::string> capabilities_;
    bool broken_ = false;  // the stream failed: no LOGOUT, just close
    int timeoutSeconds_ = 60;  // the usual wait on an answer, as opened
};

}  // namespace vexa::imap
