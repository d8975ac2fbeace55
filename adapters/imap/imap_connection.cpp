#include "adapters/imap/imap_connection.h"

#include <libetpan/libetpan.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

#include "adapters/imap/etpan_ptr.h"
#include "adapters/imap/imap_error.h"
#include "adapters/imap/mailbox_name.h"
#include "adapters/imap/stderr_capture.h"
#include "adapters/imap/tcp_connect.h"
#include "adapters/imap/tls_verify.h"

namespace vexa::imap {

namespace {

// A server greets at once. One that says nothing for this long is taken for one that waits for
// the client to speak first: a port for TLS from the start, reached with imap://.
constexpr int kGreetingSeconds = 5;
// The end of an IDLE that heard nothing, and the NOOP after it, are answered at once by a live
// server; a connection that died without a word is noticed by waiting this long at most.
constexpr int kAnswerSeconds = 15;
// libetpan reports a failed handshake on standard error with this before GnuTLS's text.
constexpr std::string_view kGnutlsLine = "GnuTLS error: ";

// For the commands of its lifetime, an answer is awaited `seconds` at most instead of `usual`.
class AnswerDeadline {
public:
    AnswerDeadline(mailimap* session, int seconds, int usual) : session_(session), usual_(usual) { Set(seconds); }
    ~AnswerDeadline() { Set(usual_); }
    AnswerDeadline(const AnswerDeadline&) = delete;
    AnswerDeadline& operator=(const AnswerDeadline&) = delete;

private:
    void Set(int seconds) noexcept {
        mailimap_set_timeout(session_, seconds);
        if (session_->imap_stream != nullptr)
            mailstream_low_set_timeout(mailstream_get_low(session_->imap_stream), seconds);
    }
    mailimap* session_;
    int usual_;
};

// GnuTLS's reason as a sentence, else a general one.
std::string HandshakeReason(std::string reason) {
    while (!reason.empty() && (reason.back() == ' ' || reason.back() == '\r')) reason.pop_back();
    if (reason.empty()) return "the TLS handshake failed.";
    return reason.ends_with('.') ? reason : reason + ".";
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool IsAddressLiteral(const std::string& host) {
    return host.find(':') != std::string::npos ||
           std::all_of(host.begin(), host.end(), [](char c) { return c == '.' || (c >= '0' && c <= '9'); });
}

// Run by libetpan before the handshake: the host name goes out as SNI, so that a server with
// several names shows the certificate for the one asked for. Never for an address literal.
void PrepareHandshake(mailstream_ssl_context* context, void* host) {
    mailstream_ssl_set_server_name(context, static_cast<char*>(host));
}

std::string ServerText(mailimap* session) {
    if (session->imap_response == nullptr || *session->imap_response == '\0') return "no reason given";
    return session->imap_response;
}

// The search key UNSEEN; libetpan has no shorthand for it.
mailimap_search_key* UnseenKey() {
    return mailimap_search_key_new(MAILIMAP_SEARCH_KEY_UNSEEN, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr,
                                   nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr);
}

std::string FlagName(const mailimap_flag& flag) {
    switch (flag.fl_type) {
        case MAILIMAP_FLAG_ANSWERED: return "\\Answered";
        case MAILIMAP_FLAG_FLAGGED: return "\\Flagged";
        case MAILIMAP_FLAG_DELETED: return "\\Deleted";
        case MAILIMAP_FLAG_SEEN: return "\\Seen";
        case MAILIMAP_FLAG_DRAFT: return "\\Draft";
        case MAILIMAP_FLAG_KEYWORD: return flag.fl_data.fl_keyword ? flag.fl_data.fl_keyword : "";
        case MAILIMAP_FLAG_EXTENSION:
            return std::string("\\") + (flag.fl_data.fl_extension ? flag.fl_data.fl_extension : "");
        default: return "";
    }
}

std::vector<std::string> FlagNames(const mailimap_msg_att_dynamic* dynamic) {
    std::vector<std::string> names;
    if (dynamic == nullptr || dynamic->att_list == nullptr) return names;
    for (clistiter* it = clist_begin(dynamic->att_list); it != nullptr; it = clist_next(it)) {
        const auto* fetched = static_cast<mailimap_flag_fetch*>(clist_content(it));
        if (fetched->fl_type == MAILIMAP_FLAG_FETCH_RECENT) {
            names.emplace_back("\\Recent");
        } else if (fetched->fl_flag != nullptr) {
            std::string name = FlagName(*fetched->fl_flag);
            if (!name.empty()) names.push_back(std::move(name));
        }
    }
    return names;
}

// A flag as libetpan sends it; the strings are handed over to it, hence strdup.
FlagPtr NewFlag(const std::string& name) {
    const std::string upper = Upper(name);
    if (upper == "\\SEEN") return FlagPtr(mailimap_flag_new_seen());
    if (upper == "\\DELETED") return FlagPtr(mailimap_flag_new_deleted());
    if (upper == "\\ANSWERED") return FlagPtr(mailimap_flag_new_answered());
    if (upper == "\\FLAGGED") return FlagPtr(mailimap_flag_new_flagged());
    if (upper == "\\DRAFT") return FlagPtr(mailimap_flag_new_draft());
    if (name.starts_with('\\')) return FlagPtr(mailimap_flag_new_flag_extension(strdup(name.c_str() + 1)));
    return FlagPtr(mailimap_flag_new_flag_keyword(strdup(name.c_str())));
}

// What one message's FETCH response carried.
struct FetchedItems {
    bool found = false;
    std::vector<std::string> flags;
    bool hasFlags = false;
    const char* body = nullptr;
    std::size_t bodyLength = 0;
    std::uint64_t size = 0;  // RFC822.SIZE, when asked for
};

// The items of one FETCH response, and the UID it names (0 when none).
FetchedItems ItemsOfResponse(const mailimap_msg_att& message, std::uint32_t& uid) {
    FetchedItems items;
    uid = 0;
    for (clistiter* at = clist_begin(message.att_list); at != nullptr; at = clist_next(at)) {
        const auto* item = static_cast<mailimap_msg_att_item*>(clist_content(at));
        if (item->att_type == MAILIMAP_MSG_ATT_ITEM_DYNAMIC) {
            items.flags = FlagNames(item->att_data.att_dyn);
            items.hasFlags = true;
        } else if (item->att_type == MAILIMAP_MSG_ATT_ITEM_STATIC) {
            const auto* value = item->att_data.att_static;
            if (value->att_type == MAILIMAP_MSG_ATT_UID) uid = value->att_data.att_uid;
            if (value->att_type == MAILIMAP_MSG_ATT_RFC822_SIZE) items.size = value->att_data.att_rfc822_size;
            if (value->att_type == MAILIMAP_MSG_ATT_BODY_SECTION && value->att_data.att_body_section != nullptr) {
                items.body = value->att_data.att_body_section->sec_body_part;
                items.bodyLength = items.body ? value->att_data.att_body_section->sec_length : 0;
            }
        }
    }
    return items;
}

FetchedItems ItemsOf(clist* responses, std::uint32_t uid) {
    for (clistiter* it = clist_begin(responses); it != nullptr; it = clist_next(it)) {
        std::uint32_t messageUid = 0;
        FetchedItems items = ItemsOfResponse(*static_cast<mailimap_msg_att*>(clist_content(it)), messageUid);
        // Other messages' unsolicited flag changes can come along; only this UID's answer counts.
        if (messageUid == uid) {
            items.found = true;
            return items;
        }
    }
    return {};
}

// The body section of each message of `wanted` in one answer, with its size, in one walk over
// it. Unsolicited flag changes carry no body and add nothing; neither does a UID not asked for.
std::map<std::uint32_t, FetchedItems> BodiesOf(clist* responses, const std::vector<std::uint32_t>& wanted) {
    std::map<std::uint32_t, FetchedItems> bodies;
    for (clistiter* it = clist_begin(responses); it != nullptr; it = clist_next(it)) {
        std::uint32_t uid = 0;
        FetchedItems items = ItemsOfResponse(*static_cast<mailimap_msg_att*>(clist_content(it)), uid);
        if (items.body == nullptr || !std::binary_search(wanted.begin(), wanted.end(), uid)) continue;
        items.found = true;
        bodies[uid] = items;
    }
    return bodies;
}

// A UID set of the given messages, for one command over all of them. Runs of consecutive UIDs
// go as intervals (1:500), so that the command line stays short over thousands of messages.
SetPtr UidSet(const std::vector<std::uint32_t>& uids) {
    SetPtr set(mailimap_set_new_empty());
    if (!set) throw ImapError(ImapFailure::Protocol, "Out of memory for a UID set.");
    std::vector<std::uint32_t> sorted(uids);
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    for (std::size_t first = 0; first < sorted.size();) {
        std::size_t last = first;
        while (last + 1 < sorted.size() && sorted[last + 1] == sorted[last] + 1) ++last;
        if (mailimap_set_add_interval(set.get(), sorted[first], sorted[last]) != MAILIMAP_NO_ERROR)
            throw ImapError(ImapFailure::Protocol, "Out of memory for a UID set.");
        first = last + 1;
    }
    return set;
}

bool KeepsNewKeywords(const mailimap_selection_info& info) {
    for (clistiter* it = clist_begin(info.sel_perm_flags); it != nullptr; it = clist_next(it)) {
        if (static_cast<const mailimap_flag_perm*>(clist_content(it))->fl_type == MAILIMAP_FLAG_PERM_ALL) return true;
    }
    return false;
}

void WriteAll(int fd, const char* data, std::size_t length) {
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            throw HostError(err, std::string("Can't write the fetched message: ") + std::strerror(err));
        }
        data += written;
        length -= static_cast<std::size_t>(written);
    }
}

}  // namespace

