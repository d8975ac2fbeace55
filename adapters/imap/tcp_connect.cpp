#include "adapters/imap/tcp_connect.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "adapters/imap/imap_error.h"

namespace vexa::imap {

SocketFd::~SocketFd() {
    if (fd_ >= 0) ::close(fd_);
}

namespace {

struct AddrInfoFree {
    void operator()(addrinfo* list) const noexcept { freeaddrinfo(list); }
};

// 0 when connected, else the errno of the failure (ETIMEDOUT after `timeoutSeconds`).
int ConnectWithin(int fd, const addrinfo& address, int timeoutSeconds) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags < 0 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) return errno;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) < 0) {
        if (errno != EINPROGRESS) return errno;
        pollfd waiting{fd, POLLOUT, 0};
        int ready;
        do {
            ready = poll(&waiting, 1, timeoutSeconds * 1000);
        } while (ready < 0 && errno == EINTR);
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        int err = 0;
        socklen_t length = sizeof err;
        if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &length) < 0) return errno;
        if (err != 0) return err;
    }
    return fcntl(fd, F_SETFL, flags) < 0 ? errno : 0;
}

// A peer that vanished without a word (a NAT that forgot the connection, a Wi-Fi that changed, a
// laptop that slept) leaves an idle connection open for hours by the kernel's defaults: probes
// after 30 s of silence, every 10 s, and 3 unanswered ones drop it, about a minute in all. A
// socket that refuses them still works, so failures are ignored.
void KeepAlive(int fd) {
    const int on = 1, idleSeconds = 30, intervalSeconds = 10, probes = 3;
    (void)setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &intervalSeconds, sizeof intervalSeconds);
    (void)setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
}

}  // namespace

SocketFd ConnectTcp(const std::string& host, int port, int timeoutSeconds) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo* raw = nullptr;
    const std::string service = std::to_string(port);
    const int resolved = getaddrinfo(host.c_str(), service.c_str(), &hints, &raw);
    std::unique_ptr<addrinfo, AddrInfoFree> addresses(raw);
    if (resolved == EAI_NONAME
#ifdef EAI_NODATA
        || resolved == EAI_NODATA
#endif
    )
        throw ImapError(ImapFailure::UnknownHost, "The mail server " + host + " is unknown: no such host name.");
    if (resolved != 0)
        throw ImapError(ImapFailure::Unreachable,
                        "Can't look up the mail server " + host + ": " + gai_strerror(resolved) + ".");

    int lastError = ECONNREFUSED;
    for (const addrinfo* address = addresses.get(); address != nullptr; address = address->ai_next) {
        SocketFd fd(socket(address->ai_family, address->ai_socktype | SOCK_CLOEXEC, address->ai_protocol));
        if (fd.Get() < 0) {
            lastError = errno;
            continue;
        }
        lastError = ConnectWithin(fd.Get(), *address, timeoutSeconds);
        if (lastError == 0) {
            KeepAlive(fd.Get());
            return fd;
        }
    }
    throw ImapError(ImapFailure::Unreachable, "Can't reach the mail server " + host + " on port " + service + ": " +
                                                  std::strerror(lastError) + ". Is the server running, and is " +
                                                  service +
                                                  " its port for imaps:// (usually 993) or imap:// (usually 143)?");
}

}  // namespace vexa::imap
