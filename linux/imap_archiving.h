// Archiving an IMAP Inbox through the account's mirror (see imap_mirror.h): the mirror's folder
// and state file, one scan of the Inbox, and a watch that reconnects after a dropped connection
// and waits out an archive that cannot be reached.
#pragma once

#include <filesystem>
#include <memory>

#include "linux/archiving_loop.h"
#include "linux/imap_account.h"
#include "linux/imap_server.h"
#include "linux/runtime.h"
#include "linux/watch_signals.h"

namespace vexa::linuxhost {

// The account's mirror Maildir, made (private to its owner) when missing.
std::filesystem::path PrepareMirror(const ImapAccount& account);

// The account's server at start-up; null (after the "Can't init : " line) when it cannot be
// opened, `temporary` then saying whether it may open later.
std::unique_ptr<WatchedImapServer> OpenImapAtStart(const ImapAccount& account, bool& temporary);

// Archives the Inbox's new arrivals pass by pass, the mirror's Maildir being the runtime's. It
// stops with messages still due on the server when the archive cannot take more, or when the
// connection dropped (shown; what was archived is reconciled at the next start).
ScanResult ScanImap(Runtime& runtime, ImapServer& server, const ImapAccount& account, bool includeRead);

// Archives what arrives in the account's Inbox until a signal stops it. `server` is the one
// opened at start-up, or null when it could not be opened yet.
WatchEnd WatchImap(Runtime& runtime, const ImapAccount& account, std::unique_ptr<WatchedImapServer> server,
                   WatchSignals& signals, const ArchivingLoop::Committed& committed);

}  // namespace vexa::linuxhost
