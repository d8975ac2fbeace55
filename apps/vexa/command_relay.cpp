// vexa relay: the outgoing server for mail programs that speak SMTP rather than run a sendmail.
// Each mail takes vexa send's road (a fax archived and tagged first) and is handed on to the
// user's real submission server. SIGTERM and SIGINT let the mails in progress finish and exit 0;
// SIGHUP reads the [Relay] settings again for the connections after it.

#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "adapters/posix/ini_settings_store.h"
#include "adapters/smtp/server/smtp_listener.h"
#include "apps/vexa/cli.h"
#include "apps/vexa/option_parser.h"
#include "apps/vexa/relay_handler.h"
#include "apps/vexa/relay_settings.h"
#include "host/host_error.h"

namespace vexa::cli {
namespace {

RelayConfig ConfigOf(const RelaySettings& settings, bool insecure) {
    if (settings.upstream.empty()) {
        throw HostError(EINVAL, std::string("No upstream server: set Upstream=smtps://HOST:465 (or smtp://HOST:587) in [") +
                                    kRelaySection + "] of " + posix::DefaultSettingsPath().string() + ".");
    }
    // A login written into the address would end up in logs and process listings.
    const auto authority = settings.upstream.find("://");
    const std::string rest = authority == std::string::npos ? settings.upstream : settings.upstream.substr(authority + 3);
    if (rest.substr(0, rest.find('/')).find('@') != std::string::npos) {
        throw HostError(EINVAL, std::string("Upstream= in [") + kRelaySection +
                                    "] names a login: give the user as User= and the password through PasswordCommand=.");
    }
    RelayConfig config;
    config.upstream.url = settings.upstream;
    config.upstream.insecure = insecure;
    config.upstream.caFile = settings.caFile;
    config.user = settings.user;
    config.passwordCommand = settings.passwordCommand;
    return config;
}

// The signals, taken by a thread of their own so that they never interrupt a mail midway.
class RelaySignals {
public:
    // Blocks the signals in this thread and in every thread started after it.
    RelaySignals() {
        sigemptyset(&set_);
        for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) sigaddset(&set_, signal);
        pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    }
    ~RelaySignals() {
        if (!thread_.joinable()) return;
        if (!done_) pthread_kill(thread_.native_handle(), SIGUSR1);
        thread_.join();
    }
    RelaySignals(const RelaySignals&) = delete;
    RelaySignals& operator=(const RelaySignals&) = delete;

    void Start(smtp::SmtpListener& listener, RelayHandlers& handlers, bool insecure) {
        thread_ = std::thread([this, &listener, &handlers, insecure] {
            for (;;) {
                int signal = 0;
                if (sigwait(&set_, &signal) != 0) continue;
                if (signal == SIGUSR1) return;  // the relay is ending anyway
                if (signal == SIGHUP) {
                    Reload(handlers, insecure);
                    continue;
                }
                std::fprintf(stderr, "vexa relay: stopping once the mails in progress are done\n");
                done_ = true;
                listener.Stop();
                return;
            }
        });
    }

private:
    static void Reload(RelayHandlers& handlers, bool insecure) {
        try {
            handlers.Reload(ConfigOf(ReadRelaySettings(), insecure));
            std::fprintf(stderr, "vexa relay: settings read again\n");
        } catch (...) {
            std::fprintf(stderr, "vexa relay: the settings were not read again: %s\n", CurrentErrorDescription().c_str());
        }
    }

    sigset_t set_;
    std::atomic<bool> done_{false};  // the thread has taken its stop and wants no wake-up
    std::thread thread_;
};

}  // namespace

int RunRelay(const Args& args) {
    const ParsedOptions options = ParseOptions(args, {{"listen", true}, {"insecure", false}});
    if (!options.Operands().empty()) throw UsageError("unexpected argument '" + options.Operands().front() + "'");
    const bool insecure = options.Has("insecure");

    smtp::ListenerOptions listen;
    const auto given = options.Value("listen");
    if (given) std::tie(listen.host, listen.port) = SplitListenAddress(*given, "--listen");

    RelaySettings settings;
    RelayConfig config;
    try {
        settings = ReadRelaySettings();
        config = ConfigOf(settings, insecure);
        // A bad Listen= is the settings file's fault, not the command line's.
        if (!given) {
            try {
                std::tie(listen.host, listen.port) = SplitListenAddress(
                    settings.listen.value_or(kDefaultRelayListen), std::string("Listen= in [") + kRelaySection + "]");
            } catch (const UsageError& e) {
                throw HostError(EINVAL, std::string(e.what()) + " (in " + posix::DefaultSettingsPath().string() + ")");
            }
        }
    } catch (...) {
        std::fprintf(stderr, "vexa relay: %s\n", CurrentErrorDescription().c_str());
        return kExitConfig;
    }
    listen.certificate = settings.certificate;
    listen.key = settings.key;
    // The handlers write the line of each mail they get; of the listener's own lines only those
    // of what never reached them (a message too big, a connection too many) are kept. Those say
    // "refused" right after the peer's address, before anything the client sent: a login name
    // or an address containing the word must not let its line through.
    listen.log = [](const std::string& line) {
        const auto afterPeer = line.find(' ');
        if ((afterPeer != std::string::npos && line.compare(afterPeer + 1, 7, "refused") == 0) ||
            line.starts_with("can't accept")) {
            std::fprintf(stderr, "vexa relay: %s\n", line.c_str());
        }
    };

    RelaySignals signals;
    RelayHandlers handlers(std::move(config));
    std::unique_ptr<smtp::SmtpListener> listener;
    try {
        listener = std::make_unique<smtp::SmtpListener>(listen, handlers);
    } catch (...) {
        std::fprintf(stderr, "vexa relay: can't listen: %s\n", CurrentErrorDescription().c_str());
        return kExitConfig;
    }
    std::fprintf(stderr, "vexa relay: listening on %s, relaying to %s\n", listener->Address().c_str(),
                 settings.upstream.c_str());
    signals.Start(*listener, handlers, insecure);
    listener->Run();
    return kExitOk;
}

}  // namespace vexa::cli