void ImapConnection::SessionFree::operator()(mailimap* session) const noexcept { mailimap_free(session); }

ImapConnection::ImapConnection(Key, std::string host) : host_(std::move(host)) {}

ImapConnection::~ImapConnection() {
    mailimap* session = session_.get();
    if (session == nullptr || session->imap_stream == nullptr) return;
    if (broken_) {
        // A stream that failed may be mid-response: LOGOUT would wait on it for nothing.
        mailstream_close(session->imap_stream);
        session->imap_stream = nullptr;
        return;
    }
    // mailimap_free says LOGOUT; bound the wait for its answer.
    mailstream_low_set_timeout(mailstream_get_low(session->imap_stream), 5);
}

std::unique_ptr<ImapConnection> ImapConnection::Open(const ImapConnectOptions& options) {
    const ImapUrl& url = options.url;
    auto connection = std::make_unique<ImapConnection>(Key(), url.host);
    connection->timeoutSeconds_ = options.timeoutSeconds;
    connection->session_.reset(mailimap_new(0, nullptr));
    mailimap* session = connection->session_.get();
    if (session == nullptr) throw ImapError(ImapFailure::Protocol, "Out of memory for the IMAP session.");
    mailimap_set_timeout(session, options.timeoutSeconds);
    const std::string where = url.host + " port " + std::to_string(url.port);
    void* sniHost = IsAddressLiteral(url.host) ? nullptr : const_cast<char*>(url.host.c_str());
    auto handshake = sniHost ? PrepareHandshake : nullptr;

    try {
        SocketFd socket = ConnectTcp(url.host, url.port, options.timeoutSeconds);
        StreamPtr stream;
        if (url.tls) {
            StderrCapture libraryLines;
            stream.reset(
                mailstream_ssl_open_with_callback_timeout(socket.Get(), options.timeoutSeconds, handshake, sniHost));
            const std::string reason = libraryLines.Take(kGnutlsLine);
            if (!stream)
                throw ImapError(ImapFailure::Certificate,
                                "No TLS connection with the mail server " + where + ": " + HandshakeReason(reason) +
                                    " Is it a port for imap://? Use imap:// with it, or the server's port for "
                                    "imaps:// (usually 993).");
        } else {
            stream.reset(mailstream_socket_open_timeout(socket.Get(), options.timeoutSeconds));
            if (!stream) throw ImapError(ImapFailure::Protocol, "Out of memory for the connection to " + where + ".");
        }
        socket.Release();  // the stream closes it now
        if (url.tls) VerifyServerCertificate(stream.get(), url.host, options.caFile);

        int greeted;
        const auto greetingStart = std::chrono::steady_clock::now();
        {
            AnswerDeadline greeting(session, kGreetingSeconds, options.timeoutSeconds);
            mailstream_low_set_timeout(mailstream_get_low(stream.get()), kGreetingSeconds);
            greeted = mailimap_connect(session, stream.release());  // the session owns it, even on failure
        }
        // Silent all along, rather than closed at once (the wait may end a little before the mark).
        const bool silent =
            std::chrono::steady_clock::now() - greetingStart >= std::chrono::milliseconds(kGreetingSeconds * 900);
        if (greeted == MAILIMAP_ERROR_STREAM && silent && !url.tls)
            throw ImapError(ImapFailure::Unreachable,
                            "The mail server " + where + " did not greet within " + std::to_string(kGreetingSeconds) +
                                " seconds. Is it a port for imaps://? Use imaps:// with it, or the server's port for "
                                "imap:// (usually 143).");
        if (greeted == MAILIMAP_ERROR_STREAM && silent)
            throw ImapError(ImapFailure::Unreachable, "The mail server " + where + " did not greet within " +
                                                          std::to_string(kGreetingSeconds) + " seconds.");
        if (greeted == MAILIMAP_ERROR_STREAM || greeted == MAILIMAP_ERROR_PARSE)
            throw ImapError(ImapFailure::Unreachable, "The mail server " + where + " did not greet as IMAP servers do.");
        if (greeted != MAILIMAP_NO_ERROR_NON_AUTHENTICATED && greeted != MAILIMAP_NO_ERROR_AUTHENTICATED)
            throw ImapError(ImapFailure::Unreachable, "The mail server " + where + " turned the connection away: " +
                                                          ServerText(session));

        if (!url.tls) {
            connection->LoadCapabilities();
            if (connection->Has("STARTTLS")) {
                StderrCapture libraryLines;
                const int secured = mailimap_socket_starttls_with_callback(session, handshake, sniHost);
                const std::string reason = libraryLines.Take(kGnutlsLine);
                if (secured != MAILIMAP_NO_ERROR)
                    throw ImapError(ImapFailure::Certificate,
                                    "STARTTLS with the mail server " + where + " failed: " + HandshakeReason(reason));
                VerifyServerCertificate(session->imap_stream, url.host, options.caFile);
            } else if (!options.insecure) {
                throw ImapError(ImapFailure::Certificate,
                                "The mail server " + where +
                                    " offers no STARTTLS, so the password would travel unencrypted "
                                    "(use imaps://, or --insecure to allow it).");
            }
        }

        if (greeted != MAILIMAP_NO_ERROR_AUTHENTICATED) {
            const int login = options.oauth2
                                  ? mailimap_oauth2_authenticate(session, url.user.c_str(), options.secret.c_str())
                                  : mailimap_login(session, url.user.c_str(), options.secret.c_str());
            if (login == MAILIMAP_ERROR_STREAM)
                throw ImapError(ImapFailure::Dropped, "The mail server " + where + " closed the connection at login.");
            if (login != MAILIMAP_NO_ERROR)
                throw ImapError(ImapFailure::Login, "The mail server " + where + " refused the login of " + url.user +
                                                        ": " + ServerText(session));
        }
        connection->LoadCapabilities();
    } catch (...) {
        connection->broken_ = true;
        throw;
    }
    return connection;
}

