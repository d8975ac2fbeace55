// The address of an IMAP account as the user writes it: imaps://user@host[:port] (TLS from the
// first byte, port 993) or imap://user@host[:port] (STARTTLS, port 143). An IPv6 host is written
// in brackets, imaps://me@[::1]:9993; a user name with @ or : in it is percent-encoded.
#pragma once

#include <string>
#include <string_view>

namespace vexa::imap {

struct ImapUrl {
    bool tls = true;   // imaps: TLS from the start; imap: plain, then STARTTLS
    std::string user;  // percent-decoded
    std::string host;  // without the brackets of an IPv6 address
    int port = 993;
};

// Throws ImapError (ImapFailure::Usage) naming what is wrong with the address.
ImapUrl ParseImapUrl(std::string_view url);

}  // namespace vexa::imap
