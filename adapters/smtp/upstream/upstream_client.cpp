#include "adapters/smtp/upstream/upstream_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

#include "adapters/smtp/upstream/upstream_reply.h"
#include "host/host_error.h"

namespace vexa::smtp {
namespace {

void InitCurlOnce() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct EasyDeleter {
    void operator()(CURL* easy) const noexcept { curl_easy_cleanup(easy); }
};
using Easy = std::unique_ptr<CURL, EasyDeleter>;

struct ListDeleter {
    void operator()(curl_slist* list) const noexcept { curl_slist_free_all(list); }
};
using List = std::unique_ptr<curl_slist, ListDeleter>;

// What one transfer reads and writes through libcurl's callbacks.
struct Transfer {
    ReplyTranscript transcript;
    const std::string* message = nullptr;
    std::size_t offset = 0;
    char error[CURL_ERROR_SIZE] = {};

    bool WholeMessageRead() const { return message && offset == message->size(); }
};

// Only the server's lines and the fact that something went out are looked at: what goes out
// holds the login, which is never kept.
int OnDebug(CURL*, curl_infotype type, char* data, std::size_t size, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    if (type == CURLINFO_HEADER_IN) transfer.transcript.Received(std::string_view(data, size));
    if (type == CURLINFO_HEADER_OUT) transfer.transcript.Sent(std::string_view(data, std::min<std::size_t>(size, 4)));
    if (type == CURLINFO_DATA_OUT) transfer.transcript.Sent();
    return 0;
}

std::size_t OnRead(char* buffer, std::size_t size, std::size_t count, void* user) {
    auto& transfer = *static_cast<Transfer*>(user);
    const std::size_t n = std::min(size * count, transfer.message->size() - transfer.offset);
    std::memcpy(buffer, transfer.message->data() + transfer.offset, n);
    transfer.offset += n;
    return n;
}

bool ViaStartTls(const std::string& url) {
    return url.size() >= 7 && std::equal(url.begin(), url.begin() + 7, "smtp://",
                                          [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

UpstreamFailure Classify(CURLcode code, const ReplyTranscript& transcript) {
    switch (code) {
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        return UpstreamFailure::Certificate;
    case CURLE_USE_SSL_FAILED:
        return UpstreamFailure::NoTls;
    case CURLE_LOGIN_DENIED:
        return UpstreamFailure::LoginDenied;
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
    case CURLE_SSL_CONNECT_ERROR:
        return UpstreamFailure::Unreachable;
    case CURLE_SEND_ERROR:
    case CURLE_RECV_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_OPERATION_TIMEDOUT:
    case CURLE_PARTIAL_FILE:
        // Nothing heard at all: the server never answered the connection.
        return transcript.Last() ? UpstreamFailure::Broken : UpstreamFailure::Unreachable;
    default:
        return UpstreamFailure::Refused;
    }
}

std::string Words(CURLcode code, const Transfer& transfer) {
    return transfer.error[0] ? std::string(transfer.error) : std::string(curl_easy_strerror(code));
}

}  // namespace

struct UpstreamClient::State {
    UpstreamOptions options;
    std::optional<Credentials> login;
    Easy easy;  // kept across Send, so that its connection is used again for the next mail
};

namespace {

// The options every handle of the client has: where, how securely, how long to wait.
void SetCommon(CURL* easy, const UpstreamOptions& options, const Credentials* login, Transfer& transfer) {
    curl_easy_setopt(easy, CURLOPT_URL, options.url.c_str());
    curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "smtp,smtps");
    curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, transfer.error);
    curl_easy_setopt(easy, CURLOPT_VERBOSE, 1L);  // the transcript goes to OnDebug only
    curl_easy_setopt(easy, CURLOPT_DEBUGFUNCTION, OnDebug);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, &transfer);
    const long seconds = static_cast<long>(options.timeout.count());
    curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT, seconds);
    curl_easy_setopt(easy, CURLOPT_SERVER_RESPONSE_TIMEOUT, seconds);
    // An upload that stalls as long counts as a broken connection.
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, 1L);
    curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, seconds);
    if (options.insecure) {
        curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_TRY));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 0L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 0L);
    } else {
        if (ViaStartTls(options.url)) curl_easy_setopt(easy, CURLOPT_USE_SSL, static_cast<long>(CURLUSESSL_ALL));
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(easy, CURLOPT_SSL_VERIFYHOST, 2L);
    }
    if (options.caFile) curl_easy_setopt(easy, CURLOPT_CAINFO, options.caFile->c_str());
    if (login) {
        curl_easy_setopt(easy, CURLOPT_USERNAME, login->user.c_str());
        curl_easy_setopt(easy, CURLOPT_PASSWORD, login->password.c_str());
        // The login in the AUTH command itself (RFC 4954's initial response): one round trip less.
        curl_easy_setopt(easy, CURLOPT_SASL_IR, 1L);
    } else {
        curl_easy_setopt(easy, CURLOPT_USERNAME, nullptr);
        curl_easy_setopt(easy, CURLOPT_PASSWORD, nullptr);
    }
}

