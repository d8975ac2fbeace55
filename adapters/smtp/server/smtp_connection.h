// One accepted connection served to its end on the calling thread (the listener gives each its
// own): the socket, STARTTLS when asked, the idle timeout, and the listener stopping.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "adapters/smtp/server/smtp_session.h"
#include "adapters/smtp/server/unique_fd.h"
#include "adapters/smtp/smtp_types.h"

namespace vexa::smtp {

class TlsCredentials;

struct ConnectionSetup {
    UniqueFd socket;
    std::string peer;  // "host:port"
    SessionOptions session;
    const TlsCredentials* tls = nullptr;  // STARTTLS offered when set; outlives the connection
    int wakeFd = -1;                      // readable once the listener stops
    const std::atomic<bool>* stopping = nullptr;
    std::mutex* acceptMutex = nullptr;  // the factory's Accept runs for one connection at a time
};

// Returns when the client quits, goes silent for the idle time, breaks the connection, or the
// listener stops (after the message being received has been answered). Never throws.
void ServeConnection(ConnectionSetup setup, ConnectionHandlerFactory& handlers) noexcept;

}  // namespace vexa::smtp