void ImapConnection::Check(int result, const char* command) {
    if (result == MAILIMAP_NO_ERROR || result == MAILIMAP_NO_ERROR_AUTHENTICATED ||
        result == MAILIMAP_NO_ERROR_NON_AUTHENTICATED)
        return;
    if (result == MAILIMAP_ERROR_STREAM) {
        broken_ = true;
        throw ImapError(ImapFailure::Dropped,
                        "The connection to the mail server " + host_ + " broke during " + command + ".");
    }
    if (result == MAILIMAP_ERROR_PARSE) {
        broken_ = true;
        throw ImapError(ImapFailure::Protocol,
                        "The mail server " + host_ + " answered " + command + " with something unreadable.");
    }
    throw ImapError(ImapFailure::Protocol,
                    "The mail server " + host_ + " refused " + command + ": " + ServerText(session_.get()));
}

void ImapConnection::LoadCapabilities() {
    mailimap_capability_data* raw = nullptr;
    Check(mailimap_capability(session_.get(), &raw), "CAPABILITY");
    CapabilityPtr data(raw);
    capabilities_.clear();
    for (clistiter* it = clist_begin(data->cap_list); it != nullptr; it = clist_next(it)) {
        const auto* capability = static_cast<struct mailimap_capability*>(clist_content(it));
        if (capability->cap_type == MAILIMAP_CAPABILITY_AUTH_TYPE && capability->cap_data.cap_auth_type)
            capabilities_.push_back("AUTH=" + Upper(capability->cap_data.cap_auth_type));
        else if (capability->cap_type == MAILIMAP_CAPABILITY_NAME && capability->cap_data.cap_name)
            capabilities_.push_back(Upper(capability->cap_data.cap_name));
    }
}

