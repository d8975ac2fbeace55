#include "linux/imap_server.h"

#include <poll.h>

#include <algorithm>
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
        const std::string folder = std::string(kInbox) + connection_->Delimiter() + name;
        if (!known_.contains(folder)) {
            if (connection_->List(folder).empty()) connection_->Create(folder);
            // Subscribed, so that mail readers that show subscribed folders only show it.
            connection_->Subscribe(folder);
            known_.insert(folder);
        }
        connection_->Move(uids, folder);
    }

    void MoveToTrash(const std::vector<std::uint32_t>& uids) override {
        if (trash_.empty()) {
            for (const auto& folder : connection_->List("*")) {
                if (std::ranges::find(folder.flags, std::string("\\Trash")) != folder.flags.end()) trash_ = folder.name;
            }
            if (trash_.empty()) {
                trash_ = "Trash";
                if (connection_->List(trash_).empty()) connection_->Create(trash_);
            }
        }
        connection_->Move(uids, trash_);
    }

    bool WaitForNews(int seconds, int wakeFd) override {
        if (connection_->Has("IDLE")) return connection_->Idle(seconds, wakeFd);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (std::chrono::steady_clock::now() < deadline) {
            if (connection_->Noop()) return true;
            pollfd wake{wakeFd, POLLIN, 0};
            if (::poll(&wake, wakeFd >= 0 ? 1 : 0, kPollSeconds * 1000) != 0) return false;
        }
        return false;
    }

private:
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
