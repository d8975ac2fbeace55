#include "linux/imap_server.h"

#include <poll.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <map>
#include <set>

#include "adapters/imap/imap_connection.h"
#include "adapters/imap/imap_error.h"
#include "adapters/imap/imap_url.h"

namespace vexa::linuxhost {
namespace {

constexpr const char* kInbox = "INBOX";
// Without IDLE the Inbox is looked at this often.
constexpr int kPollSeconds = 30;

class ConnectedServer final : public WatchedImapServer {
public:
    explicit ConnectedServer(std::unique_ptr<imap::ImapConnection> connection) : connection_(std::move(connection)) {}

    Inbox SelectInbox() override {
        const imap::MailboxStatus status = connection_->Select(kInbox);
        return {status.uidValidity, status.uidNext, status.keywords};
    }
    std::vector<std::uint32_t> UidsAbove(std::uint32_t uid, bool includeSeen, const std::string& withoutKeyword) override {
        return connection_->UnseenUidsAbove(uid, includeSeen, withoutKeyword);
    }
    void FetchToFile(std::uint32_t uid, int fd) override { connection_->FetchToFile(uid, fd); }
    std::map<std::uint32_t, Header> HeadersOf(const std::vector<std::uint32_t>& uids,
                                              const std::vector<std::string>& fields) override {
        std::map<std::uint32_t, Header> headers;
        for (auto& [uid, summary] : connection_->HeaderFields(uids, fields))
            headers[uid] = {summary.size, std::move(summary.fields)};
        return headers;
    }
    void FetchWhole(const std::vector<std::uint32_t>& uids,
                    const std::function<void(std::uint32_t, std::string_view)>& each) override {
        connection_->FetchWhole(uids, each);
    }
    std::map<std::uint32_t, std::vector<std::string>> FlagsOf(const std::vector<std::uint32_t>& uids) override {
        return connection_->Flags(uids);
    }
    void AddFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) override {
        connection_->AddFlags(uids, flags);
    }
    void RemoveFlags(const std::vector<std::uint32_t>& uids, const std::vector<std::string>& flags) override {
        connection_->RemoveFlags(uids, flags);
    }

    void MoveToChild(const std::vector<std::uint32_t>& uids, const std::string& name) override {
        // Where INBOX has no hierarchy the store folder is a sibling in the user's namespace.
        const char delimiter = connection_->Delimiter();
        const std::string folder =
            delimiter != '\0' ? std::string(kInbox) + delimiter + name : connection_->Namespace().prefix + name;
        if (!known_.contains(folder)) {
            // Subscribed, so that mail readers that show subscribed folders only show it.
            CreateSubscribed(folder);
            known_.insert(folder);
        }
        connection_->Move(uids, folder);
    }

    void MoveToTrash(const std::vector<std::uint32_t>& uids) override {
        if (trash_.empty()) {
            // The folder the server marks \Trash (RFC 6154), where its LIST says so.
            for (const auto& folder : connection_->List("*")) {
                if (std::ranges::any_of(folder.flags, [](const std::string& flag) { return Lower(flag) == "\\trash"; })) {
                    trash_ = folder.name;
                    break;
                }
            }
            // Else "Trash" among the user's own folders: "INBOX.Trash" on a server that keeps
            // them under INBOX, where a "Trash" at the top would be refused.
            if (trash_.empty()) {
                trash_ = connection_->Namespace().prefix + "Trash";
                CreateSubscribed(trash_);
            }
        }
        connection_->Move(uids, trash_);
    }

    bool WaitForNews(int seconds, int wakeFd) override {
        if (connection_->Has("IDLE")) return connection_->Idle(seconds, wakeFd);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (connection_->Noop()) return true;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd wake{wakeFd, POLLIN, 0};
            const auto pause = std::clamp<long long>(left.count(), 0, kPollSeconds * 1000LL);
            if (::poll(&wake, wakeFd >= 0 ? 1 : 0, static_cast<int>(pause)) != 0) return false;
        }
        return false;
    }

private:
    static std::string Lower(std::string text) {
        for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return text;
    }

    // Creates the folder unless the server has it already, and subscribes it.
    void CreateSubscribed(const std::string& folder) {
        // The name is matched exactly: a pattern's % and * may match other folders too.
        const auto listed = connection_->List(folder);
        if (std::ranges::none_of(listed, [&](const imap::FolderEntry& entry) { return entry.name == folder; }))
            connection_->Create(folder);
        connection_->Subscribe(folder);
    }

    std::unique_ptr<imap::ImapConnection> connection_;
    std::set<std::string> known_;
    std::string trash_;
};

}  // namespace

std::unique_ptr<WatchedImapServer> OpenImapServer(const ImapAccount& account) {
    try {
        imap::ImapConnectOptions options;
        options.url = imap::ParseImapUrl(account.url);
        options.secret = ReadSecret(account);
        options.oauth2 = account.oauth2TokenCommand.has_value();
        options.insecure = account.insecure;
        if (account.caFile) options.caFile = *account.caFile;
        return std::make_unique<ConnectedServer>(imap::ImapConnection::Open(options));
    } catch (const imap::ImapError& e) {
        throw ImapOpenFailure(e.Description(), !imap::IsStartupFailure(e.Failure()) && e.Failure() != imap::ImapFailure::Usage);
    } catch (const HostError& e) {
        // No secret to be had: for the user to mend.
        throw ImapOpenFailure(e.Description(), false);
    }
}

}  // namespace vexa::linuxhost
