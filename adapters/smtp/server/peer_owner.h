// Who is at the other end of a connection that came in over loopback: the Unix user owning the
// client's socket, found by its exact address pair through the kernel's socket diagnostics
// (NETLINK_SOCK_DIAG). The listener lets only its own user send without AUTH, so a second
// user on the same machine cannot use the relay's upstream login.
#pragma once

#include <sys/types.h>

#include <optional>

namespace vexa::smtp {

// Whether the connection's peer address is a loopback one (127.0.0.0/8, ::1, or 127.x mapped
// into IPv6).
bool PeerIsLoopback(int connectedFd);
// The uid owning the peer's socket when the peer is on loopback; nothing when it is not, or the
// kernel does not say (the caller then treats the peer as a stranger).
std::optional<uid_t> LoopbackPeerOwner(int connectedFd);

}  // namespace vexa::smtp
