#include "adapters/smtp/server/tls_server.h"

#include <string>

#include "host/host_error.h"

namespace vexa::smtp {
namespace {

// The number HostError carries for TLS failures of the relay: GnuTLS's own (negative) code.
HostError TlsError(const std::string& context, int code) {
    return HostError(code, context + ": " + gnutls_strerror(code), true);
}

}  // namespace

TlsCredentials::TlsCredentials(const std::filesystem::path& certificate, const std::filesystem::path& key) {
    gnutls_certificate_credentials_t raw = nullptr;
    int rc = gnutls_certificate_allocate_credentials(&raw);
    if (rc < 0) throw TlsError("Can't prepare TLS", rc);
    credentials_.reset(raw);
    rc = gnutls_certificate_set_x509_key_file(raw, certificate.c_str(), key.c_str(), GNUTLS_X509_FMT_PEM);
    if (rc < 0)
        throw HostError(rc, "Can't load the certificate " + certificate.string() + " with the key " + key.string() +
                                ": " + gnutls_strerror(rc));
}

TlsSession::TlsSession(const TlsCredentials& credentials, int fd, std::chrono::milliseconds timeout) {
    gnutls_session_t raw = nullptr;
    int rc = gnutls_init(&raw, GNUTLS_SERVER | GNUTLS_NO_SIGNAL);
    if (rc < 0) throw TlsError("Can't start TLS", rc);
    session_.reset(raw);
    if ((rc = gnutls_set_default_priority(raw)) < 0 ||
        (rc = gnutls_credentials_set(raw, GNUTLS_CRD_CERTIFICATE, credentials.Get())) < 0)
        throw TlsError("Can't start TLS", rc);
    gnutls_certificate_server_set_request(raw, GNUTLS_CERT_IGNORE);
    gnutls_transport_set_int(raw, fd);
    gnutls_handshake_set_timeout(raw, static_cast<unsigned int>(timeout.count()));
    do {
        rc = gnutls_handshake(raw);
    } while (rc < 0 && gnutls_error_is_fatal(rc) == 0);
    if (rc < 0) throw TlsError("TLS handshake failed", rc);
}

TlsSession::~TlsSession() {
    // Tell the client the session ends on purpose; a client that is gone already does not matter.
    gnutls_bye(session_.get(), GNUTLS_SHUT_WR);
}

std::size_t TlsSession::Read(char* buffer, std::size_t size) {
    while (true) {
        const ssize_t n = gnutls_record_recv(session_.get(), buffer, size);
        if (n >= 0) return static_cast<std::size_t>(n);
        if (n == GNUTLS_E_INTERRUPTED) continue;
        if (n == GNUTLS_E_PREMATURE_TERMINATION) return 0;
        // The socket's receive timeout (the idle time) ran out in the middle of a record.
        throw TlsError("TLS read failed", static_cast<int>(n));
    }
}

void TlsSession::Write(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = gnutls_record_send(session_.get(), bytes.data(), bytes.size());
        if (n == GNUTLS_E_INTERRUPTED) continue;
        // GNUTLS_E_AGAIN included: the client stopped reading for the whole idle time.
        if (n < 0) throw TlsError("TLS write failed", static_cast<int>(n));
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

bool TlsSession::Pending() const noexcept { return gnutls_record_check_pending(session_.get()) > 0; }

}  // namespace vexa::smtp
