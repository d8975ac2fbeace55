// Whether the server's certificate chain, as the TLS handshake received it, is one to trust for
// the host name the user wrote: libetpan hands the chain over but checks nothing itself, so this
// runs after every handshake and before any credential is sent.
#pragma once

#include <libetpan/libetpan.h>

#include <filesystem>
#include <optional>
#include <string>

namespace vexa::imap {

// Throws ImapError: Certificate when the chain does not lead to a trusted CA (the system's, or
// only the one in `caFile` when given), has expired, or does not name `host`; Usage when
// `caFile` holds no certificate.
void VerifyServerCertificate(mailstream* stream, const std::string& host,
                             const std::optional<std::filesystem::path>& caFile);

}  // namespace vexa::imap
