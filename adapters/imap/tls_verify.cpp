#include "adapters/imap/tls_verify.h"

#include <gnutls/gnutls.h>
#include <gnutls/x509.h>

#include <memory>
#include <vector>

#include "adapters/imap/etpan_ptr.h"
#include "adapters/imap/imap_error.h"

namespace vexa::imap {

namespace {

struct TrustListFree {
    void operator()(gnutls_x509_trust_list_st* list) const noexcept { gnutls_x509_trust_list_deinit(list, 1); }
};
struct CertificateFree {
    void operator()(gnutls_x509_crt_int* crt) const noexcept { gnutls_x509_crt_deinit(crt); }
};
struct DatumFree {
    void operator()(unsigned char* data) const noexcept { gnutls_free(data); }
};
using TrustList = std::unique_ptr<gnutls_x509_trust_list_st, TrustListFree>;
using Certificate = std::unique_ptr<gnutls_x509_crt_int, CertificateFree>;

// What mends a chain that does not lead to a trusted CA: the server's own CA named in the settings.
constexpr const char* kNameTheCa =
    " Name the CA that signed it with CaFile= in the [Mailbox] section of settings.ini (or --ca-file).";

[[noreturn]] void Refuse(const std::string& host, const std::string& why, const char* remedy = "") {
    throw ImapError(ImapFailure::Certificate,
                    "The certificate of the mail server " + host + " is not trusted: " + why + remedy);
}

// GnuTLS ends its status text with a space; the message goes on after it.
std::string WithoutTrailingSpace(std::string text) {
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n')) text.pop_back();
    return text;
}

TrustList TrustedAuthorities(const std::optional<std::filesystem::path>& caFile) {
    gnutls_x509_trust_list_t raw = nullptr;
    if (gnutls_x509_trust_list_init(&raw, 0) < 0) throw ImapError(ImapFailure::Protocol, "Out of memory for TLS.");
    TrustList list(raw);
    if (caFile) {
        const int added =
            gnutls_x509_trust_list_add_trust_file(list.get(), caFile->c_str(), nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
        if (added <= 0)
            throw ImapError(ImapFailure::Usage, "Can't read a CA certificate from " + caFile->string() + ".");
    } else if (gnutls_x509_trust_list_add_system_trust(list.get(), 0, 0) <= 0) {
        throw ImapError(ImapFailure::Certificate,
                        "The system has no CA certificates to check the mail server's certificate against "
                        "(name the server's CA with CaFile= in [Mailbox], or --ca-file).");
    }
    return list;
}

}  // namespace

void VerifyServerCertificate(mailstream* stream, const std::string& host,
                             const std::optional<std::filesystem::path>& caFile) {
    TrustList trusted = TrustedAuthorities(caFile);
    CertificateChainPtr chain(mailstream_get_certificate_chain(stream));
    if (!chain || carray_count(chain.get()) == 0) Refuse(host, "it sent no certificate.");

    std::vector<Certificate> owned;
    std::vector<gnutls_x509_crt_t> certificates;
    for (unsigned i = 0; i < carray_count(chain.get()); ++i) {
        const auto* der = static_cast<MMAPString*>(carray_get(chain.get(), i));
        gnutls_x509_crt_t raw = nullptr;
        if (gnutls_x509_crt_init(&raw) < 0) throw ImapError(ImapFailure::Protocol, "Out of memory for TLS.");
        owned.emplace_back(raw);
        const gnutls_datum_t datum{reinterpret_cast<unsigned char*>(der->str), static_cast<unsigned>(der->len)};
        if (gnutls_x509_crt_import(raw, &datum, GNUTLS_X509_FMT_DER) < 0) Refuse(host, "it cannot be read.");
        certificates.push_back(raw);
    }

    gnutls_typed_vdata_st purpose[2] = {
        {GNUTLS_DT_DNS_HOSTNAME, reinterpret_cast<unsigned char*>(const_cast<char*>(host.c_str())), 0},
        {GNUTLS_DT_KEY_PURPOSE_OID, reinterpret_cast<unsigned char*>(const_cast<char*>(GNUTLS_KP_TLS_WWW_SERVER)), 0},
    };
    unsigned status = 0;
    const int r = gnutls_x509_trust_list_verify_crt2(trusted.get(), certificates.data(),
                                                     static_cast<unsigned>(certificates.size()), purpose, 2, 0,
                                                     &status, nullptr);
    if (r < 0) Refuse(host, gnutls_strerror(r));
    if (status == 0) return;
    gnutls_datum_t text{};
    if (gnutls_certificate_verification_status_print(status, GNUTLS_CRT_X509, &text, 0) < 0)
        Refuse(host, "verification failed.");
    std::unique_ptr<unsigned char, DatumFree> hold(text.data);
    Refuse(host, WithoutTrailingSpace(std::string(reinterpret_cast<char*>(text.data), text.size)), kNameTheCa);
}

}  // namespace vexa::imap
