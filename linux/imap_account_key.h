// The name under which an installation keeps what it knows of an IMAP account (the highest UID
// handled, the mirror Maildir with its journal): one name for every spelling of one mailbox, so
// that "imaps://ann@Mail.Example.org", "imaps://ann@mail.example.org:993/" and the like share
// their record and a fax is not archived once per spelling.
#pragma once

#include <string>

#include "adapters/imap/imap_url.h"

namespace vexa::linuxhost {

// Sixteen hexadecimal digits of a hash (stable across builds and machines) of the scheme, the
// host in lower case, the port, the user and the mailbox.
std::string ImapAccountKey(const imap::ImapUrl& url);

}  // namespace vexa::linuxhost