bool ImapConnection::Has(std::string_view capability) const noexcept {
    const std::string wanted = Upper(capability);
    return std::find(capabilities_.begin(), capabilities_.end(), wanted) != capabilities_.end();
}

char ImapConnection::Delimiter() {
    clist* raw = nullptr;
    Check(mailimap_list(session_.get(), "", "INBOX", &raw), "LIST");
    ListResultPtr list(raw);
    if (!list || clist_begin(list.get()) == nullptr)
        throw ImapError(ImapFailure::Protocol, "The mail server " + host_ + " lists no INBOX.");
    return static_cast<mailimap_mailbox_list*>(clist_content(clist_begin(list.get())))->mb_delimiter;
}

MailboxStatus ImapConnection::Select(const std::string& folder) {
    Check(mailimap_select(session_.get(), EncodeMailboxName(folder).c_str()), "SELECT");
    const mailimap_selection_info* info = session_->imap_selection_info;
    if (info == nullptr) throw ImapError(ImapFailure::Protocol, "The mail server " + host_ + " selected nothing.");
    return {info->sel_uidvalidity, info->sel_uidnext, info->sel_exists, info->sel_perm_flags != nullptr && KeepsNewKeywords(*info)};
}

std::vector<std::uint32_t> ImapConnection::UnseenUidsAbove(std::uint32_t uid, bool includeSeen,
                                                           const std::string& withoutKeyword) {
    SearchKeyPtr key(mailimap_search_key_new_multiple_empty());
    SetPtr range(mailimap_set_new_interval(uid + 1, 0));  // 0 is *
    if (!key || !range) throw ImapError(ImapFailure::Protocol, "Out of memory for a search.");
    SearchKeyPtr above(mailimap_search_key_new_uid(range.get()));
    if (!above) throw ImapError(ImapFailure::Protocol, "Out of memory for a search.");
    range.release();
    if (!includeSeen) {
        SearchKeyPtr unseen(UnseenKey());
        if (!unseen || mailimap_search_key_multiple_add(key.get(), unseen.get()) != MAILIMAP_NO_ERROR)
            throw ImapError(ImapFailure::Protocol, "Out of memory for a search.");
        unseen.release();
    }
    if (mailimap_search_key_multiple_add(key.get(), above.get()) != MAILIMAP_NO_ERROR)
        throw ImapError(ImapFailure::Protocol, "Out of memory for a search.");
    above.release();

    clist* raw = nullptr;
    Check(mailimap_uid_search(session_.get(), nullptr, key.get(), &raw), "UID SEARCH");
    SearchResultPtr found(raw);
    std::vector<std::uint32_t> uids;
    for (clistiter* it = clist_begin(found.get()); it != nullptr; it = clist_next(it)) {
        // n+1:* takes in the last message even when its UID is n or less.
        const std::uint32_t value = *static_cast<std::uint32_t*>(clist_content(it));
        if (value > uid) uids.push_back(value);
    }
    std::sort(uids.begin(), uids.end());
    // The keyword is looked for in the messages' flags, not with UNKEYWORD: libetpan sends its
    // keyword quoted, which Cyrus refuses ("Invalid flag name").
    if (!withoutKeyword.empty() && !uids.empty()) {
        const std::string wanted = Upper(withoutKeyword);
        const auto flags = Flags(uids);
        std::erase_if(uids, [&](std::uint32_t found) {
            const auto it = flags.find(found);
            return it != flags.end() && std::ranges::any_of(it->second, [&](const std::string& flag) { return Upper(flag) == wanted; });
        });
    }
    return uids;
}

