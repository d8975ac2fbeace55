#include "adapters/smtp/server/peer_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>

#include "adapters/smtp/server/unique_fd.h"

namespace vexa::smtp {
namespace {

struct Endpoint {
    int family = AF_UNSPEC;
    std::uint16_t port = 0;  // network order
    std::uint32_t address[4] = {};  // network order, as inet_diag takes it
    bool loopback = false;
};

// IPv4 peers of an IPv6 socket arrive mapped (::ffff:a.b.c.d): their sockets live in the IPv4
// tables, so they are looked up as IPv4.
std::optional<Endpoint> ToEndpoint(const sockaddr_storage& storage) {
    Endpoint endpoint;
    if (storage.ss_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, &storage, sizeof in);
        endpoint.family = AF_INET;
        endpoint.port = in.sin_port;
        endpoint.address[0] = in.sin_addr.s_addr;
        endpoint.loopback = (ntohl(in.sin_addr.s_addr) >> 24) == 127;
        return endpoint;
    }
    if (storage.ss_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, &storage, sizeof in6);
        endpoint.port = in6.sin6_port;
        if (IN6_IS_ADDR_V4MAPPED(&in6.sin6_addr)) {
            endpoint.family = AF_INET;
            std::memcpy(&endpoint.address[0], &in6.sin6_addr.s6_addr[12], 4);
            endpoint.loopback = (ntohl(endpoint.address[0]) >> 24) == 127;
        } else {
            endpoint.family = AF_INET6;
            std::memcpy(endpoint.address, &in6.sin6_addr, 16);
            endpoint.loopback = IN6_IS_ADDR_LOOPBACK(&in6.sin6_addr);
        }
        return endpoint;
    }
    return std::nullopt;
}

std::optional<Endpoint> Side(int fd, bool peer) {
    sockaddr_storage storage{};
    socklen_t length = sizeof storage;
    const int rc = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&storage), &length)
                        : ::getsockname(fd, reinterpret_cast<sockaddr*>(&storage), &length);
    if (rc != 0) return std::nullopt;
    return ToEndpoint(storage);
}

}  // namespace

bool PeerIsLoopback(int connectedFd) {
    const auto peer = Side(connectedFd, true);
    return peer && peer->loopback;
}

std::optional<uid_t> LoopbackPeerOwner(int connectedFd) {
    const auto peer = Side(connectedFd, true);
    const auto local = Side(connectedFd, false);
    if (!peer || !local || !peer->loopback || peer->family != local->family) return std::nullopt;

    UniqueFd diag(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!diag.Valid()) return std::nullopt;

    // The client's socket: its own side is the peer address, its remote side is ours.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = static_cast<std::uint8_t>(peer->family);
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = peer->port;
    message.request.id.idiag_dport = local->port;
    std::memcpy(message.request.id.idiag_src, peer->address, sizeof peer->address);
    std::memcpy(message.request.id.idiag_dst, local->address, sizeof local->address);
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;

    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(diag.Get(), &message, sizeof message, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
        static_cast<ssize_t>(sizeof message))
        return std::nullopt;

    alignas(nlmsghdr) char buffer[8192];
    const ssize_t received = ::recv(diag.Get(), buffer, sizeof buffer, 0);
    if (received <= 0) return std::nullopt;
    auto length = static_cast<unsigned int>(received);
    for (auto* header = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(header, length);
         header = NLMSG_NEXT(header, length)) {
        if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY) return std::nullopt;  // NLMSG_ERROR: no such socket
        if (header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) return std::nullopt;
        inet_diag_msg found;
        std::memcpy(&found, NLMSG_DATA(header), sizeof found);
        if (found.id.idiag_sport != peer->port || found.id.idiag_dport != local->port) continue;
        return static_cast<uid_t>(found.idiag_uid);
    }
    return std::nullopt;
}

}  // namespace vexa::smtp
