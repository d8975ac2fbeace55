// The server side of STARTTLS over GnuTLS: the certificate and key loaded once by the listener,
// and one TLS session per connection that asked for it. Failures come out as HostError.
#pragma once

#include <gnutls/gnutls.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <string_view>

namespace vexa::smtp {

struct GnutlsCredentialsFree {
    void operator()(gnutls_certificate_credentials_t p) const noexcept { gnutls_certificate_free_credentials(p); }
};
struct GnutlsSessionFree {
    void operator()(gnutls_session_t p) const noexcept { gnutls_deinit(p); }
};

// Shared read-only by every connection's thread, which GnuTLS allows once loaded.
class TlsCredentials {
public:
    // Throws HostError naming the file when the certificate or the key does not load.
    TlsCredentials(const std::filesystem::path& certificate, const std::filesystem::path& key);
    gnutls_certificate_credentials_t Get() const noexcept { return credentials_.get(); }

private:
    std::unique_ptr<gnutls_certificate_credentials_st, GnutlsCredentialsFree> credentials_;
};

class TlsSession {
public:
    // Does the handshake on the connected socket `fd` (which the caller keeps owning); throws
    // HostError when it fails or takes longer than `timeout`.
    TlsSession(const TlsCredentials& credentials, int fd, std::chrono::milliseconds timeout);
    ~TlsSession();
    TlsSession(const TlsSession&) = delete;
    TlsSession& operator=(const TlsSession&) = delete;

    // Up to `size` bytes; 0 when the client closed. Throws HostError on a broken session.
    std::size_t Read(char* buffer, std::size_t size);
    void Write(std::string_view bytes);
    // Decrypted bytes already waiting, which poll on the socket cannot see.
    bool Pending() const noexcept;

private:
    std::unique_ptr<gnutls_session_int, GnutlsSessionFree> session_;
};

}  // namespace vexa::smtp
