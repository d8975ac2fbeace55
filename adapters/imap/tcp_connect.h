// The TCP connection to the mail server, made here rather than inside libetpan so that a name that
// does not resolve (the user's mistake) is told apart from a server that does not answer (worth
// trying again later), and so that connecting gives up after a bounded time.
#pragma once

#include <string>

namespace vexa::imap {

// A socket descriptor, closed when dropped unless Release()d to a stream that closes it.
class SocketFd {
public:
    explicit SocketFd(int fd) noexcept : fd_(fd) {}
    SocketFd(SocketFd&& other) noexcept : fd_(other.Release()) {}
    SocketFd& operator=(SocketFd&&) = delete;
    ~SocketFd();
    int Get() const noexcept { return fd_; }
    int Release() noexcept {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

// Tries every address of `host` in turn. Throws ImapError: UnknownHost when the name does not
// resolve, Unreachable when the name service or every address fails to answer within
// `timeoutSeconds`. The socket sends TCP keepalive probes, so that a peer gone silent is noticed
// by the kernel within about a minute wherever the network lets the probes through.
SocketFd ConnectTcp(const std::string& host, int port, int timeoutSeconds);

}  // namespace vexa::imap
