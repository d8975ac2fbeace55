#include "linux/imap_account_key.h"

#include <cstdint>
#include <cstdio>

namespace vexa::linuxhost {

std::string ImapAccountKey(const imap::ImapUrl& url) {
    std::string host = url.host;
    for (char& c : host) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    // The Inbox is the only mailbox archived; it is part of the name all the same, so that a
    // later choice of mailbox does not share this one's record.
    const std::string canonical = std::string(url.tls ? "imaps" : "imap") + '\n' + url.user + '\n' + host + '\n' +
                                  std::to_string(url.port) + '\n' + "INBOX";
    // FNV-1a: std::hash may change with the standard library, and the name must not.
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : canonical) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
    return text;
}

}  // namespace vexa::linuxhost
