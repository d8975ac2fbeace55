#include "adapters/smtp/server/smtp_listener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <list>
#include <mutex>
#include <thread>

#include "adapters/smtp/server/peer_owner.h"
#include "adapters/smtp/server/smtp_connection.h"
#include "adapters/smtp/server/tls_server.h"
#include "adapters/smtp/server/unique_fd.h"
#include "host/host_error.h"

namespace vexa::smtp {
namespace {

HostError SocketError(const std::string& context, int err) {
    return HostError(err, context + ": " + std::strerror(err), err == EADDRINUSE || err == EMFILE || err == ENFILE);
}

std::string HostPort(const sockaddr_storage& storage) {
    char host[INET6_ADDRSTRLEN] = {};
    if (storage.ss_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, &storage, sizeof in6);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        return "[" + std::string(host) + "]:" + std::to_string(ntohs(in6.sin6_port));
    }
    sockaddr_in in;
    std::memcpy(&in, &storage, sizeof in);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    return std::string(host) + ":" + std::to_string(ntohs(in.sin_port));
}

bool IsLoopback(const sockaddr* address) {
    if (address->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, address, sizeof in);
        return (ntohl(in.sin_addr.s_addr) >> 24) == 127;
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        return IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr) != 0;
    }
    return false;
}

struct AddrInfoFree {
    void operator()(addrinfo* p) const noexcept { ::freeaddrinfo(p); }
};

// The one listening socket for host:port; `loopback` says whether every address it took is one.
UniqueFd Listen(const ListenerOptions& options, bool& loopback) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    addrinfo* raw = nullptr;
    const int rc = ::getaddrinfo(options.host.c_str(), options.port.c_str(), &hints, &raw);
    if (rc != 0)
        throw HostError(rc, "Can't listen on " + options.host + ":" + options.port + ": " + ::gai_strerror(rc));
    const std::unique_ptr<addrinfo, AddrInfoFree> addresses(raw);
    int lastError = EADDRNOTAVAIL;
    for (const addrinfo* a = addresses.get(); a != nullptr; a = a->ai_next) {
        UniqueFd fd(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol));
        if (!fd.Valid()) {
            lastError = errno;
            continue;
        }
        const int on = 1;
        ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        if (::bind(fd.Get(), a->ai_addr, a->ai_addrlen) != 0 || ::listen(fd.Get(), 64) != 0) {
            lastError = errno;
            continue;
        }
        loopback = IsLoopback(a->ai_addr);
        return fd;
    }
    throw SocketError("Can't listen on " + options.host + ":" + options.port, lastError);
}

}  // namespace

struct SmtpListener::State {
    State(ListenerOptions o, ConnectionHandlerFactory& h) : options(std::move(o)), handlers(h) {}

    struct Connection {
        bool mustAuth = false;  // a peer other than the relay's own user
        std::atomic<bool> done{false};
        std::jthread thread;  // last: joined before `done` goes
    };

    void Log(const std::string& line) {
        if (!options.log) return;
        const std::lock_guard lock(logMutex);
        options.log(line);
    }
    void Reap() {
        connections.remove_if([](const Connection& c) { return c.done.load(); });
    }
    void Accept();

    ListenerOptions options;
    ConnectionHandlerFactory& handlers;
    std::optional<TlsCredentials> tls;
    bool loopbackListener = false;
    UniqueFd listening;
    UniqueFd wakeRead;
    UniqueFd wakeWrite;
    std::atomic<bool> stopping{false};
    std::mutex logMutex;
    std::mutex acceptMutex;
    std::list<Connection> connections;  // Run's thread only
};

SmtpListener::SmtpListener(ListenerOptions options, ConnectionHandlerFactory& handlers)
    : state_(std::make_unique<State>(std::move(options), handlers)) {
    State& s = *state_;
    if (s.options.certificate.has_value() != s.options.key.has_value())
        throw HostError(error::kApplicationDefined, "The relay's certificate and key go together: give both or neither");
    if (s.options.certificate) s.tls.emplace(*s.options.certificate, *s.options.key);
    s.listening = Listen(s.options, s.loopbackListener);
    // Anywhere but loopback, logins and mail cross a network: no listening there without TLS.
    if (!s.loopbackListener && !s.tls)
        throw HostError(error::kApplicationDefined,
                        "The relay listens on " + s.options.host +
                            ", which is not loopback, only with a certificate and key for STARTTLS");
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) throw SocketError("Can't make the relay's stop pipe", errno);
    s.wakeRead = UniqueFd(pipeFds[0]);
    s.wakeWrite = UniqueFd(pipeFds[1]);
}