Easy NewEasy() {
    InitCurlOnce();
    Easy easy(curl_easy_init());
    if (!easy) throw HostError(ENOMEM, "Can't start a connection to the upstream server.");
    return easy;
}

}  // namespace

UpstreamClient::UpstreamClient(UpstreamOptions options, std::optional<Credentials> login)
    : state_(std::make_unique<State>(State{std::move(options), std::move(login), NewEasy()})) {}

UpstreamClient::~UpstreamClient() = default;

Reply UpstreamClient::CheckLogin(const Credentials& login) {
    Easy easy = NewEasy();
    Transfer transfer;
    SetCommon(easy.get(), state_->options, &login, transfer);
    // For SMTP libcurl logs in while it connects: connecting alone checks the login.
    curl_easy_setopt(easy.get(), CURLOPT_CONNECT_ONLY, 1L);
    const CURLcode code = curl_easy_perform(easy.get());
    if (code == CURLE_OK) {
        if (transfer.transcript.Saw(235)) return Reply{235, "2.7.0", "Authentication succeeded"};
        // libcurl goes on without a login when the server offers none; then nothing was checked.
        return Reply{535, "5.7.8", "The upstream server offers no login, so these credentials cannot be checked"};
    }
    const UpstreamFailure failure = Classify(code, transfer.transcript);
    if (failure == UpstreamFailure::Unreachable || failure == UpstreamFailure::Broken) {
        return Reply{454, "4.7.0", "The upstream server cannot be reached to check the login (" + Words(code, transfer) + ")"};
    }
    return FailureReply(failure, transfer.transcript, Words(code, transfer));
}

UpstreamClient::Relayed UpstreamClient::Send(const Envelope& envelope, const std::string& message) {
    CURL* easy = state_->easy.get();
    Transfer transfer;
    transfer.message = &message;
    SetCommon(easy, state_->options, state_->login ? &*state_->login : nullptr, transfer);

    List recipients;
    for (const Recipient& recipient : envelope.recipients) {
        const std::string path = "<" + recipient.address + ">";
        curl_slist* grown = curl_slist_append(recipients.get(), path.c_str());
        if (!grown) return {Reply{451, "4.3.0", "Out of memory"}, false};
        (void)recipients.release();
        recipients.reset(grown);
    }
    const std::string from = "<" + envelope.sender + ">";
    curl_easy_setopt(easy, CURLOPT_MAIL_FROM, from.c_str());
    curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, recipients.get());
    curl_easy_setopt(easy, CURLOPT_UPLOAD, 1L);
    curl_easy_setopt(easy, CURLOPT_READFUNCTION, OnRead);
    curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
    curl_easy_setopt(easy, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(message.size()));

    const CURLcode code = curl_easy_perform(easy);
    // The handle must not keep pointers to what goes out of scope here.
    curl_easy_setopt(easy, CURLOPT_MAIL_RCPT, nullptr);
    curl_easy_setopt(easy, CURLOPT_ERRORBUFFER, nullptr);
    curl_easy_setopt(easy, CURLOPT_DEBUGDATA, nullptr);
    curl_easy_setopt(easy, CURLOPT_READDATA, nullptr);

    const auto& last = transfer.transcript.Last();
    if (code == CURLE_OK) {
        if (last && last->code == 250) return {*last, false};
        return {Reply{250, "2.0.0", "Relayed"}, false};
    }
    const UpstreamFailure failure = Classify(code, transfer.transcript);
    Relayed relayed{FailureReply(failure, transfer.transcript, Words(code, transfer)), false};
    // The whole message went out after the server's 354 and no answer to it came: the server
    // may have taken the mail all the same.
    const bool answeredAfterData = transfer.transcript.Answered() && last && last->code != 354;
    relayed.outcomeUnknown = transfer.transcript.Saw(354) && transfer.WholeMessageRead() && !answeredAfterData &&
                             (failure == UpstreamFailure::Broken || failure == UpstreamFailure::Refused);
    if (relayed.outcomeUnknown) {
        relayed.reply = Reply{451, "4.4.2",
                              "The connection to the upstream server broke before it answered the message: it may "
                              "have been sent (" + Words(code, transfer) + ")"};
    }
    return relayed;
}

}  // namespace vexa::smtp