// The answer to UID FETCH of `items` for the one message `uid`, with what it holds for it; the
// items' texts point into the answer.
struct ImapConnection::Fetched {
    FetchResultPtr answer;
    FetchedItems items;
};

struct ImapConnection::Answer {
    FetchResultPtr list;
};

ImapConnection::Fetched ImapConnection::FetchOne(std::uint32_t uid, std::vector<mailimap_fetch_att*> raw) {
    Fetched fetched{std::move(FetchMany({uid}, std::move(raw)).list), {}};
    fetched.items = ItemsOf(fetched.answer.get(), uid);
    if (!fetched.items.found)
        throw ImapError(ImapFailure::Protocol,
                        "The message with UID " + std::to_string(uid) + " is no longer on the mail server.");
    return fetched;
}

std::vector<std::string> ImapConnection::FetchToFile(std::uint32_t uid, int fd) {
    std::vector<std::string> flags;
    for (std::uint32_t offset = 0;; offset += kFetchChunk) {
        SectionPtr whole(mailimap_section_new(nullptr));
        if (!whole) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
        FetchAttPtr body(mailimap_fetch_att_new_body_peek_section_partial(whole.get(), offset, kFetchChunk));
        if (!body) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
        whole.release();
        std::vector<mailimap_fetch_att*> items{mailimap_fetch_att_new_uid(), body.release()};
        if (offset == 0) items.push_back(mailimap_fetch_att_new_flags());
        const Fetched fetched = FetchOne(uid, std::move(items));
        if (offset == 0) flags = fetched.items.flags;
        WriteAll(fd, fetched.items.body, fetched.items.bodyLength);
        if (fetched.items.bodyLength < kFetchChunk) return flags;
    }
}