SmtpListener::~SmtpListener() {
    Stop();
    state_->connections.clear();
}

std::string SmtpListener::Address() const {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    if (::getsockname(state_->listening.Get(), reinterpret_cast<sockaddr*>(&storage), &length) != 0)
        return state_->options.host + ":" + state_->options.port;
    return HostPort(storage);
}

void SmtpListener::Run() {
    State& s = *state_;
    s.Log("listening on " + Address());
    while (!s.stopping.load()) {
        pollfd fds[2] = {{s.listening.Get(), POLLIN, 0}, {s.wakeRead.Get(), POLLIN, 0}};
        // The timeout only bounds how long finished connections' threads wait to be joined.
        const int rc = ::poll(fds, 2, 1000);
        s.Reap();
        if (rc > 0 && fds[0].revents != 0 && !s.stopping.load()) s.Accept();
    }
    // New clients are refused by the kernel from here on; the ones in the middle of a message
    // finish it.
    s.listening.Reset();
    s.connections.clear();
    s.Log("stopped");
}

void SmtpListener::State::Accept() {
    sockaddr_storage peerAddress{};
    socklen_t length = sizeof peerAddress;
    UniqueFd socket(::accept4(listening.Get(), reinterpret_cast<sockaddr*>(&peerAddress), &length, SOCK_CLOEXEC));
    if (!socket.Valid()) {
        const int err = errno;
        // Out of descriptors: give the connections time to end rather than spin on poll.
        if (err == EMFILE || err == ENFILE) {
            Log(std::string("can't accept: ") + std::strerror(err));
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return;
    }
    const std::string peer = HostPort(peerAddress);
    const bool peerLoopback = PeerIsLoopback(socket.Get());
    const auto owner = LoopbackPeerOwner(socket.Get());
    const bool ownUser = owner.has_value() && *owner == ::geteuid();
    const bool mustAuth = !(peerLoopback && ownUser);
    // Half the connections stay for the relay's own user: other users (or anyone on a LAN
    // listener) holding every one of them would lock the user's mail programs out.
    const auto strangers = static_cast<std::size_t>(
        std::count_if(connections.begin(), connections.end(), [](const Connection& c) { return c.mustAuth && !c.done.load(); }));
    if (connections.size() >= options.limits.maxConnections ||
        (mustAuth && strangers >= options.limits.maxConnections / 2)) {
        const std::string busy = "421 4.7.0 " + options.serverName + " Too many connections, try again later\r\n";
        ::send(socket.Get(), busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        Log(peer + " refused: too many connections");
        return;
    }

    ConnectionSetup setup;
    setup.socket = std::move(socket);
    setup.peer = peer;
    setup.session.serverName = options.serverName;
    setup.session.limits = options.limits;
    setup.session.tlsAvailable = tls.has_value();
    setup.session.clearAuthAllowed = loopbackListener && peerLoopback;
    setup.session.mustAuth = mustAuth;
    setup.session.log = [this, peer](const std::string& line) { Log(peer + " " + line); };
    setup.tls = tls ? &*tls : nullptr;
    setup.wakeFd = wakeRead.Get();
    setup.stopping = &stopping;
    setup.acceptMutex = &acceptMutex;
    Log(peer + " connected" + (setup.session.mustAuth ? ", login required" : ""));

    Connection& connection = connections.emplace_back();
    connection.mustAuth = mustAuth;
    try {
        connection.thread = std::jthread([this, &connection, setup = std::move(setup)]() mutable {
            ServeConnection(std::move(setup), handlers);
            connection.done.store(true);
        });
    } catch (const std::system_error& e) {
        connections.pop_back();
        Log(peer + " refused: " + e.what());
    }
}

void SmtpListener::Stop() noexcept {
    State& s = *state_;
    if (s.stopping.exchange(true)) return;
    // The pipe stays readable from now on: every poll that watches it wakes, now and later.
    const char byte = 's';
    [[maybe_unused]] const ssize_t written = ::write(s.wakeWrite.Get(), &byte, 1);
}

}  // namespace vexa::smtp
