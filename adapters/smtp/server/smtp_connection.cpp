#include "adapters/smtp/server/smtp_connection.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>

#include "adapters/smtp/server/smtp_reply_text.h"
#include "adapters/smtp/server/tls_server.h"
#include "host/host_error.h"

namespace vexa::smtp {
namespace {

// The socket, and the TLS session over it once STARTTLS is done.
class Transport {
public:
    explicit Transport(int fd) : fd_(fd) {}

    bool Pending() const { return tls_ && tls_->Pending(); }
    // 0: the client closed (or the connection broke).
    std::size_t Read(char* buffer, std::size_t size) {
        if (tls_) return tls_->Read(buffer, size);
        while (true) {
            const ssize_t n = ::recv(fd_, buffer, size, 0);
            if (n >= 0) return static_cast<std::size_t>(n);
            if (errno != EINTR) return 0;
        }
    }
    bool Write(std::string_view bytes) {
        if (tls_) {
            tls_->Write(bytes);
            return true;
        }
        while (!bytes.empty()) {
            const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return false;
            bytes.remove_prefix(static_cast<std::size_t>(n));
        }
        return true;
    }
    void StartTls(const TlsCredentials& credentials, std::chrono::milliseconds timeout) {
        tls_ = std::make_unique<TlsSession>(credentials, fd_, timeout);
    }

private:
    int fd_;
    std::unique_ptr<TlsSession> tls_;
};

// A write or a read in the middle of a TLS record must not hang past the idle time either.
void BoundBlockingCalls(int fd, std::chrono::seconds idle) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(idle.count());
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

enum class Wait { Readable, Idle, Stopping, Broken };

Wait WaitForInput(int fd, int wakeFd, bool watchWake, std::chrono::seconds idle) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd, POLLIN, 0}};
    const auto deadline = std::chrono::steady_clock::now() + idle;
    while (true) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return Wait::Idle;
        const int rc = ::poll(fds, watchWake ? 2 : 1, static_cast<int>(left.count()));
        if (rc < 0 && errno == EINTR) continue;
        if (rc < 0) return Wait::Broken;
        if (rc == 0) return Wait::Idle;
        if (fds[0].revents != 0) return Wait::Readable;  // POLLHUP/POLLERR: the read says so
        if (watchWake && fds[1].revents != 0) return Wait::Stopping;
    }
}

void Serve(ConnectionSetup& setup, ConnectionHandler& handler) {
    const int fd = setup.socket.Get();
    const auto idle = setup.session.limits.idleTimeout;
    BoundBlockingCalls(fd, idle);
    Transport transport(fd);
    SmtpSession session(setup.session, handler);
    if (!transport.Write(session.Greeting())) return;
    std::string buffer(64 * 1024, '\0');
    while (!session.Closed()) {
        const bool stopping = setup.stopping->load();
        // 421 now, or, in the middle of a message, right after its reply.
        if (stopping) session.Shutdown();
        if (!session.Closed() && !transport.Pending()) {
            const Wait wait = WaitForInput(fd, setup.wakeFd, !stopping, idle);
            if (wait == Wait::Stopping) continue;
            if (wait == Wait::Broken) return;
            if (wait == Wait::Idle) session.IdleTimeout();
        }
        if (!session.Closed()) {
            const std::size_t n = transport.Read(buffer.data(), buffer.size());
            if (n == 0) return;
            session.Receive(std::string_view(buffer.data(), n));
            // What came outside a message may have been a login; it is not kept here either.
            if (!session.InMessage()) std::fill_n(buffer.begin(), n, '\0');
        }
        // Replies go out once everything that arrived is answered (RFC 2920).
        if (!transport.Write(session.TakeOutput())) return;
        if (session.TlsPending()) {
            transport.StartTls(*setup.tls, std::chrono::duration_cast<std::chrono::milliseconds>(idle));
            session.TlsStarted();
        }
    }
}

}  // namespace

void ServeConnection(ConnectionSetup setup, ConnectionHandlerFactory& handlers) noexcept {
    const auto log = [&setup](const std::string& line) {
        if (setup.session.log) setup.session.log(line);
    };
    std::unique_ptr<ConnectionHandler> handler;
    try {
        const std::lock_guard lock(*setup.acceptMutex);
        handler = handlers.Accept(setup.peer);
    } catch (...) {
        // No handler (the settings or the archive unreadable just now): the client retries later.
        log("refused: " + CurrentErrorDescription());
        static constexpr std::string_view kBusy = "421 4.3.0 Service not available, closing connection\r\n";
        ::send(setup.socket.Get(), kBusy.data(), kBusy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        return;
    }
    try {
        Serve(setup, *handler);
        log("closed");
    } catch (...) {
        // A broken handshake's error may quote what the client sent.
        log("closed: " + LogText(CurrentErrorDescription()));
    }
}

}  // namespace vexa::smtp
