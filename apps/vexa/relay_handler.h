// What vexa relay does with each mail program's connection: a login is checked by the upstream
// server itself, and each mail goes down the same road as vexa send's (a fax archived and tagged
// first) and is handed on to the upstream, whose reply the mail program gets.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "adapters/smtp/smtp_types.h"
#include "adapters/smtp/upstream/upstream_client.h"
#include "apps/vexa/mail_classifier.h"

namespace vexa::cli {

// What a connection needs from the settings; read again on SIGHUP, for the connections after it.
struct RelayConfig {
    smtp::UpstreamOptions upstream;
    // The login for the relay's own user's mail sent without AUTH: User= and PasswordCommand=.
    std::optional<std::string> user;
    std::optional<std::string> passwordCommand;
};

class RelayHandlers : public smtp::ConnectionHandlerFactory {
public:
    explicit RelayHandlers(RelayConfig config);
    // The connections accepted from now on use `config`.
    void Reload(RelayConfig config);
    std::unique_ptr<smtp::ConnectionHandler> Accept(const std::string& peer) override;

private:
    std::mutex configLock_;
    std::shared_ptr<const RelayConfig> config_;
    // The archive is for one mail at a time, and the add-in for one thread at a time.
    std::mutex archiveLock_;
    MailClassifier classifier_{archiveLock_};
};

}  // namespace vexa::cli