std::vector<std::string> ImapConnection::Flags(std::uint32_t uid) {
    return FetchOne(uid, {mailimap_fetch_att_new_uid(), mailimap_fetch_att_new_flags()}).items.flags;
}

std::map<std::uint32_t, std::vector<std::string>> ImapConnection::Flags(const std::vector<std::uint32_t>& uids) {
    std::map<std::uint32_t, std::vector<std::string>> flags;
    if (uids.empty()) return flags;
    FetchTypePtr request(mailimap_fetch_type_new_fetch_att_list_empty());
    if (!request) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    for (mailimap_fetch_att* raw : {mailimap_fetch_att_new_uid(), mailimap_fetch_att_new_flags()}) {
        FetchAttPtr item(raw);
        if (!item || mailimap_fetch_type_new_fetch_att_list_add(request.get(), item.get()) != MAILIMAP_NO_ERROR)
            throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
        item.release();
    }
    const SetPtr set = UidSet(uids);
    clist* raw = nullptr;
    Check(mailimap_uid_fetch(session_.get(), set.get(), request.get(), &raw), "UID FETCH");
    const FetchResultPtr answer(raw);
    for (const std::uint32_t uid : uids) {
        FetchedItems items = ItemsOf(answer.get(), uid);
        if (items.found && items.hasFlags) flags[uid] = std::move(items.flags);
    }
    return flags;
}

ImapConnection::Answer ImapConnection::FetchMany(const std::vector<std::uint32_t>& uids, std::vector<mailimap_fetch_att*> raw) {
    std::vector<FetchAttPtr> items;
    for (mailimap_fetch_att* item : raw) items.emplace_back(item);
    FetchTypePtr request(mailimap_fetch_type_new_fetch_att_list_empty());
    if (!request) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    for (FetchAttPtr& item : items) {
        if (!item || mailimap_fetch_type_new_fetch_att_list_add(request.get(), item.get()) != MAILIMAP_NO_ERROR)
            throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
        item.release();
    }
    const SetPtr set = UidSet(uids);
    clist* answer = nullptr;
    Check(mailimap_uid_fetch(session_.get(), set.get(), request.get(), &answer), "UID FETCH");
    return {FetchResultPtr(answer)};
}

std::map<std::uint32_t, HeaderSummary> ImapConnection::HeaderFields(const std::vector<std::uint32_t>& uids,
                                                                   const std::vector<std::string>& fields) {
    std::map<std::uint32_t, HeaderSummary> headers;
    if (uids.empty() || fields.empty()) return headers;
    clist* names = clist_new();
    if (names == nullptr) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    HeaderListPtr list(mailimap_header_list_new(names));
    if (!list) {
        clist_free(names);
        throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    }
    for (const std::string& field : fields) {
        char* name = strdup(field.c_str());
        if (name == nullptr || clist_append(names, name) != 0) {
            std::free(name);
            throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
        }
    }
    SectionPtr section(mailimap_section_new_header_fields(list.get()));
    if (!section) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    list.release();
    FetchAttPtr peek(mailimap_fetch_att_new_body_peek_section(section.get()));
    if (!peek) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    section.release();
    std::vector<std::uint32_t> wanted(uids);
    std::sort(wanted.begin(), wanted.end());
    const Answer answer =
        FetchMany(wanted, {mailimap_fetch_att_new_uid(), mailimap_fetch_att_new_rfc822_size(), peek.release()});
    for (auto& [uid, items] : BodiesOf(answer.list.get(), wanted))
        headers[uid] = {items.size, std::string(items.body, items.bodyLength)};
    return headers;
}

void ImapConnection::FetchWhole(const std::vector<std::uint32_t>& uids,
                                const std::function<void(std::uint32_t, std::string_view)>& each) {
    if (uids.empty()) return;
    SectionPtr whole(mailimap_section_new(nullptr));
    if (!whole) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    FetchAttPtr body(mailimap_fetch_att_new_body_peek_section(whole.get()));
    if (!body) throw ImapError(ImapFailure::Protocol, "Out of memory for a fetch.");
    whole.release();
    std::vector<std::uint32_t> wanted(uids);
    std::sort(wanted.begin(), wanted.end());
    const Answer answer = FetchMany(wanted, {mailimap_fetch_att_new_uid(), body.release()});
    for (const auto& [uid, items] : BodiesOf(answer.list.get(), wanted)) each(uid, {items.body, items.bodyLength});
}

