// `vexa scan --imap URL` and `vexa watch --imap URL`: the same archiving over an IMAP Inbox,
// through the account's mirror (see imap_mirror.h).
#pragma once

#include "linux/imap_account.h"

namespace vexa::cli {

using linuxhost::ImapAccount;

int RunImapScan(const ImapAccount& account, bool includeRead);
int RunImapWatch(const ImapAccount& account, bool quiet);

}  // namespace vexa::cli
