#include "apps/vexa/relay_handler.h"

#include <cstdio>
#include <utility>

#include "adapters/smtp/server/smtp_reply_text.h"
#include "apps/vexa/outgoing_mail.h"
#include "archive/archive_names.h"
#include "host/host_error.h"
#include "linux/imap_account.h"

namespace vexa::cli {
namespace {

constexpr const char* kNoDescription = "(no description)";

// A reply's first line, for the log: the upstream's words, never anything the client sent.
std::string Summary(const smtp::Reply& reply) {
    std::string text = std::to_string(reply.code);
    if (!reply.enhanced.empty()) text += " " + reply.enhanced;
    const std::string first = reply.text.substr(0, reply.text.find('\n'));
    if (!first.empty()) text += " " + first;
    return text;
}

class RelayConnection : public smtp::ConnectionHandler {
public:
    RelayConnection(std::shared_ptr<const RelayConfig> config, std::string peer, std::mutex& archiveLock,
                    MailClassifier& classifier)
        : config_(std::move(config)), peer_(std::move(peer)), archiveLock_(archiveLock), classifier_(classifier) {}

    smtp::Reply Authenticate(const smtp::Credentials& credentials) override {
        auto client = std::make_unique<smtp::UpstreamClient>(config_->upstream, credentials);
        const smtp::Reply reply = client->CheckLogin(credentials);
        if (reply.Positive()) {
            client_ = std::move(client);
        } else {
            Log("login refused: " + Summary(reply));
        }
        return reply;
    }

    smtp::Reply Deliver(const smtp::Envelope& envelope, std::string message) override {
        try {
            return DeliverOrThrow(envelope, message);
        } catch (...) {
            const std::string why = CurrentErrorDescription();
            Log("refused: " + why);
            return {451, "4.3.0", why};
        }
    }

private:
    smtp::Reply DeliverOrThrow(const smtp::Envelope& envelope, const std::string& message) {
        if (!client_) client_ = std::make_unique<smtp::UpstreamClient>(config_->upstream, OwnLogin());

        OutgoingOptions options;
        options.runtime.mailboxOptional = true;  // relaying archives; it never touches the mailbox
        options.fallbackDescription = kNoDescription;
        options.archiveLock = &archiveLock_;
        options.classifier = &classifier_;
        options.envelope.emplace();
        for (const smtp::Recipient& recipient : envelope.recipients) options.envelope->push_back(recipient.address);
        // Stays the answer when the hand-on never got as far as the upstream's reply.
        smtp::UpstreamClient::Relayed relayed{{451, "4.3.0", "The mail could not be handed on; try again later"}, false};
        const OutgoingResult result = SendOutgoing(message, options, [&](const std::string& mail) {
            relayed = client_->Send(envelope, mail);
            return HandOnOutcome{relayed.reply.Positive(), relayed.outcomeUnknown, Summary(relayed.reply)};
        });

        switch (result.stage) {
        case OutgoingResult::Stage::ArchiveUnreachable:
            return Refuse({451, "4.3.0", "The fax could not be recorded (the archive cannot be reached), so it was not sent; try again later"});
        case OutgoingResult::Stage::NotRecorded:
        case OutgoingResult::Stage::Cancelled:
            return Refuse({451, "4.3.0", "The fax could not be recorded, so it was not sent; try again later"});
        case OutgoingResult::Stage::UnrecordedFax:
            // The service would send it as a fax that no row records, and its confirmation would
            // find nothing.
            return Refuse({550, "5.7.1",
                           "This mail goes to the fax gateway but is not a fax Vexa records (the gateway is not its "
                           "first recipient), so it was not sent: send the fax to the gateway alone"});
        case OutgoingResult::Stage::HandedOn:
            break;
        }
        if (!result.handOn.delivered && relayed.reply.Positive()) {
            relayed.reply = {451, "4.3.0", "The mail could not be handed on (" + result.handOn.reason + "); try again later"};
        }
        if (result.handOn.delivered) {
            if (!result.fax) {
                Log("relayed");
                return relayed.reply;
            }
            const std::string id = FormatId(*result.fax);
            Log("relayed fax {" + id + "}");
            return {250, "2.0.0", "Relayed; fax {" + id + "} recorded"};
        }
        std::string why = Summary(relayed.reply);
        if (result.fax) {
            const std::string id = FormatId(*result.fax);
            if (result.withdrawn) {
                why += "; the fax {" + id + "} is taken out of the archive again";
            } else if (relayed.outcomeUnknown) {
                why += "; the fax {" + id + "} stays in the archive, as it may have been sent";
            } else {
                why += "; the fax {" + id + "} stays in the archive: " + result.withdrawalError;
            }
        }
        Log("refused: " + why);
        return relayed.reply;
    }

    smtp::Reply Refuse(smtp::Reply reply) {
        Log("refused: " + reply.text);
        return reply;
    }

    // The login of the settings, for the relay's own user's mail sent without AUTH.
    std::optional<smtp::Credentials> OwnLogin() const {
        if (!config_->user) return std::nullopt;
        smtp::Credentials login{*config_->user, {}};
        if (config_->passwordCommand) login.password = linuxhost::FirstLineOfCommand(*config_->passwordCommand, "password command");
        return login;
    }

    // The upstream's words and error descriptions may quote what the client sent: written as
    // printable text, so that no client can write lines of its own into the log.
    void Log(const std::string& line) const {
        std::fprintf(stderr, "vexa relay: %s: %s\n", peer_.c_str(), smtp::LogText(line, 400).c_str());
    }

    std::shared_ptr<const RelayConfig> config_;
    std::string peer_;
    std::mutex& archiveLock_;
    MailClassifier& classifier_;
    std::unique_ptr<smtp::UpstreamClient> client_;
};

}  // namespace

RelayHandlers::RelayHandlers(RelayConfig config) : config_(std::make_shared<const RelayConfig>(std::move(config))) {}

void RelayHandlers::Reload(RelayConfig config) {
    auto fresh = std::make_shared<const RelayConfig>(std::move(config));
    const std::lock_guard<std::mutex> lock(configLock_);
    config_ = std::move(fresh);
}

std::unique_ptr<smtp::ConnectionHandler> RelayHandlers::Accept(const std::string& peer) {
    std::shared_ptr<const RelayConfig> config;
    {
        const std::lock_guard<std::mutex> lock(configLock_);
        config = config_;
    }
    return std::make_unique<RelayConnection>(std::move(config), peer, archiveLock_, classifier_);
}

}  // namespace vexa::cli