void ImapConnection::StoreFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags, bool add) {
    if (uids.empty()) return;
    FlagListPtr list(mailimap_flag_list_new_empty());
    if (!list) throw ImapError(ImapFailure::Protocol, "Out of memory for flags.");
    for (const std::string& name : flags) {
        FlagPtr flag = NewFlag(name);
        if (!flag || mailimap_flag_list_add(list.get(), flag.get()) != MAILIMAP_NO_ERROR)
            throw ImapError(ImapFailure::Protocol, "Out of memory for flags.");
        flag.release();
    }
    StoreFlagsPtr store(add ? mailimap_store_att_flags_new_add_flags_silent(list.get())
                            : mailimap_store_att_flags_new_remove_flags_silent(list.get()));
    if (!store) throw ImapError(ImapFailure::Protocol, "Out of memory for flags.");
    list.release();
    const SetPtr set = UidSet(uids);
    Check(mailimap_uid_store(session_.get(), set.get(), store.get()), "UID STORE");
}

void ImapConnection::AddFlags(std::uint32_t uid, const std::vector<std::string>& flags) { StoreFlags({uid}, flags, true); }

void ImapConnection::RemoveFlags(std::uint32_t uid, const std::vector<std::string>& flags) {
    StoreFlags({uid}, flags, false);
}

void ImapConnection::AddFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) {
    StoreFlags(uids, flags, true);
}

void ImapConnection::RemoveFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) {
    StoreFlags(uids, flags, false);
}

void ImapConnection::Move(std::uint32_t uid, const std::string& target) { Move(std::vector<std::uint32_t>{uid}, target); }

void ImapConnection::Move(const std::vector<std::uint32_t>& uids, const std::string& target) {
    if (uids.empty()) return;
    // One command for all: a pass's moves cost one round trip, not one per message.
    const SetPtr set = UidSet(uids);
    const std::string wire = EncodeMailboxName(target);
    if (Has("MOVE")) {
        Check(mailimap_uid_move(session_.get(), set.get(), wire.c_str()), "UID MOVE");
        return;
    }
    // Without UID EXPUNGE, EXPUNGE would also remove whatever else the user marked deleted.
    if (!Has("UIDPLUS"))
        throw ImapError(ImapFailure::Protocol,
                        "The mail server " + host_ + " can move messages neither with MOVE nor with UIDPLUS.");
    Check(mailimap_uid_copy(session_.get(), set.get(), wire.c_str()), "UID COPY");
    StoreFlags(uids, {"\\Deleted"}, true);
    Check(mailimap_uid_expunge(session_.get(), set.get()), "UID EXPUNGE");
}

std::vector<FolderEntry> ImapConnection::List(const std::string& pattern) {
    clist* raw = nullptr;
    Check(mailimap_list(session_.get(), "", EncodeMailboxName(pattern).c_str(), &raw), "LIST");
    ListResultPtr list(raw);
    std::vector<FolderEntry> folders;
    for (clistiter* it = clist_begin(list.get()); it != nullptr; it = clist_next(it)) {
        const auto* entry = static_cast<mailimap_mailbox_list*>(clist_content(it));
        FolderEntry folder{DecodeMailboxName(entry->mb_name ? entry->mb_name : ""), entry->mb_delimiter, {}};
        if (const mailimap_mbx_list_flags* flags = entry->mb_flag) {
            if (flags->mbf_type == MAILIMAP_MBX_LIST_FLAGS_SFLAG) {
                if (flags->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_MARKED) folder.flags.emplace_back("\\Marked");
                if (flags->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_NOSELECT) folder.flags.emplace_back("\\Noselect");
                if (flags->mbf_sflag == MAILIMAP_MBX_LIST_SFLAG_UNMARKED) folder.flags.emplace_back("\\Unmarked");
            }
            for (clistiter* f = clist_begin(flags->mbf_oflags); f != nullptr; f = clist_next(f)) {
                const auto* other = static_cast<mailimap_mbx_list_oflag*>(clist_content(f));
                if (other->of_type == MAILIMAP_MBX_LIST_OFLAG_NOINFERIORS)
                    folder.flags.emplace_back("\\Noinferiors");
                else if (other->of_flag_ext != nullptr)
                    folder.flags.push_back(std::string("\\") + other->of_flag_ext);
            }
        }
        folders.push_back(std::move(folder));
    }
    return folders;
}

void ImapConnection::Create(const std::string& folder) {
    Check(mailimap_create(session_.get(), EncodeMailboxName(folder).c_str()), "CREATE");
}

void ImapConnection::Subscribe(const std::string& folder) {
    Check(mailimap_subscribe(session_.get(), EncodeMailboxName(folder).c_str()), "SUBSCRIBE");
}

PersonalNamespace ImapConnection::Namespace() {
    if (!Has("NAMESPACE")) return {"", Delimiter()};
    mailimap_namespace_data* raw = nullptr;
    Check(mailimap_namespace(session_.get(), &raw), "NAMESPACE");
    const NamespacePtr data(raw);
    // NIL for personal: the server keeps no folders of the user's own beyond INBOX.
    if (!data || data->ns_personal == nullptr || clist_begin(data->ns_personal->ns_data_list) == nullptr)
        return {"", Delimiter()};
    const auto* first = static_cast<mailimap_namespace_info*>(clist_content(clist_begin(data->ns_personal->ns_data_list)));
    return {DecodeMailboxName(first->ns_prefix ? first->ns_prefix : ""), first->ns_delimiter};
}

bool ImapConnection::ServerReportedChange() const noexcept {
    const mailimap_selection_info* selection = session_->imap_selection_info;
    const mailimap_response_info* response = session_->imap_response_info;
    if (selection != nullptr && (selection->sel_has_exists || selection->sel_has_recent)) return true;
    return response != nullptr && ((response->rsp_expunged && clist_begin(response->rsp_expunged)) ||
                                   (response->rsp_fetch_list && clist_begin(response->rsp_fetch_list)));
}

bool ImapConnection::Idle(int maxSeconds, int wakeFd) {
    using Clock = std::chrono::steady_clock;
    // Servers may drop a client idle for 30 minutes (RFC 2177): each IDLE ends before that, and
    // a longer wait goes on with a new one.
    constexpr long long kRenewMs = 29LL * 60 * 1000;
    const auto deadline = Clock::now() + std::chrono::seconds(maxSeconds);
    const int answerSeconds = std::clamp(maxSeconds, 1, kAnswerSeconds);
    // Runs `command` with its answer held to the short deadline. A connection that broke says so;
    // one that let the whole deadline pass has gone silent (a NAT that forgot it, a Wi-Fi that
    // changed), which the message tells apart.
    const auto answered = [&](auto command) {
        AnswerDeadline answer(session_.get(), answerSeconds, timeoutSeconds_);
        const auto start = Clock::now();
        try {
            return command();
        } catch (const ImapError& e) {
            if (e.Failure() != ImapFailure::Dropped ||
                Clock::now() - start < std::chrono::milliseconds(answerSeconds * 900))
                throw;
            throw ImapError(ImapFailure::Dropped, "The connection to the mail server " + host_ +
                                                      " went silent: no answer to the renewal of IDLE within " +
                                                      std::to_string(answerSeconds) + " seconds.");
        }
    };
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) return false;
        // A renewal goes out to a connection that may have died since the last: its "+ idling"
        // is held to the short deadline too.
        answered([&] { Check(mailimap_idle(session_.get()), "IDLE"); });
        // What libetpan has read ahead is data too: poll would not see it on the socket.
        bool heard = session_->imap_stream->read_buffer_len > 0;
        bool interrupted = false;
        if (!heard) {
            pollfd waiting[] = {{mailimap_idle_get_fd(session_.get()), POLLIN, 0}, {wakeFd, POLLIN, 0}};
            const int ready = poll(waiting, wakeFd >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, kRenewMs)));
            if (ready < 0 && errno != EINTR) {
                broken_ = true;
                throw ImapError(ImapFailure::Dropped, "The connection to the mail server " + host_ + " failed.");
            }
            heard = ready > 0 && (waiting[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            interrupted = ready < 0 || (ready > 0 && (waiting[1].revents & POLLIN) != 0);
        }
        if (heard || interrupted) {
            Check(mailimap_idle_done(session_.get()), "IDLE");
            if (heard && ServerReportedChange()) return true;
            // A signal ends the wait early, so that the caller can look at why it came.
            if (interrupted) return false;
            continue;
        }
        // Silence all along looks the same as a connection that died without a word (a NAT that
        // forgot it, a Wi-Fi that changed): the end of IDLE and a NOOP after it must be answered
        // within a short deadline, else the connection is taken for lost. The NOOP also tells of
        // what came between DONE and the next IDLE.
        if (answered([&] {
                Check(mailimap_idle_done(session_.get()), "IDLE");
                return Noop();
            }))
            return true;
    }
}

bool ImapConnection::Noop() {
    if (mailimap_selection_info* selection = session_->imap_selection_info) {
        selection->sel_has_exists = 0;
        selection->sel_has_recent = 0;
    }
    Check(mailimap_noop(session_.get()), "NOOP");
    return ServerReportedChange();
}

}  // namespace vexa::imap
